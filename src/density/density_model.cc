#include "density/density_model.h"

#include <cmath>

namespace ponderix {

int16_t InitialDensUnitIndex(int32_t userLengthUnit) {
  switch (userLengthUnit) {
    case 0:  // millimetre
      return 0;
    case 1:  // centimetre
      return 1;
    case 3:  // inch
    case 5:  // foot and inch
      return 2;
    case 4:  // foot
      return 3;
    default:  // metre and anything the host adds later
      return kDefaultDensUnitIndex;
  }
}

void FillDensityTables(DensityState& s) {
  s.chosenDensity = s.partDensity;
  for (int i = 0; i < kDensUnitCount; ++i) {
    s.densUnitNames[i] = kDensUnitNames[i];
    s.densUnitFactors[i] = kDensUnitFactors[i];
  }
  for (int i = 0; i < kComMatCount; ++i) {
    s.comMatNames[i] = kComMats[i].name;
    s.comMatDensities[i] = kComMats[i].density;
  }
  s.comMatDensities[0] = s.chosenDensity;
}

void ApplyShowRule(DensityState& s) {
  s.displayDensity = s.densUnitFactors[s.densUnitIndex] * s.chosenDensity;
}

void ApplyInitialUnit(DensityState& s, int32_t userLengthUnit) {
  s.densUnitIndex = InitialDensUnitIndex(userLengthUnit);
  ApplyShowRule(s);
}

bool ApplyMaterialRule(DensityState& s, int materialIndex) {
  if (materialIndex < 0 || materialIndex >= kComMatCount) return false;
  s.chosenDensity = s.comMatDensities[materialIndex];
  ApplyShowRule(s);
  return true;
}

bool ApplyUnitRule(DensityState& s, int unitIndex) {
  if (unitIndex < 0 || unitIndex >= kDensUnitCount) return false;
  s.densUnitIndex = static_cast<int16_t>(unitIndex);
  ApplyShowRule(s);
  return true;
}

bool ApplyAcceptRule(DensityState& s, double entered) {
  const double chosen = entered / s.densUnitFactors[s.densUnitIndex];
  if (!std::isfinite(chosen)) return false;
  s.displayDensity = entered;
  s.chosenDensity = chosen;
  return true;
}

}  // namespace ponderix
