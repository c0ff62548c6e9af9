#include "sim/terminal.h"

#include <algorithm>
#include <istream>
#include <ostream>

namespace ponderix::sim {

namespace {

constexpr const char* kHelp = R"(Actions (CONTROL is a name as listed above, or a caption such as OK):
  click CONTROL        click a button, a check box or a label   click cmdOK   click OK
  tick ROW             tick a row of the list; ROW is its       tick 3
                       number as listed, or its text            tick washer.sldprt
  untick ROW           untick a row                             untick bolt.sldprt
  pick CONTROL ITEM    choose an item of a drop-down by its     pick cboComMats steel
                       text, or its number counting from 0      pick cboDensUnits 2
  focus CONTROL        move the focus to a control              focus txtDensVal
  type TEXT            replace the text of the text box that    type 7.85
                       has the focus (focus it first)
  key Tab|Enter|Esc    press a key in the control with focus    key Tab
  close                click the window's close box. No handler runs: on the
                       density dialog this is not Cancel, the run goes on and
                       writes the density shown.
  snapshot             record the form in the result (--result FILE)
At the terminal only:
  show                 print the whole form, every row of a long list
  help or ?            this list
  quit                 leave without finishing the run: nothing is written
                       (Ctrl-D does the same)
)";

// The row to show a long list around: the row the last action ticked or
// unticked, else the first ticked row.
size_t RowAround(const FormSnapshot& shown, const std::optional<Action>& last) {
  for (const ControlSnapshot& c : shown.controls) {
    if (c.kind != ControlKind::kCheckList) continue;
    if (last && (last->kind == Action::Kind::kTick || last->kind == Action::Kind::kUntick)) {
      const auto named = std::find(c.rows.begin(), c.rows.end(), last->argument);
      if (named != c.rows.end()) return static_cast<size_t>(named - c.rows.begin());
      const std::string& n = last->argument;
      if (!n.empty() && n.size() < 10 &&
          std::all_of(n.begin(), n.end(), [](char ch) { return ch >= '0' && ch <= '9'; })) {
        if (const size_t row = std::stoul(n); row < c.rows.size()) return row;
      }
    }
    const auto ticked = std::find(c.ticks.begin(), c.ticks.end(), true);
    return ticked == c.ticks.end() ? 0 : static_cast<size_t>(ticked - c.ticks.begin());
  }
  return 0;
}

}  // namespace

bool StreamLines::Read(const std::string& prompt, std::string& line) {
  out_ << prompt << std::flush;
  if (!std::getline(in_, line)) {
    out_ << "\n";
    return false;
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return true;
}

TerminalSource::TerminalSource(std::istream& in, std::ostream& out, size_t listWindow)
    : ownLines_(std::make_unique<StreamLines>(in, out)),
      lines_(*ownLines_),
      out_(out),
      listWindow_(listWindow) {}

TerminalSource::TerminalSource(LineReader& lines, std::ostream& out, size_t listWindow)
    : lines_(lines), out_(out), listWindow_(listWindow) {}

std::optional<Action> TerminalSource::Next(const FormSnapshot& shown) {
  // The form again only when the last action changed it.
  if (std::string form = DescribeForm(shown, listWindow_, RowAround(shown, lastAction_)); form != lastForm_) {
    out_ << "\n" << form;
    lastForm_ = std::move(form);
  }
  for (;;) {
    std::string line;
    if (!lines_.Read("action (help lists them)> ", line)) {
      quit_ = true;
      return std::nullopt;
    }
    const size_t begin = std::min(line.find_first_not_of(" \t"), line.size());
    const std::string word = line.substr(begin, line.find_last_not_of(" \t") + 1 - begin);
    if (word == "help" || word == "?") {
      out_ << kHelp;
      continue;
    }
    if (word == "show") {
      out_ << DescribeForm(shown);
      continue;
    }
    if (word == "quit") {
      quit_ = true;
      return std::nullopt;
    }
    try {
      if (auto action = ParseAction(line, 0)) {
        lastLine_ = line;
        lastAction_ = action;
        return action;
      }
    } catch (const ScriptError& e) {
      out_ << QuoteInput(line) << ": " << e.message() << "\n";
    }
  }
}

void TerminalSource::Rejected(const ScriptError& error) {
  out_ << QuoteInput(lastLine_) << ": " << error.message() << "\n";
}

void TerminalSource::Unchanged(const std::string& why) {
  out_ << QuoteInput(lastLine_) << ": nothing changed: " << why << "\n";
}

void PrintEvent(std::ostream& out, const Event& event, std::string_view subject) {
  switch (event.kind) {
    case Event::Kind::kMessage:
      out << "\n** host message: \"" << Printable(subject) << "\" [OK]\n";
      break;
    case Event::Kind::kBox:
      out << "\n** message box: \"" << Printable(subject) << "\" [OK]\n";
      break;
    case Event::Kind::kWebPage:
      out << "\n** web page opened: " << Printable(subject) << "\n";
      break;
    default:
      break;
  }
}

std::string ActionText(const Action& action) {
  switch (action.kind) {
    case Action::Kind::kClick:
      return "click " + action.control;
    case Action::Kind::kTick:
      return "tick " + action.argument;
    case Action::Kind::kUntick:
      return "untick " + action.argument;
    case Action::Kind::kPick:
      return "pick " + action.control + " " + action.argument;
    case Action::Kind::kFocus:
      return "focus " + action.control;
    case Action::Kind::kType:
      return "type " + action.argument;
    case Action::Kind::kKey:
      return "key " + action.argument;
    case Action::Kind::kClose:
      return "close";
    case Action::Kind::kSnapshot:
      return "snapshot";
  }
  return {};
}

TraceSource::TraceSource(ActionSource& actions, std::ostream& out, size_t listWindow)
    : actions_(actions), out_(out), listWindow_(listWindow) {}

std::optional<Action> TraceSource::Next(const FormSnapshot& shown) {
  if (std::string form = DescribeForm(shown, listWindow_, RowAround(shown, lastAction_)); form != lastForm_) {
    out_ << "\n" << form;
    lastForm_ = std::move(form);
  }
  lastAction_ = actions_.Next(shown);
  if (lastAction_) out_ << "> " << Printable(ActionText(*lastAction_)) << "\n";
  return lastAction_;
}

}  // namespace ponderix::sim
