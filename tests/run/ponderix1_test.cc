// Density runs end to end through the simulated host: every way out of a
// run, the order of what the user sees, the writes and what stays held.
#include "run/ponderix1.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "harness.h"

namespace ponderix::test {
namespace {

using ::testing::ElementsAre;

const std::string kGear = "C:\\Models\\gear.sldprt";

struct ExitCase {
  const char* name;
  sim::Scene scene;
  std::vector<std::string> script;
  std::vector<std::string> messages;
  std::vector<std::pair<std::string, double>> densities;  // after the run
  std::optional<std::string> activeAfter;
};

std::vector<ExitCase> ExitCases() {
  std::vector<ExitCase> cases;
  {
    sim::Scene s = PartScene();
    s.active.reset();
    cases.push_back({"no active document",
                     s,
                     {},
                     {"No active part in SolidWorks.  Program terminating."},
                     {{kGear, 7850}},
                     std::nullopt});
  }
  {
    sim::Scene s = PartScene();
    s.documents[0].type = 3;
    cases.push_back(
        {"drawing", s, {}, {"This program only works for parts and assemblies."}, {{kGear, 7850}}, kGear});
  }
  {
    sim::Scene s = PumpScene();
    s.documents[0].dependencies.reset();
    cases.push_back({"assembly without dependencies",
                     s,
                     {},
                     {"There are no part files associated with this assembly.  Program terminated."},
                     {{kBolt, 7850}},
                     kPump});
  }
  {
    sim::Scene s = PumpScene();
    s.documents[0].dependencies =
        std::vector<std::string>{"m", "C:\\Work\\Pump\\Motor\\motor.sldasm", "e", ""};
    cases.push_back({"assembly with only sub-assemblies and empty names",
                     s,
                     {},
                     {"There are no part files associated with this assembly.  Program terminated."},
                     {{kBolt, 7850}},
                     kPump});
  }
  cases.push_back(
      {"part selection cancelled", PumpScene({kBolt}), {"click cmdCancel"}, {}, {{kBolt, 7850}}, kPump});
  cases.push_back({"part selection confirmed with nothing ticked",
                   PumpScene(),
                   {"click cmdOK"},
                   {"No parts selected.  Program terminated"},
                   {{kBolt, 7850}},
                   kPump});
  cases.push_back({"density dialog cancelled",
                   PartScene(),
                   {"pick cboComMats steel", "click btnCancel"},
                   {},
                   {{kGear, 7850}},
                   kGear});
  cases.push_back({"part completed",
                   PartScene(7850, 2),
                   {"pick cboComMats steel", "click btnOK"},
                   {"Part density set to  7871 kg/m^3"},
                   {{kGear, 7871}},
                   kGear});
  cases.push_back({"assembly completed",
                   PumpScene({kBolt, std::nullopt}),
                   {"tick washer.sldprt", "click cmdOK", "pick cboComMats steel", "click btnOK"},
                   {"Part density set to  7.871 g/cm^3"},
                   {{kBolt, 7871}, {kWasher, 7871}, {kHousing, 2700}, {kRotor, 7700}},
                   kPump});
  return cases;
}

TEST(RunDensity, EveryExitShowsItsMessageChangesOnlyItsPartsAndReleasesEverything) {
  for (const ExitCase& c : ExitCases()) {
    SCOPED_TRACE(c.name);
    Harness h(c.scene, c.script);
    EXPECT_EQ(h.Run(), std::nullopt);
    EXPECT_EQ(h.MessageTexts(), c.messages);
    for (const auto& [path, density] : c.densities) EXPECT_EQ(h.Density(path), density) << path;
    EXPECT_EQ(h.Active(), c.activeAfter);
    EXPECT_EQ(h.host.HeldReferences(), 0);
    EXPECT_TRUE(h.DialogsUnloaded());
    EXPECT_TRUE(h.module.state.partDocs.Erased());
  }
}

TEST(RunDensity, ResultMessageComesBeforeAnyWriteAndTheStartIsActiveAgain) {
  Harness h(PumpScene({kBolt}),
            {"tick washer.sldprt", "click cmdOK", "pick cboComMats brass", "click btnOK"});
  ASSERT_EQ(h.Run(), std::nullopt);
  EXPECT_THAT(h.EventKinds(),
              ElementsAre("open", "visible", "box", "activate", "visible", "density", "visible", "activate",
                          "visible", "density", "visible", "activate"));
  // Written in row order: the bolt, then the washer.
  std::vector<std::string> written;
  for (const sim::Event& e : h.host.events()) {
    if (e.kind == sim::Event::Kind::kDensity) written.push_back(e.path);
  }
  EXPECT_THAT(written, ElementsAre(kBolt, kWasher));
  EXPECT_EQ(h.Active(), kPump);
}

TEST(RunDensity, WritesKeepEachPartsVisibilityAndSaveNothing) {
  sim::Scene scene = PumpScene();
  scene.documents[2].visible = true;  // the housing has a window of its own
  Harness h(scene, {"click cmdSelectAll", "click cmdOK", "click btnOK"});
  ASSERT_EQ(h.Run(), std::nullopt);
  EXPECT_TRUE(h.Visible(kHousing));
  EXPECT_FALSE(h.Visible(kBolt));
  EXPECT_FALSE(h.Visible(kRotor));
  // Opened by the run without a window, still open afterwards.
  EXPECT_TRUE(h.Open(kWasher));
  EXPECT_FALSE(h.Visible(kWasher));
  for (const char* path : {kBolt, kHousing, kRotor, kWasher}) {
    EXPECT_TRUE(h.host.FindDocument(path)->modified) << path;
    // The first row's 7850 shows as 7.85 g/cm^3; OK accepts that text again.
    EXPECT_EQ(h.Density(path), std::nextafter(7850.0, 0.0)) << path;
  }
}

TEST(RunDensity, PartRunWritesTheActivePartItselfAndKeepsItVisible) {
  Harness h(PartScene(7850, 1), {"focus txtDensVal", "type 7.85", "click btnOK"});
  ASSERT_EQ(h.Run(), std::nullopt);
  EXPECT_EQ(h.Density(kGear), std::nextafter(7850.0, 0.0));
  EXPECT_TRUE(h.Visible(kGear));
  EXPECT_EQ(h.Active(), kGear);
  EXPECT_THAT(h.MessageTexts(), ElementsAre("Part density set to  7.85 g/cm^3"));
}

TEST(RunDensity, ResultMessageShowsNegativeAndTinyValuesInvariantly) {
  const struct {
    const char* typed;
    const char* separator;
    const char* message;
  } cases[] = {
      {"-1", ".", "Part density set to -1 g/cm^3"},
      {"0,5", ",", "Part density set to  0.5 g/cm^3"},
      {"0.00001", ".", "Part density set to  1E-05 g/cm^3"},
  };
  for (const auto& c : cases) {
    sim::Scene scene = PartScene();
    scene.decimalSeparator = c.separator;
    Harness h(scene, {"focus txtDensVal", std::string("type ") + c.typed, "click btnOK"});
    ASSERT_EQ(h.Run(), std::nullopt);
    EXPECT_THAT(h.MessageTexts(), ElementsAre(c.message));
  }
}

TEST(RunDensity, PreselectedPartsStartTickedAndTheDensityComesFromTheFirstRow) {
  Harness h(PumpScene({kRotor, kBolt, kRotor}), {"snapshot", "click cmdOK", "snapshot", "click btnCancel"});
  ASSERT_EQ(h.Run(), std::nullopt);
  const auto& snapshots = h.toolkit.snapshots();
  ASSERT_EQ(snapshots.size(), 2U);
  const sim::ControlSnapshot& list = snapshots[0].controls[2];
  ASSERT_EQ(list.name, "lboParts");
  EXPECT_THAT(list.rows, ElementsAre("bolt.sldprt", "housing.sldprt", "rotor.sldprt", "washer.sldprt"));
  EXPECT_THAT(list.ticks, ElementsAre(true, false, true, false));
  // Rows go into the run in row order, so the bolt's 7850 comes first.
  EXPECT_EQ(h.module.state.partDensity, 7850);
  EXPECT_EQ(snapshots[1].controls[3].text, "7.85");
}

TEST(RunDensity, CloseBoxOfThePartSelection) {
  {
    SCOPED_TRACE("nothing pre-selected: nothing to change, no message");
    Harness h(PumpScene(), {"tick bolt.sldprt", "close"});
    EXPECT_EQ(h.Run(), std::nullopt);
    EXPECT_TRUE(h.MessageTexts().empty());
    EXPECT_EQ(h.Density(kBolt), 7850);
    EXPECT_EQ(h.host.HeldReferences(), 0);
  }
  {
    SCOPED_TRACE("pre-selected parts: the run goes on with exactly them");
    Harness h(PumpScene({kRotor, kBolt}),
              {"tick washer.sldprt", "close", "pick cboComMats aluminum", "click btnOK"});
    EXPECT_EQ(h.Run(), std::nullopt);
    EXPECT_EQ(h.Density(kRotor), 2750);
    EXPECT_EQ(h.Density(kBolt), 2750);
    EXPECT_EQ(h.Density(kWasher), 7800);
    EXPECT_FALSE(h.Open(kWasher));
    // The density dialog started from the rotor, first in selection order.
    EXPECT_EQ(h.module.state.comMatDensities[0], 7700);
  }
}

TEST(RunDensity, ClosingTheDensityDialogGoesOnWithTheChosenDensity) {
  Harness h(PartScene(), {"pick cboComMats brass", "close"});
  ASSERT_EQ(h.Run(), std::nullopt);
  EXPECT_EQ(h.Density(kGear), 8900);
  EXPECT_THAT(h.MessageTexts(), ElementsAre("Part density set to  8.9 g/cm^3"));
}

TEST(RunDensity, TickedPartsTheHostCannotOpenAreSkippedAndNamedOnce) {
  sim::Scene scene = PumpScene();
  // The host knows the washer's path, but the file is gone; the housing cannot be opened either.
  scene.documents.erase(scene.documents.begin() + 5);
  scene.documents[2].open = false;
  scene.documents[2].type = 3;  // the host refuses to open it as a part
  Harness h(scene, {"click cmdSelectAll", "click cmdOK", "pick cboComMats steel", "click btnOK"});
  ASSERT_EQ(h.Run(), std::nullopt);
  EXPECT_THAT(
      h.MessageTexts(),
      ElementsAre("These parts could not be opened and keep their density: housing.sldprt, washer.sldprt",
                  "Part density set to  7.871 g/cm^3"));
  EXPECT_EQ(h.Density(kBolt), 7871);
  EXPECT_EQ(h.Density(kRotor), 7871);
  EXPECT_EQ(h.host.HeldReferences(), 0);
}

TEST(RunDensity, NoTickedPartCanBeOpened) {
  sim::Scene gone = PumpScene();
  gone.documents.erase(gone.documents.begin() + 5);
  Harness g(gone, {"tick washer.sldprt", "click cmdOK"});
  ASSERT_EQ(g.Run(), std::nullopt);
  EXPECT_THAT(g.MessageTexts(),
              ElementsAre("These parts could not be opened and keep their density: washer.sldprt"));
  EXPECT_EQ(g.host.HeldReferences(), 0);
  EXPECT_TRUE(g.DialogsUnloaded());
}

TEST(RunDensity, SelectionsWithoutAPartDocumentAreSkipped) {
  sim::Scene scene = PumpScene({std::nullopt, "C:\\Work\\Pump\\Motor\\motor.sldasm", kWasher, kHousing});
  // The washer is not loaded, so its component has no document.
  Harness h(scene, {"snapshot", "click cmdCancel"});
  ASSERT_EQ(h.Run(), std::nullopt);
  EXPECT_THAT(h.toolkit.snapshots()[0].controls[2].ticks, ElementsAre(false, true, false, false));
}

TEST(RunDensity, MoreSelectedPartsThanASixteenBitCounterHolds) {
  std::vector<std::optional<std::string>> selection(40000, std::string(kBolt));
  selection.push_back(kRotor);
  Harness h(PumpScene(selection), {"click cmdOK", "pick cboComMats 4", "click btnOK"});
  ASSERT_EQ(h.Run(), std::nullopt);
  EXPECT_EQ(h.module.state.selPartCount, 40001);
  EXPECT_EQ(h.Density(kBolt), 1000);
  EXPECT_EQ(h.Density(kRotor), 1000);
}

TEST(RunDensity, WebLinksOpenTheMakersPageAndChangeNothing) {
  Harness h(PumpScene({kBolt}), {"click lblWebLink", "click cmdOK", "click lblWebLink", "click btnCancel"});
  ASSERT_EQ(h.Run(), std::nullopt);
  int pages = 0;
  for (const sim::Event& e : h.host.events()) {
    if (e.kind == sim::Event::Kind::kWebPage) {
      ++pages;
      EXPECT_EQ(e.path, kMakerWebAddress);
    }
  }
  EXPECT_EQ(pages, 2);
  EXPECT_EQ(h.shell.lastShowMode(), 1);  // shown in a normal window
  EXPECT_EQ(h.Density(kBolt), 7850);
  EXPECT_TRUE(h.MessageTexts().empty());
}

// A failing host call ends the run with the failure, wherever it happens,
// holds nothing and keeps the writes made before it.
TEST(RunDensity, AFailingHostCallAtAnyStepEndsTheRunAndReleasesEverything) {
  const char* const partCalls[] = {
      "GetApplication", "GetActiveDocument", "GetPathName",      "SelectionManager",
      "GetType",        "GetUserUnit",       "UnitCode",         "GetUserPreferenceDoubleValue",
      "Visible",        "OpenDocument",      "ActivateDocument", "SetUserPreferenceDoubleValue",
      "SetVisible"};
  for (const char* call : partCalls) {
    SCOPED_TRACE(call);
    sim::Scene scene = PartScene();
    scene.failures.push_back({call, std::nullopt});
    Harness h(scene, {"pick cboComMats steel", "click btnOK"});
    const auto failure = h.Run();
    ASSERT_TRUE(failure.has_value());
    EXPECT_NE(failure->find(call), std::string::npos) << *failure;
    EXPECT_EQ(h.host.HeldReferences(), 0);
    EXPECT_TRUE(h.DialogsUnloaded());
  }
  const char* const assemblyCalls[] = {"SelectedObjectCount",
                                       "SelectedObjectComponent",
                                       "ComponentDocument",
                                       "EnumerateDocuments",
                                       "Reset",
                                       "Next",
                                       "ListDependencies",
                                       "ShowUserMessage"};
  for (const char* call : assemblyCalls) {
    SCOPED_TRACE(call);
    sim::Scene scene = PumpScene({kBolt});
    if (std::string(call) == "ShowUserMessage") scene.documents[0].dependencies.reset();
    scene.failures.push_back({call, std::nullopt});
    Harness h(scene, {"click cmdOK", "click btnOK"});
    ASSERT_TRUE(h.Run().has_value());
    EXPECT_EQ(h.host.HeldReferences(), 0);
    EXPECT_TRUE(h.DialogsUnloaded());
  }
}

TEST(RunDensity, AFailedWriteKeepsTheEarlierWritesAndTouchesNoLaterPart) {
  sim::Scene scene = PumpScene();
  scene.failures.push_back({"SetUserPreferenceDoubleValue", std::string(kRotor)});
  Harness h(scene, {"click cmdSelectAll", "click cmdOK", "pick cboComMats steel", "click btnOK"});
  ASSERT_TRUE(h.Run().has_value());
  EXPECT_EQ(h.Density(kBolt), 7871);
  EXPECT_EQ(h.Density(kHousing), 7871);
  EXPECT_EQ(h.Density(kRotor), 7700);
  EXPECT_EQ(h.Density(kWasher), 7800);
  EXPECT_EQ(h.host.HeldReferences(), 0);
}

TEST(RunDensity, ADensityTheHostGivesUnusableIsNeverWrittenBack) {
  for (const double density : {std::numeric_limits<double>::infinity(), std::nan("")}) {
    Harness h(PartScene(density), {"click btnOK"});
    ASSERT_TRUE(h.Run().has_value());
    EXPECT_TRUE(h.MessageTexts().empty());
    EXPECT_FALSE(h.host.FindDocument(kGear)->modified);
    EXPECT_EQ(h.host.HeldReferences(), 0);
  }
}

TEST(RunDensity, TheNextRunDependsOnNoLeftovers) {
  sim::Scene scene = PumpScene({kBolt});
  Harness h(scene,
            {"click cmdCancel", "tick rotor.sldprt", "click cmdOK", "pick cboComMats steel", "click btnOK"});
  ASSERT_EQ(h.Run(), std::nullopt);
  ASSERT_EQ(h.Run(), std::nullopt);
  EXPECT_EQ(h.Density(kBolt), 7871);
  EXPECT_EQ(h.Density(kRotor), 7871);
  EXPECT_EQ(h.host.HeldReferences(), 0);
}

}  // namespace
}  // namespace ponderix::test
