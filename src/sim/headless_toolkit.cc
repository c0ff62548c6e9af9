#include "sim/headless_toolkit.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <sstream>
#include <string_view>
#include <unordered_map>

namespace ponderix::sim {

std::optional<int> ParseIndex(std::string_view s) {
  int value = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (ec != std::errc() || end != s.data() + s.size() || value < 0) return std::nullopt;
  return value;
}

const char* KindName(ControlKind kind) {
  switch (kind) {
    case ControlKind::kLabel:
      return "label";
    case ControlKind::kButton:
      return "button";
    case ControlKind::kCheckBox:
      return "check box";
    case ControlKind::kTextBox:
      return "text box";
    case ControlKind::kDropDown:
      return "drop-down";
    case ControlKind::kCheckList:
      return "list";
  }
  return "control";
}

// The one action that suits a control of this kind.
std::string ActionFor(ControlKind kind, const std::string& name) {
  switch (kind) {
    case ControlKind::kLabel:
    case ControlKind::kButton:
    case ControlKind::kCheckBox:
      return "click " + name;
    case ControlKind::kTextBox:
      return "focus " + name + ", then type TEXT";
    case ControlKind::kDropDown:
      return "pick " + name + " ITEM";
    case ControlKind::kCheckList:
      return "tick ROW";
  }
  return "click " + name;
}

ScriptSource ScriptSource::FromText(const std::string& text) { return ScriptSource(ParseScript(text)); }

std::optional<Action> ScriptSource::Next(const FormSnapshot& /*shown*/) {
  if (next_ == actions_.size()) return std::nullopt;
  return actions_[next_++];
}

std::string ColourText(Colour colour) {
  Colour rgb = colour;
  switch (colour.kind) {
    case Colour::Kind::kRgb:
      break;
    case Colour::Kind::kWindowBackground:
      rgb = Colour::Rgb(255, 255, 255);
      break;
    case Colour::Kind::kButtonFace:
      rgb = Colour::Rgb(240, 240, 240);
      break;
    case Colour::Kind::kWindowText:
    case Colour::Kind::kButtonText:
      rgb = Colour::Rgb(0, 0, 0);
      break;
  }
  char text[8];
  std::snprintf(text, sizeof text, "#%02X%02X%02X", rgb.r, rgb.g, rgb.b);
  return text;
}

std::string DescribeForm(const FormSnapshot& form, size_t listWindow, size_t around) {
  std::ostringstream out;
  out << "== " << Printable(form.title) << " (" << form.form << ")";
  if (!form.focus.empty()) out << ", focus on " << form.focus;
  out << "\n";
  for (const ControlSnapshot& c : form.controls) {
    if (!c.visible) continue;
    out << "  " << c.name << " [" << KindName(c.kind) << (c.enabled ? "" : ", disabled") << "]";
    switch (c.kind) {
      case ControlKind::kLabel:
      case ControlKind::kButton:
        out << " \"" << Printable(c.caption) << "\"";
        break;
      case ControlKind::kCheckBox:
        out << " [" << (c.checked ? "x" : " ") << "] \"" << Printable(c.caption) << "\"";
        break;
      case ControlKind::kTextBox:
        out << " \"" << Printable(c.text) << "\"";
        break;
      case ControlKind::kDropDown:
        out << " \""
            << Printable(c.index >= 0 && c.index < static_cast<int>(c.items.size()) ? c.items[c.index] : "")
            << "\" colour " << c.backColor << "\n    items:";
        for (size_t i = 0; i < c.items.size(); ++i) out << " " << i << " \"" << Printable(c.items[i]) << "\"";
        break;
      case ControlKind::kCheckList: {
        size_t first = 0;
        size_t end = c.rows.size();
        if (listWindow > 0 && c.rows.size() > listWindow) {
          first = std::min(around > listWindow / 2 ? around - listWindow / 2 : 0, c.rows.size() - listWindow);
          end = first + listWindow;
        }
        auto rows = [](size_t n) { return std::to_string(n) + (n == 1 ? " row" : " rows"); };
        if (first > 0) out << "\n    ... " << rows(first) << " above (show lists every row)";
        for (size_t i = first; i < end; ++i) {
          out << "\n    " << i << " [" << (c.ticks[i] ? "x" : " ") << "] " << Printable(c.rows[i]);
        }
        if (end < c.rows.size())
          out << "\n    ... " << rows(c.rows.size() - end) << " below (show lists every row)";
        break;
      }
    }
    out << "\n";
  }
  return out.str();
}

// One control of any kind; the form hands it out through the interface of its kind.
// Its state lives in the form's snapshot, which an action then reads without
// copying: the cost of an action does not grow with the rows of a list.
class HeadlessControl : public CheckListControl,
                        public CheckBoxControl,
                        public DropDownControl,
                        public TextBoxControl,
                        public LabelControl {
 public:
  HeadlessControl(HeadlessForm& form, const ControlLayout& layout, ControlSnapshot& state);

  void SetFocus() override;
  void SetEnabled(bool enabled) override { state_.enabled = enabled; }

  // Check list.
  void Clear() override {
    state_.rows.clear();
    state_.ticks.clear();
    state_.items.clear();
    state_.index = -1;
    rowByText_.clear();
  }
  void SetRows(const std::vector<std::string>& rows) override {
    state_.rows = rows;
    state_.ticks.assign(rows.size(), false);
    rowByText_.clear();
  }
  std::vector<std::string> Rows() override { return state_.rows; }
  int RowCount() override { return static_cast<int>(state_.rows.size()); }
  bool Ticked(int row) override { return state_.ticks.at(RowIndex(row)); }
  void SetTicked(int row, bool ticked) override { state_.ticks.at(RowIndex(row)) = ticked; }
  // The first row with this text, or -1.
  int FindRow(const std::string& text) {
    if (rowByText_.empty() && !state_.rows.empty()) {
      rowByText_.reserve(state_.rows.size());
      for (size_t i = 0; i < state_.rows.size(); ++i) rowByText_.emplace(state_.rows[i], static_cast<int>(i));
    }
    const auto it = rowByText_.find(text);
    return it == rowByText_.end() ? -1 : it->second;
  }

  // Check box.
  bool Value() override { return state_.checked; }
  void SetCaption(const std::string& caption) override { state_.caption = caption; }

  // Drop-down.
  void AddItem(const std::string& text, int index) override {
    if (index < 0 || index > static_cast<int>(state_.items.size()))
      throw std::out_of_range("item index out of range");
    state_.items.insert(state_.items.begin() + index, text);
  }
  int ListIndex() override { return state_.index; }
  void SetListIndex(int index) override;
  void SetBackColour(Colour colour) override { state_.backColor = ColourText(colour); }

  // Text box.
  std::string Text() override { return state_.text; }
  void SetText(const std::string& text) override { state_.text = text; }

  const ControlSnapshot& Snapshot() const { return state_; }

  const ControlLayout& layout() const { return layout_; }
  bool enabled() const { return state_.enabled; }
  const std::string& caption() const { return state_.caption; }
  void Toggle() { state_.checked = !state_.checked; }

 private:
  size_t RowIndex(int row) const {
    if (row < 0 || static_cast<size_t>(row) >= state_.rows.size())
      throw std::out_of_range("no row " + std::to_string(row));
    return static_cast<size_t>(row);
  }

  HeadlessForm& form_;
  ControlLayout layout_;
  ControlSnapshot& state_;
  // Row texts to rows, built when a row is first looked up by its text.
  std::unordered_map<std::string_view, int> rowByText_;
};

class HeadlessForm : public Form {
 public:
  HeadlessForm(HeadlessToolkit& toolkit, const FormLayout& layout, FormEvents& events)
      : toolkit_(toolkit), layout_(layout), events_(events), title_(layout.title) {
    state_.form = layout.name;
    state_.controls.resize(layout.controls.size());
    for (size_t i = 0; i < layout.controls.size(); ++i) {
      const ControlLayout& c = layout.controls[i];
      controls_.emplace(c.name, std::make_unique<HeadlessControl>(*this, c, state_.controls[i]));
    }
    ++toolkit_.loaded_;
  }
  ~HeadlessForm() override { --toolkit_.loaded_; }
  HeadlessForm(const HeadlessForm&) = delete;
  HeadlessForm& operator=(const HeadlessForm&) = delete;

  ShowEnd ShowModal() override;
  void Hide() override { shown_ = false; }
  void SetTitle(const std::string& title) override { title_ = title; }
  CheckListControl& CheckList(std::string_view name) override { return Get(name, ControlKind::kCheckList); }
  CheckBoxControl& CheckBox(std::string_view name) override { return Get(name, ControlKind::kCheckBox); }
  DropDownControl& DropDown(std::string_view name) override { return Get(name, ControlKind::kDropDown); }
  TextBoxControl& TextBox(std::string_view name) override { return Get(name, ControlKind::kTextBox); }
  LabelControl& Label(std::string_view name) override { return Get(name, ControlKind::kLabel); }

  // Moves the focus as a user would: the text box that loses it runs its Exit
  // event first, which may keep it. False when the focus stayed.
  bool MoveFocus(const std::string& target) {
    if (target == focus_) return true;
    if (shown_ && !focus_.empty() && controls_.at(focus_)->layout().kind == ControlKind::kTextBox) {
      bool cancel = false;
      events_.Exit(focus_, target, cancel);
      if (cancel) return false;
    }
    focus_ = target;
    return true;
  }

  // MoveFocus for a user's action, which is told when the text box that has
  // the focus keeps it.
  bool FocusMoved(const std::string& target) {
    if (MoveFocus(target)) return true;
    Unchanged(focus_ + " keeps the focus: its handler did not let it go");
    return false;
  }

  void Unchanged(const std::string& why) { toolkit_.actions_.Unchanged(why); }

  // A selection change of a drop-down, from code or from the user.
  void Changed(const std::string& name) { events_.Change(name); }

  // The form as shown; the controls keep their state in it.
  const FormSnapshot& Snapshot() {
    state_.title = title_;
    state_.focus = focus_;
    return state_;
  }

 private:
  HeadlessControl& Get(std::string_view name, ControlKind kind) {
    const auto it = controls_.find(std::string(name));
    if (it == controls_.end() || it->second->layout().kind != kind) {
      throw std::logic_error(layout_.name + " has no " + KindName(kind) + " named " + std::string(name));
    }
    return *it->second;
  }

  // The name of the control a user means: its name, or else the caption of a
  // shown control, as a person reads the form (OK for btnOK).
  std::string ControlName(const std::string& name) const {
    if (controls_.contains(name)) return name;
    for (const ControlLayout& c : layout_.controls) {
      if (c.kind != ControlKind::kTextBox && c.visible && controls_.at(c.name)->caption() == name)
        return c.name;
    }
    return name;
  }

  // The control a user can reach by name, or a ScriptError.
  HeadlessControl& Reachable(const Action& a, const std::string& name) {
    const auto it = controls_.find(name);
    if (it == controls_.end()) {
      std::vector<std::string> known;
      for (const ControlLayout& c : layout_.controls) {
        if (!c.visible) continue;
        known.push_back(c.name);
        if (c.kind != ControlKind::kTextBox && !controls_.at(c.name)->caption().empty())
          known.push_back(controls_.at(c.name)->caption());
      }
      throw ScriptError(a.line,
                        layout_.name + " has no control named " + QuoteInput(name) + NearMiss(name, known));
    }
    HeadlessControl& c = *it->second;
    if (!c.layout().visible || !c.enabled()) throw ScriptError(a.line, name + " is hidden or disabled");
    return c;
  }

  HeadlessControl& TheCheckList(const Action& a) {
    for (const ControlLayout& c : layout_.controls) {
      if (c.kind == ControlKind::kCheckList) return Reachable(a, c.name);
    }
    throw ScriptError(a.line, layout_.name + " has no list with ticks");
  }

  void NextTabStop() {
    std::vector<const ControlLayout*> stops;
    for (const ControlLayout& c : layout_.controls) {
      if (c.tabStop && c.visible && controls_.at(c.name)->enabled()) stops.push_back(&c);
    }
    if (stops.empty()) return;
    std::stable_sort(stops.begin(), stops.end(), [](const ControlLayout* x, const ControlLayout* y) {
      return x->tabIndex < y->tabIndex;
    });
    auto at =
        std::find_if(stops.begin(), stops.end(), [&](const ControlLayout* c) { return c->name == focus_; });
    const ControlLayout* next = at == stops.end() || at + 1 == stops.end() ? stops.front() : *(at + 1);
    MoveFocus(next->name);
  }

  void Perform(Action a);

  HeadlessToolkit& toolkit_;
  FormLayout layout_;
  FormEvents& events_;
  std::string title_;
  FormSnapshot state_;
  std::map<std::string, std::unique_ptr<HeadlessControl>> controls_;
  std::string focus_;
  bool shown_ = false;
};

HeadlessControl::HeadlessControl(HeadlessForm& form, const ControlLayout& layout, ControlSnapshot& state)
    : form_(form), layout_(layout), state_(state) {
  state_.name = layout.name;
  state_.kind = layout.kind;
  state_.visible = layout.visible;
  state_.enabled = layout.enabled;
  state_.caption = layout.caption;
  state_.text = layout.kind == ControlKind::kTextBox ? layout.caption : "";
  state_.backColor = ColourText(layout.backColour);
}

void HeadlessControl::SetFocus() { form_.MoveFocus(layout_.name); }

void HeadlessControl::SetListIndex(int index) {
  if (index < -1 || index >= static_cast<int>(state_.items.size())) {
    throw std::out_of_range(layout_.name + " has no item " + std::to_string(index));
  }
  if (index == state_.index) return;
  state_.index = index;
  form_.Changed(layout_.name);
}

ShowEnd HeadlessForm::ShowModal() {
  // A script has no way to quit the application: the show ends when the form is hidden.
  shown_ = true;
  if (focus_.empty()) NextTabStop();
  try {
    while (shown_) {
      std::optional<Action> action = toolkit_.actions_.Next(Snapshot());
      if (!action)
        throw ScriptError(0, "the actions ended while " + layout_.name + " (\"" + title_ + "\") is shown");
      try {
        Perform(*action);
      } catch (const ScriptError& e) {
        toolkit_.actions_.Rejected(e);
      }
    }
  } catch (const ScriptError& e) {
    shown_ = false;
    if (!toolkit_.scriptError_) toolkit_.scriptError_ = e;
    throw;
  }
  return ShowEnd::kHidden;
}

void HeadlessForm::Perform(Action a) {
  if (!a.control.empty()) a.control = ControlName(a.control);
  switch (a.kind) {
    case Action::Kind::kClick: {
      HeadlessControl& c = Reachable(a, a.control);
      switch (c.layout().kind) {
        case ControlKind::kLabel:
          // Labels take no focus.
          if (c.layout().clickable) {
            events_.Click(a.control);
          } else {
            Unchanged(a.control + " is a label that does nothing when clicked");
          }
          return;
        case ControlKind::kButton:
          if (FocusMoved(a.control)) events_.Click(a.control);
          return;
        case ControlKind::kCheckBox:
          // A check box's click is its Change, as on Windows.
          if (FocusMoved(a.control)) {
            c.Toggle();
            events_.Change(a.control);
          }
          return;
        default:
          throw ScriptError(a.line, a.control + " is a " + KindName(c.layout().kind) + ": use " +
                                        ActionFor(c.layout().kind, a.control));
      }
    }
    case Action::Kind::kTick:
    case Action::Kind::kUntick: {
      HeadlessControl& list = TheCheckList(a);
      int row = -1;
      if (auto index = ParseIndex(a.argument)) {
        row = *index;
      } else {
        row = list.FindRow(a.argument);
      }
      if (row < 0 || row >= list.RowCount()) {
        throw ScriptError(
            a.line, "no row " + QuoteInput(a.argument) + " in the list" + NearMiss(a.argument, list.Rows()));
      }
      if (!FocusMoved(list.layout().name)) return;
      const bool tick = a.kind == Action::Kind::kTick;
      if (list.Ticked(row) != tick) {
        list.SetTicked(row, tick);
        events_.Change(list.layout().name);
      } else {
        Unchanged("row " + std::to_string(row) + " " +
                  QuoteInput(list.Snapshot().rows[static_cast<size_t>(row)]) +
                  (tick ? " is ticked already" : " is not ticked"));
      }
      return;
    }
    case Action::Kind::kPick: {
      HeadlessControl& c = Reachable(a, a.control);
      if (c.layout().kind != ControlKind::kDropDown) {
        throw ScriptError(a.line, a.control + " is a " + KindName(c.layout().kind) + ": use " +
                                      ActionFor(c.layout().kind, a.control));
      }
      int index = -1;
      const auto& items = c.Snapshot().items;
      if (const auto it = std::find(items.begin(), items.end(), a.argument); it != items.end()) {
        index = static_cast<int>(it - items.begin());
      } else if (auto parsed = ParseIndex(a.argument)) {
        index = *parsed;
      }
      if (index < 0 || index >= static_cast<int>(items.size())) {
        throw ScriptError(a.line,
                          a.control + " has no item " + QuoteInput(a.argument) + NearMiss(a.argument, items));
      }
      if (!FocusMoved(a.control)) return;
      if (index == c.Snapshot().index) {
        Unchanged(a.control + " shows " + QuoteInput(items[static_cast<size_t>(index)]) + " already");
        return;
      }
      c.SetListIndex(index);
      return;
    }
    case Action::Kind::kFocus: {
      HeadlessControl& c = Reachable(a, a.control);
      if (c.layout().kind == ControlKind::kLabel)
        throw ScriptError(a.line, a.control + " is a label, which takes no focus: use click " + a.control);
      if (a.control == focus_) {
        Unchanged("the focus is on " + a.control + " already");
        return;
      }
      FocusMoved(a.control);
      return;
    }
    case Action::Kind::kType: {
      if (focus_.empty() || controls_.at(focus_)->layout().kind != ControlKind::kTextBox) {
        std::string hint;
        for (const ControlLayout& c : layout_.controls) {
          if (c.kind == ControlKind::kTextBox && c.visible && hint.empty())
            hint = ": use focus " + c.name + " first";
        }
        throw ScriptError(a.line, "type needs the focus in a text box (focus is on " +
                                      (focus_.empty() ? std::string("nothing") : focus_) + ")" + hint);
      }
      controls_.at(focus_)->SetText(a.argument);
      return;
    }
    case Action::Kind::kKey: {
      const int code = a.argument == "Tab" ? kKeyTab : a.argument == "Enter" ? kKeyEnter : kKeyEsc;
      // Only a text box reports its keys, as on Windows.
      if (!focus_.empty() && controls_.at(focus_)->layout().kind == ControlKind::kTextBox) {
        events_.KeyDown(focus_, code, 0);
      } else if (code != kKeyTab) {
        Unchanged("only a text box takes " + a.argument + ", and the focus is on " +
                  (focus_.empty() ? std::string("nothing") : focus_));
      }
      if (code == kKeyTab && shown_) NextTabStop();
      return;
    }
    case Action::Kind::kClose:
      // The close box runs no handler.
      shown_ = false;
      return;
    case Action::Kind::kSnapshot:
      toolkit_.snapshots_.push_back(Snapshot());
      return;
  }
}

HeadlessToolkit::HeadlessToolkit(SimHost& host, ActionSource& actions, std::string decimalSeparator)
    : host_(host), actions_(actions), decimalSeparator_(std::move(decimalSeparator)) {}

std::unique_ptr<Form> HeadlessToolkit::LoadForm(const FormLayout& layout, FormEvents& events) {
  return std::make_unique<HeadlessForm>(*this, layout, events);
}

}  // namespace ponderix::sim
