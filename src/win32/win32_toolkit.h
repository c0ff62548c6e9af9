// The native dialog toolkit: forms of the toolkit contract (addin/toolkit.h)
// as Win32 windows with standard controls, laid out from the FormLayout at 96
// dots per inch. MakeToolkit (platform.h) returns one; this header names what
// tests rely on beyond the contract.
#pragma once

namespace ponderix::win32 {

// The control at index i of FormLayout::controls has the window ID
// kFirstControlId + i.
inline constexpr int kFirstControlId = 1000;

// The window class of a form.
inline constexpr wchar_t kFormClassName[] = L"PonderixKorvanisForm";

}  // namespace ponderix::win32
