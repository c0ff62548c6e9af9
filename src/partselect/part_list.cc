#include "partselect/part_list.h"

#include <algorithm>
#include <cstddef>
#include <unordered_map>
#include <unordered_set>
#include <utility>

namespace ponderix {

namespace {

// Everything after the last backslash, without leading or trailing spaces.
// Only U+0020 counts as a blank: the host's trim leaves tabs alone.
std::string_view FileNameOf(std::string_view path) {
  const std::size_t slash = path.rfind('\\');
  std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  const std::size_t first = name.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return name.substr(first, name.find_last_not_of(' ') - first + 1);
}

// Byte rank for the first byte that differs. UTF-8 byte order is code point
// order; UTF-16 order differs only in that U+E000..U+FFFF (lead bytes EE, EF)
// come after the surrogate pairs (lead bytes F0..F4). Lifting EE and EF above
// every byte keeps the rank injective, so the order stays strict and total
// even for malformed input.
unsigned Rank(unsigned char byte) { return byte == 0xEE || byte == 0xEF ? byte + 0x100U : byte; }

bool IsContinuation(unsigned char byte) { return (byte & 0xC0U) == 0x80U; }

bool EqualsIgnoringAsciiCase(std::string_view text, std::string_view lowerAscii) {
  return std::equal(text.begin(), text.end(), lowerAscii.begin(), lowerAscii.end(), [](char c, char lower) {
    return (c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) == lower;
  });
}

}  // namespace

PathParts SplitPath(std::string_view path) {
  const std::size_t slash = path.rfind('\\');
  const std::size_t folderLength = slash == std::string_view::npos ? 0 : slash + 1;
  return {std::string(path.substr(0, folderLength)), std::string(FileNameOf(path))};
}

bool Utf16Less(std::string_view a, std::string_view b) {
  const auto [ia, ib] = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
  if (ib == b.end()) return false;  // b is a prefix of a, or equal
  if (ia == a.end()) return true;   // a is a proper prefix of b
  return Rank(static_cast<unsigned char>(*ia)) < Rank(static_cast<unsigned char>(*ib));
}

bool IsSubAssemblyName(std::string_view name) {
  // Walk back seven UTF-16 units. A supplementary character is two units; if
  // only its low half falls inside the window it is included whole, which is
  // harmless since it can never be part of the ASCII "sldasm".
  std::size_t start = name.size();
  for (int units = 0; units < 7 && start > 0;) {
    --start;
    while (start > 0 && IsContinuation(static_cast<unsigned char>(name[start]))) --start;
    units += static_cast<unsigned char>(name[start]) >= 0xF0 ? 2 : 1;
  }
  constexpr std::string_view kMarker = "sldasm";
  const std::string_view tail = name.substr(start);
  for (std::size_t i = 0; i + kMarker.size() <= tail.size(); ++i) {
    if (EqualsIgnoringAsciiCase(tail.substr(i, kMarker.size()), kMarker)) return true;
  }
  return false;
}

PartFileList BuildPartFileList(const std::vector<std::string>& dependencies,
                               const std::optional<std::vector<std::string>>& preSelNames) {
  struct Entry {
    std::string_view name;  // into dependencies, which outlive this call
    std::size_t pathIndex;
  };
  const std::size_t count = dependencies.size() / 2;
  std::vector<Entry> entries;
  entries.reserve(count);
  for (std::size_t k = 0; k < count; ++k) {
    entries.push_back({FileNameOf(dependencies[2 * k + 1]), 2 * k + 1});
  }
  // Stable, so among equal names the first in the host's order leads its run
  // and is the one kept.
  std::stable_sort(entries.begin(), entries.end(),
                   [](const Entry& x, const Entry& y) { return Utf16Less(x.name, y.name); });

  std::unordered_set<std::string_view> ticked;
  if (preSelNames) ticked.insert(preSelNames->begin(), preSelNames->end());

  PartFileList list;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const std::string_view name = entries[i].name;
    // A sub-assembly's duplicates are sub-assemblies too, so comparing with
    // the previous entry (kept or not) is enough to drop a whole run.
    if (name.empty() || (i > 0 && name == entries[i - 1].name) || IsSubAssemblyName(name)) continue;
    list.partPaths.push_back(dependencies[entries[i].pathIndex]);
    list.partNames.emplace_back(name);
    list.partSelected.push_back(ticked.contains(name));
  }
  return list;
}

std::vector<std::string> SortedDistinctNames(std::vector<std::string> names) {
  std::sort(names.begin(), names.end(), Utf16Less);
  names.erase(std::unique(names.begin(), names.end()), names.end());
  // The empty name sorts first, if present.
  if (!names.empty() && names.front().empty()) names.erase(names.begin());
  return names;
}

std::vector<int32_t> MatchOpenDocuments(const std::vector<std::string>& chosenNames,
                                        const std::vector<std::string>& openDocNames) {
  std::unordered_map<std::string_view, int32_t> firstIndex;
  firstIndex.reserve(openDocNames.size());
  for (std::size_t i = 0; i < openDocNames.size(); ++i) {
    firstIndex.try_emplace(openDocNames[i], static_cast<int32_t>(i + 1));  // keeps the first
  }
  std::vector<int32_t> result;
  result.reserve(chosenNames.size());
  for (const std::string& name : chosenNames) {
    const auto found = firstIndex.find(name);
    result.push_back(found == firstIndex.end() ? 0 : found->second);
  }
  return result;
}

}  // namespace ponderix
