// The native dialog toolkit under Wine: the event rules both toolkits keep
// (toolkit_rules.h), each script line done by the UI driver from a second
// thread while the form is shown modally; then what only it has: rules of
// its own, sizes and fonts at the expected DPI, placement over the owner,
// the message box and the clock. Needs a display (Xvfb). The process is
// DPI-aware, as modern hosts are; the forms are expected at PONDERIX_DPI dots
// per inch (the Wine prefix's LogPixels), 96 without it.
#include <windows.h>

#include <commctrl.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "harness.h"
#include "toolkit_rules.h"
#include "win32/owners.h"
#include "win32/platform.h"
#include "win32/text.h"
#include "win32/tick_clock.h"
#include "win32/win32_toolkit.h"
#include "winsim/ui_driver.h"

namespace ponderix::wintest {
namespace {

using test::ToolkitRule;
constexpr int kWaitMs = 10000;

const bool kDpiAware = SetProcessDPIAware() != FALSE;

int PrefixDpi() {
  const char* dpi = std::getenv("PONDERIX_DPI");
  return dpi ? std::atoi(dpi) : 96;
}

int Px(double points, int dpi = PrefixDpi()) { return static_cast<int>(std::lround(points * dpi / 72)); }

HWND ShownForm(const std::string& title) {
  const HWND form = WaitForForm(win32::Widen(title), kWaitMs);
  if (!form) throw UiDriverError("the form " + title + " did not appear");
  return form;
}

// A real press and release of the left button at `at` on the screen.
void MouseClick(POINT at) {
  // Absolute positions run from 0 to 65535 across the primary screen.
  const LONG x = at.x * 65535 / (GetSystemMetrics(SM_CXSCREEN) - 1);
  const LONG y = at.y * 65535 / (GetSystemMetrics(SM_CYSCREEN) - 1);
  INPUT clicks[3] = {};
  const DWORD flags[3] = {0, MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP};
  for (int i = 0; i < 3; ++i) {
    clicks[i].type = INPUT_MOUSE;
    clicks[i].mi = {x, y, 0, flags[i] | MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE, 0, 0};
  }
  if (SendInput(3, clicks, sizeof(INPUT)) != 3) throw UiDriverError("SendInput failed");
}

// ... over the middle of `control`.
void MouseClick(HWND control) {
  RECT rect{};
  GetWindowRect(control, &rect);
  MouseClick(POINT{(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2});
}

// ... on the check box of a row of `list`, found as the list itself finds it.
void MouseClickBox(HWND list, int row) {
  RECT bounds{};
  bounds.left = LVIR_BOUNDS;
  SendMessageW(list, LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&bounds));
  LVHITTESTINFO hit{};
  hit.pt.y = (bounds.top + bounds.bottom) / 2;
  for (hit.pt.x = bounds.left; hit.pt.x < bounds.left + 100; ++hit.pt.x) {
    hit.flags = 0;
    SendMessageW(list, LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit));
    if (hit.flags & LVHT_ONITEMSTATEICON) break;
  }
  POINT at{hit.pt.x + 2, hit.pt.y};
  ClientToScreen(list, &at);
  MouseClick(at);
  Sleep(200);
}

// A real press and release of a key, to the window with the focus.
void KeyPress(WORD key) {
  INPUT keys[2] = {};
  for (int i = 0; i < 2; ++i) {
    keys[i].type = INPUT_KEYBOARD;
    keys[i].ki = {key, static_cast<WORD>(MapVirtualKeyW(key, MAPVK_VK_TO_VSC)),
                  i == 0 ? 0u : static_cast<DWORD>(KEYEVENTF_KEYUP), 0, 0};
  }
  if (SendInput(2, keys, sizeof(INPUT)) != 2) throw UiDriverError("SendInput failed");
  Sleep(200);
}

// One line of the show, from the driver's thread. Besides the shared lines:
// "mouse C" (a real click), "mouse-box ROW" (a real click on the row's check box), "press Space" (a real
// key), "key A" (any letter), "char C X" (a typed character), "wait MS", "quit N" (WM_QUIT), and the
// questions "? selection C",
// "? scrolls C" (a horizontal scroll bar) and "? row C" (the row with the focus).
void Act(HWND form, const FormLayout& layout, const std::string& line, test::EventLog& events) {
  const std::string verb = line.substr(0, line.find(' '));
  const std::string rest = line.substr(std::min(line.size(), verb.size() + 1));
  const std::string control = rest.substr(0, rest.find(' '));
  const std::string last = rest.substr(rest.rfind(' ') + 1);
  if (verb == "?") {
    events.log.push_back(test::Answer(line, [&](const std::string& what, const std::string& name) {
      const HWND window = name.empty() ? nullptr : ControlWindow(form, layout, name);
      if (what == "focus") return FocusedControl(form, layout);
      if (what == "text") return win32::Narrow(Text(window));
      if (what == "index") return std::to_string(ListIndex(form, layout, name));
      if (what == "ticks") return test::TicksText(Ticks(form, layout, "lboParts"));
      if (what == "checked") return std::string(Checked(form, layout, name) ? "1" : "0");
      if (what == "visible") return std::string(IsWindowVisible(window) ? "1" : "0");
      if (what == "scrolls") return std::string(GetWindowLongW(window, GWL_STYLE) & WS_HSCROLL ? "1" : "0");
      if (what == "row")
        return std::to_string(SendMessageW(window, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED));
      DWORD start = 9, end = 9;  // what == "selection"
      SendMessageW(window, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
      return std::to_string(start) + "-" + std::to_string(end);
    }));
  } else if (verb == "click") {
    Click(form, layout, rest);
  } else if (verb == "mouse") {
    MouseClick(ControlWindow(form, layout, rest));
    WaitUntilHidden(form, kWaitMs);
  } else if (verb == "mouse-box") {
    MouseClickBox(ControlWindow(form, layout, "lboParts"), std::stoi(rest));
  } else if (verb == "tick" || verb == "untick") {
    // The driver's tick bypasses the list's focus: here a refused Exit drops it, as it drops a user's click.
    Focus(form, layout, "lboParts");
    if (FocusedControl(form, layout) == "lboParts") Tick(form, layout, std::stoi(rest), verb == "tick");
  } else if (verb == "pick") {
    Pick(form, layout, control, std::stoi(last));
  } else if (verb == "focus") {
    Focus(form, layout, rest);
  } else if (verb == "type") {
    Type(form, layout, FocusedControl(form, layout), win32::Widen(rest));
  } else if (verb == "press") {
    KeyPress(VK_SPACE);
  } else if (verb == "key") {
    Key(form, rest == "Tab" ? VK_TAB : rest == "Enter" ? VK_RETURN : rest == "Esc" ? VK_ESCAPE : rest[0]);
  } else if (verb == "char") {
    DWORD_PTR result = 0;
    SendMessageTimeoutW(ControlWindow(form, layout, control), WM_CHAR, static_cast<WPARAM>(last[0]), 1,
                        SMTO_NORMAL, kUiMessageTimeoutMs, &result);
  } else if (verb == "wait") {
    Sleep(static_cast<DWORD>(std::stoi(rest)));
  } else if (verb == "quit") {
    PostQuit(form, std::stoi(rest));
  } else if (verb == "close") {
    Close(form);
  } else {
    throw UiDriverError("no action " + line);
  }
}

HWND shownWindow = nullptr;  // the last rule's form

// The show of a rule under Wine. After it the window must still exist; a
// WM_QUIT that ended it must still be pending, and is logged as "quit N".
size_t ShowDriven(const ToolkitRule& rule, Form& form, const FormLayout& layout, test::EventLog& events,
                  const std::vector<std::string>& lines, size_t first) {
  size_t at = first;
  ShowEnd end = ShowEnd::kHidden;
  const std::string error =
      ShowAndDrive([&] { end = form.ShowModal(); },
                   [&] {
                     shownWindow = ShownForm(test::RuleTitle(rule.parts));
                     while (IsWindowVisible(shownWindow)) {
                       if (at == lines.size())
                         throw UiDriverError("the script ended while the form is shown");
                       Act(shownWindow, layout, lines[at++], events);
                     }
                   });
  if (!error.empty()) events.log.push_back("driver: " + error);
  if (!IsWindow(shownWindow)) events.log.push_back("the show destroyed the window");
  MSG quit{};
  const bool pending = PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != FALSE;
  if (pending || end == ShowEnd::kQuit) {
    events.log.push_back(std::string(end == ShowEnd::kQuit ? "quit " : "quit unreported ") +
                         (pending ? std::to_string(quit.wParam) : "lost"));
  }
  return at;
}

void PlayAll(Check& check, const std::vector<ToolkitRule>& rules) {
  for (const ToolkitRule& rule : rules) {
    const std::unique_ptr<Toolkit> toolkit = win32::MakeToolkit();
    shownWindow = nullptr;
    check.Equal(test::Play(rule, *toolkit, &ShowDriven), std::string(rule.log), rule.rule);
    check.True(!IsWindow(shownWindow), std::string(rule.rule) + ": unloading destroys the window");
  }
}

const Test kRules("Toolkit.KeepsTheToolkitsEventRules", [](Check& check) {
  PlayAll(check, {std::begin(test::kToolkitRules), std::end(test::kToolkitRules)});
});

const Test kOwnRules("Toolkit.RulesOfItsOwn", [](Check& check) {
  PlayAll(
      check,
      {
          {"a real mouse click lets the text box exit first", false, "mouse btnOK",
           "Exit txtDensVal btnOK|Click btnOK"},
          {"a refused Exit selects the box's text", false,
           "refuse 1|click btnOK|? selection txtDensVal|close",
           "Exit txtDensVal btnOK|selection txtDensVal 0-5"},
          {"every other key in a text box is reported too", false, "key A|close", "KeyDown txtDensVal 65"},
          {"WM_QUIT ends the show and stays pending for the host's loop", false, "quit 7", "quit 7"},
          {"Tab into the value box selects its text", false,
           "focus btnCancel|key Tab|? selection txtDensVal|close",
           "Exit txtDensVal btnCancel|selection txtDensVal 0-5"},
          {"Space on a focused button clicks it", false,
           "focus btnCancel|press Space|focus btnOK|press Space",
           "Exit txtDensVal btnCancel|Click btnCancel|Click btnOK"},
          // Row 3 made 300 characters longer: r finds rotor, and again after a pause.
          {"Space and a click on a row's box turn its tick over", true,
           "tick 1|press Space|mouse-box 2|? ticks|mouse-box 2|? ticks|close",
           "Change lboParts|Change lboParts|Change lboParts|ticks 1010|Change lboParts|ticks 1000"},
          {"a long row scrolls sideways; a letter finds a row and ticks nothing", true,
           "widen 3|? scrolls lboParts|char lboParts r|? row lboParts|wait 1100|char lboParts r|"
           "? row lboParts|close",
           "scrolls lboParts 1|row lboParts 2|row lboParts 2"},
      });
});

// The client area, every control's rectangle and font height, in pixels, as
// the layout gives them in points; and each label just before the field it
// names in z-order, where a screen reader looks for the field's name. With
// `movedTo`, after the form was told that its DPI changed to that (a move to
// another monitor): the suggested rectangle taken, the layout at the new DPI.
void CheckGeometry(Check& check, const FormLayout& layout, const std::string& title,
                   const std::vector<std::pair<const char*, const char*>>& labelled, int movedTo = 0) {
  const int dpi = movedTo ? movedTo : PrefixDpi();
  const std::unique_ptr<Toolkit> toolkit = win32::MakeToolkit();
  test::EventLog events;
  const std::unique_ptr<Form> form = toolkit->LoadForm(layout, events);
  form->SetTitle(title);
  const std::string error = ShowAndDrive(
      [&] { form->ShowModal(); },
      [&] {
        const HWND window = ShownForm(title);
        if (movedTo) {
          RECT was{};
          GetWindowRect(window, &was);
          const RECT suggested{was.left + 40, was.top + 30,
                               was.left + 40 + MulDiv(was.right - was.left, dpi, PrefixDpi()),
                               was.top + 30 + MulDiv(was.bottom - was.top, dpi, PrefixDpi())};
          SendMessageW(window, 0x02E0 /* WM_DPICHANGED */, MAKEWPARAM(dpi, dpi),
                       reinterpret_cast<LPARAM>(&suggested));
          RECT now{};
          GetWindowRect(window, &now);
          check.True(EqualRect(&now, &suggested) != FALSE, layout.name + " takes the suggested rectangle");
        } else {
          RECT client{};
          GetClientRect(window, &client);
          check.True(kDpiAware, "DPI-aware");
          check.Equal(client.right, LONG{Px(layout.width)}, layout.name + " client width");
          check.Equal(client.bottom, LONG{Px(layout.height)}, layout.name + " client height");
        }
        for (const ControlLayout& c : layout.controls) {
          const HWND control = ControlWindow(window, layout, c.name);
          RECT r{};
          GetWindowRect(control, &r);
          MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&r), 2);
          check.Equal(r.left, LONG{Px(c.left, dpi)}, c.name + " left");
          check.Equal(r.top, LONG{Px(c.top, dpi)}, c.name + " top");
          // A check box sized to its caption has its own width.
          if (!(c.kind == ControlKind::kCheckBox && c.autoSize))
            check.Equal(r.right - r.left, LONG{Px(c.width, dpi)}, c.name + " width");
          check.Equal(r.bottom - r.top, LONG{Px(c.height, dpi)}, c.name + " height");
          LOGFONTW font{};
          GetObjectW(reinterpret_cast<HGDIOBJ>(SendMessageW(control, WM_GETFONT, 0, 0)), sizeof font, &font);
          check.Equal(font.lfHeight, LONG{-Px(c.font.points, dpi)}, c.name + " font height");
        }
        for (const auto& [label, field] : labelled) {
          const HWND before = GetWindow(ControlWindow(window, layout, field), GW_HWNDPREV);
          check.True(before == ControlWindow(window, layout, label), std::string(label) + " names " + field);
        }
        Close(window);
      });
  check.Equal(error, std::string(), "driver");
}

// Messages sent to one window by this thread, counted while alive.
class SentTo {
 public:
  explicit SentTo(HWND window)
      : hook_(SetWindowsHookExW(WH_CALLWNDPROC, &Count, nullptr, GetCurrentThreadId())) {
    window_ = window;
    count_ = 0;
  }
  ~SentTo() { UnhookWindowsHookEx(hook_); }
  SentTo(const SentTo&) = delete;
  SentTo& operator=(const SentTo&) = delete;
  int count() const { return count_; }

 private:
  static LRESULT CALLBACK Count(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION && reinterpret_cast<const CWPSTRUCT*>(lParam)->hwnd == window_) ++count_;
    return CallNextHookEx(nullptr, code, wParam, lParam);
  }
  static inline HWND window_ = nullptr;
  static inline int count_ = 0;
  HHOOK hook_;
};

// Under Wine each message to the list is a server round trip, and an
// assembly has tens of thousands of parts: filling the list, ticking every
// row from code and reading the ticks back cost a few messages, however
// many rows; the driver (a screen reader's way) still reads each row's text
// and tick through the list's window.
const Test kManyRows("Toolkit.AListOfThousandsOfRowsFillsAndTicksInAFewMessages", [](Check& check) {
  constexpr int kRows = 2000;
  const FormLayout layout = frmPartSelect::Layout(kMakerWebAddress);
  const std::unique_ptr<Toolkit> toolkit = win32::MakeToolkit();
  test::EventLog events;
  const std::unique_ptr<Form> form = toolkit->LoadForm(layout, events);
  form->SetTitle("many rows");
  auto& list = form->CheckList("lboParts");
  std::vector<std::string> rows;
  for (int i = 0; i < kRows; ++i) rows.push_back("part " + std::to_string(i) + ".sldprt");
  std::vector<bool> ticks;
  for (int i = 0; i < kRows; ++i) ticks.push_back(i % 2 == 0);
  {
    const HWND window = FindWindowW(win32::kFormClassName, L"many rows");
    const SentTo sent(ControlWindow(window, layout, "lboParts"));
    list.SetRows(rows);
    for (int i = 0; i < kRows; i += 2) list.SetTicked(i, true);
    bool same = true;
    for (int i = 0; i < kRows; ++i) same = same && list.Ticked(i) == ticks[static_cast<size_t>(i)];
    check.True(same, "the ticks set from code");
    check.True(sent.count() < 20,
               "messages to the list for " + std::to_string(kRows) +
                   " rows filled, half of them ticked and all read: " + std::to_string(sent.count()));
  }
  const std::string error = ShowAndDrive(
      [&] { form->ShowModal(); },
      [&] {
        const HWND window = ShownForm("many rows");
        check.True(Ticks(window, layout, "lboParts") == ticks, "the ticks read through the list's window");
        const std::vector<std::wstring> shown = Rows(window, layout, "lboParts");
        check.True(shown.size() == rows.size() && win32::Narrow(shown.back()) == rows.back(),
                   "the rows read through the list's window");
        Close(window);
      });
  check.Equal(error, std::string(), "driver");
  check.Equal(events.log.size(), size_t{0}, "no change reported for ticks set from code");
});

// A handler that works longer than a message may take (OK writing every
// chosen part) is waited for while its thread works; one whose thread does
// nothing is reported as stuck, with why.
const Test kLongHandlers("UiDriver.WaitsForAHandlerThatWorksAndReportsOneThatIsStuck", [](Check& check) {
  const FormLayout layout = frmPartSelect::Layout(kMakerWebAddress);
  struct Busy final : FormEvents {
    bool idle = false;
    void Click(std::string_view /*control*/) override {
      const ULONGLONG end = GetTickCount64() + kUiMessageTimeoutMs + 1500;
      while (GetTickCount64() < end) {
        if (idle) Sleep(100);
      }
    }
  };
  for (const bool idle : {false, true}) {
    const std::unique_ptr<Toolkit> toolkit = win32::MakeToolkit();
    Busy events;
    events.idle = idle;
    const std::unique_ptr<Form> form = toolkit->LoadForm(layout, events);
    form->SetTitle("long handler");
    std::string clicked;
    const std::string error = ShowAndDrive([&] { form->ShowModal(); },
                                           [&] {
                                             const HWND window = ShownForm("long handler");
                                             try {
                                               Click(window, layout, "cmdSelectAll");
                                               clicked = "answered";
                                             } catch (const UiDriverError& e) {
                                               clicked = e.what();
                                             }
                                             Close(window);
                                           });
    check.Equal(error, std::string(), "driver");
    check.Equal(
        clicked,
        std::string(idle ? "window did not process message 0x00F5 in time: its thread did no work for 5 s"
                         : "answered"),
        idle ? "an idle handler" : "a working handler");
  }
});

// A window destroyed between being found and being asked is gone, not stuck,
// and the driver names the message in hex.
const Test kGone("UiDriver.AWindowDestroyedAfterBeingFoundIsGone", [](Check& check) {
  const HWND window =
      CreateWindowExW(0, L"STATIC", L"gone", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  DestroyWindow(window);
  try {
    Text(window);
    check.True(false, "Text of a destroyed window answered");
  } catch (const WindowGoneError& e) {
    check.Equal(std::string(e.what()), std::string("window gone before message 0x000E"), "the error");
  }
});

const Test kGeometry("Toolkit.FormsAndControlsHaveTheLayoutsSizes", [](Check& check) {
  CheckGeometry(
      check, frmPonderix::Layout(kMakerWebAddress), test::RuleTitle(false),
      {{"lblComMats", "cboComMats"}, {"lblDensVal", "txtDensVal"}, {"lblDensUnits", "cboDensUnits"}});
  CheckGeometry(check, frmPartSelect::Layout(kMakerWebAddress), test::RuleTitle(true),
                {{"lblInstruction", "lboParts"}});
  CheckGeometry(check, frmPonderix::Layout(kMakerWebAddress), test::RuleTitle(false), {}, 192);
  CheckGeometry(check, frmPartSelect::Layout(kMakerWebAddress), test::RuleTitle(true), {}, 120);
});

const Test kPosition("Toolkit.FormPositionCentresOverTheOwnerWithinItsMonitor", [](Check& check) {
  // The primary monitor's work area is 1920 x 1040 at the origin; others lie beside or above it.
  struct Row {
    const char* what;
    RECT over, work;
    int width, height;
    POINT at;
  };
  const Row rows[] = {
      {"on the primary monitor", {100, 100, 1100, 900}, {0, 0, 1920, 1040}, 400, 300, {400, 350}},
      {"owner over the taskbar", {200, 700, 1000, 1100}, {0, 0, 1920, 1040}, 400, 300, {400, 740}},
      {"on a second monitor", {2000, 100, 3000, 900}, {1920, 0, 3840, 1040}, 400, 300, {2300, 350}},
      {"past its edge", {3500, 100, 4200, 600}, {1920, 0, 3840, 1040}, 400, 300, {3440, 200}},
      {"on a monitor to the left", {-1800, 200, -1000, 700}, {-1920, 0, 0, 1050}, 400, 300, {-1600, 300}},
      {"maximised on a monitor above", {-8, -1088, 1928, -32}, {0, -1080, 1920, -40}, 400, 300, {760, -710}},
      {"larger than the work area", {1920, 0, 3840, 1040}, {1920, 0, 3840, 1040}, 2000, 1200, {1920, 0}},
  };
  for (const Row& row : rows) {
    const POINT at = win32::FormPosition(row.over, row.work, row.width, row.height);
    check.True(at.x == row.at.x && at.y == row.at.y, row.what);
  }
});

const Test kOwner("Toolkit.OwnerIsTheHostWindowDisabledWhileShownTheFormOnItsMonitor", [](Check& check) {
  // The host's main window, partly off the screen, and its floating pane, active when the form is loaded;
  // and the frame window a host may name, apart from both.
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  win32::UniqueHwnd owner(CreateWindowExW(0, L"STATIC", L"Host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 700, 600,
                                          1000, 800, nullptr, nullptr, instance, nullptr));
  win32::UniqueHwnd pane(CreateWindowExW(WS_EX_TOOLWINDOW, L"STATIC", L"Pane",
                                         WS_POPUP | WS_CAPTION | WS_VISIBLE, 60, 60, 200, 300, owner.get(),
                                         nullptr, instance, nullptr));
  win32::UniqueHwnd frame(CreateWindowExW(0, L"STATIC", L"Frame", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 20, 40,
                                          900, 700, nullptr, nullptr, instance, nullptr));
  for (const bool named : {false, true}) {
    const std::string way = named ? "named frame: " : "active pane: ";
    const HWND expected = named ? frame.get() : owner.get();
    SetActiveWindow(pane.get());
    win32::ToolkitSystem system;
    if (named) system.hostWindow = [&] { return frame.get(); };
    const std::unique_ptr<win32::NativeToolkit> toolkit = win32::MakeNativeToolkit(system);
    const FormLayout layout = frmPonderix::Layout(kMakerWebAddress);
    test::EventLog events;
    const std::unique_ptr<Form> form = toolkit->LoadForm(layout, events);
    events.form = form.get();
    // Made at its place, not moved there when shown.
    RECT made{};
    GetWindowRect(FindWindowExW(nullptr, nullptr, win32::kFormClassName, win32::Widen(layout.title).c_str()),
                  &made);
    bool enabledWhileShown = true;
    HWND formOwner = nullptr, boxOwner = nullptr;
    RECT formRect{};
    RECT client{};
    std::string error = ShowAndDrive([&] { form->ShowModal(); },
                                     [&] {
                                       const HWND window = ShownForm(layout.title);
                                       enabledWhileShown = IsWindowEnabled(expected) != FALSE;
                                       formOwner = GetWindow(window, GW_OWNER);
                                       GetWindowRect(window, &formRect);
                                       GetClientRect(window, &client);
                                       Click(window, layout, "btnOK");
                                     });
    error += ShowAndDrive([&] { toolkit->ShowFailureBox("failed"); },
                          [&] {
                            const HWND box = WaitForMessageBox(kWaitMs);
                            if (!box) throw UiDriverError("no message box");
                            boxOwner = GetWindow(box, GW_OWNER);
                            PressOk(box);
                          });
    check.Equal(error, std::string(), way + "driver");
    check.True(formOwner == expected, way + "the form is owned by the host's window, not its pane");
    check.True(boxOwner == expected, way + "the box is owned by the host's window, not its pane");
    check.Equal(client.right, LONG{Px(layout.width)}, way + "laid out at the owner's DPI");
    check.True(!enabledWhileShown, way + "the owner takes no input during the show");
    check.True(IsWindowEnabled(expected) != FALSE, way + "the owner is enabled again afterwards");
    RECT ownerRect{};
    GetWindowRect(expected, &ownerRect);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(MonitorFromWindow(expected, MONITOR_DEFAULTTONEAREST), &monitor);
    const POINT at = win32::FormPosition(ownerRect, monitor.rcWork, formRect.right - formRect.left,
                                         formRect.bottom - formRect.top);
    check.True(formRect.left == at.x && formRect.top == at.y,
               way + "centred over the owner within its monitor");
    check.True(EqualRect(&made, &formRect) != FALSE, way + "made where it is shown");
  }
});

const Test kLists("Toolkit.OpenListsShowTheirEntriesInTheirColoursOrHighContrasts", [](Check& check) {
  // Steel's light cyan and the link's blue are ours; high contrast gives the user's palette instead.
  const struct {
    bool on;
    COLORREF materialsBack, linkText;
  } rows[] = {
      {false, RGB(192, 255, 255), RGB(0, 0, 255)},
      {true, GetSysColor(COLOR_WINDOW), GetSysColor(COLOR_HOTLIGHT)},
  };
  const FormLayout layout = frmPonderix::Layout(kMakerWebAddress);
  std::vector<std::wstring> materials, units;
  for (const auto& mat : kComMats) materials.push_back(win32::Widen(std::string(mat.name)));
  for (const auto name : kDensUnitNames) units.push_back(win32::Widen(std::string(name)));
  for (const auto& row : rows) {
    win32::ToolkitSystem system;
    system.highContrast = [&] { return row.on; };
    const std::unique_ptr<Toolkit> toolkit = win32::MakeNativeToolkit(system);
    test::EventLog events;
    const std::unique_ptr<Form> form = toolkit->LoadForm(layout, events);
    for (size_t i = 0; i < materials.size(); ++i)
      form->DropDown("cboComMats").AddItem(win32::Narrow(materials[i]), static_cast<int>(i));
    for (size_t i = 0; i < units.size(); ++i)
      form->DropDown("cboDensUnits").AddItem(win32::Narrow(units[i]), static_cast<int>(i));
    form->DropDown("cboComMats").SetBackColour(Colour::Rgb(192, 255, 255));
    const std::string what = row.on ? "high contrast: " : "normal: ";
    const std::string error = ShowAndDrive(
        [&] { form->ShowModal(); },
        [&] {
          const HWND window = ShownForm(layout.title);
          for (const char* list : {"cboComMats", "cboDensUnits"}) {
            const bool isMaterials = std::string(list) == "cboComMats";
            const HWND dropped = ShowList(window, layout, list, true);
            const PaintColours colours = Colours(window, layout, list);
            check.True(IsWindowVisible(dropped) != FALSE, what + list + " open");
            check.True(Items(window, layout, list) == (isMaterials ? materials : units),
                       what + list + " entries");
            check.Equal(colours.text, GetSysColor(COLOR_WINDOWTEXT), what + list + " text");
            check.Equal(colours.back, isMaterials ? row.materialsBack : GetSysColor(COLOR_WINDOW),
                        what + list + " background");
            ShowList(window, layout, list, false);
          }
          check.Equal(Colours(window, layout, "lblWebLink").text, row.linkText, what + "link text");
          Close(window);
        });
    check.Equal(error, std::string(), what + "driver");
  }
});

const Test kMessageBox("Toolkit.MessageBoxClockAndLocale", [](Check& check) {
  const std::unique_ptr<win32::NativeToolkit> toolkit = win32::MakeNativeToolkit();
  // The result box stays plain; only a failure shows the error icon.
  const struct {
    const char* what;
    void (*show)(win32::NativeToolkit&, const std::string&);
    const char* icon;
  } boxes[] = {
      {"result", [](win32::NativeToolkit& t, const std::string& s) { t.ShowMessageBox(s); }, ""},
      {"failure", [](win32::NativeToolkit& t, const std::string& s) { t.ShowFailureBox(s); }, "error"},
  };
  for (const auto& row : boxes) {
    std::wstring caption, text;
    std::vector<std::wstring> buttons;
    std::string icon = "?";
    const std::string error = ShowAndDrive([&] { row.show(*toolkit, "Part density set to  7.871 g/cm^3"); },
                                           [&] {
                                             const HWND box = WaitForMessageBox(kWaitMs);
                                             if (!box) throw UiDriverError("no message box");
                                             caption = Text(box);
                                             text = MessageText(box);
                                             buttons = MessageButtons(box);
                                             icon = MessageIcon(box);
                                             PressOk(box);
                                           });
    const std::string what = std::string(row.what) + " box ";
    check.Equal(error, std::string(), what + "driver");
    check.Equal(caption, std::wstring(L"PonderixKorvanis"), what + "caption");
    check.Equal(text, std::wstring(L"Part density set to  7.871 g/cm^3"), what + "text");
    check.True(buttons == std::vector<std::wstring>{L"OK"}, what + "only OK");
    check.Equal(icon, std::string(row.icon), what + "icon");
  }

  const double start = toolkit->Seconds();
  Sleep(50);
  toolkit->ProcessPendingEvents();
  check.True(toolkit->Seconds() > start, "the clock moves");
  win32::TickClock clock(0xFFFFFC18u);  // one second before the tick count wraps
  check.True(clock.Seconds(1000) == 2.0, "the clock goes on across the tick count's wrap");
  const std::string separator = toolkit->DecimalSeparator();
  check.True(separator == "." || separator == ",", "decimal separator " + separator);
});

void CALLBACK QuitNow(HWND /*unused*/, UINT /*unused*/, UINT_PTR /*unused*/, DWORD /*unused*/) {
  PostQuitMessage(0);
}

// A driver that fails before the form comes up (the add-in still busy
// preparing it) closes it when it does, so the show ends rather than waits
// for a driver that is gone; a WM_QUIT after 10 s is the last resort.
const Test kDriverGone("Toolkit.AFailedDriverClosesWhatIsShownAfterwards", [](Check& check) {
  const std::unique_ptr<Toolkit> toolkit = win32::MakeToolkit();
  const FormLayout layout = frmPonderix::Layout(kMakerWebAddress);
  test::EventLog events;
  const std::unique_ptr<Form> form = toolkit->LoadForm(layout, events);
  events.form = form.get();
  ShowEnd end = ShowEnd::kQuit;
  const UINT_PTR lastResort = SetTimer(nullptr, 0, kWaitMs, &QuitNow);
  const std::string error = ShowAndDrive(
      [&] {
        Sleep(300);
        end = form->ShowModal();
      },
      [] { throw UiDriverError("the driver failed"); });
  KillTimer(nullptr, lastResort);
  MSG quit{};
  PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
  check.Equal(error, std::string("the driver failed"), "driver");
  check.True(end == ShowEnd::kHidden, "the form shown after the failure was closed");
});

}  // namespace
}  // namespace ponderix::wintest
