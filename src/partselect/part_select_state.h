// What the part selection dialog reads and writes of a run: the host's
// application and active assembly, the documents the run writes, the outcome
// of the dialog, and the parts it could not open. The run's own state is made
// of this and the density state.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "addin/host.h"

namespace ponderix {

// The documents a run writes: indexed 1..n, or the single index -1 that marks
// an empty pre-selection, or erased (no elements at all).
class PartDocs {
 public:
  void Erase() {
    docs_.clear();
    lower_ = 0;
  }
  void MarkEmptyPreselection() {
    docs_.assign(1, nullptr);
    lower_ = -1;
  }
  // Indices 1..count, each holding no document.
  void Dimension(size_t count) {
    docs_.assign(count, nullptr);
    lower_ = 1;
  }
  bool Erased() const { return docs_.empty(); }
  bool IsEmptyPreselection() const { return lower_ == -1; }
  // Bounds of an array that is not erased.
  int64_t LowerBound() const { return lower_; }
  int64_t UpperBound() const { return lower_ + static_cast<int64_t>(docs_.size()) - 1; }
  size_t size() const { return docs_.size(); }
  // Element `index`; an index outside the bounds throws std::out_of_range.
  Ref<Document>& operator()(int64_t index) {
    if (docs_.empty() || index < LowerBound() || index > UpperBound()) {
      throw std::out_of_range("partDocs has no element " + std::to_string(index));
    }
    return docs_[static_cast<size_t>(index - lower_)];
  }

 private:
  std::vector<Ref<Document>> docs_;
  int64_t lower_ = 0;
};

struct PartSelectState {
  Ref<Application> swApp;
  Ref<Document> swModel;
  PartDocs partDocs;
  int32_t retVal = 0;
  bool continueRun = false;
  int32_t docErrors = 0;
  int32_t docWarnings = 0;
  // File names of ticked parts the host could not open in this run.
  std::vector<std::string> unopenedParts;
};

}  // namespace ponderix
