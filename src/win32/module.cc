#include "win32/module.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "run/ponderix1.h"
#include "run/sw_connection.h"
#include "win32/com_error.h"
#include "win32/platform.h"
#include "win32/win32_toolkit.h"

namespace ponderix::win32 {

namespace {

HMODULE g_module = nullptr;
std::atomic<long> g_objects{0};
std::atomic<long> g_locks{0};

// Every add-in object lives in the host's one apartment thread.
std::vector<const SWConnection*> g_connections;

Ref<Application> ConnectedApplication() {
  for (auto it = g_connections.rbegin(); it != g_connections.rend(); ++it) {
    if ((*it)->connSwApp) return (*it)->connSwApp;
  }
  return nullptr;
}

// The connected host's main window, which owns our forms and boxes; null when
// there is none or the host cannot say, and the toolkit finds another owner.
HWND HostWindow() {
  try {
    const Ref<Application> app = ConnectedApplication();
    const Ref<Frame> frame = app ? app->MainFrame() : nullptr;
    return frame ? reinterpret_cast<HWND>(frame->WindowHandle()) : nullptr;
  } catch (...) {
    return nullptr;
  }
}

// Members are destroyed in reverse order: the run module before its platform.
struct Module {
  std::unique_ptr<HostConnector> hostConnector = MakeHostConnector(&ConnectedApplication);
  std::unique_ptr<NativeToolkit> toolkit = MakeNativeToolkit({.hostWindow = &HostWindow});
  std::unique_ptr<Shell> shell = MakeShell();
  Ponderix1 ponderix1{Platform{*hostConnector, *toolkit, *shell}};
};

Module& TheModule() {
  static Module module;
  return module;
}

}  // namespace

void SetModuleHandle(HMODULE module) noexcept { g_module = module; }

HMODULE ModuleHandle() noexcept { return g_module; }

std::wstring ModulePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD size = static_cast<DWORD>(path.size());
    const DWORD length = GetModuleFileNameW(g_module, path.data(), size);
    if (length == 0) ThrowIfWin32Error(static_cast<LONG>(GetLastError()), "GetModuleFileName");
    if (length < size) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);  // truncated: try a larger buffer
  }
}

void AddObject() noexcept { ++g_objects; }
void RemoveObject() noexcept { --g_objects; }
void AddLock() noexcept { ++g_locks; }
void RemoveLock() noexcept { --g_locks; }
bool CanUnload() noexcept { return g_objects == 0 && g_locks == 0; }

Ponderix1& DensityModule() { return TheModule().ponderix1; }

void AddConnection(const SWConnection& connection) { g_connections.push_back(&connection); }

void RemoveConnection(const SWConnection& connection) noexcept {
  g_connections.erase(std::remove(g_connections.begin(), g_connections.end(), &connection),
                      g_connections.end());
}

void ShowRunFailure(const std::string& error) noexcept {
  try {
    // Hosts are not known to show a failed callback: without this box a
    // half-written assembly would look done.
    Module& module = TheModule();
    const RunState& state = module.ponderix1.state;
    std::string text = std::string(kRunFailedPrefix) + error + "\n\n";
    if (state.partsToWrite == 0) {
      text += kNoPartChangedNote;
    } else {
      text += std::string(kPartsWrittenNote) + std::to_string(state.partsWritten) + " of " +
              std::to_string(state.partsToWrite) + ".";
    }
    module.toolkit->ShowFailureBox(text);
  } catch (...) {
    // No box (out of memory, no window): the host still receives the failure.
  }
}

}  // namespace ponderix::win32
