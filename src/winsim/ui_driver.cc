#include "winsim/ui_driver.h"

#include <commctrl.h>

#include <atomic>
#include <cstdio>
#include <exception>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>

#include "win32/win32_toolkit.h"

namespace ponderix::winsim {

namespace {

constexpr int kPollMs = 20;
constexpr int kMessageBoxTextId = 0xFFFF;

std::wstring ClassOf(HWND window) {
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  return name;
}

bool OfThisProcess(HWND window) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  return process == GetCurrentProcessId();
}

struct HandleCloser {
  void operator()(HANDLE handle) const noexcept { CloseHandle(handle); }
};
using UniqueHandle = std::unique_ptr<std::remove_pointer_t<HANDLE>, HandleCloser>;

// Throws for a message the window did not answer: gone, or "`what` 0x.... `why`".
[[noreturn]] void Unanswered(HWND window, UINT message, const char* what, const std::string& why = "") {
  char number[16];
  std::snprintf(number, sizeof number, "0x%04X", message);
  if (!IsWindow(window)) throw WindowGoneError(std::string("window gone before message ") + number);
  throw UiDriverError(std::string(what) + " " + number + why);
}

// The processed message's result; throws when the window is gone or does not answer in time.
LRESULT Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutW(window, message, wParam, lParam, SMTO_NORMAL, kUiMessageTimeoutMs, &result))
    Unanswered(window, message, "window did not process message", " in time");
  return static_cast<LRESULT>(result);
}

// The answer to the last message sent by SendToHandler from this thread,
// numbered so that a late answer to one given up on is not taken for the next.
thread_local ULONG_PTR sentNumber = 0;
thread_local ULONG_PTR answeredNumber = 0;
thread_local LRESULT answer = 0;

void CALLBACK Answered(HWND /*window*/, UINT /*message*/, ULONG_PTR number, LRESULT result) {
  answeredNumber = number;
  answer = result;
}

// CPU time the thread has used, in 100 ns; 0 when it cannot be told.
ULONGLONG CpuTime(HANDLE thread) {
  FILETIME created{}, exited{}, kernel{}, user{};
  if (!thread || !GetThreadTimes(thread, &created, &exited, &kernel, &user)) return 0;
  auto ticks = [](FILETIME t) { return (ULONGLONG{t.dwHighDateTime} << 32) | t.dwLowDateTime; };
  return ticks(kernel) + ticks(user);
}

// A message whose processing runs the add-in's handlers, which may work for
// minutes (OK writes every chosen part): waited for as long as the window's
// thread keeps working, up to kUiWorkLimitMs; a thread that does no work for
// kUiMessageTimeoutMs while the message is unanswered is stuck, and the
// error says which of the two it was.
LRESULT SendToHandler(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  const ULONG_PTR sent = ++sentNumber;
  if (!SendMessageCallbackW(window, message, wParam, lParam, &Answered, sent))
    Unanswered(window, message, "cannot send message");
  const UniqueHandle thread(
      OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, GetWindowThreadProcessId(window, nullptr)));
  const ULONGLONG start = GetTickCount64();
  ULONGLONG sliceStart = start;
  ULONGLONG worked = CpuTime(thread.get());
  std::string stuck;
  for (;;) {
    MSG pending{};
    // The answer comes as the callback, run while this thread looks at its messages.
    while (PeekMessageW(&pending, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&pending);
    if (answeredNumber == sent) break;
    const ULONGLONG now = GetTickCount64();
    if (now - start >= static_cast<ULONGLONG>(kUiWorkLimitMs)) {
      stuck = " in time: still busy after " + std::to_string(kUiWorkLimitMs / 1000) + " s";
      break;
    }
    if (now - sliceStart >= static_cast<ULONGLONG>(kUiMessageTimeoutMs)) {
      // Work is at least 1 % of the time: a thread that only wakes now and
      // then (a sleep, a modal loop's timer) does not count as working.
      const ULONGLONG cpu = CpuTime(thread.get());
      if (cpu - worked < static_cast<ULONGLONG>(kUiMessageTimeoutMs) * 10000 / 100) {
        stuck = " in time: its thread did no work for " + std::to_string(kUiMessageTimeoutMs / 1000) + " s";
        break;
      }
      worked = cpu;
      sliceStart = now;
    }
    MsgWaitForMultipleObjectsEx(0, nullptr, kPollMs, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  }
  if (stuck.empty()) return answer;
  Unanswered(window, message, "window did not process message", stuck);
}

struct Search {
  const std::wstring* title = nullptr;  // null: any message box, or any form
  bool anyForm = false;
  HWND found = nullptr;
};

BOOL CALLBACK Match(HWND window, LPARAM lParam) {
  auto& search = *reinterpret_cast<Search*>(lParam);
  if (!OfThisProcess(window) || !IsWindowVisible(window)) return TRUE;
  const std::wstring className = ClassOf(window);
  if (search.title || search.anyForm) {
    if (className != win32::kFormClassName || (search.title && Text(window) != *search.title)) return TRUE;
  } else if (className != L"#32770") {
    return TRUE;
  }
  search.found = window;
  return FALSE;
}

HWND Poll(const std::wstring* title, int timeoutMs, bool anyForm = false) {
  const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(timeoutMs);
  for (;;) {
    Search search{title, anyForm, nullptr};
    EnumWindows(&Match, reinterpret_cast<LPARAM>(&search));
    if (search.found) return search.found;
    if (GetTickCount64() >= end) return nullptr;
    Sleep(kPollMs);
  }
}

const ControlLayout& LayoutOf(const FormLayout& layout, std::string_view control, int* index) {
  for (size_t i = 0; i < layout.controls.size(); ++i) {
    if (layout.controls[i].name == control) {
      *index = static_cast<int>(i);
      return layout.controls[i];
    }
  }
  throw UiDriverError(layout.name + " has no control " + std::string(control));
}

// A control a user can reach: shown and enabled.
HWND Usable(HWND form, const FormLayout& layout, std::string_view control) {
  const HWND window = ControlWindow(form, layout, control);
  if (!IsWindowVisible(window) || !IsWindowEnabled(window)) {
    throw UiDriverError(std::string(control) + " is hidden or disabled");
  }
  return window;
}

ControlKind KindOf(const FormLayout& layout, std::string_view control) {
  int index = 0;
  return LayoutOf(layout, control, &index).kind;
}

HWND FocusedWindow(HWND form) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  if (!GetGUIThreadInfo(GetWindowThreadProcessId(form, nullptr), &info)) return nullptr;
  return info.hwndFocus;
}

void SendKey(HWND target, int virtualKey) {
  const UINT scan = MapVirtualKeyW(static_cast<UINT>(virtualKey), MAPVK_VK_TO_VSC);
  const LPARAM down = 1 | (static_cast<LPARAM>(scan) << 16);
  const LPARAM up = down | (LPARAM{1} << 30) | (LPARAM{1} << 31);
  SendToHandler(target, WM_KEYDOWN, static_cast<WPARAM>(virtualKey), down);
  wchar_t typed = 0;
  if (virtualKey == VK_TAB) typed = L'\t';
  if (virtualKey == VK_RETURN) typed = L'\r';
  if (virtualKey == VK_ESCAPE) typed = 0x1B;
  // The key may have moved the focus on; the character goes where the key went.
  if (typed != 0 && IsWindow(target)) SendToHandler(target, WM_CHAR, typed, down);
  if (IsWindow(target)) SendToHandler(target, WM_KEYUP, static_cast<WPARAM>(virtualKey), up);
}

BOOL CALLBACK CloseOne(HWND window, LPARAM /*unused*/) {
  if (!OfThisProcess(window) || !IsWindowVisible(window)) return TRUE;
  const std::wstring className = ClassOf(window);
  if (className == win32::kFormClassName) {
    PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
  } else if (className == L"#32770") {
    PostMessageW(window, WM_COMMAND, IDOK, 0);
    PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
  }
  return TRUE;
}

struct DriverRun {
  std::function<void()> drive;
  std::string error;
  std::atomic<bool> showEnded = false;
};

DWORD WINAPI DriverThread(void* parameter) {
  auto& run = *static_cast<DriverRun*>(parameter);
  try {
    run.drive();
    return 0;
  } catch (const std::exception& e) {
    run.error = e.what();
  } catch (...) {
    run.error = "unknown exception in the driver";
  }
  // What the show brings up later (it may still be busy before its first
  // window) is closed too: nobody is left to drive it.
  while (!run.showEnded) {
    CloseEverything();
    Sleep(kPollMs);
  }
  return 0;
}

}  // namespace

std::string ShowAndDrive(const std::function<void()>& show, std::function<void()> drive) {
  DriverRun run{std::move(drive), {}};
  UniqueHandle thread(CreateThread(nullptr, 0, &DriverThread, &run, 0, nullptr));
  if (!thread) return "cannot start the driver thread";
  std::exception_ptr failure;
  try {
    show();
  } catch (...) {
    failure = std::current_exception();
  }
  run.showEnded = true;
  // Every wait of the driver has its own timeout, so this one is a last resort.
  if (WaitForSingleObject(thread.get(), 60000) != WAIT_OBJECT_0) {
    CloseEverything();
    // A stuck driver must not outlive `run`, which it uses.
    TerminateThread(thread.get(), 1);
    return "the driver did not end";
  }
  if (failure) std::rethrow_exception(failure);
  return run.error;
}

HWND WaitForForm(const std::wstring& title, int timeoutMs) { return Poll(&title, timeoutMs); }

HWND WaitForAnyForm(int timeoutMs) { return Poll(nullptr, timeoutMs, true); }

HWND WaitForMessageBox(int timeoutMs) { return Poll(nullptr, timeoutMs); }

bool WaitUntilHidden(HWND window, int timeoutMs) {
  const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(timeoutMs);
  while (IsWindow(window) && IsWindowVisible(window)) {
    if (GetTickCount64() >= end) return false;
    Sleep(kPollMs);
  }
  return true;
}

HWND ControlWindow(HWND form, const FormLayout& layout, std::string_view control) {
  int index = 0;
  LayoutOf(layout, control, &index);
  const HWND window = GetDlgItem(form, win32::kFirstControlId + index);
  if (!window) throw UiDriverError("no window for " + std::string(control));
  return window;
}

void Click(HWND form, const FormLayout& layout, std::string_view control) {
  const HWND window = Usable(form, layout, control);
  if (KindOf(layout, control) == ControlKind::kLabel) {
    SendToHandler(form, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(window), STN_CLICKED),
                  reinterpret_cast<LPARAM>(window));
  } else {
    // BM_CLICK presses and releases the mouse on the button: it takes the focus, then reports the click.
    SendToHandler(window, BM_CLICK, 0, 0);
  }
}

void Tick(HWND form, const FormLayout& layout, std::string_view control, int row, bool ticked) {
  const HWND window = Usable(form, layout, control);
  Send(form, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(window), TRUE);
  // A text box that refused to let the focus go keeps it: the click never reached the list.
  if (FocusedWindow(form) != window) return;
  if (row < 0 || row >= Send(window, LVM_GETITEMCOUNT, 0, 0)) {
    throw UiDriverError("cannot tick row " + std::to_string(row) + " of " + std::string(control));
  }
  // As a user does it: the row brought into view and chosen, then Space on it
  // when its box is not as wanted (the list keeps no ticks of its own to set).
  LVITEMW item{};
  item.stateMask = LVIS_FOCUSED | LVIS_SELECTED;
  item.state = LVIS_FOCUSED | LVIS_SELECTED;
  Send(window, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
  Send(window, LVM_ENSUREVISIBLE, static_cast<WPARAM>(row), FALSE);
  const auto state =
      static_cast<UINT>(Send(window, LVM_GETITEMSTATE, static_cast<WPARAM>(row), LVIS_STATEIMAGEMASK));
  if (((state & LVIS_STATEIMAGEMASK) == INDEXTOSTATEIMAGEMASK(2)) != ticked) SendKey(window, VK_SPACE);
}

void Tick(HWND form, const FormLayout& layout, int row, bool ticked) {
  for (const auto& c : layout.controls) {
    if (c.kind == ControlKind::kCheckList) return Tick(form, layout, c.name, row, ticked);
  }
  throw UiDriverError(layout.name + " has no check list");
}

void Pick(HWND form, const FormLayout& layout, std::string_view control, int index) {
  const HWND window = Usable(form, layout, control);
  Send(form, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(window), TRUE);
  // A text box that refused to let the focus go keeps it: the list never opened.
  if (FocusedWindow(form) != window) return;
  if (Send(window, CB_SETCURSEL, static_cast<WPARAM>(index), 0) == CB_ERR && index >= 0) {
    throw UiDriverError("no item " + std::to_string(index) + " in " + std::string(control));
  }
  SendToHandler(form, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(window), CBN_SELCHANGE),
                reinterpret_cast<LPARAM>(window));
}

void Focus(HWND form, const FormLayout& layout, std::string_view control) {
  Send(form, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Usable(form, layout, control)), TRUE);
}

HWND ShowList(HWND form, const FormLayout& layout, std::string_view control, bool shown) {
  const HWND window = Usable(form, layout, control);
  Send(form, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(window), TRUE);
  Send(window, CB_SHOWDROPDOWN, shown ? TRUE : FALSE, 0);
  COMBOBOXINFO info{};
  info.cbSize = sizeof info;
  if (!GetComboBoxInfo(window, &info) || !info.hwndList)
    throw UiDriverError(std::string(control) + " has no list");
  return info.hwndList;
}

void Type(HWND form, const FormLayout& layout, std::string_view control, const std::wstring& text) {
  Send(Usable(form, layout, control), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void Key(HWND form, const FormLayout& layout, std::string_view control, int virtualKey) {
  SendKey(Usable(form, layout, control), virtualKey);
}

void Key(HWND form, int virtualKey) {
  const HWND focus = FocusedWindow(form);
  if (!focus || GetAncestor(focus, GA_ROOT) != form) throw UiDriverError("nothing of the form has the focus");
  SendKey(focus, virtualKey);
}

void Close(HWND form) { SendToHandler(form, WM_SYSCOMMAND, SC_CLOSE, 0); }

void PostQuit(HWND form, int exitCode) {
  if (!PostThreadMessageW(GetWindowThreadProcessId(form, nullptr), WM_QUIT, static_cast<WPARAM>(exitCode),
                          0) ||
      !WaitUntilHidden(form, kUiMessageTimeoutMs)) {
    throw UiDriverError("WM_QUIT did not end the show");
  }
}

void CloseEverything() noexcept { EnumWindows(&CloseOne, 0); }

std::string FocusedControl(HWND form, const FormLayout& layout) {
  HWND focus = FocusedWindow(form);
  // A drop-down's edit or list child counts as the drop-down.
  while (focus && GetParent(focus) && GetParent(focus) != form) focus = GetParent(focus);
  if (!focus || GetParent(focus) != form) return "";
  const int index = GetDlgCtrlID(focus) - win32::kFirstControlId;
  if (index < 0 || index >= static_cast<int>(layout.controls.size())) return "";
  return layout.controls[static_cast<size_t>(index)].name;
}

std::wstring Text(HWND window) {
  const auto length = Send(window, WM_GETTEXTLENGTH, 0, 0);
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  const auto copied = Send(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<size_t>(copied));
  return text;
}

std::wstring Text(HWND form, const FormLayout& layout, std::string_view control) {
  return Text(ControlWindow(form, layout, control));
}

bool Visible(HWND form, const FormLayout& layout, std::string_view control) {
  return IsWindowVisible(ControlWindow(form, layout, control)) != FALSE;
}

bool Enabled(HWND form, const FormLayout& layout, std::string_view control) {
  return IsWindowEnabled(ControlWindow(form, layout, control)) != FALSE;
}

int ListIndex(HWND form, const FormLayout& layout, std::string_view control) {
  return static_cast<int>(Send(ControlWindow(form, layout, control), CB_GETCURSEL, 0, 0));
}

std::vector<std::wstring> Items(HWND form, const FormLayout& layout, std::string_view control) {
  const HWND window = ControlWindow(form, layout, control);
  std::vector<std::wstring> items;
  const auto count = Send(window, CB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    const auto length = Send(window, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    Send(window, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<size_t>(length));
    items.push_back(std::move(text));
  }
  return items;
}

PaintColours Colours(HWND form, const FormLayout& layout, std::string_view control) {
  const HWND window = ControlWindow(form, layout, control);
  UINT message = WM_CTLCOLORBTN;
  switch (KindOf(layout, control)) {
    case ControlKind::kLabel:
      message = WM_CTLCOLORSTATIC;
      break;
    case ControlKind::kTextBox:
      message = WM_CTLCOLOREDIT;
      break;
    case ControlKind::kDropDown:
    case ControlKind::kCheckList:
      message = WM_CTLCOLORLISTBOX;
      break;
    default:
      break;
  }
  const HDC dc = CreateCompatibleDC(nullptr);
  if (!dc) throw UiDriverError("no device context");
  PaintColours colours;
  try {
    Send(form, message, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(window));
    colours = {GetTextColor(dc), GetBkColor(dc)};
  } catch (...) {
    DeleteDC(dc);
    throw;
  }
  DeleteDC(dc);
  return colours;
}

bool Checked(HWND form, const FormLayout& layout, std::string_view control) {
  return Send(ControlWindow(form, layout, control), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

std::vector<std::wstring> Rows(HWND form, const FormLayout& layout, std::string_view control) {
  const HWND window = ControlWindow(form, layout, control);
  std::vector<std::wstring> rows;
  const auto count = Send(window, LVM_GETITEMCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    std::wstring text(2048, L'\0');
    LVITEMW item{};
    item.pszText = text.data();
    item.cchTextMax = static_cast<int>(text.size());
    const auto length =
        Send(window, LVM_GETITEMTEXTW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
    text.resize(static_cast<size_t>(length));
    rows.push_back(std::move(text));
  }
  return rows;
}

std::vector<bool> Ticks(HWND form, const FormLayout& layout, std::string_view control) {
  const HWND window = ControlWindow(form, layout, control);
  std::vector<bool> ticks;
  const auto count = Send(window, LVM_GETITEMCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    const auto state =
        static_cast<UINT>(Send(window, LVM_GETITEMSTATE, static_cast<WPARAM>(i), LVIS_STATEIMAGEMASK));
    ticks.push_back((state & LVIS_STATEIMAGEMASK) == INDEXTOSTATEIMAGEMASK(2));
  }
  return ticks;
}

std::wstring MessageText(HWND messageBox) {
  if (const HWND text = GetDlgItem(messageBox, kMessageBoxTextId)) return Text(text);
  return L"";
}

std::vector<std::wstring> MessageButtons(HWND messageBox) {
  std::vector<std::wstring> captions;
  for (HWND child = GetWindow(messageBox, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    if (IsWindowVisible(child) && lstrcmpiW(ClassOf(child).c_str(), L"Button") == 0)
      captions.push_back(Text(child));
  }
  return captions;
}

std::string MessageIcon(HWND messageBox) {
  for (HWND child = GetWindow(messageBox, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    if (lstrcmpiW(ClassOf(child).c_str(), L"Static") != 0 ||
        (GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) != SS_ICON)
      continue;
    const auto icon = reinterpret_cast<HICON>(Send(child, STM_GETICON, 0, 0));
    if (!icon || !IsWindowVisible(child)) return "";
    // The system's icons are shared: the box holds the very handle LoadIcon gives.
    const std::pair<LPCWSTR, const char*> known[] = {{IDI_ERROR, "error"},
                                                     {IDI_WARNING, "warning"},
                                                     {IDI_INFORMATION, "information"},
                                                     {IDI_QUESTION, "question"}};
    for (const auto& [id, name] : known) {
      if (LoadIconW(nullptr, id) == icon) return name;
    }
    return "other";
  }
  return "";
}

void PressOk(HWND messageBox) {
  const HWND ok = GetDlgItem(messageBox, IDOK);
  if (!ok || !IsWindowVisible(ok)) throw UiDriverError("the message box has no OK button");
  SendToHandler(messageBox, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(ok));
}

}  // namespace ponderix::winsim
