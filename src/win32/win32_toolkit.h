// The native dialog toolkit: forms of the toolkit contract (addin/toolkit.h)
// as Win32 windows with standard controls, laid out from the FormLayout at the
// owner window's dots per inch. MakeToolkit (platform.h) returns one; this
// header names what tests rely on beyond the contract.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>

#include "addin/toolkit.h"

namespace ponderix::win32 {

// The control at index i of FormLayout::controls has the window ID
// kFirstControlId + i.
inline constexpr int kFirstControlId = 1000;

// The window class of a form.
inline constexpr wchar_t kFormClassName[] = L"PonderixKorvanisForm";

// The caption of the toolkit's message box: the library's default application title.
inline constexpr wchar_t kMessageBoxCaption[] = L"PonderixKorvanis";

// The top-left corner of a form `width` x `height` pixels: centred over
// `over` (its owner's window rectangle), then moved as little as needed to lie
// inside `work` (the work area of the owner's monitor), its top-left corner
// first when it is larger.
POINT FormPosition(const RECT& over, const RECT& work, int width, int height);

// The toolkit with the one box that only the Windows add-in shows.
class NativeToolkit : public Toolkit {
 public:
  // The box of a failed run: the plain box with the error icon, so that a
  // half-done run does not look like the result. Cannot fail.
  virtual ShowEnd ShowFailureBox(const std::string& text) = 0;
};

// Whether Windows' high-contrast mode is on.
bool HighContrastOn();

// What the toolkit asks of the system, apart so that a test can answer for it.
struct ToolkitSystem {
  std::function<bool()> highContrast = &HighContrastOn;
  // The host's main window, which owns the forms and boxes; null when unknown.
  std::function<HWND()> hostWindow;
};

std::unique_ptr<NativeToolkit> MakeNativeToolkit(ToolkitSystem system = {});

}  // namespace ponderix::win32
