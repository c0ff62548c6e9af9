#include "partselect/part_list_oracle.h"

#include <cstddef>
#include <utility>

namespace ponderix::oracle {

namespace {

using Index = std::ptrdiff_t;  // n = entries - 1 may be -1

// Exchange sort; equal names are never exchanged, so it is stable.
void SortByName(std::vector<std::string>& names, std::vector<std::string>& paths) {
  const Index n = static_cast<Index>(names.size()) - 1;
  for (Index i = 0; i <= n - 1; ++i) {
    for (Index j = n - 1; j >= i; --j) {
      if (BinaryLess(names[j + 1], names[j])) {
        std::swap(names[j], names[j + 1]);
        std::swap(paths[j], paths[j + 1]);
      }
    }
  }
}

// Blanks every name with "sldasm" in its last seven UTF-16 units.
void BlankSubAssemblies(std::vector<std::string>& names, std::vector<std::string>& paths) {
  for (std::size_t i = 0; i < names.size(); ++i) {
    std::u16string last7 = ToUtf16(names[i]);
    if (last7.size() > 7) last7 = last7.substr(last7.size() - 7);
    for (char16_t& c : last7) {
      if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    }
    if (last7.find(u"sldasm") != std::u16string::npos) names[i] = paths[i] = "";
  }
}

// Blanks every later copy of a name.
void BlankDuplicates(std::vector<std::string>& names, std::vector<std::string>& paths) {
  const Index n = static_cast<Index>(names.size()) - 1;
  for (Index i = 0; i <= n - 1; ++i) {
    for (Index j = i + 1; j <= n; ++j) {
      if (names[j] == names[i]) names[j] = paths[j] = "";
    }
  }
}

// Moves each blank entry to the end one swap at a time, then drops it.
void RemoveBlanks(std::vector<std::string>& names, std::vector<std::string>& paths) {
  for (Index i = static_cast<Index>(names.size()) - 1; i >= 0; --i) {
    if (names[i].empty()) {
      const Index last = static_cast<Index>(names.size()) - 1;
      for (Index k = i; k < last; ++k) {
        std::swap(names[k], names[k + 1]);
        std::swap(paths[k], paths[k + 1]);
      }
      names.pop_back();
      paths.pop_back();
    }
  }
}

}  // namespace

std::u16string ToUtf16(std::string_view utf8) {
  std::u16string out;
  for (std::size_t i = 0; i < utf8.size();) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    const int extra = lead < 0x80 ? 0 : lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : 3;
    char32_t cp = extra == 0 ? lead : lead & (0x3F >> extra);
    for (int k = 1; k <= extra; ++k) cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    i += extra + 1;
    if (cp < 0x10000) {
      out += static_cast<char16_t>(cp);
    } else {
      out += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
    }
  }
  return out;
}

bool BinaryLess(std::string_view a, std::string_view b) { return ToUtf16(a) < ToUtf16(b); }

PathParts SplitPath(std::string_view path) {
  std::size_t p = 0;  // 1-based position of the last backslash
  for (std::size_t k = path.size(); k >= 1; --k) {
    if (path[k - 1] == '\\') {
      p = k;
      break;
    }
  }
  std::string name(path.substr(p));
  while (!name.empty() && name.front() == ' ') name.erase(0, 1);
  while (!name.empty() && name.back() == ' ') name.pop_back();
  return {std::string(path.substr(0, p)), name};
}

PartFileList BuildPartFileList(const std::vector<std::string>& dependencies,
                               const std::optional<std::vector<std::string>>& preSelNames) {
  PartFileList r;
  const std::size_t entries = dependencies.size() / 2;
  for (std::size_t i = 0; i < entries; ++i) {
    r.partPaths.push_back(dependencies[2 * i + 1]);
    r.partNames.push_back(SplitPath(r.partPaths[i]).fileName);
  }
  SortByName(r.partNames, r.partPaths);
  BlankSubAssemblies(r.partNames, r.partPaths);
  BlankDuplicates(r.partNames, r.partPaths);
  RemoveBlanks(r.partNames, r.partPaths);
  r.partSelected.assign(r.partNames.size(), false);
  if (preSelNames) {
    for (std::size_t i = 0; i < r.partNames.size(); ++i) {
      for (const std::string& s : *preSelNames) {
        if (r.partNames[i] == s) r.partSelected[i] = true;
      }
    }
  }
  return r;
}

std::vector<std::string> SortedDistinctNames(std::vector<std::string> names) {
  std::vector<std::string> unused(names.size());  // the helpers move a parallel array too
  SortByName(names, unused);
  BlankDuplicates(names, unused);
  RemoveBlanks(names, unused);
  return names;
}

std::vector<int32_t> MatchOpenDocuments(const std::vector<std::string>& chosenNames,
                                        const std::vector<std::string>& openDocNames) {
  std::vector<int32_t> result;
  for (const std::string& chosen : chosenNames) {
    int32_t found = 0;
    for (std::size_t k = 0; k < openDocNames.size() && found == 0; ++k) {
      if (openDocNames[k] == chosen) found = static_cast<int32_t>(k + 1);
    }
    result.push_back(found);
  }
  return result;
}

}  // namespace ponderix::oracle
