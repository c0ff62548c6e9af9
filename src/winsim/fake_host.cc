#include "winsim/fake_host.h"

#include <oleauto.h>

#include <algorithm>
#include <map>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "win32/owners.h"
#include "win32/text.h"
#include "winsim/support.h"

namespace ponderix::winsim {

namespace {

using Microsoft::WRL::ComPtr;
using win32::FromBstr;
using win32::MakeBstr;
using win32::UniqueBstr;
using win32::UniqueExcepInfo;
using win32::UniqueSafeArray;
using win32::UniqueVariant;
using win32::Widen;

// The class the stand-in registers "SldWorks.Application" under; nothing else
// uses it.
constexpr CLSID kFakeHostClsid = {
    0x5B1E1A52, 0x3C55, 0x4F0B, {0x9A, 0x53, 0x0D, 0x9C, 0x8F, 0x7E, 0x6A, 0x11}};
constexpr wchar_t kProgIdKey[] = L"Software\\Classes\\SldWorks.Application";

using FakeType = HostObjectType;

struct FakeMember {
  std::wstring name;
  WORD kinds;      // the ways it may be invoked
  UINT arguments;  // for a get or a method; a put takes one
};

struct TypeMembers {
  std::vector<FakeMember> members;
};

const char* TypeName(FakeType type) {
  switch (type) {
    case FakeType::kApplication:
      return "Application";
    case FakeType::kDocument:
      return "Document";
    case FakeType::kSelectionMgr:
      return "SelectionMgr";
    case FakeType::kComponent:
      return "Component";
    case FakeType::kUserUnit:
      return "UserUnit";
    case FakeType::kFrame:
      return "Frame";
  }
  return "";
}

// The host's members per object type, as the adapter's list gives them; a
// property with a get and a put row is one member invoked both ways.
const TypeMembers& MembersOf(FakeType type) {
  static const std::map<FakeType, TypeMembers> members = [] {
    std::map<FakeType, TypeMembers> byType;
    for (const HostMember& row : kHostMembers) {
      if (row.name.empty()) continue;
      TypeMembers& served = byType.try_emplace(row.type).first->second;
      const std::wstring name(row.name);
      auto it = std::find_if(served.members.begin(), served.members.end(),
                             [&](const FakeMember& m) { return m.name == name; });
      if (it == served.members.end()) it = served.members.insert(served.members.end(), {name, 0, 0});
      if (row.kind == MemberKind::kPropertyPut) {
        it->kinds |= DISPATCH_PROPERTYPUT;
      } else {
        it->kinds |= row.kind == MemberKind::kMethod ? DISPATCH_METHOD : DISPATCH_PROPERTYGET;
        it->arguments = static_cast<UINT>(row.arguments);
      }
    }
    return byType;
  }();
  return members.at(type);
}

constexpr DISPID kFirstDispid = 100;

// With distinct document classes, a document's class: 0 is the one class of
// every other object.
enum DocumentClass : int { kAnyDocument = 0, kPartDoc = 1, kAssemblyDoc = 2, kOpenedDoc = 3 };

const char* ClassName(FakeType type, int documentClass) {
  switch (documentClass) {
    case kPartDoc:
      return "PartDoc";
    case kAssemblyDoc:
      return "AssemblyDoc";
    case kOpenedDoc:
      return "OpenedDoc";
    default:
      return TypeName(type);
  }
}

// The GUID of a class's type information: one per object type and document class.
GUID ClassGuid(FakeType type, int documentClass) {
  return {0x5B1E1A53,
          static_cast<WORD>(static_cast<int>(type) * 16 + documentClass),
          0x4F0B,
          {0x9A, 0x53, 0x0D, 0x9C, 0x8F, 0x7E, 0x6A, 0x12}};
}

// A call whose arguments do not follow the host's conventions.
struct BadArgument {
  HRESULT code;
  UINT index;  // in DISPPARAMS order
};

// Deferred exception text: one pending text for the one thread that calls.
std::wstring g_deferredText;
HRESULT STDAPICALLTYPE FillDeferred(EXCEPINFO* info) {
  info->bstrDescription = SysAllocString(g_deferredText.c_str());
  return S_OK;
}

std::string Utf8(BSTR text) { return FromBstr(text); }

}  // namespace

struct FakeState {
  explicit FakeState(sim::Scene scene, FakeHostOptions hostOptions)
      : sim(std::move(scene)), options(hostOptions) {}

  sim::SimHost sim;
  FakeHostOptions options;
  Ref<Application> simApplication;  // the application's own reference
  long references = 0;
  int objects = 0;
  long enumeratorSteps = 0;
  std::map<std::string, int> lookups;
  ComPtr<IDispatch> callbacks;
  CallbackRegistration registration;
  std::unique_ptr<CallbackTarget> bridge;
};

namespace {

// The add-in's callbacks as the simulated host calls them: by name, through
// the add-in's IDispatch.
class DispatchBridgeTarget final : public CallbackTarget {
 public:
  explicit DispatchBridgeTarget(FakeState& state) : state_(state) {}

  CallbackResult InvokeByName(std::string_view name) noexcept override {
    CallbackResult outcome;
    try {
      IDispatch* callbacks = state_.callbacks.Get();
      if (!callbacks) {
        outcome.found = outcome.ok = false;
        outcome.error = "no callback object registered";
        return outcome;
      }
      std::wstring wide = Widen(name);
      LPOLESTR names[] = {wide.data()};
      DISPID id = DISPID_UNKNOWN;
      HRESULT hr = callbacks->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
      if (FAILED(hr)) {
        outcome.found = outcome.ok = false;
        outcome.error = "GetIDsOfNames " + std::string(name) + ": " + HexCode(hr);
        return outcome;
      }
      DISPPARAMS none = {nullptr, nullptr, 0, 0};
      UniqueVariant result;
      UniqueExcepInfo exception;
      hr = callbacks->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none, result.get(),
                             exception.get(), nullptr);
      if (hr == DISP_E_EXCEPTION) {
        outcome.ok = false;
        outcome.error = Utf8(exception->bstrDescription);
      } else if (FAILED(hr)) {
        outcome.ok = false;
        outcome.error = "Invoke " + std::string(name) + ": " + HexCode(hr);
      } else if (V_VT(result.get()) == VT_I4) {
        outcome.value = V_I4(result.get());
      }
    } catch (...) {
      outcome.ok = false;
    }
    return outcome;
  }

 private:
  FakeState& state_;
};

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
// IUnknown of a stand-in object with one interface, `Interface` with the
// identity `kIid`. Its references count among the host's too, so that one the
// add-in keeps shows in the host's count.
template <class Interface, const IID& kIid>
class Counted : public Interface {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    if (riid != IID_IUnknown && riid != kIid) {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    *out = static_cast<Interface*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override {
    ++state_->references;
    return ++references_;
  }
  ULONG STDMETHODCALLTYPE Release() override {
    --state_->references;
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }

 protected:
  explicit Counted(std::shared_ptr<FakeState> state) : state_(std::move(state)) {}
  virtual ~Counted() = default;
  Counted(const Counted&) = delete;
  Counted& operator=(const Counted&) = delete;

  std::shared_ptr<FakeState> state_;

 private:
  ULONG references_ = 0;
};

// The type information of one class: only its TYPEATTR, whose GUID names the
// class, which is all a caller needs to tell classes apart. Its references are
// counted with the objects'.
class FakeTypeInfo final : public Counted<ITypeInfo, IID_ITypeInfo> {
 public:
  FakeTypeInfo(std::shared_ptr<FakeState> state, const GUID& guid) : Counted(std::move(state)), guid_(guid) {}

  HRESULT STDMETHODCALLTYPE GetTypeAttr(TYPEATTR** attributes) override {
    if (!attributes) return E_INVALIDARG;
    *attributes = new (std::nothrow) TYPEATTR{};
    if (!*attributes) return E_OUTOFMEMORY;
    (*attributes)->guid = guid_;
    (*attributes)->lcid = LOCALE_NEUTRAL;
    (*attributes)->memidConstructor = MEMBERID_NIL;
    (*attributes)->memidDestructor = MEMBERID_NIL;
    (*attributes)->typekind = TKIND_DISPATCH;
    (*attributes)->cbSizeVft = 7 * sizeof(void*);
    return S_OK;
  }
  void STDMETHODCALLTYPE ReleaseTypeAttr(TYPEATTR* attributes) override { delete attributes; }

  HRESULT STDMETHODCALLTYPE GetTypeComp(ITypeComp**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetFuncDesc(UINT, FUNCDESC**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetVarDesc(UINT, VARDESC**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetNames(MEMBERID, BSTR*, UINT, UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetRefTypeOfImplType(UINT, HREFTYPE*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetImplTypeFlags(UINT, INT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(LPOLESTR*, UINT, MEMBERID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Invoke(PVOID, MEMBERID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetDocumentation(MEMBERID, BSTR*, BSTR*, DWORD*, BSTR*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetDllEntry(MEMBERID, INVOKEKIND, BSTR*, BSTR*, WORD*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetRefTypeInfo(HREFTYPE, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE AddressOfMember(MEMBERID, INVOKEKIND, PVOID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID, PVOID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetMops(MEMBERID, BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetContainingTypeLib(ITypeLib**, UINT*) override { return E_NOTIMPL; }
  void STDMETHODCALLTYPE ReleaseFuncDesc(FUNCDESC*) override {}
  void STDMETHODCALLTYPE ReleaseVarDesc(VARDESC*) override {}

 private:
  GUID guid_;
};

class FakeObject final : public Counted<IDispatch, IID_IDispatch> {
 public:
  struct Held {
    Ref<Document> document;
    Ref<SelectionMgr> selection;
    Ref<Component> component;
    Ref<UserUnit> unit;
    Ref<Frame> frame;
  };

  // A new object holding `held`; null when the simulated host gave nothing.
  // `opened`: a document that OpenDoc6 or ActivateDoc2 gives.
  template <class T>
  static ComPtr<IDispatch> Make(const std::shared_ptr<FakeState>& state, FakeType type, Ref<T> object,
                                std::string path, bool opened = false) {
    if (!object && type != FakeType::kApplication) return nullptr;
    int documentClass = kAnyDocument;
    if (type == FakeType::kDocument && state->options.distinctDocumentClasses) {
      if (opened) {
        documentClass = kOpenedDoc;
      } else if (const sim::SimDocument* d = state->sim.FindDocument(path)) {
        if (d->type == kDocTypePart) documentClass = kPartDoc;
        if (d->type == kDocTypeAssembly) documentClass = kAssemblyDoc;
      }
    }
    Held held;
    if constexpr (std::is_same_v<T, Document>) held.document = std::move(object);
    if constexpr (std::is_same_v<T, SelectionMgr>) held.selection = std::move(object);
    if constexpr (std::is_same_v<T, Component>) held.component = std::move(object);
    if constexpr (std::is_same_v<T, UserUnit>) held.unit = std::move(object);
    if constexpr (std::is_same_v<T, Frame>) held.frame = std::move(object);
    return ComPtr<IDispatch>(new FakeObject(state, type, documentClass, std::move(held), std::move(path)));
  }

  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (!count) return E_POINTER;
    *count = state_->options.typeInfo ? 1 : 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
    if (!info) return E_POINTER;
    *info = nullptr;
    if (!state_->options.typeInfo || index != 0) return DISP_E_BADINDEX;
    ComPtr<ITypeInfo> created(new FakeTypeInfo(state_, ClassGuid(type_, class_)));
    *info = created.Detach();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID,
                                          DISPID* ids) override {
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    if (!names || !ids || count == 0) return E_INVALIDARG;
    for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
    const TypeMembers& type = MembersOf(type_);
    ++state_->lookups[std::string(ClassName(type_, class_)) + "." + win32::Narrow(names[0])];
    const auto& missing = state_->options.missingMembers;
    if (std::find(missing.begin(), missing.end(), std::wstring(names[0])) != missing.end())
      return DISP_E_UNKNOWNNAME;
    for (size_t m = 0; m < type.members.size(); ++m) {
      if (_wcsicmp(type.members[m].name.c_str(), names[0]) == 0) {
        ids[0] = kFirstDispid + static_cast<DISPID>((m + static_cast<size_t>(class_)) % type.members.size());
        return count == 1 ? S_OK : DISP_E_UNKNOWNNAME;  // no named arguments
      }
    }
    return DISP_E_UNKNOWNNAME;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* exception, UINT* argError) override {
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    if (!params) return E_INVALIDARG;
    const TypeMembers& type = MembersOf(type_);
    const size_t count = type.members.size();
    if (id < kFirstDispid || static_cast<size_t>(id - kFirstDispid) >= count) return DISP_E_MEMBERNOTFOUND;
    // Each class numbers its members from another place.
    const size_t index =
        (static_cast<size_t>(id - kFirstDispid) + count - static_cast<size_t>(class_) % count) % count;
    const FakeMember& member = type.members[index];
    const bool put = (flags & DISPATCH_PROPERTYPUT) != 0;
    if (put) {
      if ((member.kinds & DISPATCH_PROPERTYPUT) == 0) return DISP_E_MEMBERNOTFOUND;
      if (params->cNamedArgs != 1 || !params->rgdispidNamedArgs ||
          params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT) {
        return DISP_E_PARAMNOTOPTIONAL;
      }
      if (params->cArgs != 1) return DISP_E_BADPARAMCOUNT;
    } else {
      if ((flags & member.kinds) == 0) return DISP_E_MEMBERNOTFOUND;
      if (params->cNamedArgs != 0) return DISP_E_NONAMEDARGS;
      if (params->cArgs != member.arguments) return DISP_E_BADPARAMCOUNT;
    }
    UniqueVariant answer;
    try {
      Run(member.name, put, *params, *answer.get());
    } catch (const BadArgument& bad) {
      if (argError) *argError = bad.index;
      return bad.code;
    } catch (const HostError& e) {
      RaiseException(e, exception);
      return DISP_E_EXCEPTION;
    } catch (const std::exception& e) {
      RaiseException(HostError("fake host", e.what(), E_FAIL), exception);
      return DISP_E_EXCEPTION;
    }
    if (result) answer.release(result);
    return S_OK;
  }

 private:
  FakeObject(std::shared_ptr<FakeState> state, FakeType type, int documentClass, Held held, std::string path)
      : Counted(std::move(state)),
        type_(type),
        class_(documentClass),
        held_(std::move(held)),
        path_(std::move(path)) {
    ++state_->objects;
  }
  ~FakeObject() override { --state_->objects; }

  void RaiseException(const HostError& e, EXCEPINFO* exception) const {
    if (!exception) return;
    // A host describes the failure; which call failed is the caller's to say.
    std::string_view text = e.what();
    if (text.starts_with(e.operation() + ": ")) text.remove_prefix(e.operation().size() + 2);
    *exception = EXCEPINFO{};
    exception->bstrSource = SysAllocString(L"SldWorks.Application");
    exception->scode = e.code() != 0 ? e.code() : E_FAIL;
    if (state_->options.deferredExceptionText) {
      g_deferredText = Widen(text);
      exception->pfnDeferredFillIn = &FillDeferred;
    } else {
      exception->bstrDescription = MakeBstr(text).release();
    }
  }

  // Arguments, counted in the member's order.
  static VARIANT& At(const DISPPARAMS& params, UINT i) { return params.rgvarg[params.cArgs - 1 - i]; }
  static void Expect(const DISPPARAMS& params, UINT i, VARTYPE type) {
    if (V_VT(&At(params, i)) != type) throw BadArgument{DISP_E_TYPEMISMATCH, params.cArgs - 1 - i};
  }
  static int32_t Long(const DISPPARAMS& p, UINT i) {
    Expect(p, i, VT_I4);
    return V_I4(&At(p, i));
  }
  static bool Bool(const DISPPARAMS& p, UINT i) {
    Expect(p, i, VT_BOOL);
    return V_BOOL(&At(p, i)) != VARIANT_FALSE;
  }
  static double Double(const DISPPARAMS& p, UINT i) {
    Expect(p, i, VT_R8);
    return V_R8(&At(p, i));
  }
  static std::string Text(const DISPPARAMS& p, UINT i) {
    Expect(p, i, VT_BSTR);
    if (!V_BSTR(&At(p, i))) throw BadArgument{DISP_E_TYPEMISMATCH, p.cArgs - 1 - i};
    return FromBstr(V_BSTR(&At(p, i)));
  }
  static LONG* LongOut(const DISPPARAMS& p, UINT i) {
    Expect(p, i, VT_BYREF | VT_I4);
    LONG* out = V_I4REF(&At(p, i));
    if (!out) throw BadArgument{E_POINTER, p.cArgs - 1 - i};
    return out;
  }

  static void SetLong(VARIANT& v, int32_t value) {
    V_VT(&v) = VT_I4;
    V_I4(&v) = value;
  }
  static void SetBool(VARIANT& v, bool value) {
    V_VT(&v) = VT_BOOL;
    V_BOOL(&v) = value ? VARIANT_TRUE : VARIANT_FALSE;
  }
  static void SetDouble(VARIANT& v, double value) {
    V_VT(&v) = VT_R8;
    V_R8(&v) = value;
  }
  static void SetText(VARIANT& v, const std::string& text) {
    UniqueBstr bstr = MakeBstr(text);
    V_VT(&v) = VT_BSTR;
    V_BSTR(&v) = bstr.release();
  }
  void SetObject(VARIANT& v, ComPtr<IDispatch> object) const {
    if (!object && state_->options.nullObjectsAsEmpty) return;  // stays VT_EMPTY
    V_VT(&v) = VT_DISPATCH;
    V_DISPATCH(&v) = object.Detach();
  }
  template <class T>
  void SetObject(VARIANT& v, FakeType type, Ref<T> object, std::string path, bool opened = false) const {
    SetObject(v, Make(state_, type, std::move(object), std::move(path), opened));
  }

  Application& app() const { return *state_->simApplication; }

  // The path of the first open document from the scene's document `from` on,
  // in the host's order.
  std::optional<std::string> NextOpenPath(size_t from) const {
    const std::vector<sim::SimDocument>& documents = state_->sim.scene().documents;
    for (size_t i = from; i < documents.size(); ++i) {
      ++state_->enumeratorSteps;
      if (documents[i].open) return documents[i].path;
    }
    return std::nullopt;
  }

  void Run(std::wstring_view name, bool put, const DISPPARAMS& p, VARIANT& r) {
    switch (type_) {
      case FakeType::kApplication:
        RunApplication(name, p, r);
        return;
      case FakeType::kDocument:
        RunDocument(name, put, p, r);
        return;
      case FakeType::kSelectionMgr:
        if (name == L"GetSelectedObjectCount2") {
          Long(p, 0);
          SetLong(r, held_.selection->SelectedObjectCount());
        } else {
          const int32_t index = Long(p, 0);
          if (p.cArgs == 2) Long(p, 1);  // the mark, which GetSelectedObjectsComponent2 lacks
          Ref<Component> component = held_.selection->SelectedObjectComponent(index);
          const auto& selection = state_->sim.scene().selection;
          SetObject(r, FakeType::kComponent, std::move(component),
                    selection.at(static_cast<size_t>(index) - 1).value_or(""));
        }
        return;
      case FakeType::kComponent:
        SetObject(r, FakeType::kDocument, held_.component->ComponentDocument(), path_);
        return;
      case FakeType::kUserUnit:
        SetLong(r, held_.unit->UnitCode());
        return;
      case FakeType::kFrame: {
        if (name == L"GetHWndx64" || name == L"GetHWnd") {
          held_.frame->WindowHandle();  // the scene's failure, if any
          const int64_t window = state_->options.frameWindow;
          if (name == L"GetHWnd") {
            SetLong(r, static_cast<int32_t>(window));
          } else {
            V_VT(&r) = VT_I8;
            V_I8(&r) = window;
          }
          return;
        }
        const int32_t docType = Long(p, 0);
        SetLong(r, held_.frame->MenuItemCount(docType, Text(p, 1)));
        return;
      }
    }
  }

  void RunApplication(std::wstring_view name, const DISPPARAMS& p, VARIANT& r) {
    if (name == L"ActiveDoc") {
      Ref<Document> document = app().GetActiveDocument();
      SetObject(r, FakeType::kDocument, std::move(document), state_->sim.scene().active.value_or(""));
    } else if (name == L"SendMsgToUser2") {
      SetLong(r, app().ShowUserMessage(Text(p, 0), Long(p, 1), Long(p, 2)));
    } else if (name == L"OpenDoc6") {
      const std::string path = Text(p, 0);
      LONG* errors = LongOut(p, 4);
      LONG* warnings = LongOut(p, 5);
      int32_t e = 0;
      int32_t w = 0;
      Ref<Document> document = app().OpenDocument(path, Long(p, 1), Long(p, 2), Text(p, 3), e, w);
      *errors = e;
      *warnings = w;
      SetObject(r, FakeType::kDocument, std::move(document), path, true);
    } else if (name == L"ActivateDoc2") {
      const std::string path = Text(p, 0);
      LONG* errors = LongOut(p, 2);
      int32_t e = 0;
      Ref<Document> document = app().ActivateDocument(path, Bool(p, 1), e);
      *errors = e;
      SetObject(r, FakeType::kDocument, std::move(document), path, true);
    } else if (name == L"GetDocumentDependencies2") {
      const auto dependencies = app().ListDependencies(Text(p, 0), Bool(p, 1), Bool(p, 2), Bool(p, 3));
      if (dependencies) SetTextList(r, *dependencies);
    } else if (name == L"GetFirstDocument") {
      // The chain's start is the enumerator's Reset. The host has no member
      // for getting an enumerator, so its failure comes here too.
      app().EnumerateDocuments();
      const std::optional<std::string> first = NextOpenPath(0);
      SetObject(r, FakeType::kDocument, state_->sim.HandDocument("Reset", first), first.value_or(""));
    } else if (name == L"SetAddinCallbackInfo2" || name == L"SetAddinCallbackInfo") {
      const bool wide = name == L"SetAddinCallbackInfo2";
      Expect(p, 0, wide ? VT_I8 : VT_I4);
      Expect(p, 1, VT_DISPATCH);
      CallbackRegistration& registration = state_->registration;
      registration.member = std::wstring(name);
      registration.handleType = V_VT(&At(p, 0));
      registration.moduleHandle = wide ? V_I8(&At(p, 0)) : V_I4(&At(p, 0));
      registration.cookie = Long(p, 2);
      state_->callbacks = V_DISPATCH(&At(p, 1));
      SetBool(r, app().RegisterCallbackTarget(static_cast<std::uintptr_t>(registration.moduleHandle),
                                              *state_->bridge, registration.cookie));
    } else if (name == L"GetLocalizedMenuName") {
      SetText(r, app().LocalizedMenuName(Long(p, 0)));
    } else if (name == L"AddMenuItem2") {
      SetBool(r, app().AddMenuCommand(Long(p, 0), Long(p, 1), Text(p, 2), Long(p, 3), Text(p, 4), Text(p, 5),
                                      Text(p, 6)) != 0);
    } else if (name == L"RemoveMenu") {
      SetBool(r, app().RemoveMenuEntry(Long(p, 0), Text(p, 1), Text(p, 2)));
    } else if (name == L"Frame") {
      SetObject(r, FakeType::kFrame, app().MainFrame(), "");
    }
  }

  void RunDocument(std::wstring_view name, bool put, const DISPPARAMS& p, VARIANT& r) {
    Document& document = *held_.document;
    if (name == L"GetPathName") {
      SetText(r, document.GetPathName());
    } else if (name == L"GetType") {
      SetLong(r, document.GetType());
    } else if (name == L"SelectionManager") {
      SetObject(r, FakeType::kSelectionMgr, document.SelectionManager(), path_);
    } else if (name == L"GetUserUnit") {
      SetObject(r, FakeType::kUserUnit, document.GetUserUnit(Long(p, 0)), path_);
    } else if (name == L"GetUserPreferenceDoubleValue") {
      SetDouble(r, document.GetUserPreferenceDoubleValue(Long(p, 0)));
    } else if (name == L"SetUserPreferenceDoubleValue") {
      SetBool(r, document.SetUserPreferenceDoubleValue(Long(p, 0), Double(p, 1)));
    } else if (name == L"Visible") {
      if (put) {
        document.SetVisible(Bool(p, 0));
      } else {
        SetBool(r, document.Visible());
      }
    } else if (name == L"GetNext") {
      // The enumerator's Next, for the document after this one.
      const sim::SimDocument* self = state_->sim.FindDocument(path_);
      const std::optional<std::string> next =
          self && self->open
              ? NextOpenPath(static_cast<size_t>(self - state_->sim.scene().documents.data()) + 1)
              : std::nullopt;
      SetObject(r, FakeType::kDocument, state_->sim.HandDocument("Next", next), next.value_or(""));
    }
  }

  void SetTextList(VARIANT& r, const std::vector<std::string>& items) const {
    const bool asVariants = state_->options.dependenciesAsVariants;
    SAFEARRAYBOUND bound = {static_cast<ULONG>(items.size()), state_->options.dependenciesLowerBound};
    UniqueSafeArray array(SafeArrayCreate(asVariants ? VT_VARIANT : VT_BSTR, 1, &bound));
    if (!array) throw std::bad_alloc();
    for (size_t i = 0; i < items.size(); ++i) {
      LONG index = bound.lLbound + static_cast<LONG>(i);
      UniqueVariant item;
      V_VT(item.get()) = VT_BSTR;
      V_BSTR(item.get()) = MakeBstr(items[i]).release();
      // SafeArrayPutElement copies; ours are freed here.
      const HRESULT hr = asVariants ? SafeArrayPutElement(array.get(), &index, item.get())
                                    : SafeArrayPutElement(array.get(), &index, V_BSTR(item.get()));
      if (FAILED(hr)) throw std::runtime_error("SafeArrayPutElement failed");
    }
    V_VT(&r) = VT_ARRAY | (asVariants ? VT_VARIANT : VT_BSTR);
    V_ARRAY(&r) = array.release();
  }

  FakeType type_;
  int class_;
  Held held_;
  std::string path_;
};
#pragma GCC diagnostic pop

}  // namespace

FakeHost::FakeHost(sim::Scene scene, FakeHostOptions options)
    : state_(std::make_shared<FakeState>(std::move(scene), options)) {
  state_->bridge = std::make_unique<DispatchBridgeTarget>(*state_);
  state_->simApplication = state_->sim.GetApplication("SldWorks.Application");
  application_ = FakeObject::Make<Application>(state_, FakeType::kApplication, nullptr, "");
  hostReferences_ = state_->references;
}

void FakeHost::Unregister() {
  if (registered_) RevokeActiveObject(runningCookie_, nullptr);
  registered_ = false;
  DeleteTree(HKEY_CURRENT_USER, kProgIdKey);
  if (machineKey_) DeleteTree(HKEY_LOCAL_MACHINE, kProgIdKey);
  machineKey_ = false;
}

FakeHost::~FakeHost() {
  Unregister();
  // The add-in's object holds our application; ours holds it back.
  state_->callbacks.Reset();
}

void FakeHost::Register() {
  WriteString(HKEY_CURRENT_USER, std::wstring(kProgIdKey) + L"\\CLSID", L"", GuidText(kFakeHostClsid));
  // Wine reads ProgIDs from the machine's classes only; under Wine that is the prefix's own.
  CLSID found{};
  if (FAILED(CLSIDFromProgID(L"SldWorks.Application", &found)) || found != kFakeHostClsid) {
    WriteString(HKEY_LOCAL_MACHINE, std::wstring(kProgIdKey) + L"\\CLSID", L"", GuidText(kFakeHostClsid));
    machineKey_ = true;
  }
  const HRESULT hr =
      RegisterActiveObject(application_.Get(), kFakeHostClsid, ACTIVEOBJECT_STRONG, &runningCookie_);
  if (FAILED(hr)) {
    Unregister();
    throw std::runtime_error("RegisterActiveObject failed: " + HexCode(hr));
  }
  registered_ = true;
  hostReferences_ = state_->references;
}

sim::SimHost& FakeHost::sim() { return state_->sim; }
FakeHostOptions& FakeHost::options() { return state_->options; }
long FakeHost::AddinReferences() const { return state_->references - hostReferences_; }
int FakeHost::LiveObjects() const { return state_->objects; }
int FakeHost::SimReferences() const { return state_->sim.HeldReferences() - 1; }
long FakeHost::EnumeratorSteps() const { return state_->enumeratorSteps; }

std::map<std::string, int> FakeHost::NameLookups() const { return state_->lookups; }

const CallbackRegistration& FakeHost::callbackRegistration() const { return state_->registration; }
IDispatch* FakeHost::callbacks() const { return state_->callbacks.Get(); }

sim::CommandOutcome FakeHost::ChooseCommand(int32_t docType, std::string_view callback) {
  return state_->sim.ChooseCommand(docType, callback);
}

}  // namespace ponderix::winsim
