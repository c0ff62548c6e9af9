// The COM object behind coclass SWConnection, the object the host creates
// when it loads the add-in. It speaks the host's SwAddin interface (connect,
// disconnect) and its own dual interface _SWConnection, whose callbacks the
// host invokes by name. The work is done by the core's SWConnection; this
// object only translates between COM and the core.
#pragma once

#include <windows.h>

#include <oaidl.h>
#include <wrl/client.h>

#include <atomic>

#include "ponderix.h"
#include "run/sw_connection.h"
#include "win32/dispatch_target.h"
#include "win32/module.h"

namespace ponderix::win32 {

// COM interfaces have no virtual destructor by design: the object deletes
// itself in Release, never through an interface pointer.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
class AddinObject final : public SwAddin,
                          public _SWConnection,
                          public ISupportErrorInfo,
                          public DispatchCallbackTarget {
 public:
  // A new object answering `riid` in `*out` (IClassFactory::CreateInstance).
  static HRESULT Create(REFIID riid, void** out) noexcept;

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) noexcept override;
  ULONG STDMETHODCALLTYPE AddRef() noexcept override;
  ULONG STDMETHODCALLTYPE Release() noexcept override;

  // SwAddin: `ThisSW` is the host application; both answer VARIANT_TRUE on success.
  HRESULT STDMETHODCALLTYPE ConnectToSW(IDispatch* ThisSW, LONG Cookie,
                                        VARIANT_BOOL* pbResult) noexcept override;
  HRESULT STDMETHODCALLTYPE DisconnectFromSW(VARIANT_BOOL* pbResult) noexcept override;

  // IDispatch of _SWConnection: names and calls through the type library.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) noexcept override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) noexcept override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                                          DISPID* ids) noexcept override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* exception, UINT* argError) noexcept override;

  // _SWConnection
  HRESULT STDMETHODCALLTYPE Return_as_1(LONG* pResult) noexcept override;
  HRESULT STDMETHODCALLTYPE RunAddin() noexcept override;

  // ISupportErrorInfo
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) noexcept override;

  // DispatchCallbackTarget
  CallbackResult InvokeByName(std::string_view name) noexcept override;
  IDispatch* CallbackDispatch() noexcept override;

 private:
  AddinObject();
  ~AddinObject() override;

  // The type description of _SWConnection, loaded from this library on first use.
  ITypeInfo* TypeInfo();

  // Counts this object for DllCanUnloadNow until everything below is gone.
  struct ObjectCount {
    ObjectCount() noexcept { AddObject(); }
    ~ObjectCount() { RemoveObject(); }
    ObjectCount(const ObjectCount&) = delete;
    ObjectCount& operator=(const ObjectCount&) = delete;
  } count_;
  std::atomic<ULONG> references_{0};
  ponderix::SWConnection connection_;
  Microsoft::WRL::ComPtr<ITypeInfo> typeInfo_;
};
#pragma GCC diagnostic pop

}  // namespace ponderix::win32
