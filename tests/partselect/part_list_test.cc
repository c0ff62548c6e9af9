#include "partselect/part_list.h"

#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

namespace ponderix {
namespace {

using Row = std::tuple<std::string, std::string, bool>;  // path, name, ticked
using Names = std::vector<std::string>;

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

}  // namespace
}  // namespace ponderix
