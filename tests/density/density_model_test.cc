#include "density/density_model.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include "density/number_text.h"

namespace ponderix {
namespace {

uint64_t Bits(double v) { return std::bit_cast<uint64_t>(v); }

std::string Shown(const DensityState& s) { return FormatLocaleNumber(s.displayDensity, "."); }

DensityState Filled(double partDensity) {
  DensityState s;
  s.partDensity = partDensity;
  FillDensityTables(s);
  return s;
}

// Unknown length units fall back to kg/m^3.
TEST(DensityModel, InitialUnitFollowsLengthUnit) {
  const std::pair<int32_t, int16_t> cases[] = {{0, 0}, {1, 1}, {2, 4}, {3, 2},
                                               {4, 3}, {5, 2}, {7, 4}, {-1, 4}};
  for (const auto& [lengthUnit, unit] : cases)
    EXPECT_EQ(InitialDensUnitIndex(lengthUnit), unit) << lengthUnit;
}

// The entered value is divided once by the factor; the stored density may be a
// neighbour of the round number, yet every unit still shows the round text.
// Beyond what a double holds in kg/m^3, nothing changes.
TEST(DensityModel, AcceptedValueIsStoredInKgPerCubicMetre) {
  DensityState s = Filled(0);
  ASSERT_TRUE(ApplyUnitRule(s, 1));
  ASSERT_TRUE(ApplyAcceptRule(s, ParseLocaleNumber("7.85", ".").value()));
  EXPECT_EQ(Bits(s.chosenDensity), Bits(std::nextafter(7850.0, 0.0)));
  ASSERT_TRUE(ApplyUnitRule(s, 4));
  EXPECT_EQ(Shown(s), "7850");
  ASSERT_TRUE(ApplyUnitRule(s, 1));
  EXPECT_EQ(Shown(s), "7.85");
  EXPECT_FALSE(ApplyAcceptRule(s, 1e308));
  EXPECT_FALSE(ApplyAcceptRule(s, -1e308));
  EXPECT_EQ(Bits(s.chosenDensity), Bits(std::nextafter(7850.0, 0.0)));
  EXPECT_EQ(Shown(s), "7.85");
}

TEST(DensityModel, OutOfRangeIndexChangesNothing) {
  DensityState s = Filled(1234.5);
  ASSERT_TRUE(ApplyMaterialRule(s, 1));
  ASSERT_TRUE(ApplyUnitRule(s, 2));
  const DensityState before = s;
  for (const int index : {-1, kComMatCount, 100}) EXPECT_FALSE(ApplyMaterialRule(s, index));
  for (const int index : {-1, kDensUnitCount, 100}) EXPECT_FALSE(ApplyUnitRule(s, index));
  EXPECT_EQ(Bits(s.chosenDensity), Bits(before.chosenDensity));
  EXPECT_EQ(Bits(s.displayDensity), Bits(before.displayDensity));
  EXPECT_EQ(s.densUnitIndex, before.densUnitIndex);
}

}  // namespace
}  // namespace ponderix
