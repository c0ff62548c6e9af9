// The add-in object against the simulated host: the menu it installs and
// removes, its callbacks by name, and runs chosen through the menu.
#include "run/sw_connection.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "harness.h"
#include "sim/session.h"

namespace ponderix::test {
namespace {

using ::testing::ElementsAre;

struct Connected {
  explicit Connected(sim::Scene scene) : h(std::move(scene), {}), connection(h.module, 0x1000) {}
  Harness h;
  SWConnection connection;
};

sim::MenuEntry Item(int32_t docType, const std::string& menuName) {
  return {docType, "Ponderix@Korvanis Tools@" + menuName, "RunAddin", "Return_as_1",
          "Tool for changing densities of SW parts in context of assembly."};
}

sim::MenuEntry SubMenu(int32_t docType, const std::string& path) {
  return {docType, path, std::nullopt, std::nullopt, std::nullopt};
}

TEST(SWConnection, TheLocalizedMenuNameEndsBothPathsUnchanged) {
  for (const std::string name : {"Tools", "Outils", " Werkzeuge ", "", "工具", "Extras@Ä", "@"}) {
    SCOPED_TRACE(name);
    sim::Scene scene = PartScene();
    scene.menuName = name;
    Connected c(scene);
    EXPECT_TRUE(c.connection.SwAddin_ConnectToSW(c.h.host.GetApplication("SldWorks.Application"), 7));
    EXPECT_EQ(c.connection.connCookie, 7);
    // Parts first, then assemblies; the sub-menu is the item path without "Ponderix@".
    EXPECT_THAT(c.h.host.Menu(), ElementsAre(SubMenu(1, "Korvanis Tools@" + name), Item(1, name),
                                             SubMenu(2, "Korvanis Tools@" + name), Item(2, name)));
    EXPECT_TRUE(c.connection.SwAddin_DisconnectFromSW());
    EXPECT_TRUE(c.h.host.Menu().empty());
    EXPECT_EQ(c.h.host.HeldReferences(), 0);
  }
}

TEST(SWConnection, TheSubMenuStaysForATypeWhileAnotherItemIsInIt) {
  sim::Scene scene = PartScene();
  scene.menu.push_back({1, "Other@Korvanis Tools@Tools", std::nullopt, std::nullopt, std::nullopt});
  Connected c(scene);
  c.connection.SwAddin_ConnectToSW(c.h.host.GetApplication("SldWorks.Application"), 1);
  c.connection.SwAddin_DisconnectFromSW();
  EXPECT_THAT(c.h.host.Menu(),
              ElementsAre(SubMenu(1, "Korvanis Tools@Tools"), SubMenu(1, "Other@Korvanis Tools@Tools")));
}

TEST(SWConnection, CallbacksByName) {
  Connected c(sim::Scene{});
  const CallbackResult enable = c.connection.InvokeByName("Return_as_1");
  EXPECT_TRUE(enable.ok);
  EXPECT_EQ(enable.value, 1);
  const CallbackResult unknown = c.connection.InvokeByName("runaddin");
  EXPECT_FALSE(unknown.found);
  EXPECT_FALSE(unknown.ok);
  // No document at all: the run is refused with the host's message, not failed.
  const CallbackResult run = c.connection.InvokeByName("RunAddin");
  EXPECT_TRUE(run.ok);
  EXPECT_THAT(c.h.MessageTexts(), ElementsAre("No active part in SolidWorks.  Program terminating."));
}

// A failed connect or disconnect releases the host all the same, also when
// the disconnect follows a refused run chosen through the menu.
TEST(SWConnection, FailingMenuCallsFailConnectAndDisconnect) {
  for (const std::string call : {"RegisterCallbackTarget", "LocalizedMenuName", "AddMenuCommand",
                                 "RemoveMenuEntry", "MainFrame", "MenuItemCount"}) {
    SCOPED_TRACE(call);
    const bool onConnect =
        call == "RegisterCallbackTarget" || call == "LocalizedMenuName" || call == "AddMenuCommand";
    sim::Scene scene = PartScene();
    scene.failures.push_back({call, std::nullopt});
    Connected c(scene);
    const auto connect = [&] {
      return c.connection.SwAddin_ConnectToSW(c.h.host.GetApplication("SldWorks.Application"), 1);
    };
    if (onConnect) {
      EXPECT_THROW(connect(), HostError);
    } else {
      connect();
      EXPECT_THROW(c.connection.SwAddin_DisconnectFromSW(), HostError);
    }
    EXPECT_EQ(c.connection.connSwApp, nullptr);
    EXPECT_EQ(c.h.host.HeldReferences(), 0);
    if (onConnect) continue;

    scene.active.reset();  // the run is refused, then the disconnect fails
    sim::ScriptSource none({});
    const sim::SessionResult result = sim::RunSession(scene, none);
    ASSERT_TRUE(result.failure.has_value());
    EXPECT_NE(result.failure->find(call), std::string::npos) << *result.failure;
    EXPECT_EQ(result.messages.size(), 1U);
    EXPECT_EQ(result.heldReferences, 0);
  }
}

// Chosen through the menu, a run ends exactly as when it is called directly.
TEST(SWConnection, RunsThroughTheMenuMatchRunsCalledDirectly) {
  sim::Scene noDocument = PartScene();
  noDocument.active.reset();
  sim::Scene drawing = PartScene();
  drawing.documents[0].type = 3;
  const struct {
    const char* name;
    sim::Scene scene;
    std::vector<std::string> script;
  } cases[] = {
      {"no document", noDocument, {}},
      {"drawing", drawing, {}},
      {"part", PartScene(), {"pick cboComMats steel", "click btnOK"}},
      {"assembly", PumpScene({kBolt}), {"click cmdOK", "pick cboComMats brass", "click btnOK"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Harness direct(c.scene, c.script);
    ASSERT_EQ(direct.Run(), std::nullopt);
    std::vector<sim::Action> actions;
    for (const std::string& line : c.script) actions.push_back(*sim::ParseAction(line, 1));
    sim::ScriptSource script(actions);
    const sim::SessionResult viaMenu = sim::RunSession(c.scene, script);
    EXPECT_EQ(viaMenu.failure, std::nullopt);
    EXPECT_EQ(viaMenu.heldReferences, 0);
    EXPECT_EQ(viaMenu.formsLoadedAfterRun, 0);
    ASSERT_EQ(viaMenu.messages.size(), direct.host.messages().size());
    for (size_t i = 0; i < viaMenu.messages.size(); ++i) {
      EXPECT_EQ(viaMenu.messages[i].text, direct.host.messages()[i].text);
    }
    for (const sim::DocumentState& d : viaMenu.documents)
      EXPECT_EQ(d.density, direct.Density(d.path)) << d.path;
    EXPECT_EQ(viaMenu.active, direct.Active());
    EXPECT_TRUE(viaMenu.menuAfterDisconnect.empty());
  }
}

}  // namespace
}  // namespace ponderix::test
