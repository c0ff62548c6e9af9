// Density runs end to end through the simulated host: every way out of a
// run, the order of what the user sees, the writes and what stays held.
#include "run/ponderix1.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

#include "harness.h"

namespace ponderix::test {
namespace {

using ::testing::ElementsAre;

const std::string kGear = "C:\\Models\\gear.sldprt";
const double kBelow7850 = std::nextafter(7850.0, 0.0);
const char* const kNoParts = "There are no part files associated with this assembly.  Program terminated.";

sim::Scene With(sim::Scene s, const std::function<void(sim::Scene&)>& change) {
  change(s);
  return s;
}

sim::Scene Separator(const char* separator) {
  return With(PartScene(), [&](sim::Scene& s) { s.decimalSeparator = separator; });
}

// The host knows the washer's path, but its file is gone.
sim::Scene WasherGone() {
  return With(PumpScene(), [](sim::Scene& s) { s.documents.erase(s.documents.begin() + 5); });
}

using Densities = std::vector<std::pair<std::string, double>>;

struct ExitCase {
  const char* name;
  sim::Scene scene;
  const char* script;
  const char* messages;  // "|" between messages
  Densities densities;   // after the run
  std::optional<std::string> activeAfter;
  std::optional<double> startDensity = std::nullopt;  // the density the dialog started from
};

std::vector<ExitCase> ExitCases() {
  std::vector<std::optional<std::string>> many(40000, std::string(kBolt));
  many.push_back(kRotor);
  return {
      {"no active document", With(PartScene(), [](sim::Scene& s) { s.active.reset(); }), "",
       "No active part in SolidWorks.  Program terminating.", Densities{{kGear, 7850}}, std::nullopt},
      {"drawing", With(PartScene(), [](sim::Scene& s) { s.documents[0].type = 3; }), "",
       "This program only works for parts and assemblies.", Densities{{kGear, 7850}}, kGear},
      {"assembly without dependencies",
       With(PumpScene(), [](sim::Scene& s) { s.documents[0].dependencies.reset(); }), "", kNoParts,
       Densities{{kBolt, 7850}}, kPump},
      {"assembly with only sub-assemblies and empty names",
       With(PumpScene(),
            [](sim::Scene& s) {
              s.documents[0].dependencies =
                  std::vector<std::string>{"m", "C:\\Work\\Pump\\Motor\\motor.sldasm", "e", ""};
            }),
       "", kNoParts, Densities{{kBolt, 7850}}, kPump},
      {"part selection cancelled after a tick", PumpScene({kBolt}), "tick washer.sldprt|click cmdCancel", "",
       Densities{{kBolt, 7850}}, kPump},
      {"part selection confirmed with nothing ticked", PumpScene({kBolt}),
       "click cmdSelectAll|click cmdDeselectAll|click cmdOK", "No parts selected.  Program terminated",
       Densities{{kBolt, 7850}}, kPump},
      {"part selection closed, nothing pre-selected", PumpScene(), "tick bolt.sldprt|close", "",
       Densities{{kBolt, 7850}}, kPump},
      // The run goes on with exactly the pre-selected parts, the first in selection order first.
      {"part selection closed with pre-selected parts", PumpScene({kRotor, kBolt}),
       "tick washer.sldprt|close|pick cboComMats aluminum|click btnOK", "Part density set to  2.75 g/cm^3",
       Densities{{kRotor, 2750}, {kBolt, 2750}, {kWasher, 7800}}, kPump, 7700},
      {"density dialog cancelled", PartScene(), "pick cboComMats steel|click btnCancel", "",
       Densities{{kGear, 7850}}, kGear},
      {"density dialog closed", PartScene(), "pick cboComMats brass|close", "Part density set to  8.9 g/cm^3",
       Densities{{kGear, 8900}}, kGear},
      {"part completed", PartScene(7850, 2), "pick cboComMats steel|click btnOK",
       "Part density set to  7871 kg/m^3", Densities{{kGear, 7871}}, kGear},
      {"part typed", PartScene(7850, 1), "focus txtDensVal|type 7.85|click btnOK",
       "Part density set to  7.85 g/cm^3", Densities{{kGear, kBelow7850}}, kGear},
      {"negative", Separator("."), "focus txtDensVal|type -1|click btnOK", "Part density set to -1 g/cm^3",
       Densities{{kGear, -1000}}, kGear},
      {"comma locale", Separator(","), "focus txtDensVal|type 0,5|click btnOK",
       "Part density set to  0.5 g/cm^3", Densities{{kGear, 500}}, kGear},
      {"tiny", Separator("."), "focus txtDensVal|type 0.00001|click btnOK",
       "Part density set to  1E-05 g/cm^3", Densities{{kGear, 0.01}}, kGear},
      {"assembly completed", PumpScene({kBolt, std::nullopt}),
       "tick washer.sldprt|click cmdOK|pick cboComMats steel|click btnOK",
       "Part density set to  7.871 g/cm^3",
       Densities{{kBolt, 7871}, {kWasher, 7871}, {kHousing, 2700}, {kRotor, 7700}}, kPump},
      // The first row's 7850 shows as 7.85 g/cm^3; OK accepts that text again.
      {"all parts, one with a window of its own",
       With(PumpScene(), [](sim::Scene& s) { s.documents[2].visible = true; }),
       "click cmdSelectAll|click cmdOK|click btnOK", "Part density set to  7.85 g/cm^3",
       Densities{{kBolt, kBelow7850}, {kHousing, kBelow7850}, {kRotor, kBelow7850}, {kWasher, kBelow7850}},
       kPump},
      {"ticked parts the host cannot open are skipped and named once",
       With(WasherGone(),
            [](sim::Scene& s) {
              s.documents[2].open = false;
              s.documents[2].type = 3;  // the host refuses to open the housing as a part
            }),
       "click cmdSelectAll|click cmdOK|pick cboComMats steel|click btnOK",
       "These parts could not be opened and keep their density: housing.sldprt, washer.sldprt|Part density "
       "set to  7.871 g/cm^3",
       Densities{{kBolt, 7871}, {kRotor, 7871}}, kPump},
      {"no ticked part can be opened", WasherGone(), "tick washer.sldprt|click cmdOK",
       "These parts could not be opened and keep their density: washer.sldprt", Densities{{kBolt, 7850}},
       kPump},
      {"more selected parts than a sixteen-bit counter holds", PumpScene(many),
       "click cmdOK|pick cboComMats 4|click btnOK", "Part density set to  1 g/cm^3",
       Densities{{kBolt, 1000}, {kRotor, 1000}}, kPump},
  };
}

// Also: each part keeps its window or lack of one, a document is open
// afterwards exactly when it was before or was written, and nothing is saved.
TEST(RunDensity, EveryExitShowsItsMessageChangesOnlyItsPartsAndReleasesEverything) {
  for (const ExitCase& c : ExitCases()) {
    SCOPED_TRACE(c.name);
    Harness h(c.scene, Lines(c.script));
    EXPECT_EQ(h.Run(), std::nullopt);
    EXPECT_EQ(h.MessageTexts(), Lines(c.messages));
    for (const auto& [path, density] : c.densities) EXPECT_EQ(h.Density(path), density) << path;
    for (const sim::SimDocument& before : c.scene.documents) {
      const sim::SimDocument& after = *h.host.FindDocument(before.path);
      EXPECT_EQ(after.visible, before.visible) << before.path;
      EXPECT_EQ(after.open, before.open || after.modified) << before.path;
      EXPECT_EQ(after.modified, after.density != before.density) << before.path;
    }
    EXPECT_EQ(h.Active(), c.activeAfter);
    if (c.startDensity) {
      EXPECT_EQ(h.module.state.comMatDensities[0], *c.startDensity);
    }
    EXPECT_EQ(h.host.HeldReferences(), 0);
    EXPECT_TRUE(h.DialogsUnloaded());
    EXPECT_TRUE(h.module.state.partDocs.Erased());
  }
}

TEST(RunDensity, ResultMessageComesBeforeAnyWriteAndTheStartIsActiveAgain) {
  Harness h(PumpScene({kBolt}), Lines("tick washer.sldprt|click cmdOK|pick cboComMats brass|click btnOK"));
  ASSERT_EQ(h.Run(), std::nullopt);
  EXPECT_THAT(h.EventKinds(),
              ElementsAre("open", "visible", "box", "activate", "visible", "density", "visible", "activate",
                          "visible", "density", "visible", "activate"));
  // Written in row order: the bolt, then the washer.
  std::vector<std::string> written;
  for (const sim::Event& e : h.host.events()) {
    if (e.kind == sim::Event::Kind::kDensity) written.emplace_back(h.host.Subject(e));
  }
  EXPECT_THAT(written, ElementsAre(kBolt, kWasher));
  EXPECT_EQ(h.Active(), kPump);
}

TEST(RunDensity, PreselectedPartsStartTickedAndTheDensityComesFromTheFirstRow) {
  Harness h(PumpScene({kRotor, kBolt, kRotor}), Lines("snapshot|click cmdOK|snapshot|click btnCancel"));
  ASSERT_EQ(h.Run(), std::nullopt);
  const auto& snapshots = h.toolkit.snapshots();
  ASSERT_EQ(snapshots.size(), 2U);
  EXPECT_THAT(Control(snapshots[0], "lboParts").rows,
              ElementsAre("bolt.sldprt", "housing.sldprt", "rotor.sldprt", "washer.sldprt"));
  EXPECT_THAT(Control(snapshots[0], "lboParts").ticks, ElementsAre(true, false, true, false));
  // Rows go into the run in row order, so the bolt's 7850 comes first.
  EXPECT_EQ(h.module.state.partDensity, 7850);
  EXPECT_EQ(Control(snapshots[1], "txtDensVal").text, "7.85");
}

TEST(RunDensity, SelectionsWithoutAPartDocumentAreSkipped) {
  // The washer is not loaded, so its component has no document.
  Harness h(PumpScene({std::nullopt, "C:\\Work\\Pump\\Motor\\motor.sldasm", kWasher, kHousing}),
            {"snapshot", "click cmdCancel"});
  ASSERT_EQ(h.Run(), std::nullopt);
  EXPECT_THAT(Control(h.toolkit.snapshots()[0], "lboParts").ticks, ElementsAre(false, true, false, false));
}

TEST(RunDensity, WebLinksOpenTheMakersPageAndChangeNothing) {
  Harness h(PumpScene({kBolt}), Lines("click lblWebLink|click cmdOK|click lblWebLink|click btnCancel"));
  ASSERT_EQ(h.Run(), std::nullopt);
  std::vector<std::string> pages;
  for (const sim::Event& e : h.host.events()) {
    if (e.kind == sim::Event::Kind::kWebPage) pages.emplace_back(h.host.Subject(e));
  }
  EXPECT_THAT(pages, ElementsAre(kMakerWebAddress, kMakerWebAddress));
  EXPECT_EQ(h.shell.lastShowMode(), 1);  // shown in a normal window
  EXPECT_EQ(h.Density(kBolt), 7850);
  EXPECT_TRUE(h.MessageTexts().empty());
}

// A failing host call ends the run with the failure, wherever it happens,
// and holds nothing.
TEST(RunDensity, AFailingHostCallAtAnyStepEndsTheRunAndReleasesEverything) {
  const char* const calls[] = {"GetApplication",
                               "GetActiveDocument",
                               "GetPathName",
                               "SelectionManager",
                               "GetType",
                               "GetUserUnit",
                               "UnitCode",
                               "GetUserPreferenceDoubleValue",
                               "Visible",
                               "OpenDocument",
                               "ActivateDocument",
                               "SetUserPreferenceDoubleValue",
                               "SetVisible",
                               "",
                               "SelectedObjectCount",
                               "SelectedObjectComponent",
                               "ComponentDocument",
                               "EnumerateDocuments",
                               "Reset",
                               "Next",
                               "ListDependencies",
                               "ShowUserMessage"};
  bool assembly = false;  // the calls after "" are made on assemblies only
  for (const std::string call : calls) {
    if (call.empty()) {
      assembly = true;
      continue;
    }
    SCOPED_TRACE(call);
    sim::Scene scene = assembly ? PumpScene({kBolt}) : PartScene();
    if (call == "ShowUserMessage") scene.documents[0].dependencies.reset();
    scene.failures.push_back({call, std::nullopt});
    Harness h(scene, Lines(assembly ? "click cmdOK|click btnOK" : "pick cboComMats steel|click btnOK"));
    const auto failure = h.Run();
    ASSERT_TRUE(failure.has_value());
    EXPECT_NE(failure->find(call), std::string::npos) << *failure;
    EXPECT_EQ(h.host.HeldReferences(), 0);
    EXPECT_TRUE(h.DialogsUnloaded());
  }
}

TEST(RunDensity, AFailedWriteKeepsTheEarlierWritesAndTouchesNoLaterPart) {
  sim::Scene scene = PumpScene();
  scene.failures.push_back({"SetUserPreferenceDoubleValue", std::string(kRotor)});
  Harness h(scene, Lines("click cmdSelectAll|click cmdOK|pick cboComMats steel|click btnOK"));
  ASSERT_TRUE(h.Run().has_value());
  EXPECT_EQ(h.Density(kBolt), 7871);
  EXPECT_EQ(h.Density(kHousing), 7871);
  EXPECT_EQ(h.Density(kRotor), 7700);
  EXPECT_EQ(h.Density(kWasher), 7800);
  EXPECT_EQ(h.module.state.partsWritten, 2);
  EXPECT_EQ(h.module.state.partsToWrite, 4);
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
  Harness h(PumpScene({kBolt}),
            Lines("click cmdCancel|tick rotor.sldprt|click cmdOK|pick cboComMats steel|click btnOK"));
  ASSERT_EQ(h.Run(), std::nullopt);
  ASSERT_EQ(h.Run(), std::nullopt);
  EXPECT_EQ(h.Density(kBolt), 7871);
  EXPECT_EQ(h.Density(kRotor), 7871);
  EXPECT_EQ(h.host.HeldReferences(), 0);
}

}  // namespace
}  // namespace ponderix::test
