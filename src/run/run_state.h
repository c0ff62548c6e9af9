// The run state: what one density run shares between the run driver, the
// two dialogs and the writes. It lives as long as the add-in is loaded; each
// run overwrites what it uses, and the teardown releases every host reference.
// Each dialog sees only its own part of it.
#pragma once

#include <cstdint>
#include <string>

#include "addin/host.h"
#include "density/density_model.h"
#include "partselect/part_select_state.h"

namespace ponderix {

struct RunState : DensityState, PartSelectState {
  Ref<SelectionMgr> swSelMgr;
  Ref<UserUnit> swUserUnit;
  int32_t userLengthUnit = 0;
  std::string activeDocPath;
  int32_t activeDocType = 0;
  // Wide enough for any selection the host can report.
  int64_t selPartCount = 0;
  int64_t selPartIndex = 0;
  // Progress of the writes, kept after the teardown so that a platform can
  // tell the user how far a failed run got: parts to write, parts written.
  int64_t partsToWrite = 0;
  int64_t partsWritten = 0;
};

}  // namespace ponderix
