#include "run/sw_connection.h"

#include <exception>

#include "run/ponderix1.h"

namespace ponderix {

namespace {

constexpr int32_t kCommandDocTypes[] = {kDocTypePart, kDocTypeAssembly};

}  // namespace

SWConnection::SWConnection(Ponderix1& module, std::uintptr_t moduleHandle, CallbackTarget* callbackTarget)
    : module_(module), moduleHandle_(moduleHandle), callbackTarget_(callbackTarget ? callbackTarget : this) {}

bool SWConnection::SwAddin_ConnectToSW(Ref<Application> ThisSW, int32_t Cookie) {
  connSwApp = std::move(ThisSW);
  connCookie = Cookie;
  if (!connSwApp) throw HostError("ConnectToSW", "the host passed no application");
  try {
    connSwApp->RegisterCallbackTarget(moduleHandle_, *callbackTarget_, connCookie);
    const std::string menuPath = std::string(kMenuItemPrefix) + connSwApp->LocalizedMenuName(kToolsMenuId);
    for (const int32_t docType : kCommandDocTypes) {
      connSwApp->AddMenuCommand(docType, connCookie, menuPath, kMenuPosition, std::string(kRunCallback),
                                std::string(kEnableCallback), std::string(kMenuHint));
    }
  } catch (...) {
    // A failed connect holds nothing: the host will not disconnect what it could not connect.
    connSwApp.reset();
    throw;
  }
  return true;
}

bool SWConnection::SwAddin_DisconnectFromSW() {
  if (!connSwApp) return true;  // never connected, or already disconnected
  // The host is released however the removal ends, a failing call included.
  struct ReleaseOnExit {
    Ref<Application>& app;
    ~ReleaseOnExit() { app.reset(); }
  } release{connSwApp};
  const std::string menuName = connSwApp->LocalizedMenuName(kToolsMenuId);
  const std::string menuPath = std::string(kMenuItemPrefix) + menuName;
  for (const int32_t docType : kCommandDocTypes) {
    connSwApp->RemoveMenuEntry(docType, menuPath, std::string(kRunCallback));
  }
  const std::string subMenuPath = std::string(kSubMenuPrefix) + menuName;
  if (const Ref<Frame> frame = connSwApp->MainFrame()) {
    for (const int32_t docType : kCommandDocTypes) {
      if (frame->MenuItemCount(docType, subMenuPath) == 0)
        connSwApp->RemoveMenuEntry(docType, subMenuPath, "");
    }
  } else {
    throw HostError("MainFrame", "the host gave no frame");
  }
  return true;
}

void SWConnection::RunAddin() { module_.RunDensity(); }

CallbackResult SWConnection::InvokeByName(std::string_view name) noexcept {
  CallbackResult result;
  try {
    if (name == kRunCallback) {
      RunAddin();
    } else if (name == kEnableCallback) {
      result.value = Return_as_1();
    } else {
      result.found = false;
      result.ok = false;
      result.error = "no method named " + std::string(name);
    }
  } catch (const std::exception& e) {
    result.ok = false;
    result.error = e.what();
  } catch (...) {
    result.ok = false;
    result.error = "unknown failure";
  }
  return result;
}

}  // namespace ponderix
