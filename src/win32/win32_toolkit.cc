// The native dialog toolkit. A form is a popup window of our own class with
// standard controls (STATIC, BUTTON, EDIT, COMBOBOX, a ListView with check
// boxes), placed from the layout's points at the owner window's dots per inch
// and centred on the owner's monitor. Its modal show runs its own message
// loop with the owner disabled, like a modal dialog, but without the dialog
// manager: Enter and Esc have no dialog-wide meaning, and Tab is handled by
// every control's subclass, so that keys sent straight to a control behave as
// keys typed by the user.
//
// Handlers run inside window procedures, where no exception may pass: the
// first one is kept, the modal loop ends and ShowModal rethrows it.
#include "win32/win32_toolkit.h"

#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <cmath>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "win32/owners.h"
#include "win32/platform.h"
#include "win32/text.h"
#include "win32/tick_clock.h"

namespace ponderix::win32 {

namespace {

// WM_DPICHANGED, which the headers of older Windows lack.
constexpr UINT kDpiChangedMessage = 0x02E0;
constexpr DWORD kFormStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
constexpr DWORD kFormExStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;

// Sent to a form to give the focus back to a text box whose Exit refused to
// let it go after the focus had already gone.
constexpr UINT kRefocusMessage = WM_APP + 1;
// Posted to a form to repaint a check list (the control's index) whose ticks code has set.
constexpr UINT kRepaintMessage = WM_APP + 2;
constexpr wchar_t kDefaultFace[] = L"Tahoma";
constexpr double kDefaultPoints = 8.25;
constexpr int kBaseDpi = 96;  // the pixel sizes below are for this

// The dots per inch a form owned by `owner` is laid out at: the owner's, as a
// DPI-aware host has them (GetDpiForWindow, which Windows before 10 lacks),
// else the device's.
// A function of user32 that older Windows lack; null there.
template <typename Function>
Function User32Function(const char* name) {
  return reinterpret_cast<Function>(
      reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"user32.dll"), name)));
}

// The window's own dots per inch, 0 where Windows cannot say (before 10).
int WindowDpi(HWND window) {
  static const auto getDpiForWindow = User32Function<UINT(WINAPI*)(HWND)>("GetDpiForWindow");
  return window && getDpiForWindow ? static_cast<int>(getDpiForWindow(window)) : 0;
}

int DpiFor(HWND owner) {
  if (const int dpi = WindowDpi(owner); dpi > 0) return dpi;
  const HDC dc = GetDC(owner);
  const int dpi = dc ? GetDeviceCaps(dc, LOGPIXELSY) : 0;
  if (dc) ReleaseDC(owner, dc);
  return dpi > 0 ? dpi : kBaseDpi;
}

// Text boxes, drop-downs and lists: controls without a caption of their own.
bool IsField(ControlKind kind) {
  return kind == ControlKind::kTextBox || kind == ControlKind::kDropDown || kind == ControlKind::kCheckList;
}

// The label that names the field at `field` (a text box, drop-down or list,
// which have no caption of their own): the nearest label above it with the
// same left edge. `field` itself when it has none.
size_t LabelOf(const FormLayout& layout, size_t field) {
  const ControlLayout& f = layout.controls[field];
  if (!IsField(f.kind)) return field;
  constexpr double kSlack = 0.5;  // points
  size_t found = field;
  for (size_t i = 0; i < layout.controls.size(); ++i) {
    const ControlLayout& l = layout.controls[i];
    if (l.kind != ControlKind::kLabel || l.clickable || std::abs(l.left - f.left) > kSlack ||
        l.top + l.height > f.top + kSlack)
      continue;
    if (found == field || l.top > layout.controls[found].top) found = i;
  }
  return found;
}

HMODULE ThisModule() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&ThisModule), &module);
  return module;
}

COLORREF Resolve(Colour colour) {
  switch (colour.kind) {
    case Colour::Kind::kWindowBackground:
      return GetSysColor(COLOR_WINDOW);
    case Colour::Kind::kWindowText:
      return GetSysColor(COLOR_WINDOWTEXT);
    case Colour::Kind::kButtonFace:
      return GetSysColor(COLOR_BTNFACE);
    case Colour::Kind::kButtonText:
      return GetSysColor(COLOR_BTNTEXT);
    case Colour::Kind::kRgb:
      break;
  }
  return RGB(colour.r, colour.g, colour.b);
}

// VBA's shift state: 1 Shift, 2 Ctrl, 4 Alt.
int ShiftState() {
  int shift = 0;
  if (GetKeyState(VK_SHIFT) < 0) shift |= 1;
  if (GetKeyState(VK_CONTROL) < 0) shift |= 2;
  if (GetKeyState(VK_MENU) < 0) shift |= 4;
  return shift;
}

// A window's device context with one object selected into it, both given back on every path.
class WindowDc {
 public:
  WindowDc(HWND window, HGDIOBJ object)
      : window_(window), dc_(GetDC(window)), old_(SelectObject(dc_, object)) {}
  ~WindowDc() {
    SelectObject(dc_, old_);
    ReleaseDC(window_, dc_);
  }
  WindowDc(const WindowDc&) = delete;
  WindowDc& operator=(const WindowDc&) = delete;
  HDC get() const { return dc_; }

 private:
  HWND window_;
  HDC dc_;
  HGDIOBJ old_;
};

std::wstring WindowText(HWND window) {
  const int length = GetWindowTextLengthW(window);
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  const int copied = GetWindowTextW(window, text.data(), length + 1);
  text.resize(static_cast<size_t>(copied < 0 ? 0 : copied));
  return text;
}

class Win32Toolkit;
class Win32Form;

// One control of a form. The interfaces of the contract for each kind are
// implemented by the one class, and the form hands out the one that the
// layout's kind allows.
class Win32Control final : public CheckListControl,
                           public CheckBoxControl,
                           public DropDownControl,
                           public TextBoxControl,
                           public LabelControl {
 public:
  Win32Control(Win32Form& form, const ControlLayout& layout, int index, HWND window)
      : form_(form), layout_(layout), index_(index), window_(window), back_(layout.backColour) {}

  const ControlLayout& layout() const { return layout_; }
  int index() const { return index_; }
  HWND window() const { return window_; }
  Colour back() const { return back_; }
  HWND dropList = nullptr;     // a drop-down's list window
  int knownIndex = -1;         // a drop-down's selection as last reported
  bool repaintPosted = false;  // a check list's repaint is on its way

  // A check list is a virtual list view: it keeps no rows and no ticks of
  // its own but asks for those it paints or is asked about (LVN_GETDISPINFO),
  // so that neither filling it nor ticking every row costs a message per
  // row, which under Wine is a server round trip each, over tens of
  // thousands of rows. Its check boxes are ours to draw and to toggle.
  void Describe(LVITEMW& item) const;
  // The row at or after `start` (then from the top) whose text begins with
  // `prefix`, ignoring case, as typing in the list looks for it; -1 when none.
  int FindRow(int start, const wchar_t* prefix, bool wrap) const;
  // A user's click on a row's box, or Space: the tick turns over, the row is
  // painted again, screen readers are told, and the change is reported.
  void Toggle(int row);

  // Control
  void SetFocus() override;
  void SetEnabled(bool enabled) override { EnableWindow(window_, enabled ? TRUE : FALSE); }

  // CheckListControl
  void Clear() override;
  void SetRows(const std::vector<std::string>& rows) override;
  std::vector<std::string> Rows() override;
  int RowCount() override;
  bool Ticked(int row) override;
  void SetTicked(int row, bool ticked) override;

  // CheckBoxControl
  bool Value() override { return SendMessageW(window_, BM_GETCHECK, 0, 0) == BST_CHECKED; }

  // DropDownControl (Clear is shared with the check list)
  void AddItem(const std::string& text, int index) override;
  int ListIndex() override { return static_cast<int>(SendMessageW(window_, CB_GETCURSEL, 0, 0)); }
  void SetListIndex(int index) override;
  void SetBackColour(Colour colour) override;

  // TextBoxControl
  std::string Text() override { return Narrow(WindowText(window_)); }
  void SetText(const std::string& text) override { SetWindowTextW(window_, Widen(text).c_str()); }

  // CheckBoxControl and LabelControl
  void SetCaption(const std::string& caption) override;

  // Sized again to the items and rows, and after a change of DPI.
  void FitDropList();
  void FitCheckListColumn();

 private:
  Win32Form& form_;
  const ControlLayout& layout_;
  int index_;
  HWND window_;  // owned by the form's window, destroyed with it
  Colour back_;
  std::vector<std::string> rows_;    // a check list's rows, as given
  std::vector<std::wstring> shown_;  // and as the list shows them
  std::vector<bool> ticks_;          // and their ticks
};

class Win32Form final : public Form {
 public:
  Win32Form(Win32Toolkit& toolkit, const FormLayout& layout, FormEvents& events);
  ~Win32Form() override;
  Win32Form(const Win32Form&) = delete;
  Win32Form& operator=(const Win32Form&) = delete;

  ShowEnd ShowModal() override;
  void Hide() override;
  void SetTitle(const std::string& title) override { SetWindowTextW(window_.get(), Widen(title).c_str()); }
  CheckListControl& CheckList(std::string_view name) override { return Find(name, ControlKind::kCheckList); }
  CheckBoxControl& CheckBox(std::string_view name) override { return Find(name, ControlKind::kCheckBox); }
  DropDownControl& DropDown(std::string_view name) override { return Find(name, ControlKind::kDropDown); }
  TextBoxControl& TextBox(std::string_view name) override { return Find(name, ControlKind::kTextBox); }
  LabelControl& Label(std::string_view name) override { return Find(name, ControlKind::kLabel); }

  HWND window() const { return window_.get(); }
  FormEvents& events() { return events_; }
  // Layout points, and pixels meant for 96 dots per inch, in pixels at the form's.
  int Px(double points) const { return static_cast<int>(std::lround(points * dpi_ / 72.0)); }
  int Scaled(int pixels) const { return MulDiv(pixels, dpi_, kBaseDpi); }
  // A control's window height: a drop-down's reaches down over its dropped
  // list, which FitDropList fits to the items as they come.
  int WindowHeight(const ControlLayout& c) const {
    return c.kind == ControlKind::kDropDown ? Px(c.height) * 8 : Px(c.height);
  }
  // The height of a drop-down's list entry, which the form draws itself.
  int DropItemHeight() const { return Px(kDefaultPoints) + Scaled(4); }
  HFONT FontFor(const Font& font);
  // The colours `control` is painted in. In high-contrast mode the user's
  // system colours replace our own (the materials' backgrounds, the link's
  // blue), which may be unreadable on that palette.
  COLORREF Fore(const Win32Control& control) const;
  COLORREF Back(const Win32Control& control) const;
  HBRUSH BrushFor(COLORREF colour);
  // Runs a handler from a window procedure: an exception is kept, and the
  // modal show ends and rethrows it.
  void Guarded(const std::function<void()>& handler) noexcept;
  // Focus wanted before the form is shown.
  void SetPendingFocus(HWND control) { pendingFocus_ = control; }
  // Gives `control` the focus, first asking the text box that has it (LetGo).
  void FocusControl(HWND control);
  void Repaint(HWND control) const { InvalidateRect(control, nullptr, TRUE); }
  // One repaint of a check list for any number of ticks set from code,
  // once the handler that set them is done.
  void RepaintSoon(Win32Control& list);

  static LRESULT CALLBACK FormProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept;
  static LRESULT CALLBACK ControlProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                      UINT_PTR subclassId, DWORD_PTR form) noexcept;

 private:
  Win32Control& Find(std::string_view name, ControlKind kind);
  Win32Control* ByWindow(HWND control);
  Win32Control* ById(int id);
  void CreateControls();
  HWND CreateControl(const ControlLayout& c, int index);
  // The window's size for the layout's client area at the form's DPI, with
  // the frame at that DPI too where Windows can say (AdjustWindowRectExForDpi).
  SIZE WindowSize() const;
  // The top-left corner that centres a window of `size` over the owner on its monitor.
  POINT PlaceOver(SIZE size) const;
  void Place();
  // Every control placed, sized and given its font at the form's DPI.
  void LayOut();
  void FitControl(Win32Control& control);
  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
  void Command(int id, int code, HWND control);
  LRESULT Notify(NMHDR& header);
  LRESULT ColourControl(HDC dc, HWND control);
  void DrawDropItem(const DRAWITEMSTRUCT& item);
  LRESULT HandleControl(Win32Control& control, UINT message, WPARAM wParam, LPARAM lParam);
  void MoveFocus(HWND from, bool backwards);
  // Whether the text box that has the focus lets it go to `next`: its Exit
  // runs now, before anything moves, so that a refusal keeps the focus there
  // (text selected) and the caller drops the action that wanted the focus.
  bool LetGo(HWND next);
  void RaiseExit(Win32Control& box, HWND next, bool& cancel);
  void SelectText(HWND box) const { SendMessageW(box, EM_SETSEL, 0, -1); }

  Win32Toolkit& toolkit_;
  FormLayout layout_;
  FormEvents& events_;
  HWND owner_;
  int dpi_;
  UniqueHwnd window_;
  std::vector<std::unique_ptr<Win32Control>> controls_;
  std::map<std::tuple<std::wstring, int, bool>, UniqueGdiObject> fonts_;
  std::map<COLORREF, UniqueGdiObject> brushes_;
  HWND pendingFocus_ = nullptr;
  HWND savedFocus_ = nullptr;  // the control to get the focus back when the form is activated again
  HWND exited_ = nullptr;      // a text box whose Exit ran for the focus move under way
  bool ownerDisabled_ = false;
  bool running_ = false;
  std::exception_ptr failure_;
};

class Win32Toolkit final : public NativeToolkit {
 public:
  explicit Win32Toolkit(ToolkitSystem system);
  ~Win32Toolkit() override;
  Win32Toolkit(const Win32Toolkit&) = delete;
  Win32Toolkit& operator=(const Win32Toolkit&) = delete;

  std::unique_ptr<Form> LoadForm(const FormLayout& layout, FormEvents& events) override {
    // A failure kept from an earlier form belongs to a run that is over.
    failure_ = nullptr;
    RegisterFormClass();
    return std::make_unique<Win32Form>(*this, layout, events);
  }
  ShowEnd ShowMessageBox(const std::string& text) override { return Box(Owner(), text, MB_OK); }
  ShowEnd ShowFailureBox(const std::string& text) override {
    return Box(Owner(), text, MB_OK | MB_ICONERROR);
  }
  double Seconds() override { return clock_.Seconds(GetTickCount()); }
  void ProcessPendingEvents() override;
  std::string DecimalSeparator() override;

  HMODULE module() const { return module_; }
  bool HighContrast() const { return system_.highContrast && system_.highContrast(); }
  // The owner of forms and boxes: the host's main window, else the top-level
  // window of the active one (also when the command came from a floating pane).
  HWND Owner() const {
    const HWND host = system_.hostWindow ? system_.hostWindow() : nullptr;
    if (host && IsWindow(host)) return host;
    return GetAncestor(GetActiveWindow(), GA_ROOTOWNER);
  }
  // A handler failed outside any modal show; the next ProcessPendingEvents rethrows it.
  void KeepFailure(std::exception_ptr failure) {
    if (!failure_) failure_ = std::move(failure);
  }

 private:
  void RegisterFormClass();
  static ShowEnd Box(HWND owner, const std::string& text, UINT type) {
    MessageBoxW(owner, Widen(text).c_str(), kMessageBoxCaption, type);
    // The box's own loop ends on WM_QUIT and posts it again: taken here to
    // tell, and passed on once more for the host's loop.
    MSG quit{};
    if (!PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) return ShowEnd::kHidden;
    PostQuitMessage(static_cast<int>(quit.wParam));
    return ShowEnd::kQuit;
  }

  ToolkitSystem system_;
  HMODULE module_ = ThisModule();
  bool registered_ = false;
  std::exception_ptr failure_;
  TickClock clock_{GetTickCount()};
};

// ---- Win32Control ----

void Win32Control::SetFocus() {
  if (IsWindowVisible(form_.window())) {
    form_.FocusControl(window_);
  } else {
    form_.SetPendingFocus(window_);
  }
}

void Win32Control::Clear() {
  if (layout_.kind == ControlKind::kDropDown) {
    SendMessageW(window_, CB_RESETCONTENT, 0, 0);
    knownIndex = -1;
    FitDropList();
  } else {
    rows_.clear();
    shown_.clear();
    ticks_.clear();
    SendMessageW(window_, LVM_SETITEMCOUNT, 0, 0);
    FitCheckListColumn();
  }
}

void Win32Control::SetRows(const std::vector<std::string>& rows) {
  rows_ = rows;
  shown_.clear();
  shown_.reserve(rows.size());
  for (const std::string& row : rows) shown_.push_back(Widen(row));
  ticks_.assign(rows.size(), false);
  SendMessageW(window_, LVM_SETITEMCOUNT, rows.size(), 0);
  FitCheckListColumn();
  form_.Repaint(window_);
}

std::vector<std::string> Win32Control::Rows() { return rows_; }

int Win32Control::RowCount() { return static_cast<int>(rows_.size()); }

bool Win32Control::Ticked(int row) {
  if (row < 0 || row >= RowCount())
    throw std::out_of_range("row " + std::to_string(row) + " of " + layout_.name);
  return ticks_[static_cast<size_t>(row)];
}

void Win32Control::SetTicked(int row, bool ticked) {
  if (row < 0 || row >= RowCount())
    throw std::out_of_range("row " + std::to_string(row) + " of " + layout_.name);
  if (ticks_[static_cast<size_t>(row)] == ticked) return;
  ticks_[static_cast<size_t>(row)] = ticked;
  form_.RepaintSoon(*this);
}

void Win32Control::Describe(LVITEMW& item) const {
  if (item.iItem < 0 || item.iItem >= static_cast<int>(rows_.size())) return;
  const auto row = static_cast<size_t>(item.iItem);
  if ((item.mask & LVIF_TEXT) && item.pszText && item.cchTextMax > 0) {
    const std::wstring& text = shown_[row];
    const size_t length = std::min(text.size(), static_cast<size_t>(item.cchTextMax) - 1);
    std::copy_n(text.data(), length, item.pszText);
    item.pszText[length] = L'\0';
  }
  if ((item.mask & LVIF_STATE) && (item.stateMask & LVIS_STATEIMAGEMASK)) {
    item.state = (item.state & ~LVIS_STATEIMAGEMASK) | INDEXTOSTATEIMAGEMASK(ticks_[row] ? 2 : 1);
  }
}

int Win32Control::FindRow(int start, const wchar_t* prefix, bool wrap) const {
  const int count = static_cast<int>(shown_.size());
  const size_t length = prefix ? wcslen(prefix) : 0;
  if (count == 0 || length == 0) return -1;
  start = std::clamp(start, 0, count - 1);
  for (int n = 0; n < (wrap ? count : count - start); ++n) {
    const int row = (start + n) % count;
    const std::wstring& text = shown_[static_cast<size_t>(row)];
    if (text.size() >= length &&
        CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, text.c_str(), static_cast<int>(length), prefix,
                       static_cast<int>(length)) == CSTR_EQUAL)
      return row;
  }
  return -1;
}

void Win32Control::Toggle(int row) {
  if (row < 0 || row >= RowCount()) return;
  ticks_[static_cast<size_t>(row)] = !ticks_[static_cast<size_t>(row)];
  SendMessageW(window_, LVM_REDRAWITEMS, static_cast<WPARAM>(row), row);
  // The list cannot tell a screen reader that a box it does not keep changed.
  NotifyWinEvent(EVENT_OBJECT_STATECHANGE, window_, OBJID_CLIENT, row + 1);
  const std::string& name = layout_.name;
  form_.Guarded([&] { form_.events().Change(name); });
}

void Win32Control::AddItem(const std::string& text, int index) {
  const auto count = static_cast<int>(SendMessageW(window_, CB_GETCOUNT, 0, 0));
  if (index < 0 || index > count)
    throw std::out_of_range("item index " + std::to_string(index) + " of " + layout_.name);
  const std::wstring wide = Widen(text);
  SendMessageW(window_, CB_INSERTSTRING, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(wide.c_str()));
  FitDropList();
}

void Win32Control::SetListIndex(int index) {
  SendMessageW(window_, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
  // CB_SETCURSEL notifies nobody; a change from code is reported as a user's pick is.
  const int now = ListIndex();
  if (now == knownIndex) return;
  knownIndex = now;
  form_.events().Change(layout_.name);
}

void Win32Control::SetBackColour(Colour colour) {
  back_ = colour;
  form_.Repaint(window_);
  if (dropList) form_.Repaint(dropList);
}

void Win32Control::SetCaption(const std::string& caption) {
  SetWindowTextW(window_, Widen(caption).c_str());
  if (layout_.kind == ControlKind::kCheckBox && layout_.autoSize) {
    // Sized to the caption: the box, a gap and the text.
    const std::wstring text = WindowText(window_);
    SIZE size{};
    {
      const WindowDc dc(window_, reinterpret_cast<HGDIOBJ>(SendMessageW(window_, WM_GETFONT, 0, 0)));
      GetTextExtentPoint32W(dc.get(), text.c_str(), static_cast<int>(text.size()), &size);
    }
    RECT rect{};
    GetClientRect(window_, &rect);
    SetWindowPos(window_, nullptr, 0, 0, GetSystemMetrics(SM_CXMENUCHECK) + form_.Scaled(6) + size.cx,
                 rect.bottom, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  form_.Repaint(window_);
}

void Win32Control::FitDropList() {
  // The dropped list shows every item, up to the screen's height.
  const auto count = static_cast<int>(SendMessageW(window_, CB_GETCOUNT, 0, 0));
  const auto item = static_cast<int>(SendMessageW(window_, CB_GETITEMHEIGHT, 0, 0));
  RECT rect{};
  GetWindowRect(window_, &rect);
  const int field = rect.bottom - rect.top;  // a closed combo box's window is its field
  const int height = std::min(field + std::max(count, 1) * item + 2, GetSystemMetrics(SM_CYSCREEN) / 2);
  SetWindowPos(window_, nullptr, 0, 0, rect.right - rect.left, height,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Win32Control::FitCheckListColumn() {
  // One column as wide as the longest row (or the list), so long rows scroll
  // sideways. Measured here rather than by the list, which would ask for
  // every row: each row as the sum of its characters' widths (no call to
  // Windows a row over tens of thousands), the widest of them also measured
  // as a whole, which shaping or kerning may widen.
  int widest = 0;
  if (!shown_.empty()) {
    const WindowDc dc(window_, reinterpret_cast<HGDIOBJ>(SendMessageW(window_, WM_GETFONT, 0, 0)));
    std::vector<int> widths(0x10000, -1);
    size_t widestRow = 0;
    for (size_t i = 0; i < shown_.size(); ++i) {
      int width = 0;
      for (const wchar_t c : shown_[i]) {
        int& w = widths[static_cast<size_t>(c)];
        if (w < 0 && !GetCharWidth32W(dc.get(), c, c, &w)) w = 0;
        width += w;
      }
      if (width > widest) {
        widest = width;
        widestRow = i;
      }
    }
    const std::wstring& text = shown_[widestRow];
    SIZE size{};
    GetTextExtentPoint32W(dc.get(), text.c_str(), static_cast<int>(text.size()), &size);
    // The check box in front and the margins the list keeps around a label.
    widest = std::max(widest, static_cast<int>(size.cx)) + GetSystemMetrics(SM_CXSMICON) + form_.Scaled(20);
  }
  RECT rect{};
  GetClientRect(window_, &rect);
  SendMessageW(window_, LVM_SETCOLUMNWIDTH, 0, std::max(widest, static_cast<int>(rect.right)));
}

// ---- Win32Form ----

Win32Form::Win32Form(Win32Toolkit& toolkit, const FormLayout& layout, FormEvents& events)
    : toolkit_(toolkit), layout_(layout), events_(events), owner_(toolkit.Owner()), dpi_(DpiFor(owner_)) {
  // Made where it will be shown, so that it takes that monitor's DPI from the start.
  const SIZE size = WindowSize();
  const POINT at = PlaceOver(size);
  window_.reset(CreateWindowExW(kFormExStyle, kFormClassName, Widen(layout_.title).c_str(), kFormStyle, at.x,
                                at.y, size.cx, size.cy, owner_, nullptr, toolkit_.module(), this));
  if (!window_) throw std::runtime_error("cannot create the window of " + layout_.name);
  // Its own DPI, which is its monitor's where the host is aware of each monitor's.
  if (const int own = WindowDpi(window_.get()); own > 0 && own != dpi_) {
    dpi_ = own;
    const SIZE sized = WindowSize();
    const POINT there = PlaceOver(sized);
    SetWindowPos(window_.get(), nullptr, there.x, there.y, sized.cx, sized.cy, SWP_NOZORDER | SWP_NOACTIVATE);
  }
  // Dialog-like: no minimise or maximise entries in the window menu.
  const HMENU menu = GetSystemMenu(window_.get(), FALSE);
  if (menu) {
    DeleteMenu(menu, SC_MAXIMIZE, MF_BYCOMMAND);
    DeleteMenu(menu, SC_MINIMIZE, MF_BYCOMMAND);
    DeleteMenu(menu, SC_RESTORE, MF_BYCOMMAND);
    DeleteMenu(menu, SC_SIZE, MF_BYCOMMAND);
  }
  SendMessageW(window_.get(), WM_SETFONT, reinterpret_cast<WPARAM>(FontFor(Font{})), FALSE);
  try {
    CreateControls();
  } catch (...) {
    // The window goes before the controls, fonts and brushes its messages use.
    window_.reset();
    throw;
  }
}

Win32Form::~Win32Form() {
  if (running_ || IsWindowVisible(window_.get())) Hide();
  // Children go with the window; the fonts and brushes they used go after it.
  window_.reset();
}

Win32Control& Win32Form::Find(std::string_view name, ControlKind kind) {
  for (auto& control : controls_) {
    if (control->layout().name == name && control->layout().kind == kind) return *control;
  }
  throw std::logic_error(layout_.name + " has no such control: " + std::string(name));
}

Win32Control* Win32Form::ById(int id) {
  const int index = id - kFirstControlId;
  if (index < 0 || index >= static_cast<int>(controls_.size())) return nullptr;
  return controls_[static_cast<size_t>(index)].get();
}

Win32Control* Win32Form::ByWindow(HWND control) {
  for (auto& c : controls_) {
    if (c->window() == control || (c->dropList && c->dropList == control)) return c.get();
  }
  return nullptr;
}

HFONT Win32Form::FontFor(const Font& font) {
  std::wstring face = font.face.empty() ? std::wstring(kDefaultFace) : Widen(font.face);
  const double points = font.points > 0 ? font.points : kDefaultPoints;
  const int height = -Px(points);
  auto key = std::make_tuple(face, height, font.bold);
  auto found = fonts_.find(key);
  if (found != fonts_.end()) return static_cast<HFONT>(found->second.get());
  UniqueGdiObject created(CreateFontW(height, 0, 0, 0, font.bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE,
                                      DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                      DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, face.c_str()));
  if (!created) throw std::runtime_error("cannot create the font " + Narrow(face));
  const auto handle = static_cast<HFONT>(created.get());
  fonts_.emplace(std::move(key), std::move(created));
  return handle;
}

COLORREF Win32Form::Fore(const Win32Control& control) const {
  const ControlLayout& c = control.layout();
  if (c.foreColour.kind != Colour::Kind::kRgb || !toolkit_.HighContrast()) return Resolve(c.foreColour);
  if (c.kind == ControlKind::kLabel && c.clickable) return GetSysColor(COLOR_HOTLIGHT);
  return GetSysColor(IsField(c.kind) ? COLOR_WINDOWTEXT : COLOR_BTNTEXT);
}

COLORREF Win32Form::Back(const Win32Control& control) const {
  const Colour back = control.back();
  if (back.kind != Colour::Kind::kRgb || !toolkit_.HighContrast()) return Resolve(back);
  return GetSysColor(IsField(control.layout().kind) ? COLOR_WINDOW : COLOR_BTNFACE);
}

HBRUSH Win32Form::BrushFor(COLORREF colour) {
  auto found = brushes_.find(colour);
  if (found != brushes_.end()) return static_cast<HBRUSH>(found->second.get());
  UniqueGdiObject created(CreateSolidBrush(colour));
  if (!created) throw std::runtime_error("cannot create a brush");
  const auto handle = static_cast<HBRUSH>(created.get());
  brushes_.emplace(colour, std::move(created));
  return handle;
}

void Win32Form::CreateControls() {
  // Created in tab order, so that the z-order is the keyboard order; then each
  // label moves to just before the field it names, where screen readers look
  // for a field's name. Labels are no tab stops, so Tab keeps its order.
  std::vector<size_t> order(layout_.controls.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [this](size_t a, size_t b) {
    return layout_.controls[a].tabIndex < layout_.controls[b].tabIndex;
  });
  for (size_t field = 0; field < layout_.controls.size(); ++field) {
    const size_t label = LabelOf(layout_, field);
    if (label == field) continue;
    order.erase(std::find(order.begin(), order.end(), label));
    order.insert(std::find(order.begin(), order.end(), field), label);
  }
  controls_.resize(layout_.controls.size());
  for (const size_t i : order) {
    const ControlLayout& c = layout_.controls[i];
    const HWND control = CreateControl(c, static_cast<int>(i));
    controls_[i] = std::make_unique<Win32Control>(*this, c, static_cast<int>(i), control);
    Win32Control& made = *controls_[i];
    SetWindowSubclass(control, &Win32Form::ControlProc, i, reinterpret_cast<DWORD_PTR>(this));
    if (c.kind == ControlKind::kTextBox) {
      SendMessageW(control, EM_SETLIMITTEXT, 0, 0);
      SetWindowTextW(control, Widen(c.caption).c_str());
    }
    FitControl(made);
    if (c.kind == ControlKind::kDropDown) {
      COMBOBOXINFO info{};
      info.cbSize = sizeof info;
      if (GetComboBoxInfo(control, &info)) made.dropList = info.hwndList;
      made.knownIndex = -1;
    }
    if (c.kind == ControlKind::kCheckList) {
      SendMessageW(control, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_CHECKBOXES, LVS_EX_CHECKBOXES);
      // The boxes are asked for like the texts, also by LVM_GETITEMSTATE, as screen readers read them.
      SendMessageW(control, LVM_SETCALLBACKMASK, LVIS_STATEIMAGEMASK, 0);
      const COLORREF back = Resolve(c.backColour);
      SendMessageW(control, LVM_SETBKCOLOR, 0, static_cast<LPARAM>(back));
      SendMessageW(control, LVM_SETTEXTBKCOLOR, 0, static_cast<LPARAM>(back));
      SendMessageW(control, LVM_SETTEXTCOLOR, 0, static_cast<LPARAM>(Resolve(c.foreColour)));
      LVCOLUMNW column{};
      column.mask = LVCF_WIDTH;
      column.cx = Px(c.width);
      SendMessageW(control, LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&column));
    }
    if (c.kind == ControlKind::kCheckBox && c.autoSize) made.SetCaption(c.caption);
  }
}

void Win32Form::FitControl(Win32Control& made) {
  const ControlLayout& c = made.layout();
  const HWND control = made.window();
  SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(FontFor(c.font)), FALSE);
  if (c.kind != ControlKind::kDropDown) return;
  // The field is as tall as the layout says: its item height plus a frame,
  // which does not grow with the DPI everywhere, so it is measured.
  const int wanted = Px(c.height);
  int item = wanted - 6;
  SendMessageW(control, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), item);
  RECT field{};
  GetWindowRect(control, &field);
  item += wanted - (field.bottom - field.top);
  SendMessageW(control, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), item);
}

void Win32Form::LayOut() {
  SendMessageW(window_.get(), WM_SETFONT, reinterpret_cast<WPARAM>(FontFor(Font{})), FALSE);
  for (auto& made : controls_) {
    const ControlLayout& c = made->layout();
    const HWND control = made->window();
    SetWindowPos(control, nullptr, Px(c.left), Px(c.top), Px(c.width), WindowHeight(c),
                 SWP_NOZORDER | SWP_NOACTIVATE);
    FitControl(*made);
    if (c.kind == ControlKind::kDropDown) {
      SendMessageW(control, CB_SETITEMHEIGHT, 0, DropItemHeight());
      made->FitDropList();
    }
    if (c.kind == ControlKind::kCheckList) made->FitCheckListColumn();
    if (c.kind == ControlKind::kCheckBox && c.autoSize) made->SetCaption(Narrow(WindowText(control)));
  }
  RedrawWindow(window_.get(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

HWND Win32Form::CreateControl(const ControlLayout& c, int index) {
  DWORD style =
      WS_CHILD | (c.visible ? WS_VISIBLE : 0) | (c.enabled ? 0 : WS_DISABLED) | (c.tabStop ? WS_TABSTOP : 0);
  DWORD exStyle = 0;
  const wchar_t* className = L"STATIC";
  switch (c.kind) {
    case ControlKind::kLabel:
      style |= SS_LEFT | SS_NOPREFIX | (c.clickable ? SS_NOTIFY : 0);
      break;
    case ControlKind::kButton:
      className = L"BUTTON";
      style |= BS_PUSHBUTTON;
      break;
    case ControlKind::kCheckBox:
      className = L"BUTTON";
      style |= BS_AUTOCHECKBOX;
      break;
    case ControlKind::kTextBox:
      className = L"EDIT";
      style |= ES_AUTOHSCROLL | ES_LEFT;
      exStyle |= WS_EX_CLIENTEDGE;
      break;
    case ControlKind::kDropDown:
      className = L"COMBOBOX";
      style |= CBS_DROPDOWNLIST | CBS_OWNERDRAWFIXED | CBS_HASSTRINGS | WS_VSCROLL;
      break;
    case ControlKind::kCheckList:
      className = WC_LISTVIEWW;
      style |= LVS_REPORT | LVS_NOCOLUMNHEADER | LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_OWNERDATA;
      exStyle |= WS_EX_CLIENTEDGE;
      break;
  }
  const bool hasCaption =
      c.kind == ControlKind::kLabel || c.kind == ControlKind::kButton || c.kind == ControlKind::kCheckBox;
  const HWND control = CreateWindowExW(exStyle, className, hasCaption ? Widen(c.caption).c_str() : L"", style,
                                       Px(c.left), Px(c.top), Px(c.width), WindowHeight(c), window_.get(),
                                       reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFirstControlId + index)),
                                       toolkit_.module(), nullptr);
  if (!control) throw std::runtime_error("cannot create control " + c.name + " of " + layout_.name);
  return control;
}

SIZE Win32Form::WindowSize() const {
  static const auto adjustForDpi =
      User32Function<BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT)>("AdjustWindowRectExForDpi");
  RECT rect{0, 0, Px(layout_.width), Px(layout_.height)};
  if (!adjustForDpi || !adjustForDpi(&rect, kFormStyle, FALSE, kFormExStyle, static_cast<UINT>(dpi_)))
    AdjustWindowRectEx(&rect, kFormStyle, FALSE, kFormExStyle);
  return {rect.right - rect.left, rect.bottom - rect.top};
}

void Win32Form::Place() {
  RECT self{};
  GetWindowRect(window_.get(), &self);
  const POINT at = PlaceOver({self.right - self.left, self.bottom - self.top});
  SetWindowPos(window_.get(), nullptr, at.x, at.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

POINT Win32Form::PlaceOver(SIZE size) const {
  // Centred over the owner and kept on the owner's monitor (the nearest one
  // when the owner is off every screen); without an owner, on the primary one.
  RECT over{};
  const bool owned = owner_ && IsWindow(owner_) && GetWindowRect(owner_, &over);
  const HMONITOR monitor = owned ? MonitorFromWindow(owner_, MONITOR_DEFAULTTONEAREST)
                                 : MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
  MONITORINFO info{};
  info.cbSize = sizeof info;
  RECT work{};
  if (GetMonitorInfoW(monitor, &info)) {
    work = info.rcWork;
  } else {
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  }
  if (!owned) over = work;
  return FormPosition(over, work, size.cx, size.cy);
}

ShowEnd Win32Form::ShowModal() {
  if (running_) throw std::logic_error(layout_.name + " is already shown");
  failure_ = nullptr;
  running_ = true;
  // Like a modal dialog: the owner takes no input meanwhile (unless someone else already disabled it).
  ownerDisabled_ = owner_ && IsWindow(owner_) && IsWindowEnabled(owner_);
  if (ownerDisabled_) EnableWindow(owner_, FALSE);
  Place();
  // The activation that showing brings gives the focus to this control, or to the first tab stop.
  if (pendingFocus_) savedFocus_ = pendingFocus_;
  pendingFocus_ = nullptr;
  ShowWindow(window_.get(), SW_SHOW);
  SetForegroundWindow(window_.get());
  SetActiveWindow(window_.get());
  HWND focus = savedFocus_;
  if (!focus || !IsWindowVisible(focus) || !IsWindowEnabled(focus)) {
    focus = GetNextDlgTabItem(window_.get(), nullptr, FALSE);
  }
  if (focus && GetFocus() != focus) ::SetFocus(focus);
  MSG message{};
  bool quit = false;
  while (running_) {
    const BOOL got = GetMessageW(&message, nullptr, 0, 0);
    if (got == 0) {
      quit = true;
      Hide();
      break;
    }
    if (got < 0) {
      Hide();
      break;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  running_ = false;
  // WM_QUIT belongs to the host's loop: passed on once this one is over.
  if (quit) PostQuitMessage(static_cast<int>(message.wParam));
  if (failure_) {
    std::exception_ptr failure = failure_;
    failure_ = nullptr;
    std::rethrow_exception(failure);
  }
  return quit ? ShowEnd::kQuit : ShowEnd::kHidden;
}

void Win32Form::Hide() {
  const bool wasShown = running_;
  running_ = false;
  // The owner comes back before the form goes, so that it is activated again.
  if (ownerDisabled_ && IsWindow(owner_)) EnableWindow(owner_, TRUE);
  ownerDisabled_ = false;
  ShowWindow(window_.get(), SW_HIDE);
  // The loop may be waiting inside GetMessage while a sent message ran this.
  if (wasShown) PostMessageW(window_.get(), WM_NULL, 0, 0);
}

void Win32Form::RepaintSoon(Win32Control& list) {
  if (list.repaintPosted) return;
  list.repaintPosted =
      PostMessageW(window_.get(), kRepaintMessage, static_cast<WPARAM>(list.index()), 0) != FALSE;
  if (!list.repaintPosted) Repaint(list.window());
}

void Win32Form::Guarded(const std::function<void()>& handler) noexcept {
  try {
    handler();
  } catch (...) {
    if (running_) {
      if (!failure_) failure_ = std::current_exception();
      Hide();
    } else {
      toolkit_.KeepFailure(std::current_exception());
    }
  }
}

void Win32Form::MoveFocus(HWND from, bool backwards) {
  const HWND next = GetNextDlgTabItem(window_.get(), from, backwards ? TRUE : FALSE);
  if (!next) return;
  FocusControl(next);
  // As in a dialog, a text box reached by the keyboard has its text selected, so typing replaces it.
  const Win32Control* box = ByWindow(next);
  if (box && box->layout().kind == ControlKind::kTextBox && GetFocus() == next) SelectText(next);
}

void Win32Form::FocusControl(HWND control) {
  if (!LetGo(control)) return;
  ::SetFocus(control);
  exited_ = nullptr;
}

bool Win32Form::LetGo(HWND next) {
  const HWND focus = GetFocus();
  Win32Control* box = ByWindow(focus);
  if (!box || box->layout().kind != ControlKind::kTextBox || focus == next) return true;
  bool cancel = false;
  RaiseExit(*box, next, cancel);
  if (cancel) {
    SelectText(focus);
    return false;
  }
  exited_ = focus;
  return true;
}

void Win32Form::RaiseExit(Win32Control& box, HWND next, bool& cancel) {
  const Win32Control* to = ByWindow(next);
  const std::string nextName = to ? to->layout().name : std::string();
  Guarded([&] { events_.Exit(box.layout().name, nextName, cancel); });
}

LRESULT CALLBACK Win32Form::FormProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* form = reinterpret_cast<Win32Form*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (!form || !form->window_) return DefWindowProcW(window, message, wParam, lParam);
  try {
    return form->Handle(message, wParam, lParam);
  } catch (...) {
    form->Guarded([] { throw; });
    return 0;
  }
}

LRESULT Win32Form::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  const HWND self = window_.get();
  switch (message) {
    case WM_CLOSE:
      // The close box hides the form and ends its show; no handler runs.
      Hide();
      return 0;
    case WM_COMMAND:
      if (lParam != 0) Command(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
      return 0;
    case WM_NOTIFY:
      return Notify(*reinterpret_cast<NMHDR*>(lParam));
    case kRepaintMessage:
      if (Win32Control* list = ById(kFirstControlId + static_cast<int>(wParam))) {
        list->repaintPosted = false;
        Repaint(list->window());
      }
      return 0;
    case WM_NEXTDLGCTL:
      // As a dialog does: a given control, or the next or previous tab stop.
      if (LOWORD(lParam)) {
        FocusControl(reinterpret_cast<HWND>(wParam));
      } else {
        MoveFocus(GetFocus(), wParam != 0);
      }
      return 0;
    case WM_ACTIVATE:
      // As a dialog does: the focus leaves with the activation and comes back to the same control.
      if (LOWORD(wParam) == WA_INACTIVE) {
        const HWND focus = GetFocus();
        if (focus && IsChild(self, focus)) savedFocus_ = focus;
      } else {
        HWND focus = savedFocus_;
        if (!focus || !IsWindowVisible(focus) || !IsWindowEnabled(focus)) {
          focus = GetNextDlgTabItem(self, nullptr, FALSE);
        }
        if (focus) ::SetFocus(focus);
      }
      return 0;
    case kRefocusMessage:
      ::SetFocus(reinterpret_cast<HWND>(wParam));
      SelectText(reinterpret_cast<HWND>(wParam));
      return 0;
    case kDpiChangedMessage: {
      // Moved to another monitor's DPI: Windows' suggested rectangle, the layout at the new DPI.
      dpi_ = HIWORD(wParam);
      const auto& rect = *reinterpret_cast<const RECT*>(lParam);
      SetWindowPos(self, nullptr, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
      LayOut();
      return 0;
    }
    case WM_SYSCOLORCHANGE:
    case WM_SETTINGCHANGE:
      // High contrast turned on or off, or the system colours changed: painted anew.
      RedrawWindow(self, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
      break;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
      return ColourControl(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
    case WM_MEASUREITEM: {
      auto& measure = *reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
      if (measure.CtlType == ODT_COMBOBOX) measure.itemHeight = static_cast<UINT>(DropItemHeight());
      return TRUE;
    }
    case WM_DRAWITEM: {
      const auto& item = *reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      if (item.CtlType == ODT_COMBOBOX) DrawDropItem(item);
      return TRUE;
    }
    default:
      break;
  }
  return DefWindowProcW(self, message, wParam, lParam);
}

void Win32Form::Command(int id, int code, HWND window) {
  Win32Control* control = ById(id);
  if (!control || control->window() != window) return;
  const std::string& name = control->layout().name;
  switch (control->layout().kind) {
    case ControlKind::kButton:
      if (code == BN_CLICKED) Guarded([&] { events_.Click(name); });
      break;
    case ControlKind::kCheckBox:
      if (code == BN_CLICKED) Guarded([&] { events_.Change(name); });
      break;
    case ControlKind::kLabel:
      if (code == STN_CLICKED && control->layout().clickable) Guarded([&] { events_.Click(name); });
      break;
    case ControlKind::kDropDown:
      if (code == CBN_SELCHANGE) {
        // Only a real change is reported; picking the selected item again is none.
        const int now = control->ListIndex();
        if (now != control->knownIndex) {
          control->knownIndex = now;
          Guarded([&] { events_.Change(name); });
        }
      }
      break;
    default:
      break;
  }
}

LRESULT Win32Form::Notify(NMHDR& header) {
  Win32Control* list = ById(static_cast<int>(header.idFrom));
  if (!list || list->window() != header.hwndFrom || list->layout().kind != ControlKind::kCheckList) return 0;
  switch (header.code) {
    case LVN_GETDISPINFOW:
      list->Describe(reinterpret_cast<NMLVDISPINFOW&>(header).item);
      return 0;
    case LVN_ODFINDITEMW: {
      const auto& find = reinterpret_cast<const NMLVFINDITEMW&>(header);
      if (!(find.lvfi.flags & (LVFI_STRING | LVFI_PARTIAL))) return -1;
      return list->FindRow(find.iStart, find.lvfi.psz, (find.lvfi.flags & LVFI_WRAP) != 0);
    }
    default:
      // Whatever the list says of check boxes (LVN_ITEMCHANGED) is not ours:
      // the ticks change by Toggle and SetTicked only.
      return 0;
  }
}

LRESULT Win32Form::ColourControl(HDC dc, HWND window) {
  Win32Control* control = ByWindow(window);
  if (!control) return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
  const COLORREF back = Back(*control);
  SetTextColor(dc, Fore(*control));
  SetBkColor(dc, back);
  SetBkMode(dc, OPAQUE);
  return reinterpret_cast<LRESULT>(BrushFor(back));
}

void Win32Form::DrawDropItem(const DRAWITEMSTRUCT& item) {
  Win32Control* control = ById(static_cast<int>(item.CtlID));
  if (!control) return;
  const bool selected = (item.itemState & ODS_SELECTED) != 0;
  const COLORREF back = selected ? GetSysColor(COLOR_HIGHLIGHT) : Back(*control);
  const COLORREF fore = selected ? GetSysColor(COLOR_HIGHLIGHTTEXT) : Fore(*control);
  FillRect(item.hDC, &item.rcItem, BrushFor(back));
  if (item.itemID != static_cast<UINT>(-1)) {
    const auto length = SendMessageW(item.hwndItem, CB_GETLBTEXTLEN, item.itemID, 0);
    if (length > 0) {
      std::wstring text(static_cast<size_t>(length) + 1, L'\0');
      SendMessageW(item.hwndItem, CB_GETLBTEXT, item.itemID, reinterpret_cast<LPARAM>(text.data()));
      text.resize(static_cast<size_t>(length));
      SetTextColor(item.hDC, fore);
      SetBkMode(item.hDC, TRANSPARENT);
      RECT rect = item.rcItem;
      rect.left += Scaled(2);
      DrawTextW(item.hDC, text.c_str(), static_cast<int>(text.size()), &rect,
                DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_LEFT);
    }
  }
  if ((item.itemState & ODS_FOCUS) && !(item.itemState & ODS_NOFOCUSRECT))
    DrawFocusRect(item.hDC, &item.rcItem);
}

LRESULT CALLBACK Win32Form::ControlProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                        UINT_PTR subclassId, DWORD_PTR form) noexcept {
  auto* self = reinterpret_cast<Win32Form*>(form);
  if (message == WM_NCDESTROY) {
    RemoveWindowSubclass(window, &Win32Form::ControlProc, subclassId);
    return DefSubclassProc(window, message, wParam, lParam);
  }
  Win32Control* control = subclassId < self->controls_.size() ? self->controls_[subclassId].get() : nullptr;
  if (!control) return DefSubclassProc(window, message, wParam, lParam);
  try {
    return self->HandleControl(*control, message, wParam, lParam);
  } catch (...) {
    self->Guarded([] { throw; });
    return 0;
  }
}

LRESULT Win32Form::HandleControl(Win32Control& control, UINT message, WPARAM wParam, LPARAM lParam) {
  const HWND window = control.window();
  const bool textBox = control.layout().kind == ControlKind::kTextBox;
  const bool checkList = control.layout().kind == ControlKind::kCheckList;
  const std::string& name = control.layout().name;
  const auto key = static_cast<int>(wParam);
  switch (message) {
    case WM_GETDLGCODE:
      // Should a host's loop run the dialog manager over us, the box still gets its keys.
      if (textBox) return DefSubclassProc(window, message, wParam, lParam) | DLGC_WANTALLKEYS;
      break;
    case WM_KEYDOWN:
      if (checkList && key == VK_SPACE && ShiftState() == 0) {
        control.Toggle(
            static_cast<int>(SendMessageW(window, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED)));
        return 0;
      }
      if (key == VK_TAB || (textBox && (key == VK_RETURN || key == VK_ESCAPE))) {
        const int shift = ShiftState();
        if (textBox) Guarded([&] { events_.KeyDown(name, key, shift); });
        // The handler may have ended the show; then the key does nothing more.
        if (key == VK_TAB && running_ && IsWindowVisible(window_.get())) MoveFocus(window, (shift & 1) != 0);
        return 0;
      }
      // Every other key is reported too, and then does what it does in an edit.
      if (textBox) {
        const int shift = ShiftState();
        Guarded([&] { events_.KeyDown(name, key, shift); });
      }
      break;
    case WM_CHAR:
      // Eaten, so that an edit does not beep and a list does not search for them.
      if (key == L'\t' || (textBox && (key == L'\r' || key == 0x1B || key == L'\n')) ||
          (checkList && key == L' '))
        return 0;
      break;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
      // A press on a control that takes the focus asks the text box first;
      // a refused press is dropped, so its release clicks and picks nothing.
      if (control.layout().kind != ControlKind::kLabel) {
        if (!LetGo(window)) return 0;
        const LRESULT result = DefSubclassProc(window, message, wParam, lParam);
        exited_ = nullptr;
        if (checkList) {
          LVHITTESTINFO hit{};
          hit.pt = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
          const auto row =
              static_cast<int>(SendMessageW(window, LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
          if (row >= 0 && (hit.flags & LVHT_ONITEMSTATEICON)) control.Toggle(row);
        }
        return result;
      }
      break;
    case WM_KILLFOCUS:
      if (textBox) {
        const LRESULT result = DefSubclassProc(window, message, wParam, lParam);
        const auto next = reinterpret_cast<HWND>(wParam);
        // Any other way the focus went (it has gone already): ask now, and
        // bring it back when refused.
        if (exited_ != window && next && next != window && IsChild(window_.get(), next)) {
          bool cancel = false;
          RaiseExit(control, next, cancel);
          if (cancel) PostMessageW(window_.get(), kRefocusMessage, reinterpret_cast<WPARAM>(window), 0);
        }
        if (exited_ == window) exited_ = nullptr;
        return result;
      }
      break;
    default:
      break;
  }
  return DefSubclassProc(window, message, wParam, lParam);
}

// ---- Win32Toolkit ----

Win32Toolkit::Win32Toolkit(ToolkitSystem system) : system_(std::move(system)) {
  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof controls;
  controls.dwICC = ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES;
  InitCommonControlsEx(&controls);
}

Win32Toolkit::~Win32Toolkit() {
  // The class names our window procedure; it must not outlive this module.
  if (registered_) UnregisterClassW(kFormClassName, module_);
}

void Win32Toolkit::RegisterFormClass() {
  // The class is the process's: another toolkit may have registered it, or unregistered it.
  WNDCLASSEXW existing{};
  existing.cbSize = sizeof existing;
  if (GetClassInfoExW(module_, kFormClassName, &existing)) return;
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = &Win32Form::FormProc;
  windowClass.hInstance = module_;
  windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
  windowClass.lpszClassName = kFormClassName;
  if (!RegisterClassExW(&windowClass) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
    throw std::runtime_error("cannot register the form window class");
  }
  registered_ = true;
}

void Win32Toolkit::ProcessPendingEvents() {
  MSG message{};
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(message.wParam));  // the host's loop needs it
      break;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  if (failure_) {
    std::exception_ptr failure = failure_;
    failure_ = nullptr;
    std::rethrow_exception(failure);
  }
}

std::string Win32Toolkit::DecimalSeparator() {
  wchar_t separator[8] = {};
  if (GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, separator, 8) <= 1) return ".";
  return Narrow(separator);
}

}  // namespace

POINT FormPosition(const RECT& over, const RECT& work, int width, int height) {
  const int left = over.left + ((over.right - over.left) - width) / 2;
  const int top = over.top + ((over.bottom - over.top) - height) / 2;
  return {std::max(static_cast<int>(work.left), std::min(left, static_cast<int>(work.right) - width)),
          std::max(static_cast<int>(work.top), std::min(top, static_cast<int>(work.bottom) - height))};
}

bool HighContrastOn() {
  HIGHCONTRASTW contrast{};
  contrast.cbSize = sizeof contrast;
  return SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof contrast, &contrast, 0) &&
         (contrast.dwFlags & HCF_HIGHCONTRASTON) != 0;
}

std::unique_ptr<NativeToolkit> MakeNativeToolkit(ToolkitSystem system) {
  return std::make_unique<Win32Toolkit>(std::move(system));
}

std::unique_ptr<Toolkit> MakeToolkit() { return MakeNativeToolkit(); }

}  // namespace ponderix::win32
