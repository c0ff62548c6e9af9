#include "win32/addin_object.h"

#include <new>
#include <string>

#include "win32/com_error.h"
#include "win32/module.h"
#include "win32/owners.h"
#include "win32/platform.h"
#include "win32/text.h"

namespace ponderix::win32 {

namespace {

using Microsoft::WRL::ComPtr;

constexpr wchar_t kExceptionSource[] = L"PonderixKorvanis.SWConnection";

// A run shows modal dialogs whose message loop could deliver a second
// RunAddin; one run per library at a time.
bool g_runActive = false;

// Fills the caller's EXCEPINFO; the caller frees its strings.
void FillException(EXCEPINFO* exception, const std::string& text) {
  if (!exception) return;
  UniqueBstr source(SysAllocString(kExceptionSource));
  UniqueBstr description = MakeBstr(text);
  if (!source) throw std::bad_alloc();
  *exception = EXCEPINFO{};
  exception->scode = E_FAIL;
  exception->bstrSource = source.release();
  exception->bstrDescription = description.release();
}

}  // namespace

AddinObject::AddinObject()
    : connection_(DensityModule(), reinterpret_cast<std::uintptr_t>(ModuleHandle()), this) {
  AddConnection(connection_);
}

AddinObject::~AddinObject() { RemoveConnection(connection_); }

HRESULT AddinObject::Create(REFIID riid, void** out) noexcept {
  try {
    if (!out) return E_POINTER;
    *out = nullptr;
    // Born with no reference; the holder takes the first. (mingw-w64's
    // ComPtr::Attach adds a reference, unlike WRL's, so it is not used.)
    const ComPtr<AddinObject> object(new AddinObject());
    return object->QueryInterface(riid, out);
  } catch (...) {
    return ReturnCurrentException(IID_IClassFactory);
  }
}

HRESULT AddinObject::QueryInterface(REFIID riid, void** out) noexcept {
  try {
    if (!out) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_SwAddin) {
      *out = static_cast<SwAddin*>(this);
    } else if (riid == IID_IDispatch || riid == IID__SWConnection) {
      *out = static_cast<_SWConnection*>(this);
    } else if (riid == IID_ISupportErrorInfo) {
      *out = static_cast<ISupportErrorInfo*>(this);
    } else {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  } catch (...) {
    return ReturnCurrentException(IID_IUnknown);
  }
}

ULONG AddinObject::AddRef() noexcept { return ++references_; }

ULONG AddinObject::Release() noexcept {
  const ULONG left = --references_;
  if (left == 0) delete this;
  return left;
}

HRESULT AddinObject::ConnectToSW(IDispatch* ThisSW, LONG Cookie, VARIANT_BOOL* pbResult) noexcept {
  try {
    if (!pbResult) return E_POINTER;
    *pbResult = VARIANT_FALSE;
    if (!ThisSW) return E_INVALIDARG;
    bool connected = false;
    try {
      connected = connection_.SwAddin_ConnectToSW(WrapHostApplication(ThisSW), Cookie);
    } catch (...) {
      // A host that refused the connection is not kept: a failed connect holds nothing.
      connection_.connSwApp.reset();
      throw;
    }
    *pbResult = connected ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  } catch (...) {
    return ReturnCurrentException(IID_SwAddin);
  }
}

HRESULT AddinObject::DisconnectFromSW(VARIANT_BOOL* pbResult) noexcept {
  try {
    if (!pbResult) return E_POINTER;
    *pbResult = VARIANT_FALSE;
    const bool disconnected = connection_.SwAddin_DisconnectFromSW();
    *pbResult = disconnected ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  } catch (...) {
    return ReturnCurrentException(IID_SwAddin);
  }
}

ITypeInfo* AddinObject::TypeInfo() {
  if (!typeInfo_) {
    ComPtr<ITypeLib> library;
    ThrowIfFailed(LoadTypeLibEx(ModulePath().c_str(), REGKIND_NONE, &library), "loading the type library");
    ThrowIfFailed(library->GetTypeInfoOfGuid(IID__SWConnection, &typeInfo_), "reading the type library");
  }
  return typeInfo_.Get();
}

HRESULT AddinObject::GetTypeInfoCount(UINT* count) noexcept {
  try {
    if (!count) return E_POINTER;
    *count = 1;
    return S_OK;
  } catch (...) {
    return ReturnCurrentException(IID_IDispatch);
  }
}

HRESULT AddinObject::GetTypeInfo(UINT index, LCID /*lcid*/, ITypeInfo** info) noexcept {
  try {
    if (!info) return E_POINTER;
    *info = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    ComPtr<ITypeInfo> copy(TypeInfo());
    *info = copy.Detach();
    return S_OK;
  } catch (...) {
    return ReturnCurrentException(IID_IDispatch);
  }
}

HRESULT AddinObject::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID /*lcid*/,
                                   DISPID* ids) noexcept {
  try {
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    if (!names || !ids) return E_POINTER;
    if (count == 0) return E_INVALIDARG;
    return TypeInfo()->GetIDsOfNames(names, count, ids);
  } catch (...) {
    return ReturnCurrentException(IID_IDispatch);
  }
}

HRESULT AddinObject::Invoke(DISPID id, REFIID riid, LCID /*lcid*/, WORD flags, DISPPARAMS* params,
                            VARIANT* result, EXCEPINFO* exception, UINT* /*argError*/) noexcept {
  try {
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    if (!params) return E_INVALIDARG;
    if (id != DISPID_RETURN_AS_1 && id != DISPID_RUNADDIN) return DISP_E_MEMBERNOTFOUND;
    // Callers may read Return_as_1 as a property; RunAddin is a method only.
    const bool asMethod = (flags & DISPATCH_METHOD) != 0;
    const bool asGet = id == DISPID_RETURN_AS_1 && (flags & DISPATCH_PROPERTYGET) != 0;
    if (!asMethod && !asGet) return DISP_E_MEMBERNOTFOUND;
    if (params->cNamedArgs != 0) return DISP_E_NONAMEDARGS;
    if (params->cArgs != 0) return DISP_E_BADPARAMCOUNT;

    const CallbackResult outcome = InvokeByName(id == DISPID_RUNADDIN ? kRunCallback : kEnableCallback);
    if (!outcome.ok) {
      FillException(exception, outcome.error);
      return DISP_E_EXCEPTION;
    }
    if (result) {
      VariantInit(result);
      if (id == DISPID_RETURN_AS_1) {
        V_VT(result) = VT_I4;
        V_I4(result) = outcome.value;
      }
    }
    return S_OK;
  } catch (...) {
    return ReturnCurrentException(IID_IDispatch);
  }
}

HRESULT AddinObject::Return_as_1(LONG* pResult) noexcept {
  try {
    if (!pResult) return E_POINTER;
    *pResult = ponderix::SWConnection::Return_as_1();
    return S_OK;
  } catch (...) {
    return ReturnCurrentException(IID__SWConnection);
  }
}

HRESULT AddinObject::RunAddin() noexcept {
  try {
    const CallbackResult outcome = InvokeByName(kRunCallback);
    if (!outcome.ok) throw ComError(E_FAIL, outcome.error);
    return S_OK;
  } catch (...) {
    return ReturnCurrentException(IID__SWConnection);
  }
}

HRESULT AddinObject::InterfaceSupportsErrorInfo(REFIID riid) noexcept {
  try {
    return riid == IID_SwAddin || riid == IID__SWConnection || riid == IID_IDispatch ? S_OK : S_FALSE;
  } catch (...) {
    return ReturnCurrentException(IID_ISupportErrorInfo);
  }
}

CallbackResult AddinObject::InvokeByName(std::string_view name) noexcept {
  if (name != kRunCallback) return connection_.InvokeByName(name);
  if (g_runActive) {
    CallbackResult busy;
    busy.ok = false;
    try {
      busy.error = "a density run is already in progress";
    } catch (...) {
      // Out of memory: the failure still gets through, without its text.
    }
    return busy;
  }
  // The run's dialogs pump messages; the host may let go of us meanwhile.
  const ComPtr<IUnknown> keepAlive(static_cast<SwAddin*>(this));
  g_runActive = true;
  CallbackResult outcome = connection_.InvokeByName(name);
  if (!outcome.ok) ShowRunFailure(outcome.error);
  g_runActive = false;
  return outcome;
}

IDispatch* AddinObject::CallbackDispatch() noexcept { return static_cast<_SWConnection*>(this); }

}  // namespace ponderix::win32
