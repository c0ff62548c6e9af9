// What the Wine test programs share: the add-in DLL under test, loaded from
// the folder of the test program, and registry helpers that read, seed and
// snapshot keys.
#pragma once

#include <windows.h>

#include <oaidl.h>
#include <objbase.h>

#include <atomic>

#include <optional>
#include <string>
#include <string_view>

#include "win32/text.h"

namespace ponderix::wintest {

// PonderixKorvanis.dll beside this program, loaded for the whole run.
class AddinDll {
 public:
  static AddinDll& Get();

  const std::wstring& path() const { return path_; }
  HMODULE module() const { return module_; }

  HRESULT RegisterServer() const;
  HRESULT UnregisterServer() const;
  HRESULT Install(bool install, const wchar_t* commandLine) const;
  HRESULT CanUnloadNow() const;
  HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** out) const;

 private:
  AddinDll();
  // The export `name` as a pointer to a function of type Fn.
  template <class Fn>
  Fn Export(const char* name) const;

  std::wstring path_;
  HMODULE module_ = nullptr;
};

// Registers machine-wide for the lifetime of the object.
class ScopedRegistration {
 public:
  ScopedRegistration();
  ~ScopedRegistration();
  ScopedRegistration(const ScopedRegistration&) = delete;
  ScopedRegistration& operator=(const ScopedRegistration&) = delete;
  HRESULT result() const { return result_; }

 private:
  HRESULT result_;
};

bool KeyExists(HKEY hive, std::wstring_view path);
std::optional<std::wstring> ReadString(HKEY hive, std::wstring_view path, std::wstring_view name);
std::optional<DWORD> ReadDword(HKEY hive, std::wstring_view path, std::wstring_view name);
// Creates the key when missing; throws std::runtime_error on failure.
void WriteString(HKEY hive, std::wstring_view path, std::wstring_view name, std::wstring_view value);
void WriteDword(HKEY hive, std::wstring_view path, std::wstring_view name, DWORD value);
void DeleteTree(HKEY hive, std::wstring_view path);

// The key with its values and subkeys, in a stable text form; "<absent>"
// when it does not exist.
std::string DumpTree(HKEY hive, std::wstring_view path);

using win32::GuidText;

// An automation object with no members at all: not a host. It lives on the
// test's stack and counts references instead of deleting itself (COM
// interfaces have no virtual destructor).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
class EmptyDispatch final : public IDispatch {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    if (riid != IID_IUnknown && riid != IID_IDispatch) {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    *out = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
  ULONG STDMETHODCALLTYPE Release() override { return --references; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return DISP_E_BADINDEX; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT count, LCID, DISPID* ids) override {
    for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
    return DISP_E_UNKNOWNNAME;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                   UINT*) override {
    return DISP_E_MEMBERNOTFOUND;
  }

  std::atomic<ULONG> references{1};  // the test's own
};
#pragma GCC diagnostic pop

}  // namespace ponderix::wintest
