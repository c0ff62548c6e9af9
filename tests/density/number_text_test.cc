#include "density/number_text.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string>

#include <gtest/gtest.h>

namespace ponderix {
namespace {

constexpr double kMax = std::numeric_limits<double>::max();
constexpr double kMin = std::numeric_limits<double>::denorm_min();
constexpr std::nullopt_t kNone = std::nullopt;

std::string Show(std::optional<double> v) {
  if (!v) return "nullopt";
  char buf[40];
  return {buf, std::to_chars(buf, buf + sizeof buf, *v).ptr};
}

// Bit for bit, so that a neighbouring double or the wrong zero shows up.
void ExpectSameDouble(std::optional<double> got, std::optional<double> want) {
  ASSERT_EQ(got.has_value(), want.has_value()) << "got " << Show(got) << ", want " << Show(want);
  if (want) {
    EXPECT_EQ(std::bit_cast<uint64_t>(*got), std::bit_cast<uint64_t>(*want))
        << "got " << Show(got) << ", want " << Show(want);
  }
}

// 15 significant digits, not the shortest round trip; the exponent form
// follows the rounded value; no negative zero; a leading blank when not negative.
TEST(NumberTextFormat, Table) {
  const struct {
    double value;
    std::string_view separator, localeText, invariantText;
  } cases[] = {{0.0, ".", "0", " 0"},
               {-0.0, ".", "0", " 0"},
               {-0.5, ".", "-0.5", "-0.5"},
               {std::nextafter(7850.0, 0.0), ".", "7850", " 7850"},
               {7850, ".", "7850", " 7850"},
               {7.871, ",", "7,871", " 7.871"},
               {2.5, "<>", "2<>5", " 2.5"},
               {0.28435797830000004, ".", "0.2843579783", " 0.2843579783"},
               {-2.0 / 3.0, ".", "-0.666666666666667", "-0.666666666666667"},
               {123456789012345.0, ".", "123456789012345", " 123456789012345"},
               {999999999999999.9, ".", "1E+15", " 1E+15"},
               {1e15, ".", "1E+15", " 1E+15"},
               {1234567890123456.0, ",", "1,23456789012346E+15", " 1.23456789012346E+15"},
               {0.00009999999999999995, ".", "0.0001", " 0.0001"},
               {0.0001, ".", "0.0001", " 0.0001"},
               {0.00001, ".", "1E-05", " 1E-05"},
               {1.5e-7, ",", "1,5E-07", " 1.5E-07"},
               {-1e-300, ".", "-1E-300", "-1E-300"},
               {kMax, ".", "1.79769313486232E+308", " 1.79769313486232E+308"},
               {kMin, ".", "4.94065645841247E-324", " 4.94065645841247E-324"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.localeText);
    EXPECT_EQ(FormatLocaleNumber(c.value, c.separator), c.localeText);
    EXPECT_EQ(FormatInvariantNumber(c.value), c.invariantText);
  }
  for (const double v : {std::nan(""), std::numeric_limits<double>::infinity()}) {
    EXPECT_FALSE(FormatLocaleNumber(-v, ",").empty());
    EXPECT_FALSE(FormatInvariantNumber(v).empty());
  }
}

struct ParseCase {
  std::string text;
  std::optional<double> value;
};

// Blanks, tabs and line feeds vanish anywhere; a leading number, the rest
// ignored; d/e exponents only with digits; &H and &O; overflow gives nothing,
// underflow 0; correctly rounded, also on long digit strings.
TEST(NumberTextParseLeading, Table) {
  std::string spaced = "0.";  // a million blanks: anything quadratic would not finish
  for (int i = 0; i < 1'000'000; ++i) spaced += "0 ";
  const std::string z = std::string(16, '0');
  const ParseCase plain[] = {
      {"7 8 5", 785},   {" 1 . 5", 1.5},   {"- 5", -5},     {"\r7", 0},   {"7.85kg", 7.85}, {"7,85", 7},
      {"1.2.3", 1.2},   {"+7.85", 7.85},   {"-.5", -0.5},   {"7.", 7},    {"--5", 0},       {"abc", 0},
      {"", 0},          {".", 0},          {"-", 0},        {"-0", -0.0}, {"1d3", 1000},    {"1D-3", 0.001},
      {"1E+3", 1000},   {"2.5e-1x", 0.25}, {"7e", 7},       {"7e+", 7},   {"7d-x", 7},      {"7e.5", 7},
      {"&HFF", 255},    {"&hff", 255},     {"& h 1 0", 16}, {"&O17", 15}, {"&o17", 15},     {"&O19", 1},
      {"&H", 0},        {"&HZZ", 0},       {"&HFFkg", 255}, {"&X1", 0},   {"&", 0},         {"-&H1", 0},
      {"1e400", kNone}, {"-1e400", kNone}, {"1e-400", 0},   {"2e-324", 0}};
  const ParseCase cases[] = {{"\t7\n.\t85 ", 7.85},
                             {"1e-99999999999999999999999999", 0},
                             {"1e99999999999999999999999999", kNone},
                             {"0e99999999999999999999999999", 0},
                             {"0.0000001e315", 1e308},
                             {"1.7976931348623157e308", kMax},
                             {"1.7976931348623159e308", kNone},
                             {"4.9406564584124654e-324", kMin},
                             {"1e-310", 1e-310},
                             {"0.1", 0.1},
                             {"2.2250738585072011e-308", 2.2250738585072011e-308},
                             {"9007199254740993", 9007199254740992.0},
                             {"9007199254740993." + std::string(5000, '0'), 9007199254740992.0},
                             {"9007199254740993." + std::string(5000, '0') + "1", 9007199254740994.0},
                             {"1" + std::string(3000, '0') + "e-3000", 1.0},
                             {spaced + "785e1000001", 7.85},
                             {"&H20000000000001", 9007199254740992.0},
                             {"&H20000000000003", 9007199254740996.0},
                             {"&H20000000000001" + z + "0", std::ldexp(9007199254740992.0, 68)},
                             {"&H20000000000001" + z + "1", std::ldexp(9007199254740994.0, 68)},
                             {"&O7777777777777777777777", std::ldexp(1.0, 66)},
                             {"&O1" + std::string(341, '0'), std::ldexp(1.0, 1023)},
                             {"&O2" + std::string(341, '0'), kNone},
                             {"&H1" + std::string(256, '0'), kNone},
                             {"&HFFFFFFFFFFFFF8" + std::string(242, '0'), kMax},
                             {"&HFFFFFFFFFFFFFC" + std::string(242, '0'), kNone},
                             {"&H" + std::string(5000, '0') + "1", 1}};
  for (const auto& table : {std::span<const ParseCase>(plain), std::span<const ParseCase>(cases)}) {
    for (const auto& c : table) {
      SCOPED_TRACE(c.text.substr(0, 40));
      ExpectSameDouble(ParseLeadingNumber(c.text), c.value);
    }
  }
}

// Only a whole number with exactly the locale's separator is accepted.
TEST(NumberTextParseLocale, Table) {
  const struct {
    std::string_view text, separator;
    std::optional<double> value;
  } cases[] = {
      {"7.85", ".", 7.85},    {"7,85", ",", 7.85},    {"7.85", ",", kNone},      {"7,85", ".", kNone},
      {"7<>85", "<>", 7.85},  {"7<85", "<>", kNone},  {" \t7.85\t ", ".", 7.85}, {"+7.85", ".", 7.85},
      {"-0", ".", -0.0},      {"7,", ",", 7},         {"-,5", ",", -0.5},        {"1E-3", ".", 0.001},
      {"1,5e+2", ",", 150},   {"", ".", kNone},       {"   ", ".", kNone},       {",", ",", kNone},
      {"-", ".", kNone},      {"7.85kg", ".", kNone}, {"7 .85", ".", kNone},     {"- 7", ".", kNone},
      {"1.2.3", ".", kNone},  {"\n7", ".", kNone},    {"1e+", ".", kNone},       {"1d3", ".", kNone},
      {"&HFF", ".", kNone},   {"7", "", 7},           {"7.5", "", kNone},        {"1e400", ".", kNone},
      {"-1e400", ".", kNone}, {"1e-400", ".", 0},     {"1e-310", ".", 1e-310}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    ExpectSameDouble(ParseLocaleNumber(c.text, c.separator), c.value);
  }
  ExpectSameDouble(ParseLocaleNumber("2.2250738585072011e-308", "."), 2.2250738585072011e-308);
  for (const double v : {7.871, 0.2843579783, 491.3705865024, 1e-7, -2.5e20, 0.0}) {
    for (const std::string_view sep : {".", ","}) {
      const std::string text = FormatLocaleNumber(v, sep);
      SCOPED_TRACE(text);
      ExpectSameDouble(ParseLocaleNumber(text, sep), v);
    }
  }
}

}  // namespace
}  // namespace ponderix
