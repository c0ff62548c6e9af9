#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sim/headless_toolkit.h"

namespace ponderix::sim {
namespace {

using K = Action::Kind;

struct GoodLine {
  std::string line;
  K kind;
  std::string control;
  std::string argument;
};

TEST(ParseAction, GoodLines) {
  const GoodLine cases[] = {
      {"click btnOK", K::kClick, "btnOK", ""},
      {"  click   btnOK  ", K::kClick, "btnOK", ""},
      {"click btnOK\r", K::kClick, "btnOK", ""},
      {"click btnOK # done", K::kClick, "btnOK", ""},
      // "#" starts a comment only after a blank.
      {"click btn#1", K::kClick, "btn#1", ""},
      {"focus txtDensVal", K::kFocus, "txtDensVal", ""},
      // A row is the whole rest, so file names with blanks work.
      {"tick my bolt.sldprt", K::kTick, "", "my bolt.sldprt"},
      {"untick 0", K::kUntick, "", "0"},
      {"pick cboComMats steel", K::kPick, "cboComMats", "steel"},
      {"pick cboComMats  stainless steel ", K::kPick, "cboComMats", "stainless steel"},
      {"pick cboDensUnits 2 # lb/in^3", K::kPick, "cboDensUnits", "2"},
      // type keeps everything after "type ", blanks and "#" included.
      {"type 7,85", K::kType, "", "7,85"},
      {"type  7.85 # not a comment ", K::kType, "", " 7.85 # not a comment "},
      {"\ttype x\r", K::kType, "", "x"},
      {"type", K::kType, "", ""},
      {"key Tab", K::kKey, "", "Tab"},
      {"key Enter", K::kKey, "", "Enter"},
      {"key  Esc ", K::kKey, "", "Esc"},
      {"close", K::kClose, "", ""},
      {"snapshot # before OK", K::kSnapshot, "", ""},
  };
  for (const GoodLine& c : cases) {
    SCOPED_TRACE(c.line);
    const std::optional<Action> a = ParseAction(c.line, 7);
    ASSERT_TRUE(a.has_value());
    EXPECT_EQ(a->kind, c.kind);
    EXPECT_EQ(a->control, c.control);
    EXPECT_EQ(a->argument, c.argument);
    EXPECT_EQ(a->line, 7);
  }
}

TEST(ParseAction, BlankAndCommentLinesGiveNothing) {
  for (const char* line : {"", "   ", "\r", "\t \r", "# a comment", "   # indented", "#click btnOK"}) {
    EXPECT_FALSE(ParseAction(line, 1).has_value()) << '"' << line << '"';
  }
}

TEST(ParseAction, BadLines) {
  const std::pair<std::string, std::string> cases[] = {
      {"clack btnOK", "unknown action \"clack\""},
      {"Click btnOK", "unknown action \"Click\""},
      {"click", "expected click CONTROL"},
      {"click btnOK btnCancel", "expected click CONTROL"},
      {"click # nothing", "expected click CONTROL"},
      {"focus", "expected focus CONTROL"},
      {"tick", "expected tick ROW"},
      {"untick #3", "expected untick ROW"},
      {"pick cboComMats", "expected pick CONTROL INDEX-or-TEXT"},
      {"key", "expected key Tab, key Enter or key Esc"},
      {"key tab", "expected key Tab, key Enter or key Esc"},
      {"key Tab Tab", "expected key Tab, key Enter or key Esc"},
      {"close now", "expected close with nothing after it"},
      {"snapshot all", "expected snapshot with nothing after it"},
  };
  for (const auto& [line, message] : cases) {
    SCOPED_TRACE(line);
    try {
      ParseAction(line, 12);
      ADD_FAILURE() << "accepted";
    } catch (const ScriptError& e) {
      EXPECT_EQ(e.line(), 12);
      EXPECT_EQ(e.message().substr(0, message.size()), message);
      EXPECT_EQ(e.Where("a.script"), "a.script:12: " + e.message());
    }
  }
}

TEST(ScriptSource, CountsEveryLineIncludingCommentsAndCrlf) {
  ScriptSource script = ScriptSource::FromText("# header\r\n\r\nsnapshot\r\n  # note\nclick cmdOK\n");
  const FormSnapshot shown;
  const std::optional<Action> first = script.Next(shown);
  const std::optional<Action> second = script.Next(shown);
  ASSERT_TRUE(first && second);
  EXPECT_EQ(first->kind, K::kSnapshot);
  EXPECT_EQ(first->line, 3);
  EXPECT_EQ(second->control, "cmdOK");
  EXPECT_EQ(second->line, 5);
  EXPECT_FALSE(script.Next(shown).has_value());
}

TEST(ScriptSource, ABadLineFailsBeforeAnythingRuns) {
  try {
    ScriptSource::FromText("snapshot\n\nclick cmdOK\npush cmdOK\nclick\n");
    ADD_FAILURE() << "accepted";
  } catch (const ScriptError& e) {
    EXPECT_EQ(e.line(), 4);
    EXPECT_EQ(e.Where("s.txt").substr(0, 9), "s.txt:4: ");
  }
}

}  // namespace
}  // namespace ponderix::sim
