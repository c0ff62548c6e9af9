// The add-in at its COM boundary, as a client sees it: creation by ProgID,
// the interfaces it answers, NULL out-pointers, unknown classes, malformed
// IDispatch calls, the type library, failures carried as COM errors, and the
// object and lock counts behind DllCanUnloadNow. A failed run shows a message
// box, so this test needs a display too.
#include <ocidl.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <atomic>
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
  if (!check.Hr(CLSIDFromProgID(win32::kProgId, &clsid), S_OK, "CLSIDFromProgID")) return {};
  check.True(clsid == CLSID_SWConnection, "the ProgID names another class");
  ComPtr<IUnknown> object;
  check.Hr(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&object)), S_OK,
           "CoCreateInstance");
  return object;
}

HRESULT CallByDispid(IDispatch* dispatch, DISPID id, WORD flags, DISPPARAMS params, VARIANT* result = nullptr,
                     EXCEPINFO* exception = nullptr) {
  return dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, exception, nullptr);
}

// An EXCEPINFO whose strings are freed with it.
struct OwnedException {
  EXCEPINFO info{};
  ~OwnedException() {
    const UniqueBstr source(info.bstrSource);
    const UniqueBstr description(info.bstrDescription);
    const UniqueBstr helpFile(info.bstrHelpFile);
  }
};

std::wstring Text(BSTR text) { return text ? std::wstring(text, SysStringLen(text)) : std::wstring(); }

const Test creation("ComBoundary.CreatedByProgIdAnswersItsInterfaces", [](Check& check) {
  const ScopedRegistration registration;
  check.Hr(registration.result(), S_OK, "DllRegisterServer");
  const ComPtr<IUnknown> object = CreateByProgId(check);
  if (!object) return;

  struct Answer {
    const char* name;
    IID iid;
    HRESULT expected;
  };
  const Answer answers[] = {
      {"IUnknown", IID_IUnknown, S_OK},
      {"SwAddin", IID_SwAddin, S_OK},
      {"IDispatch", IID_IDispatch, S_OK},
      {"_SWConnection", IID__SWConnection, S_OK},
      {"ISupportErrorInfo", IID_ISupportErrorInfo, S_OK},
      {"IClassFactory", IID_IClassFactory, E_NOINTERFACE},
      {"IPersist", IID_IPersist, E_NOINTERFACE},
      {"IConnectionPointContainer", IID_IConnectionPointContainer, E_NOINTERFACE},
  };
  for (const Answer& answer : answers) {
    ComPtr<IUnknown> asked;
    const HRESULT hr = object->QueryInterface(answer.iid, reinterpret_cast<void**>(asked.GetAddressOf()));
    check.Hr(hr, answer.expected, std::string("QueryInterface ") + answer.name);
    if (FAILED(hr)) {
      check.True(asked == nullptr, std::string("a refused ") + answer.name + " left a pointer");
      continue;
    }
    // COM identity: every interface leads back to the same IUnknown.
    ComPtr<IUnknown> identity;
    asked.As(&identity);
    check.True(identity.Get() == object.Get(), std::string("IUnknown of ") + answer.name + " differs");
  }
});

const Test nullOut("ComBoundary.NullOutPointersGiveEPointer", [](Check& check) {
  const ScopedRegistration registration;
  const ComPtr<IUnknown> object = CreateByProgId(check);
  if (!object) return;
  ComPtr<SwAddin> addin;
  ComPtr<_SWConnection> connection;
  object.As(&addin);
  object.As(&connection);
  ComPtr<IClassFactory> factory;
  check.Hr(AddinDll::Get().GetClassObject(CLSID_SWConnection, IID_PPV_ARGS(&factory)), S_OK,
           "DllGetClassObject");
  EmptyDispatch host;

  struct Call {
    const char* name;
    std::function<HRESULT()> call;
  };
  const std::vector<Call> calls = {
      {"IUnknown::QueryInterface", [&] { return object->QueryInterface(IID_IUnknown, nullptr); }},
      {"DllGetClassObject",
       [&] { return AddinDll::Get().GetClassObject(CLSID_SWConnection, IID_IClassFactory, nullptr); }},
      {"IClassFactory::CreateInstance",
       [&] { return factory->CreateInstance(nullptr, IID_IUnknown, nullptr); }},
      {"SwAddin::ConnectToSW", [&] { return addin->ConnectToSW(&host, 7, nullptr); }},
      {"SwAddin::DisconnectFromSW", [&] { return addin->DisconnectFromSW(nullptr); }},
      {"IDispatch::GetTypeInfoCount", [&] { return connection->GetTypeInfoCount(nullptr); }},
      {"IDispatch::GetTypeInfo", [&] { return connection->GetTypeInfo(0, LOCALE_USER_DEFAULT, nullptr); }},
      {"_SWConnection::Return_as_1", [&] { return connection->Return_as_1(nullptr); }},
  };
  for (const Call& c : calls) check.Hr(c.call(), E_POINTER, c.name);
  check.Equal(host.references.load(), ULONG{1}, "references left on the host object");
});

const Test unknownClass("ComBoundary.OnlyItsOwnClassIsAvailable", [](Check& check) {
  // No registration needed: the DLL answers for itself.
  const CLSID someOther = {0x12345678, 0x1234, 0x5678, {0x9A, 0xBC, 0xDE, 0xF0, 0x12, 0x34, 0x56, 0x78}};
  for (const CLSID& clsid : {someOther, IID__SWConnection, IID_SwAddin, LIBID_Ponderix}) {
    void* out = reinterpret_cast<void*>(0x1);
    check.Hr(AddinDll::Get().GetClassObject(clsid, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE,
             "DllGetClassObject for " + Describe(GuidText(clsid)));
    check.True(out == nullptr, "a refused DllGetClassObject left a pointer");
  }
  ComPtr<IClassFactory> factory;
  if (!check.Hr(AddinDll::Get().GetClassObject(CLSID_SWConnection, IID_PPV_ARGS(&factory)), S_OK,
                "DllGetClassObject")) {
    return;
  }
  ComPtr<IUnknown> aggregated;
  EmptyDispatch outer;
  check.Hr(factory->CreateInstance(&outer, IID_PPV_ARGS(&aggregated)), CLASS_E_NOAGGREGATION,
           "CreateInstance with an outer object");
  ComPtr<IPersist> unsupported;
  check.Hr(factory->CreateInstance(nullptr, IID_PPV_ARGS(&unsupported)), E_NOINTERFACE,
           "CreateInstance for an interface it lacks");
  check.True(unsupported == nullptr, "a refused CreateInstance left a pointer");
});

const Test byName("ComBoundary.HostCallsTheCallbacksByName", [](Check& check) {
  const ScopedRegistration registration;
  const ComPtr<IUnknown> object = CreateByProgId(check);
  ComPtr<IDispatch> dispatch;
  if (!object || FAILED(object.As(&dispatch))) return;

  struct Name {
    const wchar_t* name;
    HRESULT expected;
    DISPID id;
  };
  const Name names[] = {
      {L"Return_as_1", S_OK, DISPID_RETURN_AS_1},
      {L"return_AS_1", S_OK, DISPID_RETURN_AS_1},
      {L"RunAddin", S_OK, DISPID_RUNADDIN},
      {L"RUNADDIN", S_OK, DISPID_RUNADDIN},
      {L"ConnectToSW", DISP_E_UNKNOWNNAME, DISPID_UNKNOWN},
      {L"", DISP_E_UNKNOWNNAME, DISPID_UNKNOWN},
  };
  for (const Name& n : names) {
    LPOLESTR name = const_cast<LPOLESTR>(n.name);
    DISPID id = 12345;
    check.Hr(dispatch->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id), n.expected,
             "GetIDsOfNames " + Describe(n.name));
    check.Equal(id, n.id, "dispid of " + Describe(n.name));
  }

  for (const WORD flags :
       {WORD{DISPATCH_METHOD}, WORD{DISPATCH_METHOD | DISPATCH_PROPERTYGET}, WORD{DISPATCH_PROPERTYGET}}) {
    UniqueVariant result;
    check.Hr(CallByDispid(dispatch.Get(), DISPID_RETURN_AS_1, flags, {}, result.get()), S_OK,
             "Invoke Return_as_1 with flags " + std::to_string(flags));
    check.Equal(V_VT(result.get()), VARTYPE{VT_I4}, "type of Return_as_1");
    check.Equal(V_I4(result.get()), LONG{1}, "value of Return_as_1");
  }
  check.Hr(CallByDispid(dispatch.Get(), DISPID_RETURN_AS_1, DISPATCH_METHOD, {}), S_OK,
           "Invoke Return_as_1 without a result");
  ComPtr<_SWConnection> connection;
  object.As(&connection);
  LONG one = 0;
  check.Hr(connection->Return_as_1(&one), S_OK, "_SWConnection::Return_as_1");
  check.Equal(one, LONG{1}, "Return_as_1 through the vtable");
});

const Test malformed("ComBoundary.MalformedInvokeIsRejected", [](Check& check) {
  const ScopedRegistration registration;
  const ComPtr<IUnknown> object = CreateByProgId(check);
  ComPtr<IDispatch> dispatch;
  if (!object || FAILED(object.As(&dispatch))) return;

  UniqueVariant argument;
  V_VT(argument.get()) = VT_BSTR;
  V_BSTR(argument.get()) = SysAllocString(L"Ponderix");
  DISPID named = DISPID_PROPERTYPUT;
  const DISPPARAMS oneArgument = {argument.get(), nullptr, 1, 0};
  const DISPPARAMS namedArgument = {argument.get(), &named, 1, 1};
  struct Case {
    const char* name;
    DISPID id;
    WORD flags;
    DISPPARAMS params;
    HRESULT expected;
  };
  const Case cases[] = {
      {"Return_as_1 with a string argument", DISPID_RETURN_AS_1, DISPATCH_METHOD, oneArgument,
       DISP_E_BADPARAMCOUNT},
      {"RunAddin with a string argument", DISPID_RUNADDIN, DISPATCH_METHOD, oneArgument,
       DISP_E_BADPARAMCOUNT},
      {"Return_as_1 with a named argument", DISPID_RETURN_AS_1, DISPATCH_METHOD, namedArgument,
       DISP_E_NONAMEDARGS},
      {"Return_as_1 as a property put", DISPID_RETURN_AS_1, DISPATCH_PROPERTYPUT, namedArgument,
       DISP_E_MEMBERNOTFOUND},
      {"RunAddin as a property get", DISPID_RUNADDIN, DISPATCH_PROPERTYGET, {}, DISP_E_MEMBERNOTFOUND},
      {"an unknown dispid", 99, DISPATCH_METHOD, {}, DISP_E_MEMBERNOTFOUND},
      {"DISPID_VALUE", DISPID_VALUE, DISPATCH_METHOD, {}, DISP_E_MEMBERNOTFOUND},
  };
  for (const Case& c : cases) {
    UniqueVariant result;
    check.Hr(CallByDispid(dispatch.Get(), c.id, c.flags, c.params, result.get()), c.expected, c.name);
  }

  DISPPARAMS none = {};
  const IID notNull = IID_IUnknown;
  check.Hr(dispatch->Invoke(DISPID_RETURN_AS_1, notNull, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none, nullptr,
                            nullptr, nullptr),
           DISP_E_UNKNOWNINTERFACE, "Invoke with a non-null riid");
  check.Hr(dispatch->Invoke(DISPID_RETURN_AS_1, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, nullptr,
                            nullptr, nullptr, nullptr),
           E_INVALIDARG, "Invoke without DISPPARAMS");
  LPOLESTR name = const_cast<LPOLESTR>(L"RunAddin");
  DISPID id = 0;
  check.Hr(dispatch->GetIDsOfNames(notNull, &name, 1, LOCALE_USER_DEFAULT, &id), DISP_E_UNKNOWNINTERFACE,
           "GetIDsOfNames with a non-null riid");
});

const Test typeLibrary("ComBoundary.TypeLibraryDescribesTheClass", [](Check& check) {
  const ScopedRegistration registration;
  const ComPtr<IUnknown> object = CreateByProgId(check);
  ComPtr<IDispatch> dispatch;
  if (!object || FAILED(object.As(&dispatch))) return;

  UINT count = 0;
  check.Hr(dispatch->GetTypeInfoCount(&count), S_OK, "GetTypeInfoCount");
  check.Equal(count, UINT{1}, "type infos");
  ComPtr<ITypeInfo> info;
  check.Hr(dispatch->GetTypeInfo(1, LOCALE_USER_DEFAULT, &info), DISP_E_BADINDEX, "GetTypeInfo(1)");
  if (!check.Hr(dispatch->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info), S_OK, "GetTypeInfo(0)")) return;
  UniqueBstr name;
  info->GetDocumentation(MEMBERID_NIL, OutPtr(name), nullptr, nullptr, nullptr);
  check.Equal(Text(name.get()), std::wstring(L"_SWConnection"), "interface name");

  // The registered library, as the host's tools find it.
  ComPtr<ITypeLib> library;
  if (!check.Hr(LoadRegTypeLib(LIBID_Ponderix, 1, 0, LOCALE_NEUTRAL, &library), S_OK, "LoadRegTypeLib"))
    return;
  UniqueBstr libraryName;
  UniqueBstr description;
  library->GetDocumentation(-1, OutPtr(libraryName), OutPtr(description), nullptr, nullptr);
  check.Equal(Text(libraryName.get()), std::wstring(L"Ponderix"), "library name");
  check.Equal(Text(description.get()), std::wstring(L"Ponderix by Korvanis"), "library description");
  ComPtr<ITypeInfo> addin;
  check.Hr(library->GetTypeInfoOfGuid(IID_SwAddin, &addin), S_OK, "SwAddin in the library");
  ComPtr<ITypeInfo> coclass;
  check.Hr(library->GetTypeInfoOfGuid(CLSID_SWConnection, &coclass), S_OK, "SWConnection in the library");
});

const Test failures("ComBoundary.FailuresComeBackAsComErrors", [](Check& check) {
  const ScopedRegistration registration;
  const ComPtr<IUnknown> object = CreateByProgId(check);
  ComPtr<IDispatch> dispatch;
  ComPtr<SwAddin> addin;
  ComPtr<_SWConnection> connection;
  if (!object || FAILED(object.As(&dispatch)) || FAILED(object.As(&addin)) ||
      FAILED(object.As(&connection))) {
    return;
  }

  // No host runs in this process, so a density run cannot start; each failed
  // run also tells the user, in a message box the driver acknowledges.
  std::vector<std::wstring> boxes;
  const auto acknowledge = [&boxes] {
    const HWND box = WaitForMessageBox(10000);
    if (!box) throw UiDriverError("the failed run showed no message box");
    boxes.push_back(MessageText(box));
    PressOk(box);
  };
  {
    OwnedException exception;
    check.Equal(ShowAndDrive(
                    [&] {
                      check.Hr(CallByDispid(dispatch.Get(), DISPID_RUNADDIN, DISPATCH_METHOD, {}, nullptr,
                                            &exception.info),
                               DISP_E_EXCEPTION, "Invoke RunAddin without a host");
                    },
                    acknowledge),
                std::string(), "driver");
    check.Equal(Text(exception.info.bstrSource), std::wstring(win32::kProgId), "exception source");
    const std::wstring description = Text(exception.info.bstrDescription);
    check.True(!description.empty(), "the exception has no description");
    check.True(FAILED(exception.info.scode), "the exception has no failure code");
    check.True(
        !boxes.empty() && boxes[0] == L"The density run failed: " + description + L"\n\nNo part was changed.",
        "the failed run's message box: " + Describe(boxes.empty() ? std::wstring() : boxes[0]));
  }
  check.Equal(ShowAndDrive(
                  [&] {
                    check.Hr(CallByDispid(dispatch.Get(), DISPID_RUNADDIN, DISPATCH_METHOD, {}),
                             DISP_E_EXCEPTION, "Invoke RunAddin without EXCEPINFO");
                  },
                  acknowledge),
              std::string(), "driver");
  check.Equal(ShowAndDrive(
                  [&] {
                    check.True(FAILED(connection->RunAddin()),
                               "_SWConnection::RunAddin without a host succeeded");
                  },
                  acknowledge),
              std::string(), "driver");
  check.Equal(boxes.size(), size_t{3}, "message boxes of the failed runs");
  ComPtr<IErrorInfo> error;
  check.Hr(GetErrorInfo(0, &error), S_OK, "GetErrorInfo after RunAddin");
  if (error) {
    UniqueBstr text;
    error->GetDescription(OutPtr(text));
    check.True(!Text(text.get()).empty(), "the error object has no description");
  }
  ComPtr<ISupportErrorInfo> supports;
  object.As(&supports);
  check.Hr(supports->InterfaceSupportsErrorInfo(IID_SwAddin), S_OK, "ISupportErrorInfo for SwAddin");

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
  // Every earlier test has let go of everything it created.
  check.Hr(AddinDll::Get().CanUnloadNow(), S_OK, "DllCanUnloadNow after the earlier tests");
  {
    const ComPtr<IUnknown> object = CreateByProgId(check);
    check.Hr(AddinDll::Get().CanUnloadNow(), S_FALSE, "DllCanUnloadNow with a live object");
  }
  check.Hr(AddinDll::Get().CanUnloadNow(), S_OK, "DllCanUnloadNow after releasing the object");

  ComPtr<IClassFactory> factory;
  check.Hr(AddinDll::Get().GetClassObject(CLSID_SWConnection, IID_PPV_ARGS(&factory)), S_OK,
           "DllGetClassObject");
  check.Hr(AddinDll::Get().CanUnloadNow(), S_FALSE, "DllCanUnloadNow with a held class factory");
  check.Hr(factory->LockServer(TRUE), S_OK, "LockServer(TRUE)");
  factory.Reset();
  check.Hr(AddinDll::Get().CanUnloadNow(), S_FALSE, "DllCanUnloadNow with a server lock");
  check.Hr(AddinDll::Get().GetClassObject(CLSID_SWConnection, IID_PPV_ARGS(&factory)), S_OK,
           "DllGetClassObject");
  check.Hr(factory->LockServer(FALSE), S_OK, "LockServer(FALSE)");
  {
    ComPtr<IUnknown> object;
    check.Hr(factory->CreateInstance(nullptr, IID_PPV_ARGS(&object)), S_OK, "CreateInstance");
    factory.Reset();
    check.Hr(AddinDll::Get().CanUnloadNow(), S_FALSE, "DllCanUnloadNow with an object from the factory");
  }
  check.Hr(AddinDll::Get().CanUnloadNow(), S_OK, "DllCanUnloadNow once everything is released");
});

}  // namespace

}  // namespace ponderix::wintest
