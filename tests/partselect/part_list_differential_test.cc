// The fast functions against the oracle on random inputs built to hit the
// awkward corners: letter case, blanks, "sldasm" near the seven-unit window,
// surrogate pairs, U+E000..U+FFFF, NUL, empty names, odd-length lists.
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "partselect/part_list.h"
#include "partselect/part_list_oracle.h"

namespace ponderix {
namespace {

using Names = std::vector<std::string>;

class RandomNames {
 public:
  explicit RandomNames(unsigned seed) : rng_(seed) {}

  // Modulo rather than a std distribution, so every standard library draws
  // the same cases.
  std::size_t Below(std::size_t n) { return static_cast<std::size_t>(rng_()) % n; }
  bool OneIn(std::size_t n) { return Below(n) == 0; }

  std::string Name() {
    // The escapes: e acute, u umlaut, a CJK ideograph, U+D7FF, U+E000, U+FFFD,
    // U+10000 and an emoji.
    // clang-format off
    static const Names kPieces = {
        "a", "A", "b", "B", "z", "Z", "bolt", "Bolt", " ", "\t", ".", "x", "/", "sldasm", "SldAsm",
        ".sldprt", ".SLDPRT", ".sldasm", ".SLDASM", ".sldasm.bak", "sldasmx", ".asm",
        "\xC3\xA9", "\xC3\xBC", "\xE6\x97\xA5", "\xED\x9F\xBF", "\xEE\x80\x80", "\xEF\xBF\xBD",
        "\xF0\x90\x80\x80", "\xF0\x9F\x98\x80", std::string(1, '\0')};
    // clang-format on
    std::string name;
    for (std::size_t k = Below(5); k > 0; --k) name += kPieces[Below(kPieces.size())];
    return name;
  }

  std::string Path(const Names& pool) {
    static const Names kFolders = {"",           "C:\\m\\",          "D:\\Parts\\Sub\\",
                                   "C:\\a b \\", "\\\\srv\\share\\", "C:/fwd/"};
    std::string path = kFolders[Below(kFolders.size())];
    if (OneIn(4)) path += " ";
    path += OneIn(3) ? Name() : pool[Below(pool.size())];
    if (OneIn(4)) path += "  ";
    if (OneIn(20)) path += "\\";
    return path;
  }

  // A small pool so names repeat across folders and in the other inputs.
  Names Pool() {
    Names pool(1 + Below(12));
    for (std::string& name : pool) name = Name();
    return pool;
  }

 private:
  std::mt19937 rng_;
};

TEST(PartListDifferential, BuildPartFileListMatchesOracle) {
  RandomNames random(20261206);
  for (int round = 0; round < 4000; ++round) {
    const Names pool = random.Pool();
    Names deps(random.Below(61));
    for (std::size_t i = 0; i < deps.size(); ++i) deps[i] = i % 2 == 1 ? random.Path(pool) : random.Name();
    std::optional<Names> preSel;
    if (!random.OneIn(3)) {
      preSel.emplace(random.Below(6));
      for (std::string& name : *preSel)
        name = random.OneIn(4) ? random.Name() : pool[random.Below(pool.size())];
    }
    const PartFileList fast = BuildPartFileList(deps, preSel);
    const PartFileList slow = oracle::BuildPartFileList(deps, preSel);
    ASSERT_EQ(fast.partPaths, slow.partPaths) << "round " << round;
    ASSERT_EQ(fast.partNames, slow.partNames) << "round " << round;
    ASSERT_EQ(fast.partSelected, slow.partSelected) << "round " << round;
  }
}

TEST(PartListDifferential, NamesAndOpenDocumentsMatchOracle) {
  RandomNames random(7);
  for (int round = 0; round < 3000; ++round) {
    const Names pool = random.Pool();
    Names names(random.Below(30));
    for (std::string& name : names) name = random.OneIn(3) ? random.Name() : pool[random.Below(pool.size())];
    ASSERT_EQ(SortedDistinctNames(names), oracle::SortedDistinctNames(names)) << "round " << round;

    Names chosen;
    for (const std::string& name : names) {
      if (!name.empty()) chosen.push_back(name);
    }
    Names open(random.Below(10));
    for (std::string& name : open) name = random.OneIn(5) ? "" : pool[random.Below(pool.size())];
    const std::vector<std::string_view> chosenViews(chosen.begin(), chosen.end());
    ASSERT_EQ(MatchOpenDocuments(chosenViews, open), oracle::MatchOpenDocuments(chosen, open))
        << "round " << round;
  }
}

TEST(PartListDifferential, Utf16LessMatchesUtf16Strings) {
  RandomNames random(42);
  for (int round = 0; round < 20000; ++round) {
    const std::string a = random.Name();
    const std::string b = random.OneIn(3) ? a + random.Name() : random.Name();
    ASSERT_EQ(Utf16Less(a, b), oracle::ToUtf16(a) < oracle::ToUtf16(b)) << a << " < " << b;
    ASSERT_EQ(Utf16Less(b, a), oracle::ToUtf16(b) < oracle::ToUtf16(a)) << b << " < " << a;
  }
}

}  // namespace
}  // namespace ponderix
