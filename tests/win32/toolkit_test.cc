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

int Px(double points) {
  const char* dpi = std::getenv("PONDERIX_DPI");
  return static_cast<int>(std::lround(points * (dpi ? std::atoi(dpi) : 96) / 72));
}

HWND ShownForm(const std::string& title) {
  const HWND form = WaitForForm(win32::Widen(title), kWaitMs);
  if (!form) throw UiDriverError("the form " + title + " did not appear");
  return form;
}

// A real press and release of the left button over `control`.
void MouseClick(HWND control) {
  RECT rect{};
  GetWindowRect(control, &rect);
  // Absolute positions run from 0 to 65535 across the primary screen.
  const LONG x = ((rect.left + rect.right) / 2) * 65535 / (GetSystemMetrics(SM_CXSCREEN) - 1);
  const LONG y = ((rect.top + rect.bottom) / 2) * 65535 / (GetSystemMetrics(SM_CYSCREEN) - 1);
  INPUT clicks[3] = {};
  const DWORD flags[3] = {0, MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP};
  for (int i = 0; i < 3; ++i) {
    clicks[i].type = INPUT_MOUSE;
    clicks[i].mi = {x, y, 0, flags[i] | MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE, 0, 0};
  }
  if (SendInput(3, clicks, sizeof(INPUT)) != 3) throw UiDriverError("SendInput failed");
}

// One line of the show, from the driver's thread. Besides the shared lines:
// "mouse C" (a real click), "key A" (any letter), "char C X" (a typed
// character), "wait MS", "quit N" (WM_QUIT), and the questions "? selection C",
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
          // Row 3 made 300 characters longer: r finds rotor, and again after a pause.
          {"a long row scrolls sideways; a letter finds a row and ticks nothing", true,
           "widen 3|? scrolls lboParts|char lboParts r|? row lboParts|wait 1100|char lboParts r|"
           "? row lboParts|close",
           "scrolls lboParts 1|row lboParts 2|row lboParts 2"},
      });
});

// The client area, every control's rectangle and font height, in pixels, as the layout gives them in points.
void CheckGeometry(Check& check, const FormLayout& layout, const std::string& title) {
  const std::unique_ptr<Toolkit> toolkit = win32::MakeToolkit();
  test::EventLog events;
  const std::unique_ptr<Form> form = toolkit->LoadForm(layout, events);
  form->SetTitle(title);
  const std::string error = ShowAndDrive(
      [&] { form->ShowModal(); },
      [&] {
        const HWND window = ShownForm(title);
        RECT client{};
        GetClientRect(window, &client);
        check.True(kDpiAware, "DPI-aware");
        check.Equal(client.right, LONG{Px(layout.width)}, layout.name + " client width");
        check.Equal(client.bottom, LONG{Px(layout.height)}, layout.name + " client height");
        for (const ControlLayout& c : layout.controls) {
          const HWND control = ControlWindow(window, layout, c.name);
          RECT r{};
          GetWindowRect(control, &r);
          MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&r), 2);
          check.Equal(r.left, LONG{Px(c.left)}, c.name + " left");
          check.Equal(r.top, LONG{Px(c.top)}, c.name + " top");
          // A check box sized to its caption has its own width.
          if (!(c.kind == ControlKind::kCheckBox && c.autoSize))
            check.Equal(r.right - r.left, LONG{Px(c.width)}, c.name + " width");
          check.Equal(r.bottom - r.top, LONG{Px(c.height)}, c.name + " height");
          LOGFONTW font{};
          GetObjectW(reinterpret_cast<HGDIOBJ>(SendMessageW(control, WM_GETFONT, 0, 0)), sizeof font, &font);
          check.Equal(font.lfHeight, LONG{-Px(c.font.points)}, c.name + " font height");
        }
        Close(window);
      });
  check.Equal(error, std::string(), "driver");
}

const Test kGeometry("Toolkit.FormsAndControlsHaveTheLayoutsSizes", [](Check& check) {
  CheckGeometry(check, frmPonderix::Layout(kMakerWebAddress), test::RuleTitle(false));
  CheckGeometry(check, frmPartSelect::Layout(kMakerWebAddress), test::RuleTitle(true));
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
  // The host's main window, partly off the screen, and its floating pane, active when the form is loaded.
  win32::UniqueHwnd owner(CreateWindowExW(0, L"STATIC", L"Host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 700, 600,
                                          1000, 800, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr));
  win32::UniqueHwnd pane(CreateWindowExW(WS_EX_TOOLWINDOW, L"STATIC", L"Pane",
                                         WS_POPUP | WS_CAPTION | WS_VISIBLE, 60, 60, 200, 300, owner.get(),
                                         nullptr, GetModuleHandleW(nullptr), nullptr));
  SetActiveWindow(pane.get());
  const std::unique_ptr<Toolkit> toolkit = win32::MakeToolkit();
  const FormLayout layout = frmPonderix::Layout(kMakerWebAddress);
  test::EventLog events;
  const std::unique_ptr<Form> form = toolkit->LoadForm(layout, events);
  events.form = form.get();
  bool enabledWhileShown = true;
  HWND formOwner = nullptr;
  RECT formRect{};
  RECT client{};
  const std::string error = ShowAndDrive([&] { form->ShowModal(); },
                                         [&] {
                                           const HWND window = ShownForm(layout.title);
                                           enabledWhileShown = IsWindowEnabled(owner.get()) != FALSE;
                                           formOwner = GetWindow(window, GW_OWNER);
                                           GetWindowRect(window, &formRect);
                                           GetClientRect(window, &client);
                                           Click(window, layout, "btnOK");
                                         });
  check.Equal(error, std::string(), "driver");
  check.True(formOwner == owner.get(), "owned by the host's window, not its pane");
  check.Equal(client.right, LONG{Px(layout.width)}, "laid out at the owner's DPI");
  check.True(!enabledWhileShown, "the owner takes no input during the show");
  check.True(IsWindowEnabled(owner.get()) != FALSE, "the owner is enabled again afterwards");
  RECT ownerRect{};
  GetWindowRect(owner.get(), &ownerRect);
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  GetMonitorInfoW(MonitorFromWindow(owner.get(), MONITOR_DEFAULTTONEAREST), &monitor);
  const POINT at = win32::FormPosition(ownerRect, monitor.rcWork, formRect.right - formRect.left,
                                       formRect.bottom - formRect.top);
  check.True(formRect.left == at.x && formRect.top == at.y, "centred over the owner within its monitor");
});

const Test kMessageBox("Toolkit.MessageBoxClockAndLocale", [](Check& check) {
  const std::unique_ptr<Toolkit> toolkit = win32::MakeToolkit();
  std::wstring caption, text;
  std::vector<std::wstring> buttons;
  const std::string error =
      ShowAndDrive([&] { toolkit->ShowMessageBox("Part density set to  7.871 g/cm^3"); },
                   [&] {
                     const HWND box = WaitForMessageBox(kWaitMs);
                     if (!box) throw UiDriverError("no message box");
                     caption = Text(box);
                     text = MessageText(box);
                     buttons = MessageButtons(box);
                     PressOk(box);
                   });
  check.Equal(error, std::string(), "driver");
  check.Equal(caption, std::wstring(L"PonderixKorvanis"), "caption");
  check.Equal(text, std::wstring(L"Part density set to  7.871 g/cm^3"), "text");
  check.True(buttons == std::vector<std::wstring>{L"OK"}, "only OK");

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
