// The documents of a scene by path, by open addressing over their indexes: no
// node to allocate per document, and a look-up touches one slot and one path.
// A scene may hold a million documents, and the add-in looks each up several
// times.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

#include "sim/sim_host.h"

namespace ponderix::sim {

class PathIndex {
 public:
  // Empty, with room for `count` of `docs`, whose paths never change once added.
  void Reset(const std::vector<SimDocument>& docs, size_t count) {
    docs_ = &docs;
    size_t capacity = 16;
    while (capacity < count * 2) capacity *= 2;
    slots_.assign(capacity, Slot{});
  }
  // Adds docs[index]; false, adding nothing, when an earlier document has its path.
  bool Add(size_t index) {
    const std::string_view path = (*docs_)[index].path;
    const size_t hash = std::hash<std::string_view>{}(path);
    Slot& slot = slots_[Probe(path, hash)];
    if (slot.index != kEmpty) return false;
    slot = {hash, static_cast<uint32_t>(index)};
    return true;
  }
  void Clear() {
    docs_ = nullptr;
    std::vector<Slot>().swap(slots_);
  }
  // The index of the document at `path`, or nothing.
  std::optional<size_t> Find(std::string_view path) const {
    if (slots_.empty()) return std::nullopt;
    const Slot& slot = slots_[Probe(path, std::hash<std::string_view>{}(path))];
    if (slot.index == kEmpty) return std::nullopt;
    return slot.index;
  }

 private:
  static constexpr uint32_t kEmpty = UINT32_MAX;
  struct Slot {
    size_t hash = 0;
    uint32_t index = kEmpty;
  };

  // The slot that holds `path`, else the empty one where it would go.
  size_t Probe(std::string_view path, size_t hash) const {
    const size_t mask = slots_.size() - 1;
    for (size_t at = hash & mask;; at = (at + 1) & mask) {
      const Slot& slot = slots_[at];
      if (slot.index == kEmpty || (slot.hash == hash && (*docs_)[slot.index].path == path)) return at;
    }
  }

  const std::vector<SimDocument>* docs_ = nullptr;
  std::vector<Slot> slots_;
};

}  // namespace ponderix::sim
