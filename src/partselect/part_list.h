// The part-file list of an assembly, as pure functions over UTF-8 strings.
//
// Names compare by UTF-16 code units (the host's string order), letter case
// counting. The list is built in O(n log n): a sort by file name that keeps
// the host's order among equal names, a linear pass that drops
// sub-assemblies, empty names and later duplicates and walks the sorted
// pre-selection for the ticks, and a hash lookup for the open documents.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ponderix {

struct PathParts {
  std::string folder;    // up to and including the last backslash, unchanged
  std::string fileName;  // after the last backslash, leading and trailing spaces removed
};

PathParts SplitPath(std::string_view path);
// SplitPath(path).fileName, as a view into `path`.
std::string_view FileNameOf(std::string_view path);

// a < b by UTF-16 code units; a proper prefix sorts first.
bool Utf16Less(std::string_view a, std::string_view b);

// True when "sldasm" stands within the last seven UTF-16 units of `name`,
// whatever the letter case.
bool IsSubAssemblyName(std::string_view name);

struct PartFileList {
  std::vector<std::string> partPaths;
  std::vector<std::string> partNames;
  std::vector<bool> partSelected;
};

// `dependencies` is the host's list of pairs; the second element of each pair
// is a full path (a lone last element is ignored); the kept paths are moved
// out of it. `preSelNames` absent means nothing was pre-selected.
PartFileList BuildPartFileList(std::vector<std::string> dependencies,
                               const std::optional<std::vector<std::string>>& preSelNames);

// Sorted (UTF-16 order) and without duplicates.
std::vector<std::string> SortedDistinctNames(std::vector<std::string> names);

// For each chosen name, the 1-based index of the first equal entry of
// `openDocNames`, or 0 when none is equal.
std::vector<int32_t> MatchOpenDocuments(const std::vector<std::string_view>& chosenNames,
                                        const std::vector<std::string>& openDocNames);

}  // namespace ponderix
