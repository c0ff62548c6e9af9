// The part selection dialog in runs on an assembly: the list it opens with,
// name styles, select all, OK, Cancel, and how ticked rows become documents.
#include "partselect/frm_part_select.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "harness.h"

namespace ponderix::test {
namespace {

using ::testing::ElementsAre;

TEST(FrmPartSelect, OpensOnShortNamesWithThePreselectionTickedAndTheAssemblyAsTitle) {
  Harness h(PumpScene({kHousing}), {"snapshot", "click cmdCancel"});
  ASSERT_EQ(h.Run(), std::nullopt);
  const sim::FormSnapshot& form = h.toolkit.snapshots().at(0);
  EXPECT_EQ(form.title, "pump.sldasm");
  EXPECT_EQ(form.focus, "lboParts");
  EXPECT_FALSE(Control(form, "chkNameStyle").checked);
  EXPECT_EQ(Control(form, "chkNameStyle").caption, "Check to view long names");
  EXPECT_THAT(Control(form, "lboParts").rows,
              ElementsAre("bolt.sldprt", "housing.sldprt", "rotor.sldprt", "washer.sldprt"));
  EXPECT_THAT(Control(form, "lboParts").ticks, ElementsAre(false, true, false, false));
  EXPECT_TRUE(Control(form, "lboParts").enabled);
  EXPECT_FALSE(Control(form, "txtU").visible);
  EXPECT_EQ(Control(form, "txtU").text, "5");
}

TEST(FrmPartSelect, TicksSurviveNameStyleSwitches) {
  Harness h(PumpScene({kBolt}), {"tick rotor.sldprt", "click chkNameStyle", "snapshot",
                                 "untick C:\\Work\\Pump\\Parts\\bolt.sldprt", "click chkNameStyle",
                                 "click chkNameStyle", "click chkNameStyle", "snapshot", "click cmdCancel"});
  ASSERT_EQ(h.Run(), std::nullopt);
  const auto& shots = h.toolkit.snapshots();
  EXPECT_EQ(Control(shots[0], "chkNameStyle").caption, "Uncheck to view short names");
  // The first path of a duplicated name is the one listed.
  EXPECT_THAT(Control(shots[0], "lboParts").rows, ElementsAre(kBolt, kHousing, kRotor, kWasher));
  EXPECT_THAT(Control(shots[0], "lboParts").ticks, ElementsAre(true, false, true, false));
  EXPECT_EQ(Control(shots[1], "chkNameStyle").caption, "Check to view long names");
  EXPECT_THAT(Control(shots[1], "lboParts").rows,
              ElementsAre("bolt.sldprt", "housing.sldprt", "rotor.sldprt", "washer.sldprt"));
  EXPECT_THAT(Control(shots[1], "lboParts").ticks, ElementsAre(false, false, true, false));
}

TEST(FrmPartSelect, OkReusesOpenDocumentsByExactFileNameAndOpensTheRestHidden) {
  sim::Scene scene = PumpScene();
  // An open document from another folder with the bolt's file name is taken
  // instead of the listed bolt; one differing only in case is not.
  scene.documents.push_back(Part("D:\\Library\\bolt.sldprt", 7000, true, true));
  scene.documents.push_back(Part("D:\\Library\\ROTOR.sldprt", 7000, true, true));
  scene.documents[1].open = false;  // the listed bolt and rotor are not open
  scene.documents[4].open = false;
  Harness h(scene, {"tick bolt.sldprt", "tick rotor.sldprt", "tick washer.sldprt", "click cmdOK",
                    "pick cboComMats brass", "click btnOK"});
  ASSERT_EQ(h.Run(), std::nullopt);
  EXPECT_EQ(h.Density("D:\\Library\\bolt.sldprt"), 8900);
  EXPECT_EQ(h.Density(kBolt), 7850);
  EXPECT_EQ(h.Density("D:\\Library\\ROTOR.sldprt"), 7000);
  EXPECT_EQ(h.Density(kRotor), 8900);
  EXPECT_EQ(h.Density(kWasher), 8900);
  // The reused document keeps its window; the opened ones have none.
  EXPECT_TRUE(h.Visible("D:\\Library\\bolt.sldprt"));
  EXPECT_FALSE(h.Visible(kRotor));
  EXPECT_FALSE(h.Visible(kWasher));
  std::vector<std::string> opened;
  for (const sim::Event& e : h.host.events()) {
    if (e.kind == sim::Event::Kind::kOpen) opened.emplace_back(h.host.Subject(e));
  }
  EXPECT_THAT(opened, ElementsAre(kRotor, kWasher));
}

TEST(FrmPartSelect, OnlyOpenPartsTickedOpensNothingAndChangesNoVisibility) {
  Harness h(PumpScene({kBolt, kHousing}), {"click cmdOK", "click btnCancel"});
  ASSERT_EQ(h.Run(), std::nullopt);
  for (const sim::Event& e : h.host.events()) {
    EXPECT_NE(e.kind, sim::Event::Kind::kOpen);
    EXPECT_NE(e.kind, sim::Event::Kind::kVisible);
  }
}

TEST(FrmPartSelect, TheWaitBeforeLoadingLetsEventsRunForATenthOfASecond) {
  Harness h(PumpScene(), {"click cmdCancel"});
  ASSERT_EQ(h.Run(), std::nullopt);
  EXPECT_GE(h.toolkit.Seconds(), 0.1);
  EXPECT_LT(h.toolkit.Seconds(), 0.12);
}

TEST(FrmPartSelect, HiddenControlsCannotBeReached) {
  for (const char* action : {"click cmdBreak", "focus txtU"}) {
    Harness h(PumpScene(), {action});
    const auto failure = h.Run();
    ASSERT_TRUE(failure.has_value()) << action;
    EXPECT_NE(failure->find("hidden or disabled"), std::string::npos) << *failure;
    EXPECT_EQ(h.host.HeldReferences(), 0);
  }
}

TEST(FrmPartSelect, TabOrder) {
  const FormLayout layout = frmPartSelect::Layout("https://example.invalid/");
  std::vector<const ControlLayout*> stops;
  for (const ControlLayout& c : layout.controls) {
    if (c.tabStop && c.visible) stops.push_back(&c);
  }
  std::sort(stops.begin(), stops.end(), [](auto* a, auto* b) { return a->tabIndex < b->tabIndex; });
  std::vector<std::string> names;
  for (const ControlLayout* c : stops) names.push_back(c->name);
  EXPECT_THAT(
      names, ElementsAre("lboParts", "cmdSelectAll", "cmdDeselectAll", "cmdOK", "cmdCancel", "chkNameStyle"));
}

}  // namespace
}  // namespace ponderix::test
