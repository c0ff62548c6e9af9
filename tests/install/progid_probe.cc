// What a host does with an installed add-in: creates its class by the ProgID,
// asks its type library through the registry and names a method through it.
// Prints "loaded <path of the DLL COM loaded>" and exits 0, or says what
// failed and exits 1. With `--hold FILE` it keeps the DLL loaded until FILE
// exists, as a running host does (the installer's in-use check).
#include <windows.h>

#include <ole2.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "ponderix.h"

using Microsoft::WRL::ComPtr;

namespace {

int Fail(const char* what, HRESULT result) {
  std::printf("%s failed: 0x%08lx\n", what, static_cast<unsigned long>(result));
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  const bool hold = argc == 3 && std::strcmp(argv[1], "--hold") == 0;
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
  int status = 0;
  {
    CLSID clsid{};
    ComPtr<IDispatch> addin;
    ComPtr<ITypeLib> library;
    DISPID id = 0;
    wchar_t method[] = L"RunAddin";
    LPOLESTR names[] = {method};
    HRESULT result = CLSIDFromProgID(L"PonderixKorvanis.SWConnection", &clsid);
    if (FAILED(result)) {
      status = Fail("CLSIDFromProgID", result);
    } else if (FAILED(result = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                                reinterpret_cast<void**>(addin.GetAddressOf())))) {
      status = Fail("CoCreateInstance", result);
    } else if (FAILED(result =
                          LoadRegTypeLib(LIBID_Ponderix, 1, 0, LOCALE_NEUTRAL, library.GetAddressOf()))) {
      status = Fail("LoadRegTypeLib", result);
    } else if (FAILED(result = addin->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id))) {
      status = Fail("GetIDsOfNames(RunAddin)", result);
    } else {
      char path[MAX_PATH] = {};
      GetModuleFileNameA(GetModuleHandleA("PonderixKorvanis.dll"), path, MAX_PATH);
      std::printf("loaded %s\n", path);
      std::fflush(stdout);
      while (hold && GetFileAttributesA(argv[2]) == INVALID_FILE_ATTRIBUTES) Sleep(100);
    }
  }
  CoUninitialize();
  return status;
}
