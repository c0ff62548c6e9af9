// The library's exports: the entry point, the class factory of SWConnection,
// the unload test and self-registration (regsvr32, also per user through
// `regsvr32 /n /i:user`).
#include <windows.h>

#include <ole2.h>
#include <olectl.h>

#include <cwchar>

#include "ponderix.h"
#include "win32/addin_object.h"
#include "win32/com_error.h"
#include "win32/module.h"
#include "win32/registration.h"

namespace ponderix::win32 {

namespace {

// The one class factory; it lives as long as the library. Holding it keeps
// the library loaded, as LockServer does. (Nothing deletes it through its
// interface, which by COM's design has no virtual destructor.)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
class ClassFactory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) noexcept override {
    return QueryEntry(IID_IClassFactory, [&] {
      if (!out) return E_POINTER;
      if (riid != IID_IUnknown && riid != IID_IClassFactory) {
        *out = nullptr;
        return E_NOINTERFACE;
      }
      *out = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    });
  }
  ULONG STDMETHODCALLTYPE AddRef() noexcept override {
    AddLock();
    return 2;
  }
  ULONG STDMETHODCALLTYPE Release() noexcept override {
    RemoveLock();
    return 1;
  }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** out) noexcept override {
    return ComEntry(IID_IClassFactory, [&] {
      if (!out) return E_POINTER;
      *out = nullptr;
      if (outer) return CLASS_E_NOAGGREGATION;
      return AddinObject::Create(riid, out);
    });
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) noexcept override {
    return ComEntry(IID_IClassFactory, [&] {
      if (lock) {
        AddLock();
      } else {
        RemoveLock();
      }
      return S_OK;
    });
  }
};
#pragma GCC diagnostic pop

ClassFactory g_factory;

}  // namespace

}  // namespace ponderix::win32

using ponderix::win32::ComEntry;
using ponderix::win32::RegistrationScope;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) noexcept {
  if (reason == DLL_PROCESS_ATTACH) {
    ponderix::win32::SetModuleHandle(instance);
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) noexcept {
  return ComEntry(IID_IClassFactory, [&] {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (rclsid != CLSID_SWConnection) return CLASS_E_CLASSNOTAVAILABLE;
    return ponderix::win32::g_factory.QueryInterface(riid, ppv);
  });
}

STDAPI DllCanUnloadNow() noexcept {
  return ComEntry(IID_NULL, [] { return ponderix::win32::CanUnload() ? S_OK : S_FALSE; });
}

// Machine-wide; without administrator rights it fails with E_ACCESSDENIED,
// as COM servers do (`regsvr32 /n /i:user` registers for the current user).
STDAPI DllRegisterServer() noexcept {
  return ComEntry(IID_NULL, [] {
    ponderix::win32::RegisterServer(RegistrationScope::kMachine, ponderix::win32::ModulePath());
    return S_OK;
  });
}

// Removes the registration of both scopes.
STDAPI DllUnregisterServer() noexcept {
  return ComEntry(IID_NULL, [] {
    ponderix::win32::UnregisterServer(RegistrationScope::kMachine, /*bothScopes=*/true);
    return S_OK;
  });
}

// `regsvr32 /n /i:user` registers for the current user only, `regsvr32 /u /n
// /i:user` removes that; with no command line it acts like Dll(Un)RegisterServer.
STDAPI DllInstall(BOOL install, PCWSTR commandLine) noexcept {
  return ComEntry(IID_NULL, [&] {
    const bool userOnly = commandLine && _wcsicmp(commandLine, L"user") == 0;
    if (!userOnly && commandLine && *commandLine) return E_INVALIDARG;
    const RegistrationScope scope = userOnly ? RegistrationScope::kUser : RegistrationScope::kMachine;
    if (install) {
      ponderix::win32::RegisterServer(scope, ponderix::win32::ModulePath());
    } else {
      ponderix::win32::UnregisterServer(scope, /*bothScopes=*/!userOnly);
    }
    return S_OK;
  });
}
