// The native dialog toolkit under Wine: both real layouts are loaded through
// MakeToolkit, shown modally on this thread and driven from a second one, and
// the events that reach the dialog's handlers are checked against the rules
// of the toolkit contract. Needs a display (Xvfb). The process is DPI-aware,
// as modern hosts are; the forms are expected at PONDERIX_DPI dots per inch
// (the Wine prefix's LogPixels), 96 without it.
#include <windows.h>

#include <commctrl.h>

#include <cmath>
#include <cstdlib>
#include <exception>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "density/density_model.h"
#include "density/frm_ponderix.h"
#include "harness.h"
#include "partselect/frm_part_select.h"
#include "run/ponderix1.h"
#include "win32/owners.h"
#include "win32/platform.h"
#include "win32/tick_clock.h"
#include "win32/win32_toolkit.h"
#include "winsim/ui_driver.h"

namespace ponderix::wintest {
namespace {

constexpr int kWaitMs = 10000;

const bool kDpiAware = SetProcessDPIAware() != FALSE;

int ExpectedDpi() {
  const char* dpi = std::getenv("PONDERIX_DPI");
  return dpi ? std::atoi(dpi) : 96;
}

// Records every event as "Kind control [key shift]"; can hide the form or
// throw on a click, as the dialogs' handlers do.
class Recorder final : public FormEvents {
 public:
  void Click(std::string_view control) override {
    log.push_back("Click " + std::string(control));
    if (control == throwOn) throw std::runtime_error("handler of " + std::string(control) + " failed");
    for (const auto& name : hideOn) {
      if (control == name && form) form->Hide();
    }
  }
  void Change(std::string_view control) override { log.push_back("Change " + std::string(control)); }
  void Exit(std::string_view control, std::string_view next, bool& cancel) override {
    log.push_back("Exit " + std::string(control) + " " + std::string(next));
    if (refuseExits > 0) {
      --refuseExits;
      cancel = true;
    }
  }
  void KeyDown(std::string_view control, int keyCode, int shift) override {
    log.push_back("KeyDown " + std::string(control) + " " + std::to_string(keyCode) + " " +
                  std::to_string(shift));
  }

  std::vector<std::string> log;
  std::vector<std::string> hideOn;
  std::string throwOn;
  int refuseExits = 0;
  Form* form = nullptr;
};

// Shows `form` modally on this thread while `drive` acts on it from the driver's.
std::string ShowDriven(Form& form, const std::function<void()>& drive) {
  return ShowAndDrive([&] { form.ShowModal(); }, drive);
}

struct DensityForm {
  DensityForm() : layout(frmPonderix::Layout(kMakerWebAddress)) {
    form = toolkit->LoadForm(layout, events);
    events.form = form.get();
    auto& mats = form->DropDown("cboComMats");
    int i = 0;
    for (const auto& mat : kComMats) mats.AddItem(std::string(mat.name), i++);
    auto& units = form->DropDown("cboDensUnits");
    i = 0;
    for (const auto name : kDensUnitNames) units.AddItem(std::string(name), i++);
    mats.SetListIndex(0);
    units.SetListIndex(1);
    form->TextBox("txtDensVal").SetText("7.871");
    events.log.clear();
  }
  std::unique_ptr<Toolkit> toolkit = win32::MakeToolkit();
  FormLayout layout;
  Recorder events;
  std::unique_ptr<Form> form;
};

struct PartForm {
  PartForm() : layout(frmPartSelect::Layout(kMakerWebAddress)) {
    form = toolkit->LoadForm(layout, events);
    events.form = form.get();
    form->SetTitle("pump.sldasm");
    auto& list = form->CheckList("lboParts");
    list.SetFocus();
    list.SetRows({"bolt.sldprt", "housing.sldprt", "rotor.sldprt", "washer.sldprt"});
    list.SetTicked(0, true);
    form->TextBox("txtU").SetText("5");
  }
  std::unique_ptr<Toolkit> toolkit = win32::MakeToolkit();
  FormLayout layout;
  Recorder events;
  std::unique_ptr<Form> form;
};

using Log = std::vector<std::string>;

std::string Join(const Log& log) {
  std::string text;
  for (const auto& entry : log) text += (text.empty() ? "" : ", ") + entry;
  return "[" + text + "]";
}

const Test kExitBeforeClick("Toolkit.TextBoxExitRunsBeforeTheButtonsClick", [](Check& check) {
  DensityForm d;
  d.events.hideOn = {"btnOK"};
  std::wstring typed;
  const std::string error = ShowDriven(*d.form, [&] {
    const HWND form = WaitForForm(L"Ponderix by Korvanis", kWaitMs);
    if (!form) throw UiDriverError("the density dialog did not appear");
    Focus(form, d.layout, "txtDensVal");
    Type(form, d.layout, "txtDensVal", L"7.85");
    typed = Text(form, d.layout, "txtDensVal");
    Click(form, d.layout, "btnOK");
  });
  check.Equal(error, std::string(), "driver");
  check.Equal(typed, std::wstring(L"7.85"), "typed text");
  check.Equal(Join(d.events.log), Join({"Exit txtDensVal btnOK", "Click btnOK"}), "events");
  check.Equal(d.form->TextBox("txtDensVal").Text(), std::string("7.85"), "text read through the contract");
});

const Test kRealMouseClick("Toolkit.RealMouseClickAlsoExitsFirst", [](Check& check) {
  DensityForm d;
  d.events.hideOn = {"btnOK"};
  const std::string error = ShowDriven(*d.form, [&] {
    const HWND form = WaitForForm(L"Ponderix by Korvanis", kWaitMs);
    if (!form) throw UiDriverError("the density dialog did not appear");
    Focus(form, d.layout, "txtDensVal");
    RECT rect{};
    GetWindowRect(ControlWindow(form, d.layout, "btnOK"), &rect);
    // Absolute positions run from 0 to 65535 across the primary screen.
    const LONG x = ((rect.left + rect.right) / 2) * 65535 / (GetSystemMetrics(SM_CXSCREEN) - 1);
    const LONG y = ((rect.top + rect.bottom) / 2) * 65535 / (GetSystemMetrics(SM_CYSCREEN) - 1);
    INPUT clicks[3] = {};
    for (auto& input : clicks) {
      input.type = INPUT_MOUSE;
      input.mi.dx = x;
      input.mi.dy = y;
    }
    clicks[0].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    clicks[1].mi.dwFlags = MOUSEEVENTF_LEFTDOWN | MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    clicks[2].mi.dwFlags = MOUSEEVENTF_LEFTUP | MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    if (SendInput(3, clicks, sizeof(INPUT)) != 3) throw UiDriverError("SendInput failed");
    if (!WaitUntilHidden(form, kWaitMs)) throw UiDriverError("the click did not reach OK");
  });
  check.Equal(error, std::string(), "driver");
  check.Equal(Join(d.events.log), Join({"Exit txtDensVal btnOK", "Click btnOK"}), "events");
});

// A refused Exit keeps the focus in the box with its text selected; the
// press on OK (BM_CLICK presses and releases) and the pick are dropped.
const Test kRefusedExit("Toolkit.RefusedExitKeepsTheFocusAndDropsTheClick", [](Check& check) {
  DensityForm d;
  d.events.hideOn = {"btnOK"};
  d.events.refuseExits = 2;
  std::vector<std::string> after;  // focus, selection, shown and unit after each refused action
  const std::string error = ShowDriven(*d.form, [&] {
    const HWND form = WaitForForm(L"Ponderix by Korvanis", kWaitMs);
    if (!form) throw UiDriverError("the density dialog did not appear");
    Focus(form, d.layout, "txtDensVal");
    Type(form, d.layout, "txtDensVal", L"8,9");
    const auto note = [&] {
      DWORD start = 9, end = 9;
      SendMessageW(ControlWindow(form, d.layout, "txtDensVal"), EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                   reinterpret_cast<LPARAM>(&end));
      after.push_back(FocusedControl(form, d.layout) + " " + std::to_string(start) + "-" +
                      std::to_string(end) + (IsWindowVisible(form) ? " shown" : " hidden") + " unit " +
                      std::to_string(ListIndex(form, d.layout, "cboDensUnits")));
    };
    Click(form, d.layout, "btnOK");
    note();
    Pick(form, d.layout, "cboDensUnits", 4);
    note();
    Click(form, d.layout, "btnOK");
    if (!WaitUntilHidden(form, kWaitMs)) throw UiDriverError("OK did not end the show");
  });
  check.Equal(error, std::string(), "driver");
  const std::string kept = "txtDensVal 0-3 shown unit 1";
  check.Equal(Join(after), Join({kept, kept}), "after each refused action");
  check.Equal(
      Join(d.events.log),
      Join({"Exit txtDensVal btnOK", "Exit txtDensVal cboDensUnits", "Exit txtDensVal btnOK", "Click btnOK"}),
      "events");
});

const Test kListChange("Toolkit.DropDownChangeOnlyForRealChanges", [](Check& check) {
  DensityForm d;
  auto& mats = d.form->DropDown("cboComMats");
  mats.SetListIndex(2);
  check.Equal(Join(d.events.log), Join({"Change cboComMats"}), "a change from code is reported once");
  mats.SetListIndex(2);
  check.Equal(d.events.log.size(), size_t{1}, "the same index again is no change");
  mats.SetBackColour(Colour::Rgb(224, 224, 224));
  d.events.log.clear();
  int shown = -1;
  const std::string error = ShowDriven(*d.form, [&] {
    const HWND form = WaitForForm(L"Ponderix by Korvanis", kWaitMs);
    if (!form) throw UiDriverError("the density dialog did not appear");
    Focus(form, d.layout, "txtDensVal");
    Pick(form, d.layout, "cboComMats", 2);  // already selected: nothing
    Focus(form, d.layout, "txtDensVal");
    Pick(form, d.layout, "cboComMats", 3);
    shown = ListIndex(form, d.layout, "cboComMats");
    Close(form);
  });
  check.Equal(error, std::string(), "driver");
  check.Equal(shown, 3, "picked item");
  check.Equal(mats.ListIndex(), 3, "index read through the contract");
  check.Equal(Join(d.events.log),
              Join({"Exit txtDensVal cboComMats", "Exit txtDensVal cboComMats", "Change cboComMats"}),
              "the box is left first; only the real pick is a change");
});

const Test kKeys("Toolkit.TabOrderAndKeysWithoutDefaultButtons", [](Check& check) {
  DensityForm d;
  std::vector<std::string> focus;
  bool shownAfterKeys = false;
  const std::string error = ShowDriven(*d.form, [&] {
    const HWND form = WaitForForm(L"Ponderix by Korvanis", kWaitMs);
    if (!form) throw UiDriverError("the density dialog did not appear");
    focus.push_back(FocusedControl(form, d.layout));  // the first tab stop
    for (int i = 0; i < 3; ++i) {
      Key(form, VK_TAB);
      focus.push_back(FocusedControl(form, d.layout));
    }
    Key(form, d.layout, "txtDensVal", VK_RETURN);
    Key(form, d.layout, "txtDensVal", VK_ESCAPE);
    Key(form, d.layout, "txtDensVal", 'A');
    Focus(form, d.layout, "btnOK");
    Key(form, VK_RETURN);
    Key(form, VK_ESCAPE);
    Focus(form, d.layout, "btnCancel");
    Key(form, VK_RETURN);
    Key(form, VK_ESCAPE);
    shownAfterKeys = IsWindowVisible(form) != FALSE;
    Close(form);
  });
  check.Equal(error, std::string(), "driver");
  check.Equal(Join(focus), Join({"txtDensVal", "btnOK", "btnCancel", "txtDensVal"}), "tab order");
  check.True(shownAfterKeys, "Enter and Esc leave the form open");
  check.Equal(Join(d.events.log),
              Join({"KeyDown txtDensVal 9 0", "Exit txtDensVal btnOK", "KeyDown txtDensVal 13 0",
                    "KeyDown txtDensVal 27 0", "KeyDown txtDensVal 65 0", "Exit txtDensVal btnOK"}),
              "events: Enter and Esc click nothing");
});

const Test kCloseBox("Toolkit.CloseBoxEndsTheShowWithoutEvents", [](Check& check) {
  PartForm p;
  HWND window = nullptr;
  bool closedHidden = false;
  const std::string error = ShowDriven(*p.form, [&] {
    window = WaitForForm(L"pump.sldasm", kWaitMs);
    if (!window) throw UiDriverError("the part selection dialog did not appear");
    Close(window);
    closedHidden = WaitUntilHidden(window, kWaitMs);
  });
  check.Equal(error, std::string(), "driver");
  check.True(closedHidden, "hidden by the close box");
  check.Equal(Join(p.events.log), Join({}), "no handler ran");
  check.True(IsWindow(window) != FALSE, "still loaded after the close box");
  p.form.reset();
  check.True(IsWindow(window) == FALSE, "unloading destroys the window");
});

const Test kPartList("Toolkit.CheckListTicksAndHiddenControls", [](Check& check) {
  PartForm p;
  p.events.hideOn = {"cmdOK"};
  check.Equal(Join(p.events.log), Join({}), "ticks set from code raise nothing");
  std::vector<std::wstring> rows;
  std::vector<bool> ticksAtStart;
  std::vector<bool> hidden;
  std::wstring caption;
  std::string focusAtStart;
  bool nameStyle = false;
  const std::string error = ShowDriven(*p.form, [&] {
    const HWND form = WaitForForm(L"pump.sldasm", kWaitMs);
    if (!form) throw UiDriverError("the part selection dialog did not appear");
    focusAtStart = FocusedControl(form, p.layout);
    rows = Rows(form, p.layout, "lboParts");
    ticksAtStart = Ticks(form, p.layout, "lboParts");
    hidden = {Visible(form, p.layout, "txtU"), Enabled(form, p.layout, "txtU"),
              Visible(form, p.layout, "cmdBreak"), Enabled(form, p.layout, "cmdBreak"),
              Visible(form, p.layout, "lblJan")};
    Tick(form, p.layout, 2, true);
    Tick(form, p.layout, "lboParts", 0, false);
    Click(form, p.layout, "chkNameStyle");
    nameStyle = Checked(form, p.layout, "chkNameStyle");
    caption = Text(form, p.layout, "lblJan");
    Click(form, p.layout, "lblWebLink");
    Click(form, p.layout, "cmdOK");
  });
  check.Equal(error, std::string(), "driver");
  check.Equal(focusAtStart, std::string("lboParts"), "focus given before the show");
  check.True(
      rows == std::vector<std::wstring>{L"bolt.sldprt", L"housing.sldprt", L"rotor.sldprt", L"washer.sldprt"},
      "rows");
  check.True(ticksAtStart == std::vector<bool>{true, false, false, false}, "ticks at start");
  check.True(hidden == std::vector<bool>{false, false, false, false, true}, "hidden and disabled controls");
  check.True(nameStyle, "check box ticked");
  check.Equal(caption, std::wstring(L"Coming January 2004:"), "label caption");
  check.Equal(
      Join(p.events.log),
      Join({"Change lboParts", "Change lboParts", "Change chkNameStyle", "Click lblWebLink", "Click cmdOK"}),
      "events");
  auto& list = p.form->CheckList("lboParts");
  check.True(!list.Ticked(0) && !list.Ticked(1) && list.Ticked(2) && !list.Ticked(3), "ticks read back");
  check.True(p.form->CheckBox("chkNameStyle").Value(), "check box read back");
  check.Equal(list.Rows().size(), size_t{4}, "rows read back");
});

const Test kLongRows("Toolkit.CheckListScrollsSidewaysAndFindsRowsByLetter", [](Check& check) {
  PartForm p;
  const std::string longPath = "C:\\" + std::string(300, 'x') + "\\rotor.sldprt";
  p.form->CheckList("lboParts").SetRows({"bolt.sldprt", "housing.sldprt", longPath, "rotor.sldprt"});
  bool sideways = false;
  LRESULT afterR = -1;
  LRESULT afterSecondR = -1;
  const std::string error = ShowDriven(*p.form, [&] {
    const HWND form = WaitForForm(L"pump.sldasm", kWaitMs);
    if (!form) throw UiDriverError("the part selection dialog did not appear");
    const HWND list = ControlWindow(form, p.layout, "lboParts");
    sideways = (GetWindowLongW(list, GWL_STYLE) & WS_HSCROLL) != 0;
    DWORD_PTR result = 0;
    SendMessageTimeoutW(list, WM_CHAR, L'r', 1, SMTO_NORMAL, kUiMessageTimeoutMs, &result);
    afterR = SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED);
    Sleep(1100);  // a new search, not "rr"
    SendMessageTimeoutW(list, WM_CHAR, L'r', 1, SMTO_NORMAL, kUiMessageTimeoutMs, &result);
    afterSecondR = SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED);
    Close(form);
  });
  check.Equal(error, std::string(), "driver");
  check.True(sideways, "a long row gives a horizontal scroll bar");
  check.Equal(afterR, LRESULT{3}, "r finds rotor.sldprt");
  check.Equal(afterSecondR, LRESULT{3}, "r again stays on the only row starting with r");
  check.Equal(Join(p.events.log), Join({}), "moving through the rows ticks nothing");
});

int Px(double points) { return static_cast<int>(std::lround(points * ExpectedDpi() / 72)); }

// The client area, every control's rectangle and font height, in pixels, as the form shows them.
struct Geometry {
  SIZE client{};
  std::vector<RECT> controls;
  std::vector<LONG> fontHeights;
};

Geometry Measure(HWND form, const FormLayout& layout) {
  Geometry g;
  RECT client{};
  GetClientRect(form, &client);
  g.client = {client.right, client.bottom};
  for (const auto& c : layout.controls) {
    RECT rect{};
    GetWindowRect(ControlWindow(form, layout, c.name), &rect);
    MapWindowPoints(nullptr, form, reinterpret_cast<POINT*>(&rect), 2);
    g.controls.push_back(rect);
    LOGFONTW font{};
    GetObjectW(reinterpret_cast<HGDIOBJ>(SendMessageW(ControlWindow(form, layout, c.name), WM_GETFONT, 0, 0)),
               sizeof font, &font);
    g.fontHeights.push_back(font.lfHeight);
  }
  return g;
}

void CheckGeometry(Check& check, const FormLayout& layout, const Geometry& g) {
  check.True(kDpiAware, "DPI-aware");
  check.Equal(g.client.cx, Px(layout.width), layout.name + " client width");
  check.Equal(g.client.cy, Px(layout.height), layout.name + " client height");
  for (size_t i = 0; i < g.controls.size() && i < layout.controls.size(); ++i) {
    const ControlLayout& c = layout.controls[i];
    const RECT& r = g.controls[i];
    check.Equal(r.left, LONG{Px(c.left)}, c.name + " left");
    check.Equal(r.top, LONG{Px(c.top)}, c.name + " top");
    // A check box sized to its caption has its own width.
    if (!(c.kind == ControlKind::kCheckBox && c.autoSize)) {
      check.Equal(r.right - r.left, LONG{Px(c.width)}, c.name + " width");
    }
    check.Equal(r.bottom - r.top, LONG{Px(c.height)}, c.name + " height");
    check.Equal(g.fontHeights[i], LONG{-Px(c.font.points)}, c.name + " font height");
  }
}

const Test kGeometry("Toolkit.FormsAndControlsHaveTheLayoutsSizes", [](Check& check) {
  DensityForm d;
  Geometry density;
  std::string error = ShowDriven(*d.form, [&] {
    const HWND form = WaitForForm(L"Ponderix by Korvanis", kWaitMs);
    if (!form) throw UiDriverError("the density dialog did not appear");
    density = Measure(form, d.layout);
    Close(form);
  });
  check.Equal(error, std::string(), "driver");
  CheckGeometry(check, d.layout, density);

  PartForm p;
  Geometry parts;
  error = ShowDriven(*p.form, [&] {
    const HWND form = WaitForForm(L"pump.sldasm", kWaitMs);
    if (!form) throw UiDriverError("the part selection dialog did not appear");
    parts = Measure(form, p.layout);
    Close(form);
  });
  check.Equal(error, std::string(), "driver");
  CheckGeometry(check, p.layout, parts);
});

const Test kPosition("Toolkit.FormPositionCentresOverTheOwnerWithinItsMonitor", [](Check& check) {
  // The primary monitor's work area is 1920 x 1040 at the origin; others lie beside or above it.
  struct Row {
    const char* what;
    RECT over;
    RECT work;
    int width, height;
    POINT at;
  };
  const Row rows[] = {
      {"on the primary monitor", {100, 100, 1100, 900}, {0, 0, 1920, 1040}, 400, 300, {400, 350}},
      {"owner over the taskbar", {200, 700, 1000, 1100}, {0, 0, 1920, 1040}, 400, 300, {400, 740}},
      {"on a second monitor to the right",
       {2000, 100, 3000, 900},
       {1920, 0, 3840, 1040},
       400,
       300,
       {2300, 350}},
      {"past the second monitor's edge",
       {3500, 100, 4200, 600},
       {1920, 0, 3840, 1040},
       400,
       300,
       {3440, 200}},
      {"on a monitor to the left", {-1800, 200, -1000, 700}, {-1920, 0, 0, 1050}, 400, 300, {-1600, 300}},
      {"maximised on a monitor above", {-8, -1088, 1928, -32}, {0, -1080, 1920, -40}, 400, 300, {760, -710}},
      {"larger than the work area", {1920, 0, 3840, 1040}, {1920, 0, 3840, 1040}, 2000, 1200, {1920, 0}},
  };
  for (const Row& row : rows) {
    const POINT at = win32::FormPosition(row.over, row.work, row.width, row.height);
    check.Equal(at.x, row.at.x, std::string(row.what) + ": left");
    check.Equal(at.y, row.at.y, std::string(row.what) + ": top");
  }
});

const Test kOwner("Toolkit.OwnerIsTheHostWindowDisabledWhileShownTheFormOnItsMonitor", [](Check& check) {
  // The host's main window, partly off the screen, and its floating pane, which is active when the form is
  // loaded.
  win32::UniqueHwnd owner(CreateWindowExW(0, L"STATIC", L"Host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 700, 600,
                                          1000, 800, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr));
  win32::UniqueHwnd pane(CreateWindowExW(WS_EX_TOOLWINDOW, L"STATIC", L"Pane",
                                         WS_POPUP | WS_CAPTION | WS_VISIBLE, 60, 60, 200, 300, owner.get(),
                                         nullptr, GetModuleHandleW(nullptr), nullptr));
  check.True(owner != nullptr && pane != nullptr, "host windows");
  SetActiveWindow(pane.get());
  DensityForm d;
  d.events.hideOn = {"btnOK"};
  bool enabledWhileShown = true;
  HWND formOwner = nullptr;
  RECT formRect{};
  RECT client{};
  const std::string error = ShowDriven(*d.form, [&] {
    const HWND form = WaitForForm(L"Ponderix by Korvanis", kWaitMs);
    if (!form) throw UiDriverError("the density dialog did not appear");
    enabledWhileShown = IsWindowEnabled(owner.get()) != FALSE;
    formOwner = GetWindow(form, GW_OWNER);
    GetWindowRect(form, &formRect);
    GetClientRect(form, &client);
    Click(form, d.layout, "btnOK");
  });
  check.Equal(error, std::string(), "driver");
  check.True(formOwner == owner.get(), "owned by the host's window, not its pane");
  check.Equal(client.right, LONG{Px(d.layout.width)}, "laid out at the owner's DPI");
  check.True(!enabledWhileShown, "the owner takes no input during the show");
  check.True(IsWindowEnabled(owner.get()) != FALSE, "the owner is enabled again afterwards");
  RECT ownerRect{};
  GetWindowRect(owner.get(), &ownerRect);
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  GetMonitorInfoW(MonitorFromWindow(owner.get(), MONITOR_DEFAULTTONEAREST), &monitor);
  const POINT at = win32::FormPosition(ownerRect, monitor.rcWork, formRect.right - formRect.left,
                                       formRect.bottom - formRect.top);
  check.True(formRect.left == at.x && formRect.top == at.y && formRect.right <= monitor.rcWork.right,
             "centred over the owner within its monitor's work area");
});

const Test kMessageBox("Toolkit.MessageBoxHasTheCaptionTextAndOnlyOk", [](Check& check) {
  std::unique_ptr<Toolkit> toolkit = win32::MakeToolkit();
  std::wstring caption;
  std::wstring text;
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
});

const Test kHandlerFailure("Toolkit.HandlerExceptionComesOutOfShowModal", [](Check& check) {
  DensityForm d;
  d.events.throwOn = "btnCancel";
  HWND window = nullptr;
  std::string thrown;
  try {
    const std::string error = ShowDriven(*d.form, [&] {
      window = WaitForForm(L"Ponderix by Korvanis", kWaitMs);
      if (!window) throw UiDriverError("the density dialog did not appear");
      Click(window, d.layout, "btnCancel");
    });
    check.Equal(error, std::string(), "driver");
  } catch (const std::runtime_error& e) {
    thrown = e.what();
  }
  check.Equal(thrown, std::string("handler of btnCancel failed"), "exception");
  check.True(window && !IsWindowVisible(window), "the form is hidden");
});

const Test kBasics("Toolkit.ClockLocaleAndPendingEvents", [](Check& check) {
  std::unique_ptr<Toolkit> toolkit = win32::MakeToolkit();
  const double start = toolkit->Seconds();
  Sleep(50);
  toolkit->ProcessPendingEvents();
  check.True(toolkit->Seconds() > start, "the clock moves");
  win32::TickClock clock(0xFFFFFC18u);  // one second before the tick count wraps
  check.True(clock.Seconds(1000) == 2.0, "the clock goes on across the tick count's wrap");
  const std::string separator = toolkit->DecimalSeparator();
  check.True(separator == "." || separator == ",", "decimal separator " + separator);
});

}  // namespace
}  // namespace ponderix::wintest
