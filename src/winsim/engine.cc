#include "winsim/engine.h"

#include <windows.h>

#include <objbase.h>
#include <wrl/client.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "density/frm_ponderix.h"
#include "partselect/frm_part_select.h"
#include "ponderix.h"
#include "run/ponderix1.h"
#include "run/sw_connection.h"
#include "sim/terminal.h"
#include "win32/module.h"
#include "win32/registration.h"
#include "win32/text.h"
#include "winsim/fake_host.h"
#include "winsim/support.h"
#include "winsim/ui_driver.h"

namespace ponderix::winsim {

namespace {

using Microsoft::WRL::ComPtr;
using sim::Action;
using sim::ControlSnapshot;
using sim::FormSnapshot;
using sim::ScriptError;
using win32::Narrow;
using win32::Widen;

constexpr long kCookie = 1;
constexpr int kPollMs = 10;
// How long the add-in may show nothing, neither a dialog nor a message box,
// while its command runs: its host calls take milliseconds, but an emulated
// 32-bit Wine is slow.
constexpr int kQuietLimitMs = 60000;

class Apartment {
 public:
  Apartment() {
    const HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(hr)) throw EngineError("cannot start COM: " + HexCode(hr));
  }
  ~Apartment() { CoUninitialize(); }
  Apartment(const Apartment&) = delete;
  Apartment& operator=(const Apartment&) = delete;
};

// The add-in reads the decimal separator from the user's settings, as it does
// in the host: the scene's separator is put there for the run, and the user's
// own put back afterwards.
class SeparatorForRun {
 public:
  explicit SeparatorForRun(const std::string& separator) {
    wchar_t current[8] = {};
    if (GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, current, 8) <= 1) return;
    const std::wstring wanted = Widen(separator);
    if (wanted.empty() || wanted == current) return;
    if (SetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, wanted.c_str())) saved_ = current;
  }
  ~SeparatorForRun() {
    if (!saved_.empty()) SetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, saved_.c_str());
  }
  SeparatorForRun(const SeparatorForRun&) = delete;
  SeparatorForRun& operator=(const SeparatorForRun&) = delete;

 private:
  std::wstring saved_;
};

const FormLayout& PartLayout() {
  static const FormLayout layout = frmPartSelect::Layout(kMakerWebAddress);
  return layout;
}

const FormLayout& DensityLayout() {
  static const FormLayout layout = frmPonderix::Layout(kMakerWebAddress);
  return layout;
}

// The part selection dialog carries the assembly's name as its title, the
// density dialog its own.
const FormLayout& LayoutOf(HWND form) {
  return Narrow(Text(form)) == DensityLayout().title ? DensityLayout() : PartLayout();
}

std::vector<std::string> Narrowed(const std::vector<std::wstring>& texts) {
  std::vector<std::string> out;
  out.reserve(texts.size());
  for (const std::wstring& t : texts) out.push_back(Narrow(t));
  return out;
}

// The colour the form gives a control to paint its background with, asked as
// Windows asks it before painting.
std::string BackColor(HWND form, HWND control, ControlKind kind) {
  UINT message = WM_CTLCOLORSTATIC;
  if (kind == ControlKind::kTextBox) message = WM_CTLCOLOREDIT;
  if (kind == ControlKind::kButton) message = WM_CTLCOLORBTN;
  if (kind == ControlKind::kDropDown || kind == ControlKind::kCheckList) message = WM_CTLCOLORLISTBOX;
  const HDC dc = GetDC(control);
  if (!dc) return "";
  DWORD_PTR brush = 0;
  const bool answered =
      SendMessageTimeoutW(form, message, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(control),
                          SMTO_NORMAL, kUiMessageTimeoutMs, &brush) != 0;
  const COLORREF colour = GetBkColor(dc);
  ReleaseDC(control, dc);
  if (!answered || colour == CLR_INVALID) return "";
  // A system colour is named as the simulator names it, whatever this
  // system's theme makes of it (Wine's button face is a lighter grey).
  if (colour == GetSysColor(COLOR_BTNFACE)) return sim::ColourText(Colour::System(Colour::Kind::kButtonFace));
  if (colour == GetSysColor(COLOR_WINDOW))
    return sim::ColourText(Colour::System(Colour::Kind::kWindowBackground));
  return sim::ColourText(Colour::Rgb(GetRValue(colour), GetGValue(colour), GetBValue(colour)));
}

// The form as the person at the screen sees it, read from its controls;
// without `lists`, the lists' rows and ticks are left unread.
FormSnapshot ReadForm(HWND form, const FormLayout& layout, bool lists) {
  FormSnapshot shown;
  shown.form = layout.name;
  shown.title = Narrow(Text(form));
  shown.focus = FocusedControl(form, layout);
  for (const ControlLayout& c : layout.controls) {
    ControlSnapshot s;
    s.name = c.name;
    s.kind = c.kind;
    s.visible = Visible(form, layout, c.name);
    s.enabled = Enabled(form, layout, c.name);
    s.backColor = BackColor(form, ControlWindow(form, layout, c.name), c.kind);
    switch (c.kind) {
      case ControlKind::kTextBox:
        s.text = Narrow(Text(form, layout, c.name));
        break;
      case ControlKind::kLabel:
      case ControlKind::kButton:
        s.caption = Narrow(Text(form, layout, c.name));
        break;
      case ControlKind::kCheckBox:
        s.caption = Narrow(Text(form, layout, c.name));
        s.checked = Checked(form, layout, c.name);
        break;
      case ControlKind::kDropDown:
        s.index = ListIndex(form, layout, c.name);
        s.items = Narrowed(Items(form, layout, c.name));
        break;
      case ControlKind::kCheckList:
        if (!lists) break;
        s.rows = Narrowed(Rows(form, layout, c.name));
        s.ticks = Ticks(form, layout, c.name);
        break;
    }
    shown.controls.push_back(std::move(s));
  }
  return shown;
}

const ControlSnapshot* Find(const FormSnapshot& shown, const std::string& name) {
  for (const ControlSnapshot& c : shown.controls) {
    if (c.name == name) return &c;
  }
  return nullptr;
}

// Plays actions on the real dialogs from the driver's thread, with the rules
// and the words of the simulator's headless dialogs, so that a script means
// the same on both and a bad action is reported the same way.
class Player {
 public:
  Player(sim::ActionSource& actions, FakeHost& host, std::vector<FormSnapshot>& snapshots)
      : actions_(actions),
        host_(host),
        snapshots_(snapshots),
        times_(std::getenv("PONDERIX_SIM_TIMES") != nullptr) {}

  // Until the command has returned: acknowledges message boxes and plays an
  // action on each form shown.
  void Play(const std::atomic<bool>& ended) {
    ULONGLONG quietSince = GetTickCount64();
    while (!ended) {
      if (const HWND box = WaitForMessageBox(0)) {
        Acknowledge(box);
        quietSince = GetTickCount64();
      } else if (const HWND form = WaitForAnyForm(0); form && IsWindowEnabled(form)) {
        Step(form);
        quietSince = GetTickCount64();
      } else if (GetTickCount64() - quietSince > static_cast<ULONGLONG>(kQuietLimitMs)) {
        throw UiDriverError("the add-in showed nothing for " + std::to_string(kQuietLimitMs / 1000) +
                            " seconds while its command ran");
      } else {
        Sleep(kPollMs);
      }
    }
  }

  const std::string& lastForm() const { return lastForm_; }
  const std::optional<std::string>& failureBox() const { return failureBox_; }

 private:
  void Acknowledge(HWND box) {
    const std::string text = Narrow(MessageText(box));
    // The add-in's own report of a failed run is kept apart: the simulated
    // host has no such box, and the failure is in the result already.
    if (text.starts_with(win32::kRunFailedPrefix)) {
      failureBox_ = text;
    } else {
      // Recorded while the box still holds the add-in's thread, so the log keeps its order.
      host_.sim().RecordBox(text);
    }
    PressOk(box);
    WaitUntilHidden(box, kUiMessageTimeoutMs);
  }

  void Step(HWND form) {
    const FormLayout& layout = LayoutOf(form);
    if (times_ && layout.name != lastForm_) Time(layout.name + " shown");
    // Reading every row and tick costs two messages to the add-in's thread
    // a row: only where the actions look at them or the action needs them.
    const bool lists = actions_.ReadsLists();
    FormSnapshot shown = ReadForm(form, layout, lists);
    lastForm_ = layout.name;
    const std::optional<Action> action = actions_.Next(shown);
    if (!action) {
      throw ScriptError(0, "the actions ended while " + layout.name + " (\"" + shown.title + "\") is shown");
    }
    const bool needsLists = action->kind == Action::Kind::kTick || action->kind == Action::Kind::kUntick ||
                            action->kind == Action::Kind::kSnapshot;
    if (!lists && needsLists) shown = ReadForm(form, layout, true);
    try {
      Perform(form, layout, shown, *action);
    } catch (const ScriptError& e) {
      actions_.Rejected(e);
    }
    if (times_) Time(sim::ActionText(*action) + " done");
  }

  // With PONDERIX_SIM_TIMES set (bench/dll-scale sets it): when each form
  // came up and each action was done, in seconds since the command started.
  void Time(const std::string& what) const {
    std::fprintf(stderr, "ponderix-sim: %.2f s: %s\n", static_cast<double>(GetTickCount64() - start_) / 1000,
                 what.c_str());
  }

  // The control a user means: its name, or else the caption of a shown control.
  static std::string ControlName(const FormSnapshot& shown, const std::string& name) {
    if (Find(shown, name)) return name;
    for (const ControlSnapshot& c : shown.controls) {
      if (c.kind != ControlKind::kTextBox && c.visible && c.caption == name) return c.name;
    }
    return name;
  }

  static const ControlSnapshot& Reachable(const FormSnapshot& shown, const Action& a,
                                          const std::string& name) {
    const ControlSnapshot* c = Find(shown, name);
    if (!c) {
      std::vector<std::string> known;
      for (const ControlSnapshot& k : shown.controls) {
        if (!k.visible) continue;
        known.push_back(k.name);
        if (k.kind != ControlKind::kTextBox && !k.caption.empty()) known.push_back(k.caption);
      }
      throw ScriptError(
          a.line, shown.form + " has no control named " + sim::QuoteInput(name) + sim::NearMiss(name, known));
    }
    if (!c->visible || !c->enabled) throw ScriptError(a.line, name + " is hidden or disabled");
    return *c;
  }

  static ScriptError WrongKind(const Action& a, const ControlSnapshot& c) {
    return {a.line, c.name + " is a " + sim::KindName(c.kind) + ": use " + sim::ActionFor(c.kind, c.name)};
  }

  void Perform(HWND form, const FormLayout& layout, const FormSnapshot& shown, Action a) {
    if (!a.control.empty()) a.control = ControlName(shown, a.control);
    switch (a.kind) {
      case Action::Kind::kClick: {
        const ControlSnapshot& c = Reachable(shown, a, a.control);
        if (c.kind == ControlKind::kLabel) {
          // Labels take no focus; only a clickable one answers.
          const auto it = std::find_if(layout.controls.begin(), layout.controls.end(),
                                       [&](const ControlLayout& l) { return l.name == c.name; });
          if (it != layout.controls.end() && it->clickable) Click(form, layout, c.name);
          return;
        }
        if (c.kind != ControlKind::kButton && c.kind != ControlKind::kCheckBox) throw WrongKind(a, c);
        Click(form, layout, c.name);
        return;
      }
      case Action::Kind::kTick:
      case Action::Kind::kUntick: {
        const ControlSnapshot* list = nullptr;
        for (const ControlSnapshot& c : shown.controls) {
          if (c.kind == ControlKind::kCheckList) {
            list = &Reachable(shown, a, c.name);
            break;
          }
        }
        if (!list) throw ScriptError(a.line, shown.form + " has no list with ticks");
        int row = -1;
        if (const std::optional<int> index = sim::ParseIndex(a.argument)) {
          row = *index;
        } else if (const auto it = std::find(list->rows.begin(), list->rows.end(), a.argument);
                   it != list->rows.end()) {
          row = static_cast<int>(it - list->rows.begin());
        }
        if (row < 0 || row >= static_cast<int>(list->rows.size())) {
          throw ScriptError(a.line, "no row " + sim::QuoteInput(a.argument) + " in the list" +
                                        sim::NearMiss(a.argument, list->rows));
        }
        Tick(form, layout, list->name, row, a.kind == Action::Kind::kTick);
        return;
      }
      case Action::Kind::kPick: {
        const ControlSnapshot& c = Reachable(shown, a, a.control);
        if (c.kind != ControlKind::kDropDown) throw WrongKind(a, c);
        int index = -1;
        if (const auto it = std::find(c.items.begin(), c.items.end(), a.argument); it != c.items.end()) {
          index = static_cast<int>(it - c.items.begin());
        } else if (const std::optional<int> parsed = sim::ParseIndex(a.argument)) {
          index = *parsed;
        }
        if (index < 0 || index >= static_cast<int>(c.items.size())) {
          throw ScriptError(a.line, c.name + " has no item " + sim::QuoteInput(a.argument) +
                                        sim::NearMiss(a.argument, c.items));
        }
        Pick(form, layout, c.name, index);
        return;
      }
      case Action::Kind::kFocus: {
        const ControlSnapshot& c = Reachable(shown, a, a.control);
        if (c.kind == ControlKind::kLabel) {
          throw ScriptError(a.line, c.name + " is a label, which takes no focus: use click " + c.name);
        }
        Focus(form, layout, c.name);
        return;
      }
      case Action::Kind::kType: {
        const ControlSnapshot* focused = Find(shown, shown.focus);
        if (!focused || focused->kind != ControlKind::kTextBox) {
          std::string hint;
          for (const ControlSnapshot& c : shown.controls) {
            if (c.kind == ControlKind::kTextBox && c.visible && hint.empty())
              hint = ": use focus " + c.name + " first";
          }
          throw ScriptError(a.line, "type needs the focus in a text box (focus is on " +
                                        (shown.focus.empty() ? std::string("nothing") : shown.focus) + ")" +
                                        hint);
        }
        Type(form, layout, focused->name, Widen(a.argument));
        return;
      }
      case Action::Kind::kKey: {
        const int key = a.argument == "Tab" ? VK_TAB : a.argument == "Enter" ? VK_RETURN : VK_ESCAPE;
        Key(form, key);
        return;
      }
      case Action::Kind::kClose:
        winsim::Close(form);
        return;
      case Action::Kind::kSnapshot:
        snapshots_.push_back(shown);
        return;
    }
  }

  sim::ActionSource& actions_;
  FakeHost& host_;
  std::vector<FormSnapshot>& snapshots_;
  std::string lastForm_;
  std::optional<std::string> failureBox_;
  bool times_;
  ULONGLONG start_ = GetTickCount64();
};

// Watches a person at the screen: the last form shown, and the add-in's
// report of a failed run, which the person acknowledges.
class Watcher {
 public:
  void Watch(const std::atomic<bool>& ended) {
    while (!ended) {
      try {
        if (const HWND box = WaitForMessageBox(0)) {
          const std::string text = Narrow(MessageText(box));
          if (text.starts_with(win32::kRunFailedPrefix)) failureBox_ = text;
          WaitUntilHidden(box, INT_MAX);
        } else if (const HWND form = WaitForAnyForm(0)) {
          lastForm_ = LayoutOf(form).name;
        }
      } catch (const WindowGoneError&) {
        // Closed between being found and being read, as the person went on: not shown any more.
      }
      Sleep(50);
    }
  }
  const std::string& lastForm() const { return lastForm_; }
  const std::optional<std::string>& failureBox() const { return failureBox_; }

 private:
  std::string lastForm_;
  std::optional<std::string> failureBox_;
};

ComPtr<SwAddin> CreateAddin(const std::optional<AddinDll>& dll) {
  ComPtr<SwAddin> addin;
  if (dll) {
    ComPtr<IClassFactory> factory;
    HRESULT hr = dll->GetClassObject(CLSID_SWConnection, IID_PPV_ARGS(&factory));
    if (FAILED(hr))
      throw EngineError("DllGetClassObject of " + Narrow(dll->path()) + " failed: " + HexCode(hr));
    hr = factory->CreateInstance(nullptr, IID_PPV_ARGS(&addin));
    if (FAILED(hr)) throw EngineError("the add-in's class factory failed: " + HexCode(hr));
    return addin;
  }
  CLSID clsid{};
  HRESULT hr = CLSIDFromProgID(win32::kProgId, &clsid);
  if (FAILED(hr)) {
    throw EngineError("the add-in " + Narrow(win32::kProgId) + " is not registered (" + HexCode(hr) +
                      "): give its DLL with --dll PATH");
  }
  hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&addin));
  if (FAILED(hr)) throw EngineError("cannot create the registered add-in: " + HexCode(hr));
  return addin;
}

// The text the add-in gave with a failed call, else its code.
std::string CallFailure(const char* call, HRESULT hr) {
  ComPtr<IErrorInfo> info;
  BSTR description = nullptr;
  if (GetErrorInfo(0, &info) == S_OK && info && SUCCEEDED(info->GetDescription(&description)) &&
      description) {
    std::string text = Narrow(description);
    SysFreeString(description);
    if (!text.empty()) return text;
  }
  return std::string(call) + " failed: " + HexCode(hr);
}

// Reads "Parts already written: N of M." or the note that nothing changed
// from the add-in's failure box into the run's figures; false when the box
// does not say so about `failure`.
bool ReadFailureBox(const std::string& box, const std::string& failure, sim::RunFigures& run) {
  const std::string head = std::string(win32::kRunFailedPrefix) + failure + "\n\n";
  if (!box.starts_with(head)) return false;
  const std::string_view note = std::string_view(box).substr(head.size());
  if (note == win32::kNoPartChangedNote) return true;
  if (!note.starts_with(win32::kPartsWrittenNote) || !note.ends_with(".")) return false;
  const std::string_view figures = note.substr(win32::kPartsWrittenNote.size());
  const size_t of = figures.find(" of ");
  if (of == std::string_view::npos) return false;
  const auto parse = [](std::string_view digits, int64_t& value) {
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    return ec == std::errc() && end == digits.data() + digits.size();
  };
  return parse(figures.substr(0, of), run.partsWritten) &&
         parse(figures.substr(of + 4, figures.size() - of - 5), run.partsToWrite);
}

}  // namespace

sim::SessionResult RunDllSession(sim::Scene scene, sim::ActionSource* actions,
                                 const std::function<void(const sim::Event&, std::string_view)>& onEvent,
                                 const std::wstring& dllPath) {
  const sim::DocumentsBefore before(scene);

  const Apartment apartment;
  const SeparatorForRun separator(scene.decimalSeparator);
  std::optional<AddinDll> dll;
  if (!dllPath.empty()) {
    try {
      dll.emplace(dllPath);
    } catch (const std::runtime_error& e) {
      throw EngineError(e.what());
    }
  }
  sim::SessionResult result;
  std::optional<ScriptError> scriptError;
  std::optional<std::string> failureBox;
  sim::RunFigures run;
  bool commandFailed = false;
  FakeHost host(std::move(scene));
  if (onEvent) host.sim().Observe(onEvent);
  {
    ComPtr<SwAddin> addin = CreateAddin(dll);
    VARIANT_BOOL done = VARIANT_FALSE;
    if (const HRESULT hr = addin->ConnectToSW(host.application(), kCookie, &done); FAILED(hr)) {
      result.failure = CallFailure("ConnectToSW", hr);
    } else {
      result.menu = host.sim().Menu();
      result.commandDocType = sim::CommandDocType(host.sim());
      sim::CommandOutcome outcome;
      std::atomic<bool> ended = false;
      const auto choose = [&] {
        try {
          outcome = host.ChooseCommand(result.commandDocType, kRunCallback);
        } catch (const std::invalid_argument& e) {
          outcome.result.ok = false;
          outcome.result.error = e.what();
        }
        ended = true;
      };
      std::string driverError;
      if (actions) {
        Player player(*actions, host, result.snapshots);
        driverError = ShowAndDrive(choose, [&] {
          try {
            player.Play(ended);
          } catch (const ScriptError& e) {
            scriptError = e;
            CloseEverything();
            // Whatever the add-in shows next closes too, until its command returns.
            while (!ended) {
              CloseEverything();
              Sleep(kPollMs);
            }
          }
        });
        run.lastForm = player.lastForm();
        failureBox = player.failureBox();
      } else {
        Watcher watcher;
        driverError = ShowAndDrive(choose, [&] { watcher.Watch(ended); });
        run.lastForm = watcher.lastForm();
        failureBox = watcher.failureBox();
      }
      // A WM_QUIT the person's session left behind is not this program's to act on.
      MSG message{};
      while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message != WM_QUIT) DispatchMessageW(&message);
      }
      if (!outcome.result.ok) {
        result.failure = outcome.result.error;
        commandFailed = true;
      }
      if (const HRESULT status = addin->DisconnectFromSW(&done); FAILED(status) && !result.failure) {
        result.failure = CallFailure("DisconnectFromSW", status);
      }
      if (!driverError.empty() && !scriptError) throw EngineError("the dialogs: " + driverError);
    }
  }
  result.menuAfterDisconnect = host.sim().Menu();
  if (scriptError) throw *scriptError;

  const std::vector<sim::Message>& messages = host.sim().messages();
  // Only the command tells the user; connecting and disconnecting answer the host alone.
  if (commandFailed && !failureBox) {
    throw EngineError("the run failed (" + *result.failure + ") but the add-in did not tell the user");
  }
  if (failureBox && (!result.failure || !ReadFailureBox(*failureBox, *result.failure, run))) {
    throw EngineError("the add-in's failure message does not report the run's failure: \"" + *failureBox +
                      "\"");
  }
  for (const sim::Event& e : host.sim().events()) {
    if (e.kind != sim::Event::Kind::kDensity || result.failure) continue;
    ++run.partsWritten;
    run.partsToWrite = run.partsWritten;
    run.partDensity = e.density;
  }
  for (const sim::Message& m : messages) {
    if (m.kind == sim::Message::Kind::kHost && m.text.starts_with(kUnopenedPartsMessage))
      run.partsUnopened = true;
  }
  sim::SetOutcome(result, messages, run);
  result.messages = messages;
  // A reference the add-in kept shows twice over, as a COM reference on an
  // automation object and as the simulated host's own count; either is one too many.
  result.heldReferences = std::max(host.SimReferences(), static_cast<int>(host.AddinReferences()));
  result.events = host.sim().TakeEvents();
  result.eventTexts = host.sim().TakeEventTexts();
  before.Compare(host.sim().TakeScene(), result);
  return result;
}

}  // namespace ponderix::winsim
