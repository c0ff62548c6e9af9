// Errors at the COM boundary. Inside the add-in a failure is an exception: a
// failed Windows call in our own code throws ComError, a failed host call
// throws HostError (addin/host.h). No exception leaves the library: every
// exported COM method and Dll* entry point is noexcept and runs its body in
//
//   return ComEntry(IID_of_the_interface, [&] { ...; return S_OK; });
//
// which turns an exception into an HRESULT and hands its text to the caller
// through the COM error object (IErrorInfo).
#pragma once

#include <windows.h>

#include <oleauto.h>

#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

namespace ponderix::win32 {

class ComError : public std::runtime_error {
 public:
  ComError(HRESULT code, const std::string& text) : std::runtime_error(text), code_(code) {}
  HRESULT code() const noexcept { return code_; }

 private:
  HRESULT code_;
};

// Throws ComError("<what>: <system text>") when `hr` is a failure.
void ThrowIfFailed(HRESULT hr, std::string_view what);
// Throws ComError for a failed Win32 status (ERROR_SUCCESS passes).
void ThrowIfWin32Error(LONG status, std::string_view what);

// The system's text for `hr`, without a trailing line break; "" when it has none.
std::string SystemText(HRESULT hr);

// Only inside a catch block: the HRESULT for the exception being handled,
// whose text also becomes the thread's error object for interface `iid`.
HRESULT ReturnCurrentException(const IID& iid) noexcept;

// How many error objects this thread has set through ReturnCurrentException.
unsigned ErrorObjectsSet() noexcept;

// Runs `body`, which returns the entry's HRESULT; an exception it throws
// comes back as ReturnCurrentException(iid). A failure `body` returns without
// having set an error object (directly or through an entry it called, as
// Invoke calls RunAddin) clears the thread's one, so that a caller never
// reads an earlier call's text as this one's.
template <bool kClearsErrorObject = true, class Body>
HRESULT ComEntry(const IID& iid, Body&& body) noexcept {
  const unsigned before = ErrorObjectsSet();
  try {
    const HRESULT hr = std::forward<Body>(body)();
    if (kClearsErrorObject && FAILED(hr) && ErrorObjectsSet() == before) SetErrorInfo(0, nullptr);
    return hr;
  } catch (...) {
    return ReturnCurrentException(iid);
  }
}

// ComEntry for QueryInterface, whose refusal leaves the thread's error object
// alone: a client may ask for interfaces between a failed call and reading its
// error, and no caller reads one after QueryInterface (ISupportErrorInfo does
// not name IUnknown).
template <class Body>
HRESULT QueryEntry(const IID& iid, Body&& body) noexcept {
  return ComEntry<false>(iid, std::forward<Body>(body));
}

}  // namespace ponderix::win32
