#include "win32/host_adapter.h"

#include <windows.h>

#include <oaidl.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "addin/host.h"
#include "win32/com_error.h"
#include "win32/dispatch_target.h"
#include "win32/late_binding.h"
#include "win32/owners.h"
#include "win32/platform.h"
#include "win32/text.h"

namespace ponderix::win32 {

namespace {

using Microsoft::WRL::ComPtr;
using Type = HostObjectType;
using Kind = MemberKind;
using Call = HostCall;

// The host's members, indexed by HostCall (addin/host_operations.h).
constexpr const auto& kMembers = kHostMembers;

// The 64-bit host takes the module handle as a 64-bit integer.
constexpr Call kRegisterCallbacks =
    sizeof(void*) == 8 ? Call::kSetAddinCallbackInfo2 : Call::kSetAddinCallbackInfo;
constexpr LONG kAllMarks = -1;  // selections regardless of their marks

const HostMember& Member(Call call) { return kMembers[static_cast<size_t>(call)]; }

// One host object: the COM reference the adapter holds and the calls on it.
class HostObject {
 public:
  HostObject(ComPtr<IDispatch> object, std::shared_ptr<DispidCache> cache)
      : object_(std::move(object)), ids_(std::move(cache)) {}

  IDispatch* dispatch() const { return object_.Get(); }
  const std::shared_ptr<DispidCache>& cache() const { return ids_.shared(); }

  // Calls `call` on the host; `result` receives the answer (none for a put).
  void Invoke(Call call, Arguments& args, VARIANT* result) {
    const HostMember& member = Member(call);
    if (static_cast<int>(args.count()) != member.arguments) {
      throw std::logic_error("wrong argument count for " + Narrow(member.name));
    }
    const DISPID id = ids_.Find(object_.Get(), member);
    DISPPARAMS params = args.Params();
    DISPID named = DISPID_PROPERTYPUT;
    WORD flags = DISPATCH_METHOD;
    if (member.kind == Kind::kPropertyGet) {
      flags = DISPATCH_PROPERTYGET;
    } else if (member.kind == Kind::kPropertyPut) {
      flags = DISPATCH_PROPERTYPUT;
      params.rgdispidNamedArgs = &named;
      params.cNamedArgs = 1;
      result = nullptr;
    }
    UniqueExcepInfo exception;
    UINT argumentError = 0;
    const HRESULT hr = object_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result,
                                       exception.get(), &argumentError);
    if (hr == DISP_E_EXCEPTION) ThrowHostException(member, exception);
    if (FAILED(hr)) Fail(member, HresultText(hr), hr);
  }

  // `call`, or the first of its predecessors that the host has; a host with
  // none of them fails as for `call`.
  Call Supported(Call call) {
    for (Call c = call; c != Call::kCount; c = Member(c).predecessor) {
      if (ids_.Lookup(object_.Get(), Member(c))) return c;
    }
    ids_.Find(object_.Get(), Member(call));  // throws the unknown name
    return call;
  }

  void CallVoid(Call call, Arguments& args) { Invoke(call, args, nullptr); }
  int32_t CallLong(Call call, Arguments& args) {
    UniqueVariant result;
    Invoke(call, args, result.get());
    return AsLong(Member(call), result.get());
  }
  bool CallBool(Call call, Arguments& args) {
    UniqueVariant result;
    Invoke(call, args, result.get());
    return AsBool(Member(call), result.get());
  }
  double CallDouble(Call call, Arguments& args) {
    UniqueVariant result;
    Invoke(call, args, result.get());
    return AsDouble(Member(call), result.get());
  }
  std::string CallText(Call call, Arguments& args) {
    UniqueVariant result;
    Invoke(call, args, result.get());
    return AsText(Member(call), result.get());
  }
  ComPtr<IDispatch> CallObject(Call call, Arguments& args) {
    UniqueVariant result;
    Invoke(call, args, result.get());
    return AsObject(Member(call), result.get());
  }
  template <class R>
  R CallNoArguments(R (HostObject::*call)(Call, Arguments&), Call which) {
    Arguments none;
    return (this->*call)(which, none);
  }

 private:
  [[noreturn]] static void ThrowHostException(const HostMember& member, UniqueExcepInfo& exception) {
    if (exception->pfnDeferredFillIn) exception->pfnDeferredFillIn(exception.get());
    HRESULT code = exception->scode;
    if (code == S_OK) code = DISP_E_EXCEPTION;
    std::string text = FromBstr(exception->bstrDescription);
    if (text.empty()) text = HresultText(code);
    Fail(member, text, code);
  }

  ComPtr<IDispatch> object_;
  MemberIds ids_;
};

template <class Contract, class Wrapper>
Ref<Contract> Wrap(ComPtr<IDispatch> object, const std::shared_ptr<DispidCache>& cache) {
  if (!object) return nullptr;
  return std::make_shared<Wrapper>(std::move(object), cache);
}

class HostUserUnit final : public UserUnit, private HostObject {
 public:
  using HostObject::HostObject;
  int32_t UnitCode() override { return CallNoArguments(&HostObject::CallLong, Call::kSpecificUnitType); }
};

class HostDocument;

class HostComponent final : public Component, private HostObject {
 public:
  using HostObject::HostObject;
  Ref<Document> ComponentDocument() override;
};

class HostSelectionMgr final : public SelectionMgr, private HostObject {
 public:
  using HostObject::HostObject;
  int32_t SelectedObjectCount() override {
    Arguments args;
    args.Long(kAllMarks);
    return CallLong(Call::kGetSelectedObjectCount2, args);
  }
  Ref<Component> SelectedObjectComponent(int32_t index) override {
    const Call call = Supported(Call::kGetSelectedObjectsComponent4);
    Arguments args;
    args.Long(index);
    if (Member(call).arguments == 2) args.Long(kAllMarks);
    return Wrap<Component, HostComponent>(CallObject(call, args), cache());
  }
};

class HostDocument final : public Document, private HostObject {
 public:
  using HostObject::HostObject;
  std::string GetPathName() override { return CallNoArguments(&HostObject::CallText, Call::kGetPathName); }
  int32_t GetType() override { return CallNoArguments(&HostObject::CallLong, Call::kGetType); }
  Ref<SelectionMgr> SelectionManager() override {
    return Wrap<SelectionMgr, HostSelectionMgr>(
        CallNoArguments(&HostObject::CallObject, Call::kSelectionManager), cache());
  }
  Ref<UserUnit> GetUserUnit(int32_t unitType) override {
    Arguments args;
    args.Long(unitType);
    return Wrap<UserUnit, HostUserUnit>(CallObject(Call::kGetUserUnit, args), cache());
  }
  double GetUserPreferenceDoubleValue(int32_t preference) override {
    Arguments args;
    args.Long(preference);
    return CallDouble(Call::kGetUserPreferenceDoubleValue, args);
  }
  bool SetUserPreferenceDoubleValue(int32_t preference, double value) override {
    Arguments args;
    args.Long(preference).Double(value);
    return CallBool(Call::kSetUserPreferenceDoubleValue, args);
  }
  bool Visible() override { return CallNoArguments(&HostObject::CallBool, Call::kVisibleGet); }
  void SetVisible(bool visible) override {
    Arguments args;
    args.Bool(visible);
    CallVoid(Call::kVisiblePut, args);
  }
};

Ref<Document> HostComponent::ComponentDocument() {
  return Wrap<Document, HostDocument>(CallNoArguments(&HostObject::CallObject, Call::kGetModelDoc2), cache());
}

class HostFrame final : public Frame, private HostObject {
 public:
  using HostObject::HostObject;
  int32_t MenuItemCount(int32_t docType, const std::string& path) override {
    Arguments args;
    args.Long(docType).Text(path);
    return CallLong(Call::kGetSubMenuCount, args);
  }
  std::uintptr_t WindowHandle() override {
    // A window handle's value fits 32 bits, so an older 64-bit host's GetHWnd gives it whole too.
    const Call call = sizeof(void*) == 8 ? Supported(Call::kGetHWndx64) : Call::kGetHWnd;
    Arguments none;
    UniqueVariant result;
    Invoke(call, none, result.get());
    UniqueVariant wide;
    if (FAILED(VariantChangeType(wide.get(), result.get(), 0, VT_I8)))
      Fail(Member(call), "the host answered with no window handle", DISP_E_TYPEMISMATCH);
    return static_cast<std::uintptr_t>(V_I8(wide.get()));
  }
};

// The open documents as the host chains them: GetFirstDocument, then each
// document's GetNext. Holds the application and the last document it gave.
class HostEnumerator final : public DocumentEnumerator {
 public:
  explicit HostEnumerator(HostObject application) : application_(std::move(application)) {}

  void Reset() override {
    first_ = application_.CallNoArguments(&HostObject::CallObject, Call::kGetFirstDocument);
    last_.Reset();
    started_ = true;
  }

  Ref<Document> Next(int32_t count, int32_t& fetched) override {
    fetched = 0;
    if (count < 1) return nullptr;
    if (!started_) Reset();
    ComPtr<IDispatch> document;
    if (first_) {
      document.Swap(first_);  // mingw-w64's ComPtr move assignment copies; Swap empties first_
    } else if (last_) {
      HostObject last(last_, application_.cache());
      document = last.CallNoArguments(&HostObject::CallObject, Call::kGetNext);
    }
    last_ = document;
    if (!document) return nullptr;
    fetched = 1;
    return Wrap<Document, HostDocument>(std::move(document), application_.cache());
  }

 private:
  HostObject application_;
  ComPtr<IDispatch> first_;  // given by Reset, not yet handed out
  ComPtr<IDispatch> last_;   // the document handed out last
  bool started_ = false;
};

class HostApplication final : public Application, private HostObject {
 public:
  using HostObject::HostObject;

  Ref<Document> GetActiveDocument() override {
    return Wrap<Document, HostDocument>(CallNoArguments(&HostObject::CallObject, Call::kActiveDoc), cache());
  }

  int32_t ShowUserMessage(const std::string& text, int32_t icon, int32_t buttons) override {
    Arguments args;
    args.Text(text).Long(icon).Long(buttons);
    return CallLong(Call::kSendMsgToUser2, args);
  }

  Ref<Document> OpenDocument(const std::string& path, int32_t docType, int32_t options,
                             const std::string& configuration, int32_t& errors, int32_t& warnings) override {
    LONG hostErrors = 0;
    LONG hostWarnings = 0;
    Arguments args;
    args.Text(path)
        .Long(docType)
        .Long(options)
        .Text(configuration)
        .LongOut(&hostErrors)
        .LongOut(&hostWarnings);
    ComPtr<IDispatch> document = CallObject(Call::kOpenDoc6, args);
    errors = hostErrors;
    warnings = hostWarnings;
    return Wrap<Document, HostDocument>(std::move(document), cache());
  }

  Ref<Document> ActivateDocument(const std::string& path, bool silent, int32_t& errors) override {
    LONG hostErrors = 0;
    Arguments args;
    args.Text(path).Bool(silent).LongOut(&hostErrors);
    ComPtr<IDispatch> document = CallObject(Call::kActivateDoc2, args);
    errors = hostErrors;
    return Wrap<Document, HostDocument>(std::move(document), cache());
  }

  std::optional<std::vector<std::string>> ListDependencies(const std::string& path, bool traverse,
                                                           bool searchable, bool addReadOnlyInfo) override {
    Arguments args;
    args.Text(path).Bool(traverse).Bool(searchable).Bool(addReadOnlyInfo);
    UniqueVariant result;
    Invoke(Call::kGetDocumentDependencies2, args, result.get());
    return AsTextList(Member(Call::kGetDocumentDependencies2), result.get());
  }

  Ref<DocumentEnumerator> EnumerateDocuments() override {
    return std::make_shared<HostEnumerator>(HostObject(ComPtr<IDispatch>(dispatch()), cache()));
  }

  bool RegisterCallbackTarget(std::uintptr_t moduleHandle, CallbackTarget& target, int32_t cookie) override {
    auto* automation = dynamic_cast<DispatchCallbackTarget*>(&target);
    IDispatch* callbacks = automation ? automation->CallbackDispatch() : nullptr;
    if (!callbacks) {
      throw HostError("RegisterCallbackTarget", "the callback target is not an automation object",
                      E_NOINTERFACE);
    }
    const Call call = Supported(kRegisterCallbacks);
    Arguments args;
    if (call == Call::kSetAddinCallbackInfo2) {
      args.Int64(static_cast<int64_t>(moduleHandle));
    } else if (sizeof(void*) == 8) {
      // The older member's handle is 32 bits wide: a 64-bit module's does not fit, and a
      // truncated one would name some other module, so a 64-bit add-in gives none.
      args.Long(0);
    } else {
      args.Long(static_cast<int32_t>(moduleHandle));
    }
    args.Object(callbacks).Long(cookie);
    return CallBool(call, args);
  }

  std::string LocalizedMenuName(int32_t menuId) override {
    Arguments args;
    args.Long(menuId);
    return CallText(Call::kGetLocalizedMenuName, args);
  }

  int32_t AddMenuCommand(int32_t docType, int32_t cookie, const std::string& menuPath, int32_t position,
                         const std::string& callback, const std::string& enableMethod,
                         const std::string& hint) override {
    Arguments args;
    args.Long(docType)
        .Long(cookie)
        .Text(menuPath)
        .Long(position)
        .Text(callback)
        .Text(enableMethod)
        .Text(hint);
    return CallLong(Call::kAddMenuItem2, args);
  }

  bool RemoveMenuEntry(int32_t docType, const std::string& menuPath, const std::string& callback) override {
    // A sub-menu has no callback: the host takes an empty string for it.
    Arguments args;
    args.Long(docType).Text(menuPath).Text(callback);
    return CallBool(Call::kRemoveMenu, args);
  }

  Ref<Frame> MainFrame() override {
    return Wrap<Frame, HostFrame>(CallNoArguments(&HostObject::CallObject, Call::kFrame), cache());
  }
};

class HostConnectorImpl final : public HostConnector {
 public:
  explicit HostConnectorImpl(std::function<Ref<Application>()> connected)
      : connected_(std::move(connected)) {}

  Ref<Application> GetApplication(std::string_view progId) override {
    // The host that loaded us, not whichever instance the running object table lists first.
    if (Ref<Application> application = connected_ ? connected_() : nullptr) return application;
    const std::string name(progId);
    CLSID clsid{};
    HRESULT hr = CLSIDFromProgID(Widen(progId).c_str(), &clsid);
    if (FAILED(hr)) throw HostError("GetApplication", name + ": " + HresultText(hr), hr);
    ComPtr<IUnknown> running;
    hr = GetActiveObject(clsid, nullptr, running.GetAddressOf());
    if (FAILED(hr)) throw HostError("GetApplication", name + ": " + HresultText(hr), hr);
    ComPtr<IDispatch> application;
    hr = running.As(&application);
    if (FAILED(hr)) throw HostError("GetApplication", name + ": " + HresultText(hr), hr);
    return Wrap<Application, HostApplication>(std::move(application), cache_);
  }

 private:
  std::function<Ref<Application>()> connected_;
  // Kept from run to run: a type's DISPIDs do not change.
  std::shared_ptr<DispidCache> cache_ = std::make_shared<DispidCache>();
};

}  // namespace

std::span<const HostMember> HostMembers() { return kMembers; }

std::unique_ptr<HostConnector> MakeHostConnector(std::function<Ref<Application>()> connectedApplication) {
  return std::make_unique<HostConnectorImpl>(std::move(connectedApplication));
}

Ref<Application> WrapHostApplication(Microsoft::WRL::ComPtr<IDispatch> application) {
  return Wrap<Application, HostApplication>(std::move(application), std::make_shared<DispidCache>());
}

}  // namespace ponderix::win32
