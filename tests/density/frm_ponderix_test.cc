// The density dialog as a user drives it: keys, focus, exit before click,
// the armed lists, the close box and the locale.
#include "density/frm_ponderix.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>

#include "harness.h"

namespace ponderix::test {
namespace {

struct DialogCase {
  const char* name;
  double partDensity;
  int32_t lengthUnit;
  const char* separator;
  const char* script;  // "|" between lines; a "snapshot" gives the state checked below
  const char* box;     // the value box at the snapshot; null when there is none
  int material;
  const char* materialColour;
  int unit;
  double chosen;  // chosenDensity when the dialog has closed, bit for bit
  bool continueRun;
};

const double kBelow7850 = std::nextafter(7850.0, 0.0);
const double kBelow7871 = std::nextafter(7871.0, 0.0);
const char* const kWhite = "#FFFFFF";

const DialogCase kCases[] = {
    {"opens on the part's density in the document's unit", 7871, 1, ".", "snapshot|close", "7.871", 0, kWhite,
     1, 7871, true},
    {"metre documents start in kg/m^3", 7871, 2, ".", "snapshot|close", "7871", 0, kWhite, 4, 7871, true},
    {"steel in lb/in^3", 7850, 3, ".", "pick cboComMats steel|snapshot|click btnCancel", "0.2843579783", 1,
     "#C0FFFF", 2, 7871, false},
    {"brass in lb/ft^3", 7850, 4, ".", "pick cboComMats brass|snapshot|close", "555.60897216", 3, "#C0C000",
     3, 8900, true},
    {"Enter reads the leading number and puts the list back on (enter manually)", 7871, 1, ".",
     "pick cboComMats steel|focus txtDensVal|type 7.85kg|key Enter|snapshot|close", "7.85", 0, kWhite, 1,
     kBelow7850, true},
    {"Tab on text without a number accepts 0", 7871, 1, ".", "type abc|key Tab|snapshot|click btnOK", "0", 0,
     kWhite, 1, 0, true},
    {"Enter ignores the locale: 7,85 is 7", 7871, 1, ",", "type 7,85|key Enter|snapshot|close", "7", 0,
     kWhite, 1, 7000, true},
    {"OK converts by the locale: 7,85 is 7.85", 7871, 1, ",", "type 7,85|snapshot|click btnOK", "7,85", 0,
     kWhite, 1, kBelow7850, true},
    {"a comma locale shows 7,871 and Enter turns it into 7", 7871, 1, ",", "snapshot|key Enter|close",
     "7,871", 0, kWhite, 1, 7000, true},
    {"Esc brings back the value last shown", 7871, 1, ".", "type 9|key Esc|snapshot|close", "7.871", 0,
     kWhite, 1, 7871, true},
    {"picking a unit accepts the typed text in the old unit first", 7871, 1, ".",
     "type 1|pick cboDensUnits kg/m^3|snapshot|close", "1000", 0, kWhite, 4, 1000, true},
    {"OK with the focus in the box accepts the shown text again", 7850, 1, ".", "snapshot|click btnOK",
     "7.85", 0, kWhite, 1, kBelow7850, true},
    {"steel shown in lb/in^3 comes back just below 7871", 7850, 3, ".",
     "pick cboComMats steel|focus txtDensVal|snapshot|click btnOK", "0.2843579783", 1, "#C0FFFF", 2,
     kBelow7871, true},
    {"Cancel after typing accepts the text on the way out", 7871, 1, ".", "type 5|snapshot|click btnCancel",
     "5", 0, kWhite, 1, 5000, false},
    {"unreadable text refuses OK, a unit and a material until it is retyped", 7871, 1, ".",
     "type 8.9 g/cm^3|click btnOK|pick cboDensUnits 4|pick cboComMats 1|snapshot|type 8.5|click btnOK",
     "8.9 g/cm^3", 0, kWhite, 1, 8500, true},
    {"an empty box is refused; the close box keeps the last values", 7871, 1, ".",
     "type |click btnOK|snapshot|close", "", 0, kWhite, 1, 7871, true},
    {"too large for a double, Enter", 7871, 1, ".", "type 1e400|key Enter|snapshot|close", "7.871", 0, kWhite,
     1, 7871, true},
    {"too large for a double is refused, but Cancel ends the dialog", 7871, 1, ".",
     "type 1e400|click btnOK|snapshot|click btnCancel", "1e400", 0, kWhite, 1, 7871, false},
    {"no double holds its kg/m^3, Enter", 7871, 0, ".", "type 1e308|key Enter|snapshot|close", "0.007871", 0,
     kWhite, 0, 7871, true},
    {"no double holds its kg/m^3, exit", 7871, 2, ".",
     "pick cboDensUnits lb/in^3|focus txtDensVal|type 1e305|click btnOK|snapshot|close", "1e305", 0, kWhite,
     2, 7871, true},
    {"choosing the entry already selected changes nothing", 7871, 1, ".",
     "type 5|pick cboComMats 0|snapshot|close", "5", 0, kWhite, 1, 5000, true},
    {"(enter manually) after a material brings back the part's density", 7871, 4, ".",
     "pick cboComMats aluminum|pick cboComMats 0|snapshot|close", "491.3705865024", 0, kWhite, 3, 7871, true},
    {"negative values pass through", 7871, 1, ".", "type -1|key Enter|snapshot|close", "-1", 0, kWhite, 1,
     -1000, true},
};

TEST(FrmPonderix, UserActions) {
  for (const DialogCase& c : kCases) {
    SCOPED_TRACE(c.name);
    sim::Scene scene = PartScene(c.partDensity, c.lengthUnit);
    scene.decimalSeparator = c.separator;
    Harness h(scene, Lines(c.script));
    ASSERT_EQ(h.Run(), std::nullopt);
    const RunState& s = h.module.state;
    EXPECT_EQ(s.chosenDensity, c.chosen) << s.chosenDensity;
    EXPECT_EQ(s.continueRun, c.continueRun);
    if (c.box) {
      ASSERT_EQ(h.toolkit.snapshots().size(), 1U);
      const sim::FormSnapshot& form = h.toolkit.snapshots()[0];
      EXPECT_EQ(form.title, "Ponderix by Korvanis");
      EXPECT_EQ(Control(form, "txtDensVal").text, c.box);
      EXPECT_EQ(Control(form, "cboComMats").index, c.material);
      EXPECT_EQ(Control(form, "cboComMats").backColor, c.materialColour);
      EXPECT_EQ(Control(form, "cboDensUnits").index, c.unit);
    }
    // Whatever was written is what the dialog left.
    EXPECT_EQ(h.Density("C:\\Models\\gear.sldprt"), c.continueRun ? c.chosen : c.partDensity);
  }
}

// Every common material, picked and then shown in every unit: the list's
// colour, the value box, and what OK writes (the material's own density,
// whatever the unit). A material added to the dialog needs its row here.
TEST(FrmPonderix, EveryMaterialShowsAndWritesInEveryUnit) {
  const struct {
    const char* colour;
    double written;
    std::array<const char*, kDensUnitCount> texts;
  } rows[] = {
      {kWhite, 1234.5, {"0.0012345", "1.2345", "0.04459915185", "77.0673343968", "1234.5", "1.2345"}},
      {"#C0FFFF", 7871, {"0.007871", "7.871", "0.2843579783", "491.3705865024", "7871", "7.871"}},
      {"#E0E0E0", 2750, {"0.00275", "2.75", "0.099350075", "171.6769296", "2750", "2.75"}},
      {"#C0C000", 8900, {"0.0089", "8.9", "0.32153297", "555.60897216", "8900", "8.9"}},
      {"#8080FF", 1000, {"0.001", "1", "0.0361273", "62.4279744", "1000", "1"}},
  };
  ASSERT_EQ(std::size(rows), size_t{kComMatCount});
  for (int material = 0; material < kComMatCount; ++material) {
    for (int unit = 0; unit < kDensUnitCount; ++unit) {
      const std::string script = "pick cboComMats " + std::to_string(material) + "|pick cboDensUnits " +
                                 std::to_string(unit) + "|snapshot|click btnOK";
      SCOPED_TRACE(script);
      // In a metre document the box starts in kg/m^3, so leaving it keeps the part's density exactly.
      Harness h(PartScene(1234.5, 2), Lines(script));
      ASSERT_EQ(h.Run(), std::nullopt);
      const sim::FormSnapshot& form = h.toolkit.snapshots().at(0);
      EXPECT_EQ(Control(form, "cboComMats").backColor, rows[material].colour);
      EXPECT_EQ(Control(form, "txtDensVal").text, rows[material].texts[unit]);
      EXPECT_EQ(h.Density("C:\\Models\\gear.sldprt"), rows[material].written);
    }
  }
}

// Each "snapshot" of the script gives the focus and the value box shown then.
TEST(FrmPonderix, SequencesOfUnitsAndKeys) {
  const struct {
    const char* script;
    std::vector<std::pair<std::string, std::string>> shots;  // focus, box
    double chosen;
  } cases[] = {
      // Accepted values are exact and unit switches never drift.
      {"type 7.85|key Enter|pick cboDensUnits kg/m^3|snapshot|pick cboDensUnits g/cm^3|snapshot|pick "
       "cboDensUnits lb/ft^3|pick cboDensUnits g/cm^3|snapshot|close",
       {{"cboDensUnits", "7850"}, {"cboDensUnits", "7.85"}, {"cboDensUnits", "7.85"}},
       kBelow7850},
      // Tab runs value box, OK, Cancel; leaving the box accepts again.
      {"type 2.5|key Tab|snapshot|key Tab|snapshot|key Tab|snapshot|close",
       {{"btnOK", "2.5"}, {"btnCancel", "2.5"}, {"txtDensVal", "2.5"}},
       2500},
      // Text the locale cannot read keeps the focus; Enter still reads its leading number.
      {"type 8,9|click btnOK|snapshot|pick cboComMats steel|focus btnOK|snapshot|key Enter|snapshot|close",
       {{"txtDensVal", "8,9"}, {"txtDensVal", "8,9"}, {"txtDensVal", "8"}},
       8000},
      // Cancel lets it go, showing the value OK would write should Cancel not be clicked after all.
      {"type 8,9|focus btnCancel|snapshot|click btnOK", {{"btnCancel", "7.871"}}, 7871},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.script);
    Harness h(PartScene(7871, 1), Lines(c.script));
    ASSERT_EQ(h.Run(), std::nullopt);
    std::vector<std::pair<std::string, std::string>> shots;
    for (const auto& s : h.toolkit.snapshots()) shots.emplace_back(s.focus, Control(s, "txtDensVal").text);
    EXPECT_EQ(shots, c.shots);
    EXPECT_EQ(h.module.state.chosenDensity, c.chosen);
  }
}

TEST(FrmPonderix, PreparationRunsNoListReaction) {
  // Were the materials reaction armed while the list is filled, entry 0 would
  // be applied and the list coloured before the user did anything.
  Harness h(PartScene(1234.5, 0), {"snapshot", "close"});
  ASSERT_EQ(h.Run(), std::nullopt);
  const RunState& s = h.module.state;
  EXPECT_EQ(s.comMatDensities[0], 1234.5);
  EXPECT_EQ(s.densUnitIndex, 0);
  const sim::FormSnapshot& form = h.toolkit.snapshots()[0];
  EXPECT_EQ(Control(form, "txtDensVal").text, "0.0012345");
}

}  // namespace
}  // namespace ponderix::test
