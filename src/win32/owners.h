// One-line owners for every Windows and COM resource the add-in holds, in the
// manner of WIL's unique_* types: a handle is released exactly once, by its
// owner's destructor, on every path. COM interface pointers use
// Microsoft::WRL::ComPtr. `OutPtr(owner)` lends an owner to an API that
// returns a new handle through a pointer-to-handle parameter.
#pragma once

#include <windows.h>

#include <ole2.h>
#include <oleauto.h>

#include <memory>
#include <type_traits>

namespace ponderix::win32 {

struct HkeyCloser {
  void operator()(HKEY key) const noexcept { RegCloseKey(key); }
};
struct BstrFreer {
  void operator()(BSTR text) const noexcept { SysFreeString(text); }
};
struct SafeArrayDestroyer {
  void operator()(SAFEARRAY* array) const noexcept { SafeArrayDestroy(array); }
};
struct WindowDestroyer {
  void operator()(HWND window) const noexcept { DestroyWindow(window); }
};
struct GdiObjectDeleter {
  void operator()(HGDIOBJ object) const noexcept { DeleteObject(object); }
};

using UniqueHkey = std::unique_ptr<std::remove_pointer_t<HKEY>, HkeyCloser>;
using UniqueBstr = std::unique_ptr<OLECHAR, BstrFreer>;
using UniqueSafeArray = std::unique_ptr<SAFEARRAY, SafeArrayDestroyer>;
using UniqueHwnd = std::unique_ptr<std::remove_pointer_t<HWND>, WindowDestroyer>;
using UniqueGdiObject = std::unique_ptr<std::remove_pointer_t<HGDIOBJ>, GdiObjectDeleter>;

// A VARIANT that is cleared when it goes out of scope.
class UniqueVariant {
 public:
  UniqueVariant() noexcept { VariantInit(&value_); }
  ~UniqueVariant() { VariantClear(&value_); }
  UniqueVariant(const UniqueVariant&) = delete;
  UniqueVariant& operator=(const UniqueVariant&) = delete;

  VARIANT* get() noexcept { return &value_; }
  const VARIANT* get() const noexcept { return &value_; }
  VARIANT* operator->() noexcept { return &value_; }
  const VARIANT* operator->() const noexcept { return &value_; }
  // Hands the value to a caller-owned VARIANT and leaves this one empty.
  void release(VARIANT* to) noexcept {
    *to = value_;
    VariantInit(&value_);
  }

 private:
  VARIANT value_;
};

// An EXCEPINFO filled by IDispatch::Invoke, whose strings are freed with it.
class UniqueExcepInfo {
 public:
  UniqueExcepInfo() noexcept = default;
  ~UniqueExcepInfo() {
    SysFreeString(value_.bstrSource);
    SysFreeString(value_.bstrDescription);
    SysFreeString(value_.bstrHelpFile);
  }
  UniqueExcepInfo(const UniqueExcepInfo&) = delete;
  UniqueExcepInfo& operator=(const UniqueExcepInfo&) = delete;

  EXCEPINFO* get() noexcept { return &value_; }
  EXCEPINFO* operator->() noexcept { return &value_; }

 private:
  EXCEPINFO value_{};
};

// Receives a handle from an out-parameter and gives it to `owner` afterwards.
template <class Owner>
class OutPtrT {
 public:
  using pointer = typename Owner::pointer;
  explicit OutPtrT(Owner& owner) noexcept : owner_(owner) {}
  ~OutPtrT() { owner_.reset(raw_); }
  OutPtrT(const OutPtrT&) = delete;
  OutPtrT& operator=(const OutPtrT&) = delete;
  operator pointer*() noexcept { return &raw_; }  // NOLINT(google-explicit-constructor)

 private:
  Owner& owner_;
  pointer raw_ = nullptr;
};

template <class Owner>
OutPtrT<Owner> OutPtr(Owner& owner) noexcept {
  return OutPtrT<Owner>(owner);
}

}  // namespace ponderix::win32
