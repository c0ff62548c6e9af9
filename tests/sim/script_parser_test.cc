#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sim/headless_toolkit.h"

namespace ponderix::sim {
namespace {

using K = Action::Kind;

// Blanks, "\r" and comments after a blank are dropped; "#" inside a word is
// kept; a row is the whole rest of the line; type keeps everything after
// "type ", blanks and "#" included.
TEST(ParseAction, GoodLines) {
  const struct {
    std::string line;
    K kind;
    std::string control, argument;
  } cases[] = {{"  click   btnOK  ", K::kClick, "btnOK", ""},
               {"click btnOK\r", K::kClick, "btnOK", ""},
               {"click btnOK # done", K::kClick, "btnOK", ""},
               {"click btn#1", K::kClick, "btn#1", ""},
               {"focus txtDensVal", K::kFocus, "txtDensVal", ""},
               {"tick my bolt.sldprt", K::kTick, "", "my bolt.sldprt"},
               {"untick 0", K::kUntick, "", "0"},
               {"pick cboComMats  stainless steel ", K::kPick, "cboComMats", "stainless steel"},
               {"pick cboDensUnits 2 # lb/in^3", K::kPick, "cboDensUnits", "2"},
               {"type  7.85 # not a comment ", K::kType, "", " 7.85 # not a comment "},
               {"\ttype x\r", K::kType, "", "x"},
               {"type", K::kType, "", ""},
               {"key Enter", K::kKey, "", "Enter"},
               {"key  Esc ", K::kKey, "", "Esc"},
               {"key tab", K::kKey, "", "Tab"},
               {"key ENTER", K::kKey, "", "Enter"},
               {"close", K::kClose, "", ""},
               {"snapshot # before OK", K::kSnapshot, "", ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    const std::optional<Action> a = ParseAction(c.line, 7);
    ASSERT_TRUE(a.has_value());
    EXPECT_EQ(a->kind, c.kind);
    EXPECT_EQ(a->control, c.control);
    EXPECT_EQ(a->argument, c.argument);
    EXPECT_EQ(a->line, 7);
  }
  for (const char* line : {"", "\t \r", "# a comment", "   # indented", "#click btnOK"}) {
    EXPECT_FALSE(ParseAction(line, 1).has_value()) << '"' << line << '"';
  }
}

TEST(ParseAction, BadLines) {
  const std::pair<std::string, std::string> cases[] = {
      {"Click btnOK", "unknown action \"Click\"; did you mean \"click\"?"},
      {"clik btnOK", "unknown action \"clik\"; did you mean \"click\"?"},
      {"push btnOK",
       "unknown action \"push\" (click, tick, untick, pick, focus, type, key, close, snapshot)"},
      {"click", "expected click CONTROL"},
      {"click btnOK btnCancel", "expected click CONTROL"},
      {"click # nothing", "expected click CONTROL"},
      {"focus", "expected focus CONTROL"},
      {"tick", "expected tick ROW"},
      {"untick #3", "expected untick ROW"},
      {"pick cboComMats", "expected pick CONTROL INDEX-or-TEXT"},
      {"key", "expected key Tab, key Enter or key Esc"},
      {"key Tabs", "expected key Tab, key Enter or key Esc"},
      {"key Tab Tab", "expected key Tab, key Enter or key Esc"},
      {"close now", "expected close with nothing after it"},
      {"snapshot all", "expected snapshot with nothing after it"}};
  for (const auto& [line, message] : cases) {
    SCOPED_TRACE(line);
    try {
      ParseAction(line, 12);
      ADD_FAILURE() << "accepted";
    } catch (const ScriptError& e) {
      EXPECT_EQ(e.line(), 12);
      EXPECT_EQ(e.message(), message);
      EXPECT_EQ(e.Where("a.script"), "a.script:12: " + e.message());
    }
  }
}

// Every line counts, comments and "\r\n" included, after a byte-order mark;
// a bad line fails before anything runs.
TEST(ScriptSource, LineNumbers) {
  ScriptSource script =
      ScriptSource::FromText("\xEF\xBB\xBF# header\r\n\r\nsnapshot\r\n  # note\nclick cmdOK\n");
  const FormSnapshot shown;
  const std::optional<Action> first = script.Next(shown);
  const std::optional<Action> second = script.Next(shown);
  ASSERT_TRUE(first && second);
  EXPECT_EQ(first->kind, K::kSnapshot);
  EXPECT_EQ(first->line, 3);
  EXPECT_EQ(second->control, "cmdOK");
  EXPECT_EQ(second->line, 5);
  EXPECT_FALSE(script.Next(shown).has_value());
  try {
    ScriptSource::FromText("snapshot\n\nclick cmdOK\npush cmdOK\nclick\n");
    ADD_FAILURE() << "accepted";
  } catch (const ScriptError& e) {
    EXPECT_EQ(e.line(), 4);
  }
}

}  // namespace
}  // namespace ponderix::sim
