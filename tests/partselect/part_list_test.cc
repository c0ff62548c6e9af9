#include "partselect/part_list.h"

#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace ponderix {
namespace {

using Row = std::tuple<std::string, std::string, bool>;  // path, name, ticked
using Names = std::vector<std::string>;

// U+FFFD, U+1F600, U+E000, U+10000, U+00E9 in UTF-8.
constexpr const char* kReplacement = "\xEF\xBF\xBD";
constexpr const char* kEmoji = "\xF0\x9F\x98\x80";
constexpr const char* kPrivateUse = "\xEE\x80\x80";
constexpr const char* kFirstSupplementary = "\xF0\x90\x80\x80";
constexpr const char* kEAcute = "\xC3\xA9";

std::vector<Row> Build(const Names& paths, const std::optional<Names>& preSel = std::nullopt) {
  Names deps;
  for (const std::string& path : paths) {
    deps.push_back("title");  // the first of each pair is not a path
    deps.push_back(path);
  }
  const PartFileList list = BuildPartFileList(deps, preSel);
  EXPECT_EQ(list.partNames.size(), list.partPaths.size());
  EXPECT_EQ(list.partNames.size(), list.partSelected.size());
  std::vector<Row> rows;
  for (std::size_t i = 0; i < list.partNames.size(); ++i) {
    rows.emplace_back(list.partPaths[i], list.partNames[i], list.partSelected[i]);
  }
  return rows;
}

struct ListCase {
  const char* label;
  Names paths;
  std::optional<Names> preSel;
  std::vector<Row> expected;
};

TEST(BuildPartFileList, Cases) {
  const std::vector<ListCase> cases = {
      {"binary order, upper case first",
       {"b.sldprt", "A.sldprt", "a.sldprt"},
       {},
       {{"A.sldprt", "A.sldprt", false}, {"a.sldprt", "a.sldprt", false}, {"b.sldprt", "b.sldprt", false}}},
      {"sub-assemblies by the last seven characters",
       {"C:\\m\\sub.SLDASM", "sub.sldasm.bak", "x.asm", "sldasm", "SLDASM", "xsldasm1", "sldasm12",
        "a.sldasm  "},
       {},
       {{"sldasm12", "sldasm12", false},
        {"sub.sldasm.bak", "sub.sldasm.bak", false},
        {"x.asm", "x.asm", false}}},
      {"only sub-assemblies", {"C:\\a.SldAsm", "b.sldasm"}, {}, {}},
      {"same path twice",
       {"C:\\m\\p.sldprt", "C:\\m\\p.sldprt"},
       {},
       {{"C:\\m\\p.sldprt", "p.sldprt", false}}},
      {"same name in two folders keeps the first in host order",
       {"D:\\z\\bolt.sldprt", "C:\\a\\bolt.sldprt"},
       {},
       {{"D:\\z\\bolt.sldprt", "bolt.sldprt", false}}},
      {"blanks trimmed from the name, kept in the path; tabs are not blanks",
       {"C:\\m\\  gear.sldprt  ", "C:\\m\\\tnut.sldprt"},
       {},
       {{"C:\\m\\\tnut.sldprt", "\tnut.sldprt", false}, {"C:\\m\\  gear.sldprt  ", "gear.sldprt", false}}},
      {"empty names dropped",
       {"", "C:\\m\\", "C:\\m\\   ", "C:/m/p.sldprt"},
       {},
       {{"C:/m/p.sldprt", "C:/m/p.sldprt", false}}},
      {"ticks: unknown names and folders tick nothing, duplicates tick once",
       {"C:\\a\\bolt.sldprt", "D:\\b\\bolt.sldprt", "nut.sldprt", "gear.sldprt"},
       Names{"bolt.sldprt", "bolt.sldprt", "C:\\x\\gear.sldprt", "washer.sldprt"},
       {{"C:\\a\\bolt.sldprt", "bolt.sldprt", true},
        {"gear.sldprt", "gear.sldprt", false},
        {"nut.sldprt", "nut.sldprt", false}}},
  };
  for (const ListCase& c : cases) {
    EXPECT_EQ(Build(c.paths, c.preSel), c.expected) << c.label;
  }
}

TEST(BuildPartFileList, UsesTheSecondOfEachPairAndIgnoresALoneLastElement) {
  EXPECT_THAT(BuildPartFileList({"C:\\first.sldprt", "C:\\second.sldprt", "C:\\lone.sldprt"}, {}).partNames,
              testing::ElementsAre("second.sldprt"));
  EXPECT_TRUE(BuildPartFileList({"C:\\lone.sldprt"}, Names{"lone.sldprt"}).partNames.empty());
  EXPECT_TRUE(BuildPartFileList({}, {}).partNames.empty());
}

TEST(SplitPath, Cases) {
  const std::vector<std::tuple<std::string, std::string, std::string>> cases = {
      {"C:\\models\\gear.sldprt", "C:\\models\\", "gear.sldprt"},
      {"gear.sldprt", "", "gear.sldprt"},
      {"C:\\models\\", "C:\\models\\", ""},
      {"", "", ""},
      {"C:/models/gear.sldprt", "", "C:/models/gear.sldprt"},
      {"C:\\a b \\ gear x \t ", "C:\\a b \\", "gear x \t"},
  };
  for (const auto& [path, folder, name] : cases) {
    const PathParts parts = SplitPath(path);
    EXPECT_EQ(parts.folder, folder) << path;
    EXPECT_EQ(parts.fileName, name) << path;
  }
}

TEST(Utf16Less, Cases) {
  const std::string pair = std::string(kEmoji);
  const std::vector<std::tuple<std::string, std::string, bool>> cases = {
      {"Z", "a", true},
      {"ab", "abc", true},
      {"a", "a", false},
      {"", "a", true},
      {"z", kEAcute, true},
      {kEmoji, kReplacement, true},  // a surrogate pair sorts below U+E000..U+FFFF
      {kFirstSupplementary, kPrivateUse, true},
      {"\xED\x9F\xBF", kFirstSupplementary, true},  // U+D7FF stays below the pairs
      {"\xEE\x80\x80", "\xEE\x80\x81", true},       // differing continuation bytes
      {"x" + pair + "a", "x" + pair + "b", true},
  };
  for (const auto& [a, b, less] : cases) {
    EXPECT_EQ(Utf16Less(a, b), less) << a << " < " << b;
    EXPECT_EQ(Utf16Less(b, a), a != b && !less) << b << " < " << a;
  }
}

TEST(IsSubAssemblyName, CountsSevenUtf16Units) {
  const std::string emoji = kEmoji;
  EXPECT_FALSE(IsSubAssemblyName("sldasm" + emoji));  // eight units: the "s" falls out
  EXPECT_TRUE(IsSubAssemblyName(emoji + "sldasm"));
  EXPECT_TRUE(IsSubAssemblyName(std::string("sldasm") + kEAcute));
  EXPECT_TRUE(IsSubAssemblyName("a.SldAsm"));
  EXPECT_FALSE(IsSubAssemblyName("sldas"));
}

TEST(SortedDistinctNames, SortsDropsDuplicatesAndEmpties) {
  EXPECT_THAT(SortedDistinctNames({"b", "", "a", "b", "B", ""}), testing::ElementsAre("B", "a", "b"));
}

TEST(MatchOpenDocuments, FirstEqualIndexCaseSensitive) {
  EXPECT_THAT(MatchOpenDocuments({"b.sldprt", "A.sldprt", "x.sldprt"},
                                 {"", "b.sldprt", "a.sldprt", "b.sldprt", "A.sldprt"}),
              testing::ElementsAre(2, 5, 0));
  EXPECT_THAT(MatchOpenDocuments({"a"}, {}), testing::ElementsAre(0));
}

}  // namespace
}  // namespace ponderix
