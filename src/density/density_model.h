// The density model: units with their factors, the common materials, the unit
// shown first for a document's length unit, and the rules the density dialog
// applies when the user picks a material, picks a unit or enters a value.
//
// Every density kept for the host is in kg/m^3; only the shown value is in the
// chosen unit (shown = stored x factor).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "addin/toolkit.h"

namespace ponderix {

inline constexpr int kDensUnitCount = 6;

inline constexpr std::array<std::string_view, kDensUnitCount> kDensUnitNames = {
    "g/mm^3", "g/cm^3", "lb/in^3", "lb/ft^3", "kg/m^3", "Spec. Grav."};
// The pound factors are these rounded constants, not the exact conversions.
inline constexpr std::array<double, kDensUnitCount> kDensUnitFactors = {0.000001,     0.001, 0.0000361273,
                                                                        0.0624279744, 1.0,   0.001};
// kg/m^3, the unit densities are kept in: shown for metre documents and any
// length unit the host adds later.
inline constexpr int16_t kDefaultDensUnitIndex = 4;
static_assert(kDensUnitNames[kDefaultDensUnitIndex] == "kg/m^3" &&
              kDensUnitFactors[kDefaultDensUnitIndex] == 1.0);

// A common material: the name its list shows, its density in kg/m^3 and the
// colour the list takes when it is picked.
struct ComMat {
  std::string_view name;
  double density;
  Colour colour;
};

// Entry 0 is the part's own density, filled in per run. A material is one row.
inline constexpr std::array kComMats = {
    ComMat{"(enter manually)", 0.0, Colour::System(Colour::Kind::kWindowBackground)},
    ComMat{"steel", 7871.0, Colour::Rgb(192, 255, 255)},
    ComMat{"aluminum", 2750.0, Colour::Rgb(224, 224, 224)},
    ComMat{"brass", 8900.0, Colour::Rgb(192, 192, 0)},
    ComMat{"S.G.=1 (water, plastic)", 1000.0, Colour::Rgb(128, 128, 255)},
};
inline constexpr int kComMatCount = static_cast<int>(kComMats.size());

// The unit shown first for the host's length-unit code.
int16_t InitialDensUnitIndex(int32_t userLengthUnit);

// The density part of the run state. Field names are the run's own vocabulary.
struct DensityState {
  double partDensity = 0;
  double chosenDensity = 0;
  double displayDensity = 0;
  int16_t densUnitIndex = kDefaultDensUnitIndex;
  std::array<std::string, kDensUnitCount> densUnitNames;
  std::array<double, kDensUnitCount> densUnitFactors{};
  std::array<std::string, kComMatCount> comMatNames;
  std::array<double, kComMatCount> comMatDensities{};
};

// Fills the tables and sets chosenDensity = partDensity (material 0 holds it).
void FillDensityTables(DensityState& s);
// Initial unit from the length unit, then the show rule.
void ApplyInitialUnit(DensityState& s, int32_t userLengthUnit);
// displayDensity = factor x chosenDensity.
void ApplyShowRule(DensityState& s);
// chosenDensity = the material's density, then the show rule. An index outside
// the table leaves everything as it was and returns false.
bool ApplyMaterialRule(DensityState& s, int materialIndex);
// densUnitIndex = unit, then the show rule; false (and no change) outside the table.
bool ApplyUnitRule(DensityState& s, int unitIndex);
// displayDensity = entered, chosenDensity = entered / factor (one division).
// False, with nothing changed, when the quotient is too large for a double.
bool ApplyAcceptRule(DensityState& s, double entered);

}  // namespace ponderix
