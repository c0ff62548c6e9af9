// The add-in object the host creates and connects: it installs the menu
// command "Ponderix" for parts and assemblies, removes it again on
// disconnect, and starts a density run when the host calls back "RunAddin".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "addin/host.h"

namespace ponderix {

class Ponderix1;

inline constexpr std::string_view kMenuItemPrefix = "Ponderix@Korvanis Tools@";
inline constexpr std::string_view kSubMenuPrefix = "Korvanis Tools@";
inline constexpr std::string_view kRunCallback = "RunAddin";
inline constexpr std::string_view kEnableCallback = "Return_as_1";
inline constexpr std::string_view kMenuHint =
    "Tool for changing densities of SW parts in context of assembly.";
inline constexpr int32_t kMenuPosition = -1;

class SWConnection : public CallbackTarget {
 public:
  // `module` runs the density runs; `moduleHandle` identifies this library to
  // the host; `callbackTarget` is what the host calls back (this object when
  // null; the COM object wrapping it on Windows).
  SWConnection(Ponderix1& module, std::uintptr_t moduleHandle, CallbackTarget* callbackTarget = nullptr);

  // Stores the host and cookie, registers for callbacks and installs the
  // command for parts, then assemblies. Always true; a failing host call throws.
  bool SwAddin_ConnectToSW(Ref<Application> ThisSW, int32_t Cookie);
  // Removes the command for both types, and the sub-menu where the host
  // reports it empty; releases the host. Always true; a failing call throws.
  bool SwAddin_DisconnectFromSW();
  static int32_t Return_as_1() { return 1; }
  // One density run; returns when it is over. A failure throws.
  void RunAddin();

  // "RunAddin" and "Return_as_1" by name; no exception escapes.
  CallbackResult InvokeByName(std::string_view name) noexcept override;

  Ref<Application> connSwApp;
  int32_t connCookie = 0;

 private:
  Ponderix1& module_;
  std::uintptr_t moduleHandle_;
  CallbackTarget* callbackTarget_;
};

}  // namespace ponderix
