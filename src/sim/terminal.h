// A person at a terminal as the source of the actions: each shown form is
// printed before the prompt, what the host and the dialogs say is printed as
// it happens, and a bad action is explained and asked for again.
#pragma once

#include <cstddef>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>

#include "sim/headless_toolkit.h"

namespace ponderix::sim {

// Where a person's lines come from: a stream (a pipe, a test), or a line
// editor with history where the system has one.
class LineReader {
 public:
  virtual ~LineReader() = default;
  // Shows `prompt` and reads one line, without its end; false once the input ended.
  virtual bool Read(const std::string& prompt, std::string& line) = 0;
};

class StreamLines : public LineReader {
 public:
  StreamLines(std::istream& in, std::ostream& out) : in_(in), out_(out) {}
  bool Read(const std::string& prompt, std::string& line) override;

 private:
  std::istream& in_;
  std::ostream& out_;
};

class TerminalSource : public ActionSource {
 public:
  // Reads lines from `in`; writes forms, prompts and feedback to `out`. A list
  // longer than `listWindow` rows is shown in part.
  TerminalSource(std::istream& in, std::ostream& out, size_t listWindow);
  // Reads lines from `lines`, which outlives the source.
  TerminalSource(LineReader& lines, std::ostream& out, size_t listWindow);

  std::optional<Action> Next(const FormSnapshot& shown) override;
  void Rejected(const ScriptError& error) override;
  void Unchanged(const std::string& why) override;
  // True once the person typed quit or ended the input.
  bool quit() const { return quit_; }

 private:
  std::unique_ptr<LineReader> ownLines_;
  LineReader& lines_;
  std::ostream& out_;
  size_t listWindow_;
  std::string lastLine_;
  std::string lastForm_;
  std::optional<Action> lastAction_;
  bool quit_ = false;
};

// Plays the actions of another source and prints each form (when it changed)
// and each action as it plays: a script shown as a person would see it.
class TraceSource : public ActionSource {
 public:
  TraceSource(ActionSource& actions, std::ostream& out, size_t listWindow);
  std::optional<Action> Next(const FormSnapshot& shown) override;
  void Rejected(const ScriptError& error) override { actions_.Rejected(error); }

 private:
  ActionSource& actions_;
  std::ostream& out_;
  size_t listWindow_;
  std::string lastForm_;
  std::optional<Action> lastAction_;
};

// A message box, a host message or a web page opened, as a person at a
// terminal is told of it; nothing for other events. `subject` as the host's
// observer sees it.
void PrintEvent(std::ostream& out, const Event& event, std::string_view subject);
// An action as a script line.
std::string ActionText(const Action& action);

}  // namespace ponderix::sim
