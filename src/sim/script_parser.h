// The action script: the lines a user or a test writes to drive the headless
// toolkit's forms, parsed into actions, and the text helpers that quote a
// user's input back in error messages.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace ponderix::sim {

// A user action: `click CONTROL`, `tick ROW`, `untick ROW`, `pick CONTROL
// ITEM`, `focus CONTROL`, `type TEXT`, `key Tab|Enter|Esc`, `close`, `snapshot`.
struct Action {
  enum class Kind { kClick, kTick, kUntick, kPick, kFocus, kType, kKey, kClose, kSnapshot };
  Kind kind = Kind::kClick;
  std::string control;   // click, pick, focus
  std::string argument;  // the row, item, text or key
  int line = 0;          // where it came from (0: not from a file)
};

// A bad action or script; `line` 0 when it has none.
class ScriptError : public std::runtime_error {
 public:
  ScriptError(int line, const std::string& message)
      : std::runtime_error(line > 0 ? "line " + std::to_string(line) + ": " + message : message),
        line_(line),
        message_(message) {}
  int line() const { return line_; }
  const std::string& message() const { return message_; }
  // "NAME:LINE: message", or "NAME: message" without a line.
  std::string Where(const std::string& name) const {
    std::string where = name;
    if (line_ > 0) where += ':' + std::to_string(line_);
    return where + ": " + message_;
  }

 private:
  int line_;
  std::string message_;
};

// Parses one script line; empty for a blank line or a comment. Throws ScriptError.
std::optional<Action> ParseAction(const std::string& line, int lineNumber);
// Parses every line of a script (a UTF-8 byte-order mark first is skipped).
// Throws ScriptError for the first bad line.
std::vector<Action> ParseScript(const std::string& text);

// Text for a terminal: control characters and bytes that are not UTF-8
// written as \xNN, so that none reaches the terminal raw.
std::string Printable(std::string_view text);
// The same, appended to `out`.
void AppendPrintable(std::string& out, std::string_view text);
// What a user gave, as an error message quotes it: printable, in double
// quotes, cut after 80 characters.
std::string QuoteInput(std::string_view text);
// The candidate closest to `wanted` (the same but for case, a letter or two
// apart, or containing it), or null.
const std::string* Nearest(std::string_view wanted, const std::vector<std::string>& candidates);
// "; did you mean X?" with that candidate quoted, or nothing.
std::string NearMiss(std::string_view wanted, const std::vector<std::string>& candidates);

}  // namespace ponderix::sim
