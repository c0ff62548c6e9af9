#include "partselect/part_list.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <stdexcept>
#include <utility>

namespace ponderix {

// Only U+0020 counts as a blank: the host's trim leaves tabs alone.
std::string_view FileNameOf(std::string_view path) {
  const std::size_t slash = path.rfind('\\');
  std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  const std::size_t first = name.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return name.substr(first, name.find_last_not_of(' ') - first + 1);
}

namespace {

// Byte rank for the first byte that differs. UTF-8 byte order is code point
// order; UTF-16 order differs only in that U+E000..U+FFFF (lead bytes EE, EF)
// come after the surrogate pairs (lead bytes F0..F4). Lifting EE and EF above
// every byte keeps the rank injective, so the order stays strict and total
// even for malformed input.
unsigned Rank(unsigned char byte) { return byte == 0xEE || byte == 0xEF ? byte + 0x100U : byte; }

// A hint to start loading the cache line at `p`. The paths are scattered
// over the heap; asking for them a few entries ahead hides most of the wait.
inline void Prefetch(const void* p) {
#if defined(__GNUC__) || defined(__clang__)
  __builtin_prefetch(p);
#else
  static_cast<void>(p);
#endif
}

constexpr std::size_t kPrefetchAhead = 8;

bool IsContinuation(unsigned char byte) { return (byte & 0xC0U) == 0x80U; }

// Kept in this file so the sorts can inline it; Utf16Less forwards here.
inline bool Less(std::string_view a, std::string_view b) {
  const std::size_t common = std::min(a.size(), b.size());
  std::size_t i = 0;
  // Names often share long prefixes ("ISO 4762 M8x25 - "), so skip equal
  // words first.
  if constexpr (std::endian::native == std::endian::little) {
    for (; i + 8 <= common; i += 8) {
      std::uint64_t x = 0;
      std::uint64_t y = 0;
      std::memcpy(&x, a.data() + i, 8);
      std::memcpy(&y, b.data() + i, 8);
      if (x != y) {
        i += static_cast<std::size_t>(std::countr_zero(x ^ y)) / 8;
        break;
      }
    }
  }
  for (; i < common; ++i) {
    if (a[i] != b[i]) return Rank(static_cast<unsigned char>(a[i])) < Rank(static_cast<unsigned char>(b[i]));
  }
  return a.size() < b.size();
}

// 1-based index of the first equal name in a list, 0 when none: open
// addressing with linear probing over one flat array of indices. Looking up
// tens of thousands of names, this is markedly faster than std::unordered_set,
// whose node per name costs an allocation and another cache miss per probe.
class FirstIndexTable {
 public:
  explicit FirstIndexTable(const std::vector<std::string>& names) : names_(&names) {
    if (names.size() >= std::numeric_limits<std::uint32_t>::max()) {
      throw std::length_error("FirstIndexTable: too many names");
    }
    std::size_t capacity = 2;
    while (capacity < 2 * names.size()) capacity *= 2;  // at most half full, so probe runs stay short
    slots_.assign(capacity, 0);
    mask_ = capacity - 1;
    for (std::size_t k = 0; k < names.size(); ++k) {
      std::uint32_t& slot = slots_[SlotOf(names[k])];
      if (slot == 0) slot = static_cast<std::uint32_t>(k + 1);  // a later equal name leaves it
    }
  }

  std::uint32_t IndexOf(std::string_view name) const { return slots_[SlotOf(name)]; }

 private:
  // The slot holding `name`, or the empty slot that ends its probe run.
  std::size_t SlotOf(std::string_view name) const {
    const std::size_t hash = std::hash<std::string_view>{}(name);
    std::size_t slot = hash & mask_;
    while (slots_[slot] != 0 && (*names_)[slots_[slot] - 1] != name) slot = (slot + 1) & mask_;
    return slot;
  }

  const std::vector<std::string>* names_;  // outlives the table
  std::vector<std::uint32_t> slots_;
  std::size_t mask_ = 0;
};

// A name in BuildPartFileList's arena, with the sort's key for the eight bytes
// from the current depth.
struct NameEntry {
  std::uint64_t key;
  std::uint32_t offset;
  std::uint32_t length;
  std::uint32_t pathIndex;
  std::uint32_t rest;  // bytes from the depth on, at most 9: 9 means more follow the key
};

// Rank() squeezed into a byte: the same order, 0xEE and 0xEF moved above the
// rest. A zero pad byte is told from a NUL by `rest`.
constexpr unsigned char Rank8(unsigned char byte) {
  return byte < 0xEE   ? byte
         : byte < 0xF0 ? static_cast<unsigned char>(byte + 0x10)
                       : static_cast<unsigned char>(byte - 2);
}

// Sorts by name in Less's order, ties by pathIndex. Each pass sorts a range on
// eight bytes as one integer, then the runs that agree on them and go on, at
// the next eight bytes: the integers compare without reading the arena, which
// is too large for the caches at a million names.
void SortNames(std::vector<NameEntry>& entries, const std::string& arena) {
  const auto less = [](const NameEntry& x, const NameEntry& y) {
    if (x.key != y.key) return x.key < y.key;
    if (x.rest != y.rest) return x.rest < y.rest;
    return x.pathIndex < y.pathIndex;
  };
  struct Range {
    std::size_t begin;
    std::size_t end;
    std::size_t depth;
  };
  std::vector<Range> todo{{0, entries.size(), 0}};
  while (!todo.empty()) {
    const Range range = todo.back();
    todo.pop_back();
    for (std::size_t i = range.begin; i < range.end; ++i) {
      if (i + kPrefetchAhead < range.end)
        Prefetch(arena.data() + entries[i + kPrefetchAhead].offset + range.depth);
      NameEntry& e = entries[i];
      const std::size_t rest = e.length - range.depth;  // a range's names are longer than its depth
      const char* bytes = arena.data() + e.offset + range.depth;
      std::uint64_t key = 0;
      for (std::size_t b = 0; b < 8; ++b) {
        key = key << 8U | (b < rest ? Rank8(static_cast<unsigned char>(bytes[b])) : 0U);
      }
      e.key = key;
      e.rest = static_cast<std::uint32_t>(std::min<std::size_t>(rest, 9));
    }
    const auto first = entries.begin() + static_cast<std::ptrdiff_t>(range.begin);
    std::sort(first, entries.begin() + static_cast<std::ptrdiff_t>(range.end), less);
    for (std::size_t i = range.begin; i < range.end;) {
      std::size_t j = i + 1;
      while (j < range.end && entries[j].key == entries[i].key && entries[j].rest == entries[i].rest) ++j;
      if (j - i > 1 && entries[i].rest > 8) todo.push_back({i, j, range.depth + 8});
      i = j;
    }
  }
}
}  // namespace

PathParts SplitPath(std::string_view path) {
  const std::size_t slash = path.rfind('\\');
  const std::size_t folderLength = slash == std::string_view::npos ? 0 : slash + 1;
  return {std::string(path.substr(0, folderLength)), std::string(FileNameOf(path))};
}

bool Utf16Less(std::string_view a, std::string_view b) { return Less(a, b); }

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
    // The marker is all letters, and c | 0x20 lowers exactly the ASCII letters
    // that could match it.
    if (std::equal(kMarker.begin(), kMarker.end(), tail.begin() + static_cast<std::ptrdiff_t>(i),
                   [](char lower, char c) { return (c | 0x20) == lower; })) {
      return true;
    }
  }
  return false;
}

PartFileList BuildPartFileList(std::vector<std::string> dependencies,
                               const std::optional<std::vector<std::string>>& preSelNames) {
  // The names are copied into one buffer, which the sort reads once a pass
  // instead of once a comparison. 32-bit offsets keep an entry at 24 bytes.
  const std::size_t count = dependencies.size() / 2;
  std::size_t pathBytes = 0;
  for (std::size_t k = 0; k < count; ++k) pathBytes += dependencies[2 * k + 1].size();
  if (pathBytes > std::numeric_limits<std::uint32_t>::max() ||
      dependencies.size() > std::numeric_limits<std::uint32_t>::max()) {
    throw std::length_error("BuildPartFileList: dependency list too large");
  }
  std::string arena;
  arena.reserve(pathBytes);  // bounds the names; pages never written cost nothing
  std::vector<NameEntry> entries;
  entries.reserve(count);
  for (std::size_t k = 0; k < count; ++k) {
    if (k + kPrefetchAhead < count) {
      const std::string& ahead = dependencies[2 * (k + kPrefetchAhead) + 1];
      Prefetch(ahead.data() + ahead.size());  // the end, where the name is
    }
    const std::string_view name = FileNameOf(dependencies[2 * k + 1]);
    NameEntry entry{};
    entry.offset = static_cast<std::uint32_t>(arena.size());
    entry.length = static_cast<std::uint32_t>(name.size());
    entry.pathIndex = static_cast<std::uint32_t>(2 * k + 1);
    entries.push_back(entry);
    arena += name;
  }
  // Among equal names the first in the host's order leads its run and is the
  // one kept: the entries are in that order, and the sort breaks ties by it.
  SortNames(entries, arena);
  const auto nameOf = [&arena](const NameEntry& e) {
    return std::string_view(arena.data() + e.offset, e.length);
  };

  // The kept names come in order, so the ticked ones are found by walking
  // the pre-selected names in the same order alongside: no lookups at random.
  std::vector<std::string_view> ticked;
  if (preSelNames) ticked.assign(preSelNames->begin(), preSelNames->end());
  const auto less = [](std::string_view a, std::string_view b) { return Less(a, b); };
  if (!std::is_sorted(ticked.begin(), ticked.end(), less)) std::sort(ticked.begin(), ticked.end(), less);
  std::size_t next = 0;  // the first ticked name not below the names kept so far

  PartFileList list;
  list.partPaths.reserve(entries.size());
  list.partNames.reserve(entries.size());
  list.partSelected.reserve(entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (i + kPrefetchAhead < entries.size()) {
      // Moving a path reads only its string object, not the characters.
      Prefetch(&dependencies[entries[i + kPrefetchAhead].pathIndex]);
      if (next + kPrefetchAhead < ticked.size()) Prefetch(ticked[next + kPrefetchAhead].data());
    }
    const std::string_view name = nameOf(entries[i]);
    // A sub-assembly's duplicates are sub-assemblies too, so comparing with
    // the previous entry (kept or not) is enough to drop a whole run.
    if (name.empty() || (i > 0 && name == nameOf(entries[i - 1])) || IsSubAssemblyName(name)) continue;
    // Each path is taken at most once: a kept entry's name differs from every
    // other kept one's.
    list.partPaths.push_back(std::move(dependencies[entries[i].pathIndex]));
    list.partNames.emplace_back(name);
    while (next < ticked.size() && Less(ticked[next], name)) ++next;
    list.partSelected.push_back(next < ticked.size() && ticked[next] == name);
  }
  return list;
}

std::vector<std::string> SortedDistinctNames(std::vector<std::string> names) {
  std::sort(names.begin(), names.end(),
            [](const std::string& a, const std::string& b) { return Less(a, b); });
  names.erase(std::unique(names.begin(), names.end()), names.end());
  // The empty name sorts first, if present.
  if (!names.empty() && names.front().empty()) names.erase(names.begin());
  return names;
}

std::vector<int32_t> MatchOpenDocuments(const std::vector<std::string_view>& chosenNames,
                                        const std::vector<std::string>& openDocNames) {
  const FirstIndexTable firstIndex(openDocNames);
  std::vector<int32_t> result;
  result.reserve(chosenNames.size());
  for (const std::string_view name : chosenNames) {
    result.push_back(static_cast<int32_t>(firstIndex.IndexOf(name)));
  }
  return result;
}

}  // namespace ponderix
