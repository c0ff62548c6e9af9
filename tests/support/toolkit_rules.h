// The event rules both dialog toolkits keep, as one table played on the
// headless toolkit (tests/sim) and on the Win32 one under Wine (tests/win32).
// A row loads one of the real dialogs' layouts, filled as its dialog fills
// it, plays script lines on it and expects the log of what reached the form's
// handlers, with the answers to its questions in between.
//
// Script lines, separated by "|":
//  - first, what code does before the show: "set C N" (a drop-down's index),
//    "refuse N" (the text box's next N Exits refuse), "fail C" (C's Click throws),
//    "widen ROW" (the row 300 characters longer, every row unticked),
//    "reveal C" (a hidden control shown and enabled), "code-tick ROW";
//  - then the user's actions as the simulator's script has them (click,
//    tick ROW, untick ROW, pick C INDEX, focus, type, key, close), and
//    questions: "? focus", "? text C", "? index C", "? ticks", "? checked C",
//    "? visible C". Those after the action that ends the show are asked
//    through the toolkit's contract instead of the shown form.
#pragma once

#include <algorithm>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "addin/toolkit.h"
#include "density/density_model.h"
#include "density/frm_ponderix.h"
#include "partselect/frm_part_select.h"
#include "run/ponderix1.h"

namespace ponderix::test {

struct ToolkitRule {
  const char* rule;
  bool parts;  // the part list, else the density dialog
  const char* script;
  const char* log;
};

inline const ToolkitRule kToolkitRules[] = {
    {"a text box's Exit runs before the click that takes the focus", false,
     "? focus|type 7.85|? text txtDensVal|click btnOK|? text txtDensVal",
     "focus txtDensVal|text txtDensVal 7.85|Exit txtDensVal btnOK|Click btnOK|text txtDensVal 7.85"},
    {"a refused Exit keeps the focus and drops the click, the pick and the focus", false,
     "refuse 3|click btnOK|? focus|pick cboDensUnits 4|? index cboDensUnits|focus btnCancel|? focus|click "
     "btnOK",
     "Exit txtDensVal btnOK|focus txtDensVal|Exit txtDensVal cboDensUnits|index cboDensUnits 1|"
     "Exit txtDensVal btnCancel|focus txtDensVal|Exit txtDensVal btnOK|Click btnOK"},
    {"a refused Exit drops the click on a check box and the tick", true,
     "reveal txtU|refuse 2|focus txtU|click chkNameStyle|tick 1|? focus|? checked chkNameStyle|? ticks|close",
     "Exit txtU chkNameStyle|Exit txtU lboParts|focus txtU|checked chkNameStyle 0|ticks 1000"},
    {"a drop-down changes only on a real change, from code or by the user", false,
     "set cboComMats 2|set cboComMats 2|pick cboComMats 2|focus txtDensVal|pick cboComMats 3|? index "
     "cboComMats|"
     "close|? index cboComMats",
     "Change cboComMats|Exit txtDensVal cboComMats|Exit txtDensVal cboComMats|Change cboComMats|"
     "index cboComMats 3|index cboComMats 3"},
    {"KeyDown comes before Tab moves on; Enter and Esc click nothing", false,
     "key Tab|? focus|key Enter|key Esc|key Tab|key Tab|? focus|key Enter|key Esc|? focus|close",
     "KeyDown txtDensVal 9|Exit txtDensVal btnOK|focus btnOK|focus txtDensVal|KeyDown txtDensVal 13|"
     "KeyDown txtDensVal 27|focus txtDensVal"},
    {"Tab follows the tab order over the shown stops and wraps", true,
     "? focus|key Tab|? focus|key Tab|? focus|key Tab|? focus|key Tab|? focus|key Tab|? focus|key Tab|? "
     "focus|close",
     "focus lboParts|focus cmdSelectAll|focus cmdDeselectAll|focus cmdOK|focus cmdCancel|focus chkNameStyle|"
     "focus lboParts"},
    {"labels take no focus and only a clickable one clicks", false,
     "click lblDensVal|click lblWebLink|? focus|close", "Click lblWebLink|focus txtDensVal"},
    {"the close box ends the show without a handler", false, "type 5|close|? text txtDensVal",
     "text txtDensVal 5"},
    {"ticks and the check box change only on a real change; code's ticks raise nothing", true,
     "code-tick 3|? ticks|tick 2|tick 2|untick 0|click chkNameStyle|? checked chkNameStyle|? visible txtU|? "
     "visible "
     "cmdBreak|"
     "? text lblJan|click cmdOK|? ticks|? checked chkNameStyle",
     "ticks 1001|Change lboParts|Change lboParts|Change chkNameStyle|checked chkNameStyle 1|visible txtU 0|"
     "visible cmdBreak 0|text lblJan Coming January 2004:|Click cmdOK|ticks 0011|checked chkNameStyle 1"},
    {"a handler's exception comes out of the show", false, "fail btnCancel|click btnCancel",
     "Exit txtDensVal btnCancel|Click btnCancel|failed: handler of btnCancel failed"},
};

inline std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  while (!text.empty()) {
    const size_t end = std::min(text.find('|'), text.size());
    lines.emplace_back(text.substr(0, end));
    text.remove_prefix(std::min(end + 1, text.size()));
  }
  return lines;
}

inline std::string JoinLines(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& line : lines) text += (text.empty() ? "" : "|") + line;
  return text;
}

// Logs every event; hides the form on its OK, and refuses or fails as told.
class EventLog final : public FormEvents {
 public:
  void Click(std::string_view control) override {
    log.push_back("Click " + std::string(control));
    if (control == failOn) throw std::runtime_error("handler of " + failOn + " failed");
    if ((control == "btnOK" || control == "cmdOK") && form) form->Hide();
  }
  void Change(std::string_view control) override { log.push_back("Change " + std::string(control)); }
  void Exit(std::string_view control, std::string_view next, bool& cancel) override {
    log.push_back("Exit " + std::string(control) + " " + std::string(next));
    if (refuse > 0) {
      --refuse;
      cancel = true;
    }
  }
  void KeyDown(std::string_view control, int keyCode, int /*shift*/) override {
    log.push_back("KeyDown " + std::string(control) + " " + std::to_string(keyCode));
  }

  std::vector<std::string> log;
  std::string failOn;
  int refuse = 0;
  Form* form = nullptr;
};

// Answers a question, "? what [control]", with the value as text: from the
// shown form, or through the contract after the show.
using Ask = std::function<std::string(const std::string& what, const std::string& control)>;

inline std::string Answer(const std::string& line, const Ask& ask) {
  const std::string what = line.substr(2, line.find(' ', 2) - 2);
  const std::string control = line.size() > what.size() + 3 ? line.substr(what.size() + 3) : "";
  return line.substr(2) + " " + ask(what, control);
}

inline std::string TicksText(const std::vector<bool>& ticks) {
  std::string text;
  for (const bool tick : ticks) text += tick ? '1' : '0';
  return text;
}

inline std::string AskContract(Form& form, const std::string& what, const std::string& control) {
  if (what == "text") return form.TextBox(control).Text();
  if (what == "index") return std::to_string(form.DropDown(control).ListIndex());
  if (what == "checked") return form.CheckBox(control).Value() ? "1" : "0";
  if (what != "ticks") throw std::logic_error("the form is not shown: ? " + what);
  std::vector<bool> ticks;
  for (int row = 0; row < form.CheckList("lboParts").RowCount(); ++row)
    ticks.push_back(form.CheckList("lboParts").Ticked(row));
  return TicksText(ticks);
}

inline std::string RuleTitle(bool parts) { return parts ? "pump.sldasm" : "Ponderix by Korvanis"; }

// Runs the modal show of `form` with the script's lines from `first` on;
// gives the index of the first line left once the show has ended.
using ShowRule = std::function<size_t(const ToolkitRule& rule, Form& form, const FormLayout& layout,
                                      EventLog& events, const std::vector<std::string>& lines, size_t first)>;

// Plays `rule` on `toolkit`; gives the log to compare with rule.log.
inline std::string Play(const ToolkitRule& rule, Toolkit& toolkit, const ShowRule& show) {
  FormLayout layout =
      rule.parts ? frmPartSelect::Layout(kMakerWebAddress) : frmPonderix::Layout(kMakerWebAddress);
  const std::vector<std::string> lines = SplitLines(rule.script);
  for (const std::string& line : lines) {
    for (ControlLayout& c : layout.controls) {
      if (line == "reveal " + c.name) c.visible = c.enabled = true;
    }
  }
  EventLog events;
  const std::unique_ptr<Form> form = toolkit.LoadForm(layout, events);
  events.form = form.get();
  form->SetTitle(RuleTitle(rule.parts));
  if (rule.parts) {
    auto& list = form->CheckList("lboParts");
    list.SetFocus();
    list.SetRows({"bolt.sldprt", "housing.sldprt", "rotor.sldprt", "washer.sldprt"});
    list.SetTicked(0, true);
  } else {
    int i = 0;
    for (const auto& mat : kComMats) form->DropDown("cboComMats").AddItem(std::string(mat.name), i++);
    i = 0;
    for (const auto name : kDensUnitNames) form->DropDown("cboDensUnits").AddItem(std::string(name), i++);
    form->DropDown("cboComMats").SetListIndex(0);
    form->DropDown("cboDensUnits").SetListIndex(1);
    form->TextBox("txtDensVal").SetText("7.871");
  }
  events.log.clear();
  size_t at = 0;
  for (; at < lines.size(); ++at) {
    const std::string& line = lines[at];
    const std::string argument = line.substr(line.find(' ') + 1);
    if (line.starts_with("set ")) {
      form->DropDown(argument.substr(0, argument.find(' ')))
          .SetListIndex(std::stoi(argument.substr(argument.find(' ') + 1)));
    } else if (line.starts_with("refuse ")) {
      events.refuse = std::stoi(argument);
    } else if (line.starts_with("fail ")) {
      events.failOn = argument;
    } else if (line.starts_with("code-tick ")) {
      form->CheckList("lboParts").SetTicked(std::stoi(argument), true);
    } else if (line.starts_with("reveal ")) {
      // Done to the layout before loading.
    } else if (line.starts_with("widen ")) {
      std::vector<std::string> rows = form->CheckList("lboParts").Rows();
      rows.at(std::stoul(argument)).insert(0, "C:\\" + std::string(300, 'x') + "\\");
      form->CheckList("lboParts").SetRows(rows);
    } else {
      break;
    }
  }
  try {
    at = show(rule, *form, layout, events, lines, at);
  } catch (const std::runtime_error& e) {
    events.log.push_back(std::string("failed: ") + e.what());
    return JoinLines(events.log);
  }
  for (; at < lines.size(); ++at) {
    events.log.push_back(Answer(lines[at], [&](const std::string& what, const std::string& control) {
      return AskContract(*form, what, control);
    }));
  }
  return JoinLines(events.log);
}

}  // namespace ponderix::test
