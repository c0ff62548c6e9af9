#include <sstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "sim/session.h"
#include "sim/terminal.h"

namespace ponderix::sim {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

// An assembly of `parts` parts p00.sldprt..., the first one selected; no
// active document when `parts` is 0.
Scene Assembly(int parts) {
  Scene scene;
  if (parts == 0) return scene;
  SimDocument top;
  top.path = "C:\\top.sldasm";
  top.type = kDocTypeAssembly;
  top.dependencies.emplace();
  for (int i = 0; i < parts; ++i) {
    const std::string name = (i < 10 ? "p0" : "p") + std::to_string(i) + ".sldprt";
    top.dependencies->insert(top.dependencies->end(), {name, "C:\\" + name});
    scene.documents.emplace_back().path = "C:\\" + name;
  }
  scene.documents.insert(scene.documents.begin(), top);
  scene.active = top.path;
  scene.selection = {"C:\\p00.sldprt"};
  return scene;
}

struct TerminalCase {
  const char* label;
  int parts;
  std::string input;
  std::vector<std::string> shown;
  std::vector<std::string> notShown;
  bool quit;
};

TEST(TerminalSource, WhatAPersonSees) {
  const TerminalCase cases[] = {
      {"help",
       3,
       "help\nclick OK\nclick Cancel\n",
       {"tick washer.sldprt", "pick cboComMats steel", "not Cancel", "quit", "== top.sldasm (frmPartSelect)"},
       {},
       false},
      {"errors speak of the action",
       3,
       "click cmdOk\nclick cmdCancel\n",
       {"\"click cmdOk\": frmPartSelect has no control named \"cmdOk\"; did you mean \"cmdOK\"?\n"},
       {"line"},
       false},
      {"control characters",
       3,
       "focus lboParts\ntype \x1b[2J\nquit\n",
       {"\"type \\x1B[2J\": type needs"},
       {"\x1b"},
       true},
      {"boxes and pages as they happen",
       3,
       "click lblWebLink\nclick OK\nclick OK\n",
       {"** web page opened: https://", "** message box: \"Part density set to"},
       {},
       false},
      {"host message",
       0,
       "",
       {"** host message: \"No active part in SolidWorks.  Program terminating.\""},
       {},
       false},
      {"a long list around the last change, whole on show",
       40,
       "tick 35\nshow\nquit\n",
       {"    ... 30 rows above (show lists every row)\n    30 [ ] p30", "35 [x] p35", "\n    0 [x] p00"},
       {},
       true},
      {"an action that changes nothing says why",
       3,
       "tick 0\nuntick p01.sldprt\nkey Enter\nclick OK\npick cboComMats steel\npick cboComMats steel\n"
       "focus txtDensVal\nfocus txtDensVal\nquit\n",
       {"\"tick 0\": nothing changed: row 0 \"p00.sldprt\" is ticked already\n",
        "\"untick p01.sldprt\": nothing changed: row 1 \"p01.sldprt\" is not ticked\n",
        "\"key Enter\": nothing changed: only a text box takes Enter, and the focus is on ",
        "\"pick cboComMats steel\": nothing changed: cboComMats shows \"steel\" already\n",
        "\"focus txtDensVal\": nothing changed: the focus is on txtDensVal already\n"},
       {},
       true},
      {"end of input", 3, "", {}, {}, true},
  };
  for (const TerminalCase& c : cases) {
    SCOPED_TRACE(c.label);
    std::istringstream in(c.input);
    std::ostringstream out;
    TerminalSource terminal(in, out, 10);
    try {
      RunSession(Assembly(c.parts), terminal,
                 [&out](const Event& e, std::string_view subject) { PrintEvent(out, e, subject); });
      EXPECT_FALSE(c.quit);
    } catch (const ScriptError&) {
      EXPECT_TRUE(c.quit);
    }
    EXPECT_EQ(terminal.quit(), c.quit);
    for (const std::string& s : c.shown) EXPECT_THAT(out.str(), HasSubstr(s));
    for (const std::string& s : c.notShown) EXPECT_THAT(out.str(), Not(HasSubstr(s)));
  }
}

}  // namespace
}  // namespace ponderix::sim
