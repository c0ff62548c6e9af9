// What the scenario corpus (tests/scenarios) cannot show, since a session
// there is one run on a scene file: a second run by the same add-in, a density
// no scene file can hold, more selected objects than a 16-bit counter, the
// wait before the part selection loads, the window the maker's page opens
// in, and callbacks by name.
#include "run/ponderix1.h"

#include <gtest/gtest.h>

#include <cmath>
#include <exception>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "run/sw_connection.h"
#include "sim/headless_toolkit.h"
#include "sim/sim_host.h"

namespace ponderix {
namespace {

const char* const kTop = "C:\\a\\top.sldasm";
const char* const kBolt = "C:\\a\\bolt.sldprt";
const char* const kNut = "C:\\a\\nut.sldprt";

sim::Scene Assembly(std::vector<std::optional<std::string>> selection, double boltDensity = 7850) {
  sim::Scene s;
  s.documents = {
      {kTop, kDocTypeAssembly, true, true, 1, 1000, std::vector<std::string>{"b", kBolt, "n", kNut}, false},
      {kBolt, kDocTypePart, true, false, 1, boltDensity, std::nullopt, false},
      {kNut, kDocTypePart, true, false, 1, 7800, std::nullopt, false}};
  s.active = kTop;
  s.selection = std::move(selection);
  return s;
}

struct Session {
  Session(sim::Scene scene, const std::string& script)
      : host(std::move(scene)),
        shell(host),
        actions(sim::ScriptSource::FromText(script)),
        toolkit(host, actions, host.scene().decimalSeparator),
        module(Platform{host, toolkit, shell}) {}
  bool Run() {  // false when the run failed
    try {
      module.RunDensity();
      return true;
    } catch (const std::exception&) {
      return false;
    }
  }
  double Density(const char* path) const { return host.FindDocument(path)->density; }

  sim::SimHost host;
  sim::SimShell shell;
  sim::ScriptSource actions;
  sim::HeadlessToolkit toolkit;
  Ponderix1 module;
};

TEST(RunDensity, TheNextRunDependsOnNoLeftovers) {
  Session s(Assembly({kBolt}),
            "click cmdCancel\ntick nut.sldprt\nclick cmdOK\npick cboComMats steel\nclick btnOK\n");
  ASSERT_TRUE(s.Run());
  ASSERT_TRUE(s.Run());
  EXPECT_EQ(s.Density(kBolt), 7871);
  EXPECT_EQ(s.Density(kNut), 7871);
  EXPECT_EQ(s.host.HeldReferences(), 0);
  EXPECT_EQ(s.toolkit.LoadedForms(), 0);
}

TEST(RunDensity, ADensityTheHostGivesUnusableIsNeverWrittenBack) {
  for (const double density : {std::numeric_limits<double>::infinity(), std::nan("")}) {
    Session s(Assembly({kBolt}, density), "click cmdOK\nclick btnOK\n");
    EXPECT_FALSE(s.Run());
    EXPECT_TRUE(s.host.messages().empty());
    EXPECT_FALSE(s.host.FindDocument(kBolt)->modified);
    EXPECT_EQ(s.host.HeldReferences(), 0);
    EXPECT_EQ(s.toolkit.LoadedForms(), 0);
  }
}

TEST(RunDensity, MoreSelectedObjectsThanASixteenBitCounterHolds) {
  std::vector<std::optional<std::string>> many(40000, std::string(kBolt));
  many.emplace_back(kNut);
  Session s(Assembly(many), "click cmdOK\npick cboComMats 4\nclick btnOK\n");
  ASSERT_TRUE(s.Run());
  EXPECT_EQ(s.Density(kBolt), 1000);
  EXPECT_EQ(s.Density(kNut), 1000);
}

TEST(RunDensity, ThePartSelectionLoadsAfterLettingEventsRunForATenthOfASecond) {
  Session s(Assembly({}), "click cmdCancel\n");
  ASSERT_TRUE(s.Run());
  EXPECT_GE(s.toolkit.Seconds(), 0.1);
  EXPECT_LT(s.toolkit.Seconds(), 0.12);
}

TEST(RunDensity, TheMakersPageOpensInANormalWindow) {
  Session s(Assembly({}), "click lblWebLink\nclick cmdCancel\n");
  ASSERT_TRUE(s.Run());
  EXPECT_EQ(s.shell.lastShowMode(), 1);
}

TEST(SWConnection, CallbacksByExactName) {
  Session s(sim::Scene{}, "");
  SWConnection connection(s.module, 0x1000);
  EXPECT_EQ(connection.InvokeByName("Return_as_1").value, 1);
  EXPECT_FALSE(connection.InvokeByName("runaddin").found);
  EXPECT_TRUE(connection.InvokeByName("RunAddin").ok);
}

}  // namespace
}  // namespace ponderix
