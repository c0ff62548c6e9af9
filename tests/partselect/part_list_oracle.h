// The original quadratic algorithms, transcribed literally. Only the tests
// and the benchmark use them, as the reference the fast versions must match.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "partselect/part_list.h"

namespace ponderix::oracle {

// UTF-8 to UTF-16, for well-formed input only.
std::u16string ToUtf16(std::string_view utf8);

// Binary comparison as the host does it: on UTF-16 code units.
bool BinaryLess(std::string_view a, std::string_view b);

PathParts SplitPath(std::string_view path);

PartFileList BuildPartFileList(const std::vector<std::string>& dependencies,
                               const std::optional<std::vector<std::string>>& preSelNames);

std::vector<std::string> SortedDistinctNames(std::vector<std::string> names);

std::vector<int32_t> MatchOpenDocuments(const std::vector<std::string>& chosenNames,
                                        const std::vector<std::string>& openDocNames);

}  // namespace ponderix::oracle
