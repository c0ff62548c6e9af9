// The density dialog as a user drives it: keys, focus, exit before click,
// the armed lists, the close box and the locale.
#include "density/frm_ponderix.h"

#include <gtest/gtest.h>

#include <cmath>

#include "harness.h"

namespace ponderix::test {
namespace {

const sim::ControlSnapshot& Control(const sim::FormSnapshot& form, const std::string& name) {
  for (const auto& c : form.controls) {
    if (c.name == name) return c;
  }
  throw std::logic_error("no control " + name);
}

struct DialogCase {
  const char* name;
  double partDensity;
  int32_t lengthUnit;
  const char* separator;
  std::vector<std::string> script;  // a "snapshot" line gives the state checked below
  const char* box;                  // the value box at the snapshot
  int material;                     // the materials list at the snapshot
  const char* materialColour;
  int unit;       // the units list at the snapshot
  double chosen;  // chosenDensity when the dialog has closed, bit for bit
  bool continueRun;
};

const double kBelow7850 = std::nextafter(7850.0, 0.0);
const double kBelow7871 = std::nextafter(7871.0, 0.0);

const DialogCase kCases[] = {
    {"opens on the part's density in the document's unit",
     7871,
     1,
     ".",
     {"snapshot", "close"},
     "7.871",
     0,
     "#FFFFFF",
     1,
     7871,
     true},
    {"metre documents start in kg/m^3",
     7871,
     2,
     ".",
     {"snapshot", "close"},
     "7871",
     0,
     "#FFFFFF",
     4,
     7871,
     true},
    {"steel in lb/in^3",
     7850,
     3,
     ".",
     {"pick cboComMats steel", "snapshot", "click btnCancel"},
     "0.2843579783",
     1,
     "#C0FFFF",
     2,
     7871,
     false},
    {"brass in lb/ft^3",
     7850,
     4,
     ".",
     {"pick cboComMats brass", "snapshot", "close"},
     "555.60897216",
     3,
     "#C0C000",
     3,
     8900,
     true},
    {"Enter reads the leading number and puts the list back on (enter manually)",
     7871,
     1,
     ".",
     {"pick cboComMats steel", "focus txtDensVal", "type 7.85kg", "key Enter", "snapshot", "close"},
     "7.85",
     0,
     "#FFFFFF",
     1,
     kBelow7850,
     true},
    {"Tab on text without a number accepts 0",
     7871,
     1,
     ".",
     {"type abc", "key Tab", "snapshot", "click btnOK"},
     "0",
     0,
     "#FFFFFF",
     1,
     0,
     true},
    {"Enter ignores the locale: 7,85 is 7",
     7871,
     1,
     ",",
     {"type 7,85", "key Enter", "snapshot", "close"},
     "7",
     0,
     "#FFFFFF",
     1,
     7000,
     true},
    {"OK converts by the locale: 7,85 is 7.85 where the separator is a comma",
     7871,
     1,
     ",",
     {"type 7,85", "snapshot", "click btnOK"},
     "7,85",
     0,
     "#FFFFFF",
     1,
     kBelow7850,
     true},
    {"a comma locale shows 7.871 as 7,871 and Enter turns it into 7",
     7871,
     1,
     ",",
     {"snapshot", "key Enter", "close"},
     "7,871",
     0,
     "#FFFFFF",
     1,
     7000,
     true},
    {"Esc brings back the value last shown and keeps the density",
     7871,
     1,
     ".",
     {"type 9", "key Esc", "snapshot", "close"},
     "7.871",
     0,
     "#FFFFFF",
     1,
     7871,
     true},
    {"picking a unit accepts the typed text in the old unit first",
     7871,
     1,
     ".",
     {"type 1", "pick cboDensUnits kg/m^3", "snapshot", "close"},
     "1000",
     0,
     "#FFFFFF",
     4,
     1000,
     true},
    {"OK with the focus in the box accepts the shown text again",
     7850,
     1,
     ".",
     {"snapshot", "click btnOK"},
     "7.85",
     0,
     "#FFFFFF",
     1,
     kBelow7850,
     true},
    {"steel shown in lb/in^3 comes back just below 7871",
     7850,
     3,
     ".",
     {"pick cboComMats steel", "focus txtDensVal", "snapshot", "click btnOK"},
     "0.2843579783",
     1,
     "#C0FFFF",
     2,
     kBelow7871,
     true},
    {"Cancel after typing accepts the text on the way out",
     7871,
     1,
     ".",
     {"type 5", "snapshot", "click btnCancel"},
     "5",
     0,
     "#FFFFFF",
     1,
     5000,
     false},
    {"text that is not a number keeps the last values",
     7871,
     1,
     ".",
     {"type abc", "snapshot", "click btnOK"},
     "abc",
     0,
     "#FFFFFF",
     1,
     7871,
     true},
    {"an empty box keeps the last values",
     7871,
     1,
     ".",
     {"type ", "click btnOK"},
     nullptr,
     0,
     nullptr,
     1,
     7871,
     true},
    {"a number too large for a double is not accepted by Enter",
     7871,
     1,
     ".",
     {"type 1e400", "key Enter", "snapshot", "close"},
     "7.871",
     0,
     "#FFFFFF",
     1,
     7871,
     true},
    {"a number too large for a double is not accepted on exit",
     7871,
     1,
     ".",
     {"type 1e400", "click btnOK"},
     nullptr,
     0,
     nullptr,
     1,
     7871,
     true},
    {"a value whose kg/m^3 no double holds is not accepted by Enter",
     7871,
     0,
     ".",
     {"type 1e308", "key Enter", "snapshot", "close"},
     "0.007871",
     0,
     "#FFFFFF",
     0,
     7871,
     true},
    {"a value whose kg/m^3 no double holds is not accepted on exit",
     7871,
     2,
     ".",
     {"pick cboDensUnits lb/in^3", "focus txtDensVal", "type 1e305", "click btnOK"},
     nullptr,
     0,
     nullptr,
     2,
     7871,
     true},
    {"choosing the entry already selected changes nothing",
     7871,
     1,
     ".",
     {"type 5", "pick cboComMats 0", "snapshot", "close"},
     "5",
     0,
     "#FFFFFF",
     1,
     5000,
     true},
    {"(enter manually) after a material brings back the part's density",
     7871,
     4,
     ".",
     {"pick cboComMats aluminum", "pick cboComMats 0", "snapshot", "close"},
     "491.3705865024",
     0,
     "#FFFFFF",
     3,
     7871,
     true},
    {"Spec. Grav. shows what g/cm^3 shows",
     7871,
     1,
     ".",
     {"pick cboComMats S.G.=1 (water, plastic)", "pick cboDensUnits Spec. Grav.", "snapshot", "close"},
     "1",
     4,
     "#8080FF",
     5,
     1000,
     true},
    {"negative values pass through",
     7871,
     1,
     ".",
     {"type -1", "key Enter", "snapshot", "close"},
     "-1",
     0,
     "#FFFFFF",
     1,
     -1000,
     true},
};

TEST(FrmPonderix, UserActions) {
  for (const DialogCase& c : kCases) {
    SCOPED_TRACE(c.name);
    sim::Scene scene = PartScene(c.partDensity, c.lengthUnit);
    scene.decimalSeparator = c.separator;
    Harness h(scene, c.script);
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

TEST(FrmPonderix, AcceptedValuesAreExactAndUnitSwitchesNeverDrift) {
  Harness h(PartScene(7871, 1),
            {"type 7.85", "key Enter", "pick cboDensUnits kg/m^3", "snapshot", "pick cboDensUnits g/cm^3",
             "snapshot", "pick cboDensUnits lb/ft^3", "pick cboDensUnits g/cm^3", "snapshot", "close"});
  ASSERT_EQ(h.Run(), std::nullopt);
  const auto& shots = h.toolkit.snapshots();
  EXPECT_EQ(Control(shots[0], "txtDensVal").text, "7850");
  EXPECT_EQ(Control(shots[1], "txtDensVal").text, "7.85");
  EXPECT_EQ(Control(shots[2], "txtDensVal").text, "7.85");
  EXPECT_EQ(h.module.state.chosenDensity, kBelow7850);
}

TEST(FrmPonderix, TabRunsValueBoxOkCancelAndLeavingTheBoxAcceptsAgain) {
  Harness h(PartScene(7871, 1),
            {"type 2.5", "key Tab", "snapshot", "key Tab", "snapshot", "key Tab", "snapshot", "close"});
  ASSERT_EQ(h.Run(), std::nullopt);
  const auto& shots = h.toolkit.snapshots();
  EXPECT_EQ(shots[0].focus, "btnOK");
  EXPECT_EQ(shots[1].focus, "btnCancel");
  EXPECT_EQ(shots[2].focus, "txtDensVal");
  EXPECT_EQ(h.module.state.chosenDensity, 2500);
}

TEST(FrmPonderix, PreparationRunsNoListReaction) {
  // Were the materials reaction armed while the list is filled, entry 0 would
  // be applied and the list coloured before the user did anything.
  Harness h(PartScene(1234.5, 0), {"snapshot", "close"});
  ASSERT_EQ(h.Run(), std::nullopt);
  const RunState& s = h.module.state;
  EXPECT_EQ(s.comMatDensities[0], 1234.5);
  EXPECT_EQ(s.densUnitIndex, 0);
  EXPECT_EQ(Control(h.toolkit.snapshots()[0], "txtDensVal").text, "0.0012345");
  EXPECT_EQ(Control(h.toolkit.snapshots()[0], "cboDensUnits").items,
            (std::vector<std::string>{"g/mm^3", "g/cm^3", "lb/in^3", "lb/ft^3", "kg/m^3", "Spec. Grav."}));
  EXPECT_EQ(Control(h.toolkit.snapshots()[0], "cboComMats").items,
            (std::vector<std::string>{"(enter manually)", "steel", "aluminum", "brass",
                                      "S.G.=1 (water, plastic)"}));
}

}  // namespace
}  // namespace ponderix::test
