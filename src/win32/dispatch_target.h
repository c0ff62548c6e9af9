// A callback target the host reaches through IDispatch: what the host adapter
// hands to SetAddinCallbackInfo when the core registers its callback target.
#pragma once

#include <windows.h>

#include <oaidl.h>

#include "addin/host.h"

namespace ponderix::win32 {

class DispatchCallbackTarget : public CallbackTarget {
 public:
  // The object's IDispatch, valid while the object lives; not AddRef'ed.
  virtual IDispatch* CallbackDispatch() noexcept = 0;
};

}  // namespace ponderix::win32
