#include <bit>
#include <cstdint>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "sim/sim_json.h"

namespace ponderix::sim {
namespace {

struct BadScene {
  const char* label;
  std::string text;
  int line;
  std::string message;  // a part of the text after "NAME:LINE: "
};

TEST(ParseScene, BadScenesNameTheFileAndLine) {
  const BadScene cases[] = {
      {"empty", "", 1, "not valid JSON"},
      {"missing comma", "{\n  \"menuName\": \"Tools\"\n  \"decimalSeparator\": \",\"\n}", 3,
       "not valid JSON"},
      // The newline is the offending character; the string stands on line 2.
      {"unclosed string", "{\n  \"menuName\": \"Tools\n}\n", 2, "not valid JSON"},
      {"cut short", "{\n  \"documents\": [\n", 2, "not valid JSON"},
      {"not an object", "[]", 1, "the scene must be an object"},
      {"nested too deep", std::string(100000, '[') + std::string(100000, ']'), 1,
       "nested more than 100 deep"},
      {"wrong type of a field", "{\"documents\": [\n  {\"path\": \"a\",\n   \"open\": \"yes\"}\n]}", 3,
       "documents.0.open must be true or false"},
      {"density not a number", "{\"documents\": [{\"path\": \"a\",\n \"density\": \"7850\"}]}", 2,
       "documents.0.density must be a number"},
      {"unit out of range", "{\"documents\": [{\"path\": \"a\",\n \"lengthUnit\": 18446744073709551615}]}", 2,
       "documents.0.lengthUnit must be a whole number"},
      {"unknown field", "{\n  \"documents\": [],\n  \"selected\": []\n}", 3,
       "unknown field \"selected\" in the scene"},
      {"unknown field with a slash", "{\"documents\": [{\"path\": \"a\",\n  \"mass/volume\": 1}]}", 2,
       "unknown field \"mass/volume\" in documents.0"},
      {"unknown failure call", "{\"failures\": [\n  {\"call\": \"GetPathName\"},\n  {\"call\": \"Save\"}\n]}",
       3, "no host operation is called \"Save\""},
      {"failure without call", "{\"failures\": [\n\n  {\"path\": \"a\"}]}", 3, "failures.0 needs a call"},
      {"duplicate path",
       "{\"documents\": [\n  {\"path\": \"a.sldprt\"},\n  {\"type\": 1,\n   \"path\": \"a.sldprt\"}\n]}", 4,
       "the document \"a.sldprt\" is listed twice"},
      {"duplicate key", "{\"documents\": [],\n \"menuName\": \"a\",\n \"menuName\": \"b\"}", 3,
       "the field \"menuName\" is given twice"},
      {"duplicate key in a document",
       "{\"documents\": [{\"path\": \"a\", \"density\": 1,\n \"density\": 2}]}", 2,
       "the field \"density\" is given twice"},
      {"duplicate key in a menu item", "{\"menu\": [{\"docType\": 1, \"path\": \"a\",\n \"path\": \"b\"}]}",
       2, "the field \"path\" is given twice"},
      {"long unknown field", "{\"" + std::string(200, 'x') + "\": 1}", 1,
       "unknown field \"" + std::string(80, 'x') + "...\" in the scene"},
      {"document without path", "{\"documents\": [\n  {\"type\": 1}]}", 2, "documents.0 needs a path"},
      {"active not in documents", "{\"documents\": [{\"path\": \"a\"}],\n\"active\": \"b\"}", 2,
       "active names \"b\", which is not in documents"},
      {"type 4", "{\"documents\": [\n  {\"path\": \"a\",\n   \"type\": 4}]}", 3,
       "type must be 1 (part), 2 (assembly) or 3 (drawing)"},
      {"non-string dependency",
       "{\"documents\": [{\"path\": \"a\", \"dependencies\": [\n  \"b\", \"C:\\\\b.sldprt\",\n  \"c\", 3]}]}",
       3, "documents.0.dependencies.3 must be a string"},
      {"selection item", "{\"selection\": [null,\n  false]}", 2, "selection.1 must be a string"},
      {"empty separator", "{\n\"decimalSeparator\": \"\"}", 2, "decimalSeparator must not be empty"},
      {"menu item without path", "{\"menu\": [\n  {\"docType\": 1}]}", 2, "menu.0 needs docType and path"},
  };
  for (const BadScene& c : cases) {
    SCOPED_TRACE(c.label);
    try {
      ParseScene(c.text, "s.json");
      ADD_FAILURE() << "accepted";
    } catch (const InputError& e) {
      const std::string prefix = "s.json:" + std::to_string(c.line) + ": ";
      const std::string what = e.what();
      EXPECT_EQ(what.substr(0, prefix.size()), prefix) << what;
      EXPECT_NE(what.find(c.message), std::string::npos) << what;
    }
  }
}

// Numbers and strings come out of either reader (simdjson's, and the JSON
// library's for what simdjson does not take) as the JSON library reads them.
TEST(ParseScene, ValuesAsTheJsonLibraryReadsThem) {
  const struct {
    const char* density;
    double value;
  } numbers[] = {
      {"-0", 0.0},  // a whole number: no sign
      {"-0.0", -0.0},
      {"9007199254740993", 9007199254740992.0},
      {"18446744073709551615", 18446744073709551615.0},
      {"18446744073709551616", 18446744073709551616.0},  // beyond 64 bits: read as a float
      {"7.85E+3", 7850.0},
      {"1e-400", 0.0},
      {"5e-324", 4.9406564584124654e-324},
  };
  for (const auto& n : numbers) {
    SCOPED_TRACE(n.density);
    const Scene scene = ParseScene(
        std::string("{\"documents\": [{\"path\": \"a\", \"density\": ") + n.density + "}]}", "s.json");
    EXPECT_EQ(std::bit_cast<uint64_t>(scene.documents.at(0).density), std::bit_cast<uint64_t>(n.value));
  }
  const Scene scene =
      ParseScene("{\"documents\": [{\"path\": \"C:\\\\a\\u00e9\\ud83d\\ude00\\u0000\\t\\/b\"}]}", "s.json");
  EXPECT_EQ(scene.documents.at(0).path, std::string_view("C:\\a\xC3\xA9\xF0\x9F\x98\x80\0\t/b", 14));
}

}  // namespace
}  // namespace ponderix::sim
