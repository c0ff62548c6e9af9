#include "win32/com_error.h"

#include <oleauto.h>
#include <wrl/client.h>

#include <cstdio>
#include <exception>
#include <memory>
#include <new>

#include "addin/host.h"
#include "win32/owners.h"
#include "win32/registration.h"
#include "win32/text.h"

namespace ponderix::win32 {

namespace {

thread_local unsigned g_errorObjectsSet = 0;

void SetErrorObject(const IID& iid, const std::string& text) noexcept {
  SetErrorInfo(0, nullptr);  // should the new one not come about, no earlier one stays
  try {
    Microsoft::WRL::ComPtr<ICreateErrorInfo> create;
    if (FAILED(CreateErrorInfo(&create))) return;
    const std::wstring description = Widen(text);
    create->SetGUID(iid);
    create->SetSource(const_cast<wchar_t*>(kProgId));
    create->SetDescription(const_cast<wchar_t*>(description.c_str()));
    Microsoft::WRL::ComPtr<IErrorInfo> info;
    if (SUCCEEDED(create.As(&info))) SetErrorInfo(0, info.Get());
  } catch (...) {
    // The HRESULT still reaches the caller; only the text is lost.
  }
}

}  // namespace

unsigned ErrorObjectsSet() noexcept { return g_errorObjectsSet; }

std::string SystemText(HRESULT hr) {
  wchar_t* buffer = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      static_cast<DWORD>(hr), 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  const std::unique_ptr<wchar_t, decltype(&LocalFree)> owner(buffer, &LocalFree);
  std::wstring_view text(buffer ? buffer : L"", length);
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ')) {
    text.remove_suffix(1);
  }
  return Narrow(text);
}

void ThrowIfFailed(HRESULT hr, std::string_view what) {
  if (SUCCEEDED(hr)) return;
  std::string text(what);
  const std::string system = SystemText(hr);
  text += ": ";
  if (system.empty()) {
    char code[16];
    snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(hr));
    text += code;
  } else {
    text += system;
  }
  throw ComError(hr, text);
}

void ThrowIfWin32Error(LONG status, std::string_view what) {
  if (status != ERROR_SUCCESS) ThrowIfFailed(HRESULT_FROM_WIN32(static_cast<DWORD>(status)), what);
}

HRESULT ReturnCurrentException(const IID& iid) noexcept {
  HRESULT hr = E_FAIL;
  std::string text;
  try {
    try {
      throw;
    } catch (const ComError& e) {
      if (FAILED(e.code())) hr = e.code();
      text = e.what();
    } catch (const HostError& e) {
      if (FAILED(e.code())) hr = e.code();
      text = e.what();
    } catch (const std::bad_alloc&) {
      hr = E_OUTOFMEMORY;
      text = "out of memory";
    } catch (const std::exception& e) {
      text = e.what();
    } catch (...) {
      text = "unknown failure";
    }
  } catch (...) {
    // Copying the text failed; the HRESULT is all there is to report, and no earlier text.
    ++g_errorObjectsSet;
    SetErrorInfo(0, nullptr);
    return hr;
  }
  ++g_errorObjectsSet;
  SetErrorObject(iid, text);
  return hr;
}

}  // namespace ponderix::win32
