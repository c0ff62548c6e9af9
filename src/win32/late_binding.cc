#include "win32/late_binding.h"

#include <oleauto.h>

#include <cstdio>
#include <map>

#include "addin/host.h"
#include "win32/com_error.h"
#include "win32/text.h"

namespace ponderix::win32 {

using Microsoft::WRL::ComPtr;

std::string HresultText(HRESULT hr) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(hr));
  const std::string text = SystemText(hr);
  return text.empty() ? std::string(code) : text + " (" + code + ")";
}

[[noreturn]] void Fail(const HostMember& member, const std::string& text, HRESULT hr) {
  // The member is named only where it is not the operation itself: an older
  // host's member, or one of several an operation calls.
  std::string name = Narrow(member.name);
  if (name == member.operation) throw HostError(std::move(name), text, hr);
  throw HostError(std::string(member.operation), name + ": " + text, hr);
}

[[noreturn]] void WrongType(const HostMember& member, VARTYPE type, const char* expected) {
  Fail(member, "the host answered with a value of variant type " + std::to_string(type) + ", not " + expected,
       DISP_E_TYPEMISMATCH);
}

namespace {

// GetIDsOfNames for one name; null for DISP_E_UNKNOWNNAME, a throw for any other failure.
std::optional<DISPID> AskId(IDispatch* object, const HostMember& member) {
  std::wstring name(member.name);
  LPOLESTR names[] = {name.data()};
  DISPID id = DISPID_UNKNOWN;
  const HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  if (hr == DISP_E_UNKNOWNNAME) return std::nullopt;
  if (FAILED(hr)) Fail(member, HresultText(hr), hr);
  return id;
}

// The member's ID from `ids`, asked of `object` and kept there the first time.
std::optional<DISPID> Remembered(std::map<std::wstring_view, std::optional<DISPID>>& ids, IDispatch* object,
                                 const HostMember& member) {
  if (const auto it = ids.find(member.name); it != ids.end()) return it->second;
  return ids.emplace(member.name, AskId(object, member)).first->second;
}

}  // namespace

std::optional<GUID> DispatchType(IDispatch* object) {
  UINT count = 0;
  if (FAILED(object->GetTypeInfoCount(&count)) || count == 0) return std::nullopt;
  ComPtr<ITypeInfo> info;
  if (FAILED(object->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info)) || !info) return std::nullopt;
  TYPEATTR* attributes = nullptr;
  if (FAILED(info->GetTypeAttr(&attributes)) || !attributes) return std::nullopt;
  const GUID type = attributes->guid;
  info->ReleaseTypeAttr(attributes);
  if (type == GUID_NULL) return std::nullopt;
  return type;
}

std::optional<DISPID> DispidCache::Lookup(IDispatch* object, const GUID& type, const HostMember& member) {
  return Remembered(ids_[type], object, member);
}

std::optional<DISPID> MemberIds::Lookup(IDispatch* object, const HostMember& member) {
  if (!type_) type_ = DispatchType(object);
  if (*type_) return shared_->Lookup(object, **type_, member);
  return Remembered(own_, object, member);
}

DISPID MemberIds::Find(IDispatch* object, const HostMember& member) {
  if (const std::optional<DISPID> id = Lookup(object, member)) return *id;
  Fail(member, "the host's object has no member of this name", DISP_E_UNKNOWNNAME);
}

int32_t AsLong(const HostMember& member, VARIANT* value) {
  if (V_VT(value) == VT_BOOL) return V_BOOL(value) != VARIANT_FALSE ? 1 : 0;
  UniqueVariant converted;
  if (FAILED(VariantChangeType(converted.get(), value, 0, VT_I4))) WrongType(member, V_VT(value), "a number");
  return V_I4(converted.get());
}

bool AsBool(const HostMember& member, VARIANT* value) {
  UniqueVariant converted;
  if (FAILED(VariantChangeType(converted.get(), value, 0, VT_BOOL)))
    WrongType(member, V_VT(value), "a boolean");
  return V_BOOL(converted.get()) != VARIANT_FALSE;
}

double AsDouble(const HostMember& member, VARIANT* value) {
  UniqueVariant converted;
  if (FAILED(VariantChangeType(converted.get(), value, 0, VT_R8))) WrongType(member, V_VT(value), "a number");
  return V_R8(converted.get());
}

std::string AsText(const HostMember& member, VARIANT* value) {
  if (V_VT(value) == VT_EMPTY || V_VT(value) == VT_NULL) return {};
  if (V_VT(value) == VT_BSTR) return FromBstr(V_BSTR(value));
  UniqueVariant converted;
  if (FAILED(VariantChangeType(converted.get(), value, 0, VT_BSTR)))
    WrongType(member, V_VT(value), "a string");
  return FromBstr(V_BSTR(converted.get()));
}

ComPtr<IDispatch> AsObject(const HostMember& member, VARIANT* value) {
  switch (V_VT(value)) {
    case VT_EMPTY:
    case VT_NULL:
      return nullptr;
    case VT_DISPATCH:
      return ComPtr<IDispatch>(V_DISPATCH(value));
    case VT_UNKNOWN: {
      IUnknown* unknown = V_UNKNOWN(value);
      if (!unknown) return nullptr;
      ComPtr<IDispatch> dispatch;
      const HRESULT hr = unknown->QueryInterface(IID_PPV_ARGS(&dispatch));
      if (FAILED(hr)) Fail(member, "the host's object is not an automation object: " + HresultText(hr), hr);
      return dispatch;
    }
    default:
      WrongType(member, V_VT(value), "an object");
  }
}

namespace {

std::string ArrayElementText(const HostMember& member, SAFEARRAY* array, VARTYPE element, LONG index) {
  if (element == VT_BSTR) {
    BSTR raw = nullptr;
    const HRESULT hr = SafeArrayGetElement(array, &index, &raw);
    const UniqueBstr text(raw);
    if (FAILED(hr)) Fail(member, "reading the host's list: " + HresultText(hr), hr);
    return FromBstr(text.get());
  }
  UniqueVariant item;
  const HRESULT hr = SafeArrayGetElement(array, &index, item.get());
  if (FAILED(hr)) Fail(member, "reading the host's list: " + HresultText(hr), hr);
  return AsText(member, item.get());
}

}  // namespace

std::optional<std::vector<std::string>> AsTextList(const HostMember& member, VARIANT* value) {
  const VARTYPE type = V_VT(value);
  if (type == VT_EMPTY || type == VT_NULL) return std::nullopt;
  const VARTYPE element = type & static_cast<VARTYPE>(~VT_ARRAY);
  if ((type & VT_ARRAY) == 0 || (element != VT_BSTR && element != VT_VARIANT)) {
    WrongType(member, type, "a list of strings");
  }
  std::vector<std::string> items;
  SAFEARRAY* array = V_ARRAY(value);
  if (!array) return items;
  if (SafeArrayGetDim(array) != 1)
    Fail(member, "the host's list has more than one dimension", DISP_E_TYPEMISMATCH);
  // The elements are copied by the array's own type: it must be the one the VARIANT claims.
  VARTYPE stored = VT_EMPTY;
  if (FAILED(SafeArrayGetVartype(array, &stored)) || stored != element)
    WrongType(member, type, "a list of strings");
  LONG lower = 0;
  LONG upper = -1;
  HRESULT hr = SafeArrayGetLBound(array, 1, &lower);
  if (SUCCEEDED(hr)) hr = SafeArrayGetUBound(array, 1, &upper);
  if (FAILED(hr)) Fail(member, "reading the host's list: " + HresultText(hr), hr);
  for (LONG i = lower; i <= upper; ++i) {
    items.push_back(ArrayElementText(member, array, element, i));
    if (i == upper) break;  // no overflow at LONG's end
  }
  return items;
}

}  // namespace ponderix::win32
