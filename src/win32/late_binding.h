// Generic helpers for calling automation objects late-bound, through
// IDispatch by member name: the DISPID cache, the arguments of one call and
// the conversions of the answers. A failure throws HostError naming the
// member's operation and host name, with the HRESULT.
#pragma once

#include <windows.h>

#include <oaidl.h>
#include <wrl/client.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "win32/host_adapter.h"
#include "win32/owners.h"
#include "win32/text.h"

namespace ponderix::win32 {

// "System text (0x8000FFFF)", or the code alone when the system has no text.
std::string HresultText(HRESULT hr);

// Throw HostError(member's operation, "Member: text", hr).
[[noreturn]] void Fail(const HostMember& member, const std::string& text, HRESULT hr);
[[noreturn]] void WrongType(const HostMember& member, VARTYPE type, const char* expected);

// The type of an automation object as COM gives DISPIDs: the GUID of its type
// information (IDispatch::GetTypeInfo). Null where the object offers none.
std::optional<GUID> DispatchType(IDispatch* object);

// DISPIDs of the host's members by the object's type and the member's name,
// each asked once; a name the host does not know is remembered as such. Two
// objects of one kind (a part and an assembly document) may be of different
// types with different IDs, so the kind never shares an ID.
class DispidCache {
 public:
  // The cached answer for `type`, or GetIDsOfNames on `object`; null when the
  // host reports the name unknown.
  std::optional<DISPID> Lookup(IDispatch* object, const GUID& type, const HostMember& member);

 private:
  struct GuidLess {
    bool operator()(const GUID& a, const GUID& b) const { return std::memcmp(&a, &b, sizeof(GUID)) < 0; }
  };
  std::map<GUID, std::map<std::wstring_view, std::optional<DISPID>>, GuidLess> ids_;
};

// The DISPIDs of one host object, always given the same `object`. One that
// offers type information shares its type's IDs through `shared`; one that
// does not is asked itself, and its answers are kept for it alone.
class MemberIds {
 public:
  explicit MemberIds(std::shared_ptr<DispidCache> shared) : shared_(std::move(shared)) {}

  // Null when the host reports the name unknown.
  std::optional<DISPID> Lookup(IDispatch* object, const HostMember& member);
  // Throws HostError (DISP_E_UNKNOWNNAME) when the host reports the name unknown.
  DISPID Find(IDispatch* object, const HostMember& member);
  const std::shared_ptr<DispidCache>& shared() const { return shared_; }

 private:
  std::shared_ptr<DispidCache> shared_;
  std::optional<std::optional<GUID>> type_;  // asked on the first lookup
  std::map<std::wstring_view, std::optional<DISPID>> own_;
};

// The arguments of one call, given in the member's order and owned until the
// call is over.
class Arguments {
 public:
  Arguments() = default;
  ~Arguments() {
    for (UINT i = 0; i < count_; ++i) VariantClear(&values_[i]);
  }
  Arguments(const Arguments&) = delete;
  Arguments& operator=(const Arguments&) = delete;

  Arguments& Long(int32_t value) {
    VARIANT& v = Add();
    V_VT(&v) = VT_I4;
    V_I4(&v) = value;
    return *this;
  }
  Arguments& Int64(int64_t value) {
    VARIANT& v = Add();
    V_VT(&v) = VT_I8;
    V_I8(&v) = value;
    return *this;
  }
  Arguments& Bool(bool value) {
    VARIANT& v = Add();
    V_VT(&v) = VT_BOOL;
    V_BOOL(&v) = value ? VARIANT_TRUE : VARIANT_FALSE;
    return *this;
  }
  Arguments& Double(double value) {
    VARIANT& v = Add();
    V_VT(&v) = VT_R8;
    V_R8(&v) = value;
    return *this;
  }
  // "" goes as an empty BSTR, not a null one, as VB and .NET clients send it.
  Arguments& Text(std::string_view text) {
    UniqueBstr bstr = MakeBstr(text);
    VARIANT& v = Add();
    V_VT(&v) = VT_BSTR;
    V_BSTR(&v) = bstr.release();
    return *this;
  }
  Arguments& Object(IDispatch* object) {
    VARIANT& v = Add();
    V_VT(&v) = VT_DISPATCH;
    V_DISPATCH(&v) = object;
    if (object) object->AddRef();  // the VARIANT's own, released by VariantClear
    return *this;
  }
  // A by-reference out-parameter: the host writes `*out`.
  Arguments& LongOut(LONG* out) {
    VARIANT& v = Add();
    V_VT(&v) = VT_BYREF | VT_I4;
    V_I4REF(&v) = out;
    return *this;
  }

  UINT count() const { return count_; }
  // DISPPARAMS takes the last argument first.
  DISPPARAMS Params() {
    if (!reversed_) {
      std::reverse(values_.begin(), values_.begin() + count_);
      reversed_ = true;
    }
    return DISPPARAMS{count_ ? values_.data() : nullptr, nullptr, count_, 0};
  }

 private:
  VARIANT& Add() {
    if (count_ == values_.size() || reversed_) throw std::logic_error("too many host call arguments");
    VARIANT& v = values_[count_++];
    VariantInit(&v);
    return v;
  }

  std::array<VARIANT, 8> values_{};
  UINT count_ = 0;
  bool reversed_ = false;
};

// The answer `value` as the type asked for; a value that does not convert
// throws (DISP_E_TYPEMISMATCH).
int32_t AsLong(const HostMember& member, VARIANT* value);
bool AsBool(const HostMember& member, VARIANT* value);
double AsDouble(const HostMember& member, VARIANT* value);
std::string AsText(const HostMember& member, VARIANT* value);
// Null for "no object": a null pointer, VT_EMPTY or VT_NULL.
Microsoft::WRL::ComPtr<IDispatch> AsObject(const HostMember& member, VARIANT* value);
// VT_EMPTY or VT_NULL: no list. Otherwise a one-dimensional SAFEARRAY of
// BSTR, or of VARIANTs holding BSTRs, from whatever lower bound the host chose.
std::optional<std::vector<std::string>> AsTextList(const HostMember& member, VARIANT* value);

}  // namespace ponderix::win32
