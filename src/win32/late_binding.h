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
#include <map>
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

// DISPIDs of the host's members, asked once per object type and name; a name
// the host does not know is remembered as such.
class DispidCache {
 public:
  // Null when the host reports the name unknown.
  std::optional<DISPID> Lookup(IDispatch* object, const HostMember& member) {
    const auto key = std::make_pair(member.type, member.name);
    if (const auto it = ids_.find(key); it != ids_.end()) return it->second;
    std::wstring name(member.name);
    LPOLESTR names[] = {name.data()};
    DISPID id = DISPID_UNKNOWN;
    const HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (hr != DISP_E_UNKNOWNNAME && FAILED(hr)) Fail(member, HresultText(hr), hr);
    const std::optional<DISPID> found = hr == DISP_E_UNKNOWNNAME ? std::nullopt : std::optional(id);
    ids_.emplace(key, found);
    return found;
  }

  DISPID Find(IDispatch* object, const HostMember& member) {
    if (const std::optional<DISPID> id = Lookup(object, member)) return *id;
    Fail(member, "the host's object has no member of this name", DISP_E_UNKNOWNNAME);
  }

 private:
  std::map<std::pair<HostObjectType, std::wstring_view>, std::optional<DISPID>> ids_;
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
