// The rest of the density model is shown by the scenarios (tests/scenarios):
// here only what no user action reaches, an index outside the lists.
#include "density/density_model.h"

#include <bit>
#include <cstdint>

#include <gtest/gtest.h>

namespace ponderix {
namespace {

TEST(DensityModel, OutOfRangeIndexChangesNothing) {
  DensityState s;
  s.partDensity = 1234.5;
  FillDensityTables(s);
  ASSERT_TRUE(ApplyMaterialRule(s, 1));
  ASSERT_TRUE(ApplyUnitRule(s, 2));
  const DensityState before = s;
  for (const int index : {-1, kComMatCount, 100}) EXPECT_FALSE(ApplyMaterialRule(s, index));
  for (const int index : {-1, kDensUnitCount, 100}) EXPECT_FALSE(ApplyUnitRule(s, index));
  EXPECT_EQ(std::bit_cast<uint64_t>(s.chosenDensity), std::bit_cast<uint64_t>(before.chosenDensity));
  EXPECT_EQ(std::bit_cast<uint64_t>(s.displayDensity), std::bit_cast<uint64_t>(before.displayDensity));
  EXPECT_EQ(s.densUnitIndex, before.densUnitIndex);
}

}  // namespace
}  // namespace ponderix
