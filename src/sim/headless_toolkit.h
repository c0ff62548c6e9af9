// The headless toolkit: forms without windows. A modal show runs a loop that
// takes user actions (from a script, a test, or a person at a terminal) and
// turns them into the events a user would cause, with the focus rules of the
// toolkit contract, until the form is hidden or closed.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "addin/toolkit.h"
#include "sim/script_parser.h"
#include "sim/sim_host.h"

namespace ponderix::sim {

struct ControlSnapshot {
  std::string name;
  ControlKind kind = ControlKind::kLabel;
  bool visible = true;
  bool enabled = true;
  std::string text;                // text box
  std::string caption;             // label, button, check box
  int index = -1;                  // drop-down
  std::vector<std::string> items;  // drop-down
  bool checked = false;            // check box
  std::vector<std::string> rows;   // check list
  std::vector<bool> ticks;         // check list
  std::string backColor;           // "#RRGGBB"
};

struct FormSnapshot {
  std::string form;
  std::string title;
  std::string focus;
  std::vector<ControlSnapshot> controls;
};

// The form as a person at a terminal reads it. A list of more than
// `listWindow` rows (0: no limit) shows that many around row `around`, and
// counts the rest.
std::string DescribeForm(const FormSnapshot& form, size_t listWindow = 0, size_t around = 0);
std::string ColourText(Colour colour);

// What the actions understand of a user's words, shared by every engine that
// plays them: a row or item number (digits only), a control kind's name, and
// the one action that suits a control of a kind.
std::optional<int> ParseIndex(std::string_view s);
const char* KindName(ControlKind kind);
std::string ActionFor(ControlKind kind, const std::string& name);

class HeadlessForm;

// Where the actions come from. `Next` gives the next action for the shown
// form, or nothing when there are no more. `shown` is the form itself, valid
// during the call: a source copies what it keeps.
class ActionSource {
 public:
  virtual ~ActionSource() = default;
  virtual std::optional<Action> Next(const FormSnapshot& shown) = 0;
  // Tells the source that an action could not be carried out; a script stops
  // (rethrows), a person at a terminal is told and asked again.
  virtual void Rejected(const ScriptError& error) { throw error; }
  // Tells the source that an action was carried out but changed nothing, and
  // why; a script goes on, a person at a terminal is told.
  virtual void Unchanged(const std::string& why) { static_cast<void>(why); }
  // Whether Next looks at the rows and ticks of the form's lists. A script
  // does not (it only names rows), so an engine that reads a shown form
  // through its windows may leave tens of thousands of rows unread until an
  // action needs them.
  virtual bool ReadsLists() const { return true; }
};

// Actions from a list (tests) or from the lines of a script file.
class ScriptSource : public ActionSource {
 public:
  explicit ScriptSource(std::vector<Action> actions) : actions_(std::move(actions)) {}
  // Parses the whole text at once, so that a bad line is found before the run.
  static ScriptSource FromText(const std::string& text);
  std::optional<Action> Next(const FormSnapshot& shown) override;
  bool ReadsLists() const override { return false; }

 private:
  std::vector<Action> actions_;
  size_t next_ = 0;
};

class HeadlessToolkit : public Toolkit {
 public:
  HeadlessToolkit(SimHost& host, ActionSource& actions, std::string decimalSeparator = ".");

  std::unique_ptr<Form> LoadForm(const FormLayout& layout, FormEvents& events) override;
  ShowEnd ShowMessageBox(const std::string& text) override {
    host_.RecordBox(text);
    return ShowEnd::kHidden;
  }
  // A virtual clock that pending events move on by 10 ms: waits are exact and instant.
  double Seconds() override { return clock_; }
  void ProcessPendingEvents() override { clock_ += 0.01; }
  std::string DecimalSeparator() override { return decimalSeparator_; }

  // Forms loaded now, by layout name.
  int LoadedForms() const { return loaded_; }
  const std::vector<FormSnapshot>& snapshots() const { return snapshots_; }
  // The first action that could not be carried out, kept because the run
  // that met it reports it to the host only as a failure text.
  const std::optional<ScriptError>& scriptError() const { return scriptError_; }

 private:
  friend class HeadlessForm;
  SimHost& host_;
  ActionSource& actions_;
  std::string decimalSeparator_;
  double clock_ = 0;
  int loaded_ = 0;
  std::vector<FormSnapshot> snapshots_;
  std::optional<ScriptError> scriptError_;
};

}  // namespace ponderix::sim
