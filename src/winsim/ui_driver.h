// A driver for the add-in's real Win32 dialogs, acting as a user. The modal show
// blocks the thread that runs it, so the driver works from another thread:
// it finds the windows of this process by title and acts on the controls as
// a user would, each call returning only once the form has processed it
// (SendMessageTimeout), so a script plays the same way each time. Controls are found by
// their layout name: the toolkit gives the control at index i of
// layout.controls the ID 1000 + i. Every wait has a timeout; a call that
// cannot be carried out (no such control, the form stopped answering or is
// gone) throws UiDriverError, so a script that goes wrong fails instead of
// hanging; the error names a message by its number in hex.
#pragma once

#include <windows.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "addin/toolkit.h"

namespace ponderix::winsim {

class UiDriverError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The window was destroyed before it processed a message: a form or message
// box closed between being found and being asked, which an onlooker (rather
// than a script that acts on it) takes as gone.
class WindowGoneError : public UiDriverError {
 public:
  using UiDriverError::UiDriverError;
};

// How long one message may take to be processed before the call gives up;
// for a message that runs the add-in's handlers (a click, a key, a pick, the
// close box, OK of a message box), how long its thread may go without doing
// any work, and kUiWorkLimitMs how long it may work in all.
inline constexpr int kUiMessageTimeoutMs = 5000;
inline constexpr int kUiWorkLimitMs = 30 * 60 * 1000;

// Runs `show` (a modal show, a message box) on this thread while `drive`
// acts on it from a second thread. Returns what went wrong on the driver's
// side ("" when nothing did); a driver that fails closes every form and
// message box (CloseEverything), and those shown later, until `show` comes
// back. An exception from
// `show` reaches the caller once the driver has ended.
std::string ShowAndDrive(const std::function<void()>& show, std::function<void()> drive);

// A visible form (a window of the toolkit's form class) of this process with
// exactly this title; null when none appears within the timeout.
HWND WaitForForm(const std::wstring& title, int timeoutMs);
// A visible form of this process, whatever its title; null when none
// appears within the timeout.
HWND WaitForAnyForm(int timeoutMs);
// A visible message box (window class "#32770") of this process; null when
// none appears within the timeout.
HWND WaitForMessageBox(int timeoutMs);
// Waits until `window` is gone or hidden; false on timeout.
bool WaitUntilHidden(HWND window, int timeoutMs);

// The control of `form` named `control` in `layout`; throws UiDriverError.
HWND ControlWindow(HWND form, const FormLayout& layout, std::string_view control);

// A click: BM_CLICK on a button or check box (the button takes the focus
// first, as a mouse click gives it), STN_CLICKED for a clickable label.
void Click(HWND form, const FormLayout& layout, std::string_view control);
// Sets the tick of `row` of a check list as a user does: the list takes the
// focus (when a text box refuses to let it go, nothing is ticked), the row
// is chosen and, when its box is not as wanted, Space turns it over; without
// a name, the layout's only check list.
void Tick(HWND form, const FormLayout& layout, std::string_view control, int row, bool ticked);
void Tick(HWND form, const FormLayout& layout, int row, bool ticked);
// A user's pick in a drop-down: the focus moves to it (so a text box's Exit
// runs first), the item is selected and CBN_SELCHANGE goes to the form; when
// the focus stays where it was, nothing is picked.
void Pick(HWND form, const FormLayout& layout, std::string_view control, int index);
void Focus(HWND form, const FormLayout& layout, std::string_view control);
// Opens or closes a drop-down's list as its button does, the drop-down taking
// the focus first; gives the list's window.
HWND ShowList(HWND form, const FormLayout& layout, std::string_view control, bool shown);
// Replaces the text of a text box (WM_SETTEXT).
void Type(HWND form, const FormLayout& layout, std::string_view control, const std::wstring& text);
// WM_KEYDOWN, WM_CHAR (for Tab, Enter and Esc) and WM_KEYUP to the control,
// or, without a name, to the control of `form` that has the focus. Shift is
// not held: keys go in as typed without modifiers.
void Key(HWND form, const FormLayout& layout, std::string_view control, int virtualKey);
void Key(HWND form, int virtualKey);
// The close box (WM_SYSCOMMAND SC_CLOSE); the form's modal show then ends.
void Close(HWND form);
// A request to quit the application: WM_QUIT with `exitCode` posted to the
// thread of `form` (or of a message box); returns once the window is hidden.
void PostQuit(HWND form, int exitCode);
// Closes every visible form and message box of this process, so that a
// caller whose driver failed still gets its modal show back. Never throws.
void CloseEverything() noexcept;

// The layout name of the control that has the focus, "" when none of the form's.
std::string FocusedControl(HWND form, const FormLayout& layout);
// Window text of a control (text box, label, button, check box) or of the form.
std::wstring Text(HWND window);
std::wstring Text(HWND form, const FormLayout& layout, std::string_view control);
bool Visible(HWND form, const FormLayout& layout, std::string_view control);
bool Enabled(HWND form, const FormLayout& layout, std::string_view control);
// Drop-down: the selected index (-1: none) and the items.
int ListIndex(HWND form, const FormLayout& layout, std::string_view control);
std::vector<std::wstring> Items(HWND form, const FormLayout& layout, std::string_view control);
// The text and background colours the form gives `control` to paint with
// (its answer to the control's WM_CTLCOLOR message); for a drop-down, those
// of its field and its list's items.
struct PaintColours {
  COLORREF text = 0, back = 0;
};
PaintColours Colours(HWND form, const FormLayout& layout, std::string_view control);
// Check box: ticked or not.
bool Checked(HWND form, const FormLayout& layout, std::string_view control);
// Check list: rows and their ticks.
std::vector<std::wstring> Rows(HWND form, const FormLayout& layout, std::string_view control);
std::vector<bool> Ticks(HWND form, const FormLayout& layout, std::string_view control);

// Message box: its text, its buttons' captions, and OK.
std::wstring MessageText(HWND messageBox);
std::vector<std::wstring> MessageButtons(HWND messageBox);
// The box's icon as the system's icons name it: "error", "warning",
// "information", "question", "other", or "" when it shows none.
std::string MessageIcon(HWND messageBox);
void PressOk(HWND messageBox);

}  // namespace ponderix::winsim
