// A small test harness for the programs that run under Wine (GoogleTest is
// not packaged for mingw-w64). Tests register themselves by name, run in
// declaration order in one COM apartment, and the program ends with the line
// "<n> passed, <m> failed"; its exit code is 0 only when nothing failed.
#pragma once

#include <windows.h>

#include <oaidl.h>

#include <atomic>
#include <cstdint>
#include <source_location>
#include <sstream>
#include <string>
#include <string_view>

#include "winsim/support.h"

namespace ponderix::wintest {

// The stand-in host, the UI driver and the DLL's loader live in the product.
using namespace ponderix::winsim;  // NOLINT(google-build-using-namespace)

std::string Describe(const std::string& value);
std::string Describe(const std::wstring& value);
std::string Describe(const char* value);
std::string Describe(const wchar_t* value);
std::string Describe(bool value);
template <class T>
std::string Describe(const T& value) {
  std::ostringstream out;
  out << value;
  return out.str();
}

class Check {
 public:
  // Records a failure unless `condition` holds; returns `condition`.
  bool True(bool condition, std::string_view what,
            std::source_location where = std::source_location::current());

  template <class Actual, class Expected>
  bool Equal(const Actual& actual, const Expected& expected, std::string_view what,
             std::source_location where = std::source_location::current()) {
    if (actual == expected) return true;
    Fail(std::string(what) + ": expected " + Describe(expected) + ", got " + Describe(actual), where);
    return false;
  }

  // HRESULTs compare like Equal and print in hex.
  bool Hr(HRESULT actual, HRESULT expected, std::string_view what,
          std::source_location where = std::source_location::current());

  void Fail(const std::string& message, std::source_location where);
  bool failed() const { return failures_ > 0; }

 private:
  int failures_ = 0;
};

using TestBody = void (*)(Check&);

// `static const Test t("Suite.Behaviour", [](Check& check) { ... });`
class Test {
 public:
  Test(const char* name, TestBody body);
};

// An automation object with no members at all: not a host. It lives on the
// test's stack and counts references instead of deleting itself (COM
// interfaces have no virtual destructor).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
class EmptyDispatch final : public IDispatch {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    if (riid != IID_IUnknown && riid != IID_IDispatch) {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    *out = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
  ULONG STDMETHODCALLTYPE Release() override { return --references; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return DISP_E_BADINDEX; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT count, LCID, DISPID* ids) override {
    for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
    return DISP_E_UNKNOWNNAME;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                   UINT*) override {
    return DISP_E_MEMBERNOTFOUND;
  }

  std::atomic<ULONG> references{1};  // the test's own
};
#pragma GCC diagnostic pop

}  // namespace ponderix::wintest
