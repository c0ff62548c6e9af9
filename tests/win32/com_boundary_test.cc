// The add-in at its COM boundary, as a client sees it: one table of calls and
// the HRESULT each must give (interfaces, NULL out-pointers, classes it does
// not serve, names, malformed IDispatch calls, the type library), failures
// carried as COM errors, and the counts behind DllCanUnloadNow. A failed run
// shows a message box, so this test needs a display too.
#include <ocidl.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <functional>
#include <string>
#include <vector>

#include "harness.h"
#include "ponderix.h"
#include "win32/owners.h"
#include "win32/registration.h"
#include "winsim/support.h"
#include "winsim/ui_driver.h"

namespace ponderix::wintest {
namespace {

using Microsoft::WRL::ComPtr;
using win32::OutPtr;
using win32::UniqueBstr;
using win32::UniqueVariant;

ComPtr<IUnknown> CreateByProgId(Check& check) {
  CLSID clsid{};
  check.Hr(CLSIDFromProgID(win32::kProgId, &clsid), S_OK, "CLSIDFromProgID");
  check.True(clsid == CLSID_SWConnection, "the ProgID names its class");
  ComPtr<IUnknown> object;
  check.Hr(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&object)), S_OK,
           "CoCreateInstance");
  return object;
}

// A refusal that leaves something in the out-pointer gives E_UNEXPECTED instead.
HRESULT Refused(HRESULT hr, const void* out) { return FAILED(hr) && out ? E_UNEXPECTED : hr; }

std::wstring Text(BSTR text) { return text ? std::wstring(text, SysStringLen(text)) : std::wstring(); }

constexpr wchar_t kStaleText[] = L"an earlier call's failure";

// An error object left by some earlier call on this thread.
void SetStaleError() {
  ComPtr<ICreateErrorInfo> create;
  ComPtr<IErrorInfo> info;
  if (FAILED(CreateErrorInfo(&create))) return;
  create->SetDescription(const_cast<LPOLESTR>(kStaleText));
  if (SUCCEEDED(create.As(&info))) SetErrorInfo(0, info.Get());
}

// The description of the thread's error object, which this takes; "" when there is none.
std::wstring TakeErrorText() {
  ComPtr<IErrorInfo> info;
  UniqueBstr text;
  if (GetErrorInfo(0, &info) != S_OK || !info) return L"";
  info->GetDescription(OutPtr(text));
  return Text(text.get());
}

const Test calls("ComBoundary.EveryCallGivesItsHresult", [](Check& check) {
  const ScopedRegistration registration;
  check.Hr(registration.result(), S_OK, "DllRegisterServer");
  const ComPtr<IUnknown> object = CreateByProgId(check);
  ComPtr<IDispatch> dispatch;
  ComPtr<SwAddin> addin;
  ComPtr<_SWConnection> connection;
  ComPtr<IClassFactory> factory;
  if (!object || FAILED(object.As(&dispatch)) || FAILED(object.As(&addin)) ||
      FAILED(object.As(&connection)) ||
      FAILED(AddinDll::Get().GetClassObject(CLSID_SWConnection, IID_PPV_ARGS(&factory)))) {
    check.True(false, "the object's interfaces");
    return;
  }
  EmptyDispatch host;
  // COM identity: every interface it answers leads back to the same IUnknown.
  const auto ask = [&](REFIID iid) {
    IUnknown* raw = reinterpret_cast<IUnknown*>(0x1);
    const HRESULT hr = object->QueryInterface(iid, reinterpret_cast<void**>(&raw));
    if (FAILED(hr)) return Refused(hr, raw);
    ComPtr<IUnknown> identity;
    raw->QueryInterface(IID_PPV_ARGS(&identity));
    raw->Release();
    return identity.Get() == object.Get() ? hr : E_UNEXPECTED;
  };
  const auto classObject = [](REFCLSID clsid) {
    void* out = reinterpret_cast<void*>(0x1);
    const HRESULT hr = AddinDll::Get().GetClassObject(clsid, IID_IClassFactory, &out);
    return Refused(hr, out);
  };
  const auto create = [&](IUnknown* outer, REFIID iid) {
    void* out = reinterpret_cast<void*>(0x1);
    const HRESULT hr = factory->CreateInstance(outer, iid, &out);
    return Refused(hr, out);
  };
  const auto id = [&](const wchar_t* name, DISPID expected, REFIID riid = IID_NULL) {
    LPOLESTR names = const_cast<LPOLESTR>(name);
    DISPID got = 12345;  // what a refusal before the lookup leaves
    const HRESULT hr = dispatch->GetIDsOfNames(riid, &names, 1, LOCALE_USER_DEFAULT, &got);
    return got == expected ? hr : E_UNEXPECTED;
  };
  UniqueVariant argument;
  V_VT(argument.get()) = VT_BSTR;
  V_BSTR(argument.get()) = SysAllocString(L"Ponderix");
  DISPID named = DISPID_PROPERTYPUT;
  const auto invoke = [&](DISPID member, WORD flags, UINT args, UINT nameds, REFIID riid = IID_NULL) {
    DISPPARAMS params = {argument.get(), &named, args, nameds};
    UniqueVariant result;
    const HRESULT hr =
        dispatch->Invoke(member, riid, LOCALE_USER_DEFAULT, flags, &params, result.get(), nullptr, nullptr);
    // Return_as_1 answers 1 however it is called.
    return hr == S_OK && member == DISPID_RETURN_AS_1 &&
                   (V_VT(result.get()) != VT_I4 || V_I4(result.get()) != 1)
               ? E_UNEXPECTED
               : hr;
  };
  const CLSID someOther = {0x12345678, 0x1234, 0x5678, {0x9A, 0xBC, 0xDE, 0xF0, 0x12, 0x34, 0x56, 0x78}};
  struct Call {
    const char* what;
    HRESULT expected;
    std::function<HRESULT()> call;
  };
  const std::vector<Call> table = {
      {"QueryInterface IUnknown", S_OK, [&] { return ask(IID_IUnknown); }},
      {"QueryInterface SwAddin", S_OK, [&] { return ask(IID_SwAddin); }},
      {"QueryInterface IDispatch", S_OK, [&] { return ask(IID_IDispatch); }},
      {"QueryInterface _SWConnection", S_OK, [&] { return ask(IID__SWConnection); }},
      {"QueryInterface ISupportErrorInfo", S_OK, [&] { return ask(IID_ISupportErrorInfo); }},
      {"QueryInterface IClassFactory", E_NOINTERFACE, [&] { return ask(IID_IClassFactory); }},
      {"QueryInterface IPersist", E_NOINTERFACE, [&] { return ask(IID_IPersist); }},
      {"QueryInterface IConnectionPointContainer", E_NOINTERFACE,
       [&] { return ask(IID_IConnectionPointContainer); }},
      // NULL out-pointers.
      {"QueryInterface(NULL)", E_POINTER, [&] { return object->QueryInterface(IID_IUnknown, nullptr); }},
      {"DllGetClassObject(NULL)", E_POINTER,
       [&] { return AddinDll::Get().GetClassObject(CLSID_SWConnection, IID_IClassFactory, nullptr); }},
      {"CreateInstance(NULL)", E_POINTER,
       [&] { return factory->CreateInstance(nullptr, IID_IUnknown, nullptr); }},
      {"ConnectToSW(NULL)", E_POINTER, [&] { return addin->ConnectToSW(&host, 7, nullptr); }},
      {"DisconnectFromSW(NULL)", E_POINTER, [&] { return addin->DisconnectFromSW(nullptr); }},
      {"GetTypeInfoCount(NULL)", E_POINTER, [&] { return connection->GetTypeInfoCount(nullptr); }},
      {"GetTypeInfo(NULL)", E_POINTER,
       [&] { return connection->GetTypeInfo(0, LOCALE_USER_DEFAULT, nullptr); }},
      {"Return_as_1(NULL)", E_POINTER, [&] { return connection->Return_as_1(nullptr); }},
      // Only its own class, made alone, with the interfaces it has.
      {"DllGetClassObject for another class", CLASS_E_CLASSNOTAVAILABLE,
       [&] { return classObject(someOther); }},
      {"DllGetClassObject for an interface's id", CLASS_E_CLASSNOTAVAILABLE,
       [&] { return classObject(IID__SWConnection); }},
      {"DllGetClassObject for the library's id", CLASS_E_CLASSNOTAVAILABLE,
       [&] { return classObject(LIBID_Ponderix); }},
      {"CreateInstance with an outer object", CLASS_E_NOAGGREGATION,
       [&] { return create(&host, IID_IUnknown); }},
      {"CreateInstance for an interface it lacks", E_NOINTERFACE,
       [&] { return create(nullptr, IID_IPersist); }},
      // The callbacks by name, as the host calls them, in any case.
      {"GetIDsOfNames Return_as_1", S_OK, [&] { return id(L"Return_as_1", DISPID_RETURN_AS_1); }},
      {"GetIDsOfNames return_AS_1", S_OK, [&] { return id(L"return_AS_1", DISPID_RETURN_AS_1); }},
      {"GetIDsOfNames RUNADDIN", S_OK, [&] { return id(L"RUNADDIN", DISPID_RUNADDIN); }},
      {"GetIDsOfNames ConnectToSW", DISP_E_UNKNOWNNAME, [&] { return id(L"ConnectToSW", DISPID_UNKNOWN); }},
      {"GetIDsOfNames \"\"", DISP_E_UNKNOWNNAME, [&] { return id(L"", DISPID_UNKNOWN); }},
      {"GetIDsOfNames with a riid", DISP_E_UNKNOWNINTERFACE,
       [&] { return id(L"RunAddin", 12345, IID_IUnknown); }},
      {"Invoke Return_as_1", S_OK, [&] { return invoke(DISPID_RETURN_AS_1, DISPATCH_METHOD, 0, 0); }},
      {"Invoke Return_as_1 as method or get", S_OK,
       [&] { return invoke(DISPID_RETURN_AS_1, DISPATCH_METHOD | DISPATCH_PROPERTYGET, 0, 0); }},
      {"Invoke Return_as_1 as a get", S_OK,
       [&] { return invoke(DISPID_RETURN_AS_1, DISPATCH_PROPERTYGET, 0, 0); }},
      {"Return_as_1 through the vtable", S_OK,
       [&] {
         LONG one = 0;
         const HRESULT hr = connection->Return_as_1(&one);
         return one == 1 ? hr : E_UNEXPECTED;
       }},
      // Malformed calls.
      {"Return_as_1 with an argument", DISP_E_BADPARAMCOUNT,
       [&] { return invoke(DISPID_RETURN_AS_1, DISPATCH_METHOD, 1, 0); }},
      {"RunAddin with an argument", DISP_E_BADPARAMCOUNT,
       [&] { return invoke(DISPID_RUNADDIN, DISPATCH_METHOD, 1, 0); }},
      {"Return_as_1 with a named argument", DISP_E_NONAMEDARGS,
       [&] { return invoke(DISPID_RETURN_AS_1, DISPATCH_METHOD, 1, 1); }},
      {"Return_as_1 as a put", DISP_E_MEMBERNOTFOUND,
       [&] { return invoke(DISPID_RETURN_AS_1, DISPATCH_PROPERTYPUT, 1, 1); }},
      {"RunAddin as a get", DISP_E_MEMBERNOTFOUND,
       [&] { return invoke(DISPID_RUNADDIN, DISPATCH_PROPERTYGET, 0, 0); }},
      {"an unknown dispid", DISP_E_MEMBERNOTFOUND, [&] { return invoke(99, DISPATCH_METHOD, 0, 0); }},
      {"DISPID_VALUE", DISP_E_MEMBERNOTFOUND, [&] { return invoke(DISPID_VALUE, DISPATCH_METHOD, 0, 0); }},
      {"Invoke with a riid", DISP_E_UNKNOWNINTERFACE,
       [&] { return invoke(DISPID_RETURN_AS_1, DISPATCH_METHOD, 0, 0, IID_IUnknown); }},
      {"Invoke without a result", S_OK,
       [&] {
         DISPPARAMS none{};
         return dispatch->Invoke(DISPID_RETURN_AS_1, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none,
                                 nullptr, nullptr, nullptr);
       }},
      {"Invoke without DISPPARAMS", E_INVALIDARG,
       [&] {
         return dispatch->Invoke(DISPID_RETURN_AS_1, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, nullptr,
                                 nullptr, nullptr, nullptr);
       }},
      // One type info, describing _SWConnection; the registered library, as the host's tools find it.
      {"GetTypeInfo(1)", DISP_E_BADINDEX,
       [&] {
         ComPtr<ITypeInfo> info;
         return dispatch->GetTypeInfo(1, LOCALE_USER_DEFAULT, &info);
       }},
      {"GetTypeInfo(0) is _SWConnection", S_OK,
       [&] {
         UINT count = 0;
         ComPtr<ITypeInfo> info;
         UniqueBstr name;
         HRESULT hr = dispatch->GetTypeInfoCount(&count);
         if (SUCCEEDED(hr)) hr = dispatch->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info);
         if (SUCCEEDED(hr))
           hr = info->GetDocumentation(MEMBERID_NIL, OutPtr(name), nullptr, nullptr, nullptr);
         return count == 1 && Text(name.get()) == L"_SWConnection" ? hr : E_UNEXPECTED;
       }},
      {"the registered library", S_OK,
       [&] {
         ComPtr<ITypeLib> library;
         ComPtr<ITypeInfo> addinInfo, coclass;
         UniqueBstr name, description;
         HRESULT hr = LoadRegTypeLib(LIBID_Ponderix, 1, 0, LOCALE_NEUTRAL, &library);
         if (SUCCEEDED(hr))
           hr = library->GetDocumentation(-1, OutPtr(name), OutPtr(description), nullptr, nullptr);
         if (SUCCEEDED(hr)) hr = library->GetTypeInfoOfGuid(IID_SwAddin, &addinInfo);
         if (SUCCEEDED(hr)) hr = library->GetTypeInfoOfGuid(CLSID_SWConnection, &coclass);
         return Text(name.get()) == L"Ponderix" && Text(description.get()) == L"Ponderix by Korvanis"
                    ? hr
                    : E_UNEXPECTED;
       }},
      {"ISupportErrorInfo for SwAddin", S_OK,
       [&] {
         ComPtr<ISupportErrorInfo> supports;
         object.As(&supports);
         return supports->InterfaceSupportsErrorInfo(IID_SwAddin);
       }},
  };
  for (const Call& c : table) {
    // A failure gives no error object or its own, never one an earlier call left. (A refused
    // QueryInterface leaves it be: a client may ask between a failure and reading its error.)
    SetStaleError();
    check.Hr(c.call(), c.expected, c.what);
    const std::wstring error = TakeErrorText();
    const bool query = std::string_view(c.what).starts_with("QueryInterface");
    if (FAILED(c.expected) && !query)
      check.True(error != kStaleText, std::string(c.what) + ": a stale error object");
  }
  check.Equal(host.references.load(), ULONG{1}, "references left on the host object");
});

const Test failures("ComBoundary.FailuresComeBackAsComErrors", [](Check& check) {
  const ScopedRegistration registration;
  const ComPtr<IUnknown> object = CreateByProgId(check);
  ComPtr<IDispatch> dispatch;
  ComPtr<SwAddin> addin;
  ComPtr<_SWConnection> connection;
  if (!object || FAILED(object.As(&dispatch)) || FAILED(object.As(&addin)) || FAILED(object.As(&connection)))
    return;

  // No host runs in this process, so a run cannot start; each failed run
  // also tells the user, in a message box the driver acknowledges.
  EXCEPINFO exception{};
  DISPPARAMS none{};
  const std::vector<std::function<HRESULT()>> runs = {
      [&] {
        return dispatch->Invoke(DISPID_RUNADDIN, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none,
                                nullptr, &exception, nullptr);
      },
      [&] {
        return dispatch->Invoke(DISPID_RUNADDIN, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none,
                                nullptr, nullptr, nullptr);
      },
      [&] { return connection->RunAddin(); },
  };
  std::vector<std::wstring> boxes;
  std::vector<std::wstring> errors;
  for (size_t i = 0; i < runs.size(); ++i) {
    SetStaleError();
    HRESULT hr = S_OK;
    std::string icon;
    check.Equal(ShowAndDrive([&] { hr = runs[i](); },
                             [&] {
                               const HWND box = WaitForMessageBox(10000);
                               if (!box) throw UiDriverError("the failed run showed no message box");
                               boxes.push_back(MessageText(box));
                               icon = MessageIcon(box);
                               PressOk(box);
                             }),
                std::string(), "driver");
    check.Equal(icon, std::string("error"), "the failed run's box shows the error icon");
    check.True(i < 2 ? hr == DISP_E_EXCEPTION : FAILED(hr),
               "RunAddin without a host, way " + std::to_string(i));
    errors.push_back(TakeErrorText());
  }
  const UniqueBstr source(exception.bstrSource);
  const UniqueBstr description(exception.bstrDescription);
  const UniqueBstr helpFile(exception.bstrHelpFile);
  check.Equal(Text(source.get()), std::wstring(win32::kProgId), "exception source");
  check.True(FAILED(exception.scode) && SysStringLen(description.get()) > 0, "the exception's code and text");
  check.True(boxes.size() == 3 && boxes[0] == L"The density run failed: " + Text(description.get()) +
                                                  L"\n\nNo part was changed.",
             "the failed run's message box: " + Describe(boxes.empty() ? std::wstring() : boxes[0]));
  // The run's own text in the error object, unless the EXCEPINFO took it.
  check.True(errors[0] != kStaleText && errors[1] == Text(description.get()) && errors[2] == errors[1],
             "the error objects after RunAddin: " + Describe(errors[0]) + ", " + Describe(errors[1]) + ", " +
                 Describe(errors[2]));

  // Connecting to something that is not the host fails and holds on to nothing.
  EmptyDispatch notAHost;
  VARIANT_BOOL connected = VARIANT_TRUE;
  check.Hr(addin->ConnectToSW(nullptr, 3, &connected), E_INVALIDARG, "ConnectToSW(NULL)");
  check.Equal(connected, VARIANT_BOOL{VARIANT_FALSE}, "ConnectToSW(NULL) result");
  connected = VARIANT_TRUE;
  check.True(FAILED(addin->ConnectToSW(&notAHost, 3, &connected)), "ConnectToSW to a non-host succeeded");
  check.Equal(connected, VARIANT_BOOL{VARIANT_FALSE}, "ConnectToSW to a non-host result");
  VARIANT_BOOL disconnected = VARIANT_FALSE;
  check.Hr(addin->DisconnectFromSW(&disconnected), S_OK, "DisconnectFromSW when not connected");
  check.Equal(disconnected, VARIANT_BOOL{VARIANT_TRUE}, "DisconnectFromSW result");
  check.Equal(notAHost.references.load(), ULONG{1}, "references left on the non-host");
});

const Test unload("ComBoundary.UnloadsOnlyWhenEverythingIsReleased", [](Check& check) {
  const ScopedRegistration registration;
  const auto canUnload = [&](HRESULT expected, const char* when) {
    check.Hr(AddinDll::Get().CanUnloadNow(), expected, std::string("DllCanUnloadNow ") + when);
  };
  // Every earlier test has let go of everything it created.
  canUnload(S_OK, "after the earlier tests");
  {
    const ComPtr<IUnknown> object = CreateByProgId(check);
    canUnload(S_FALSE, "with a live object");
  }
  canUnload(S_OK, "after releasing the object");
  ComPtr<IClassFactory> factory;
  AddinDll::Get().GetClassObject(CLSID_SWConnection, IID_PPV_ARGS(&factory));
  canUnload(S_FALSE, "with a held class factory");
  check.Hr(factory->LockServer(TRUE), S_OK, "LockServer(TRUE)");
  factory.Reset();
  canUnload(S_FALSE, "with a server lock");
  AddinDll::Get().GetClassObject(CLSID_SWConnection, IID_PPV_ARGS(&factory));
  check.Hr(factory->LockServer(FALSE), S_OK, "LockServer(FALSE)");
  {
    ComPtr<IUnknown> object;
    check.Hr(factory->CreateInstance(nullptr, IID_PPV_ARGS(&object)), S_OK, "CreateInstance");
    factory.Reset();
    canUnload(S_FALSE, "with an object from the factory");
  }
  canUnload(S_OK, "once everything is released");
});

}  // namespace
}  // namespace ponderix::wintest
