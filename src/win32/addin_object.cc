#include "win32/addin_object.h"

#include <memory>
#include <optional>
#include <string>

#include "win32/com_error.h"
#include "win32/module.h"
#include "win32/owners.h"
#include "win32/platform.h"
#include "win32/text.h"

namespace ponderix::win32 {

namespace {

using Microsoft::WRL::ComPtr;

// A run shows modal dialogs whose message loop could deliver a second
// RunAddin; one run per library at a time.
bool g_runActive = false;

// Marks a run active for as long as it lasts, however it ends.
class RunActiveScope {
 public:
  RunActiveScope() noexcept { g_runActive = true; }
  ~RunActiveScope() { g_runActive = false; }
  RunActiveScope(const RunActiveScope&) = delete;
  RunActiveScope& operator=(const RunActiveScope&) = delete;
};

// How many arguments member `id` takes when invoked as `flags` (its return
// value not counted); nullopt when the type information has no such member.
std::optional<UINT> ArgumentCount(ITypeInfo* info, DISPID id, WORD flags) {
  TYPEATTR* rawAttributes = nullptr;
  ThrowIfFailed(info->GetTypeAttr(&rawAttributes), "reading the type library");
  const auto releaseAttributes = [info](TYPEATTR* attributes) { info->ReleaseTypeAttr(attributes); };
  const std::unique_ptr<TYPEATTR, decltype(releaseAttributes)> attributes(rawAttributes, releaseAttributes);
  for (UINT i = 0; i < attributes->cFuncs; ++i) {
    FUNCDESC* rawFunction = nullptr;
    ThrowIfFailed(info->GetFuncDesc(i, &rawFunction), "reading the type library");
    const auto releaseFunction = [info](FUNCDESC* function) { info->ReleaseFuncDesc(function); };
    const std::unique_ptr<FUNCDESC, decltype(releaseFunction)> function(rawFunction, releaseFunction);
    if (function->memid != id || (function->invkind & flags) == 0) continue;
    UINT count = 0;
    for (SHORT p = 0; p < function->cParams; ++p) {
      if ((function->lprgelemdescParam[p].paramdesc.wParamFlags & PARAMFLAG_FRETVAL) == 0) ++count;
    }
    return count;
  }
  return std::nullopt;
}

}  // namespace

AddinObject::AddinObject()
    : connection_(DensityModule(), reinterpret_cast<std::uintptr_t>(ModuleHandle()), this) {
  AddConnection(connection_);
}

AddinObject::~AddinObject() { RemoveConnection(connection_); }

HRESULT AddinObject::Create(REFIID riid, void** out) noexcept {
  return ComEntry(IID_IClassFactory, [&] {
    if (!out) return E_POINTER;
    *out = nullptr;
    // Born with no reference; the holder takes the first. (mingw-w64's
    // ComPtr::Attach adds a reference, unlike WRL's, so it is not used.)
    const ComPtr<AddinObject> object(new AddinObject());
    return object->QueryInterface(riid, out);
  });
}

HRESULT AddinObject::QueryInterface(REFIID riid, void** out) noexcept {
  return QueryEntry(IID_IUnknown, [&] {
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
  });
}

ULONG AddinObject::AddRef() noexcept { return ++references_; }

ULONG AddinObject::Release() noexcept {
  const ULONG left = --references_;
  if (left == 0) delete this;
  return left;
}

HRESULT AddinObject::ConnectToSW(IDispatch* ThisSW, LONG Cookie, VARIANT_BOOL* pbResult) noexcept {
  return ComEntry(IID_SwAddin, [&] {
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
  });
}

HRESULT AddinObject::DisconnectFromSW(VARIANT_BOOL* pbResult) noexcept {
  return ComEntry(IID_SwAddin, [&] {
    if (!pbResult) return E_POINTER;
    *pbResult = VARIANT_FALSE;
    const bool disconnected = connection_.SwAddin_DisconnectFromSW();
    *pbResult = disconnected ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  });
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
  return ComEntry(IID_IDispatch, [&] {
    if (!count) return E_POINTER;
    *count = 1;
    return S_OK;
  });
}

HRESULT AddinObject::GetTypeInfo(UINT index, LCID /*lcid*/, ITypeInfo** info) noexcept {
  return ComEntry(IID_IDispatch, [&] {
    if (!info) return E_POINTER;
    *info = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    ComPtr<ITypeInfo> copy(TypeInfo());
    *info = copy.Detach();
    return S_OK;
  });
}

HRESULT AddinObject::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID /*lcid*/,
                                   DISPID* ids) noexcept {
  return ComEntry(IID_IDispatch, [&] {
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    if (!names || !ids) return E_POINTER;
    if (count == 0) return E_INVALIDARG;
    return TypeInfo()->GetIDsOfNames(names, count, ids);
  });
}

HRESULT AddinObject::Invoke(DISPID id, REFIID riid, LCID /*lcid*/, WORD flags, DISPPARAMS* params,
                            VARIANT* result, EXCEPINFO* exception, UINT* argError) noexcept {
  return ComEntry(IID_IDispatch, [&] {
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    if (!params) return E_INVALIDARG;
    // Callers may read Return_as_1 as a property; it takes nothing, so that is its call.
    if (id == DISPID_RETURN_AS_1 && (flags & DISPATCH_PROPERTYGET) != 0) flags |= DISPATCH_METHOD;
    // Wine's type information calls a method despite surplus arguments, which
    // Windows refuses; the members are checked here so that both answer alike.
    const std::optional<UINT> takes = ArgumentCount(TypeInfo(), id, flags);
    if (!takes) return DISP_E_MEMBERNOTFOUND;
    if (params->cNamedArgs != 0) return DISP_E_NONAMEDARGS;
    if (params->cArgs != *takes) return DISP_E_BADPARAMCOUNT;
    // The type information converts the arguments and calls the vtable below;
    // a failure the method reports comes back as DISP_E_EXCEPTION with its text.
    return TypeInfo()->Invoke(static_cast<_SWConnection*>(this), id, flags, params, result, exception,
                              argError);
  });
}

HRESULT AddinObject::Return_as_1(LONG* pResult) noexcept {
  return ComEntry(IID__SWConnection, [&] {
    if (!pResult) return E_POINTER;
    *pResult = ponderix::SWConnection::Return_as_1();
    return S_OK;
  });
}

HRESULT AddinObject::RunAddin() noexcept {
  return ComEntry(IID__SWConnection, [&] {
    const CallbackResult outcome = InvokeByName(kRunCallback);
    if (!outcome.ok) throw ComError(E_FAIL, outcome.error);
    return S_OK;
  });
}

HRESULT AddinObject::InterfaceSupportsErrorInfo(REFIID riid) noexcept {
  return ComEntry(IID_ISupportErrorInfo, [&] {
    return riid == IID_SwAddin || riid == IID__SWConnection || riid == IID_IDispatch ? S_OK : S_FALSE;
  });
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
  const RunActiveScope active;
  CallbackResult outcome = connection_.InvokeByName(name);
  if (!outcome.ok) ShowRunFailure(outcome.error);
  return outcome;
}

IDispatch* AddinObject::CallbackDispatch() noexcept { return static_cast<_SWConnection*>(this); }

}  // namespace ponderix::win32
