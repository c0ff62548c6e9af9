#include "density/number_text.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>

#include <gtest/gtest.h>

namespace ponderix {
namespace {

std::string Show(std::optional<double> v) {
  if (!v) return "nullopt";
  char buf[40];
  const auto res = std::to_chars(buf, buf + sizeof buf, *v);
  return {buf, res.ptr};
}

// Bit for bit, so that a neighbouring double or the wrong zero shows up.
void ExpectSameDouble(std::optional<double> got, std::optional<double> want) {
  ASSERT_EQ(got.has_value(), want.has_value()) << "got " << Show(got) << ", want " << Show(want);
  if (want) {
    EXPECT_EQ(std::bit_cast<uint64_t>(*got), std::bit_cast<uint64_t>(*want))
        << "got " << Show(got) << ", want " << Show(want);
  }
}

struct FormatCase {
  double value;
  std::string_view separator;
  std::string_view localeText;
  std::string_view invariantText;
};

TEST(NumberTextFormat, Table) {
  const FormatCase cases[] = {
      {0.0, ".", "0", " 0"},
      {-0.0, ".", "0", " 0"},
      {0.5, ".", "0.5", " 0.5"},
      {-0.5, ".", "-0.5", "-0.5"},
      {7850, ".", "7850", " 7850"},
      {7.871, ",", "7,871", " 7.871"},
      {2.5, "<>", "2<>5", " 2.5"},
      // 15 significant digits, not the shortest round trip.
      {0.28435797830000004, ".", "0.2843579783", " 0.2843579783"},
      {0.1 + 0.2, ".", "0.3", " 0.3"},
      {std::nextafter(7850.0, 0.0), ".", "7850", " 7850"},
      {-2.0 / 3.0, ".", "-0.666666666666667", "-0.666666666666667"},
      // The exponent form follows the rounded value.
      {123456789012345.0, ".", "123456789012345", " 123456789012345"},
      {1e15, ".", "1E+15", " 1E+15"},
      {999999999999999.9, ".", "1E+15", " 1E+15"},
      {1234567890123456.0, ",", "1,23456789012346E+15", " 1.23456789012346E+15"},
      {0.0001, ".", "0.0001", " 0.0001"},
      {0.00009999999999999995, ".", "0.0001", " 0.0001"},
      {0.00001, ".", "1E-05", " 1E-05"},
      {1.5e-7, ",", "1,5E-07", " 1.5E-07"},
      {-1.5e-7, ".", "-1.5E-07", "-1.5E-07"},
      {-1e-300, ".", "-1E-300", "-1E-300"},
      {std::numeric_limits<double>::max(), ".", "1.79769313486232E+308", " 1.79769313486232E+308"},
      {std::numeric_limits<double>::denorm_min(), ".", "4.94065645841247E-324", " 4.94065645841247E-324"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.localeText);
    EXPECT_EQ(FormatLocaleNumber(c.value, c.separator), c.localeText);
    EXPECT_EQ(FormatInvariantNumber(c.value), c.invariantText);
  }
}

TEST(NumberTextFormat, NonFiniteDoesNotFail) {
  for (const double v : {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                         -std::numeric_limits<double>::infinity()}) {
    EXPECT_FALSE(FormatLocaleNumber(v, ",").empty());
    EXPECT_FALSE(FormatInvariantNumber(v).empty());
  }
}

struct ParseCase {
  std::string_view text;
  std::optional<double> value;
};

TEST(NumberTextParseLeading, Table) {
  const ParseCase cases[] = {
      // Blanks, tabs and line feeds vanish wherever they are.
      {"7 8 5", 785},
      {" 1 . 5", 1.5},
      {"\t7\n.\t85 ", 7.85},
      {"- 5", -5},
      {"\r7", 0},
      // A leading number, the rest ignored.
      {"7.85kg", 7.85},
      {"7,85", 7},
      {"1.2.3", 1.2},
      {"+7.85", 7.85},
      {".5", 0.5},
      {"-.5", -0.5},
      {"7.", 7},
      {"--5", 0},
      {"abc", 0},
      {"", 0},
      {".", 0},
      {"-", 0},
      {"+", 0},
      {"-0", -0.0},
      // Exponent letters; without digits the letter is not part of the number.
      {"1d3", 1000},
      {"1D-3", 0.001},
      {"1e3", 1000},
      {"1E+3", 1000},
      {"2.5e-1x", 0.25},
      {"7e", 7},
      {"7e+", 7},
      {"7d-x", 7},
      {"7e.5", 7},
      // Hexadecimal and octal.
      {"&HFF", 255},
      {"&hff", 255},
      {"& h 1 0", 16},
      {"&O17", 15},
      {"&o17", 15},
      {"&O19", 1},
      {"&H", 0},
      {"&HZZ", 0},
      {"&HFFkg", 255},
      {"&X1", 0},
      {"&", 0},
      {"-&H1", 0},
      // Range.
      {"1e400", std::nullopt},
      {"-1e400", std::nullopt},
      {"1e99999999999999999999999999", std::nullopt},
      {"0.0000001e315", 1e308},
      {"1.7976931348623157e308", std::numeric_limits<double>::max()},
      {"1.7976931348623159e308", std::nullopt},
      {"1e-400", 0},
      {"1e-99999999999999999999999999", 0},
      {"0e99999999999999999999999999", 0},
      {"4.9406564584124654e-324", std::numeric_limits<double>::denorm_min()},
      {"2e-324", 0},
      {"1e-310", 1e-310},
      // Correct rounding.
      {"7.85", 7.85},
      {"0.1", 0.1},
      {"2.2250738585072011e-308", 2.2250738585072011e-308},
      {"9007199254740993", 9007199254740992.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    ExpectSameDouble(ParseLeadingNumber(c.text), c.value);
  }
}

TEST(NumberTextParseLeading, RadixIntegersRoundCorrectly) {
  const std::string zeros17(17, '0');
  const struct {
    std::string text;
    std::optional<double> value;
  } cases[] = {
      {"&H20000000000001", 9007199254740992.0},  // 2^53 + 1: the tie goes to even
      {"&H20000000000003", 9007199254740996.0},
      // Far beyond the kept bits a nonzero digit still breaks the tie upwards.
      {"&H20000000000001" + zeros17, std::ldexp(9007199254740992.0, 68)},
      {"&H20000000000001" + std::string(16, '0') + "1", std::ldexp(9007199254740994.0, 68)},
      {"&O7777777777777777777777", std::ldexp(1.0, 66)},
      {"&O1" + std::string(341, '0'), std::ldexp(1.0, 1023)},
      {"&O2" + std::string(341, '0'), std::nullopt},
      {"&H1" + std::string(256, '0'), std::nullopt},
      {"&HFFFFFFFFFFFFF8" + std::string(242, '0'), std::numeric_limits<double>::max()},
      {"&HFFFFFFFFFFFFFC" + std::string(242, '0'), std::nullopt},
      {"&H" + std::string(5000, '0') + "1", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 40));
    ExpectSameDouble(ParseLeadingNumber(c.text), c.value);
  }
}

TEST(NumberTextParseLeading, LongDigitStrings) {
  // 2^53 + 1 is a tie; only a digit thousands of places on decides it.
  ExpectSameDouble(ParseLeadingNumber("9007199254740993." + std::string(5000, '0')), 9007199254740992.0);
  ExpectSameDouble(ParseLeadingNumber("9007199254740993." + std::string(5000, '0') + "1"),
                   9007199254740994.0);
  ExpectSameDouble(ParseLeadingNumber("1" + std::string(3000, '0') + "e-3000"), 1.0);

  // A million digits and as many blanks: anything quadratic would not finish.
  std::string spaced = "0.";
  for (int i = 0; i < 1'000'000; ++i) spaced += "0 ";
  spaced += "785e1000001";
  ExpectSameDouble(ParseLeadingNumber(spaced), 7.85);
}

struct LocaleCase {
  std::string_view text;
  std::string_view separator;
  std::optional<double> value;
};

TEST(NumberTextParseLocale, Table) {
  const LocaleCase cases[] = {
      {"7.85", ".", 7.85},
      {"7,85", ",", 7.85},
      {"7.85", ",", std::nullopt},
      {"7,85", ".", std::nullopt},
      {"7<>85", "<>", 7.85},
      {"7<85", "<>", std::nullopt},
      {" \t7.85\t ", ".", 7.85},
      {"+7.85", ".", 7.85},
      {"-7.85", ".", -7.85},
      {"-0", ".", -0.0},
      {"7,", ",", 7},
      {",5", ",", 0.5},
      {"-,5", ",", -0.5},
      {"0.2843579783", ".", 0.2843579783},
      {"2.2250738585072011e-308", ".", 2.2250738585072011e-308},
      {"1e3", ".", 1000},
      {"1E-3", ".", 0.001},
      {"1,5e+2", ",", 150},
      // Anything but a whole number is refused.
      {"", ".", std::nullopt},
      {"   ", ".", std::nullopt},
      {",", ",", std::nullopt},
      {"-", ".", std::nullopt},
      {"abc", ".", std::nullopt},
      {"7.85kg", ".", std::nullopt},
      {"7 .85", ".", std::nullopt},
      {"- 7", ".", std::nullopt},
      {"1.2.3", ".", std::nullopt},
      {"\n7", ".", std::nullopt},
      {"1e", ".", std::nullopt},
      {"1e+", ".", std::nullopt},
      {"1d3", ".", std::nullopt},
      {"&HFF", ".", std::nullopt},
      {"7", "", 7},
      {"7.5", "", std::nullopt},
      // Range.
      {"1e400", ".", std::nullopt},
      {"-1e400", ".", std::nullopt},
      {"1e-400", ".", 0},
      {"1e-310", ".", 1e-310},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    ExpectSameDouble(ParseLocaleNumber(c.text, c.separator), c.value);
  }
}

TEST(NumberTextParseLocale, ReadsBackWhatIsShown) {
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
