#include "win32/module.h"

#include <atomic>
#include <memory>

#include "run/ponderix1.h"
#include "win32/com_error.h"
#include "win32/platform.h"

namespace ponderix::win32 {

namespace {

HMODULE g_module = nullptr;
std::atomic<long> g_objects{0};
std::atomic<long> g_locks{0};

// Members are destroyed in reverse order: the run module before its platform.
struct Module {
  std::unique_ptr<HostConnector> hostConnector = MakeHostConnector();
  std::unique_ptr<Toolkit> toolkit = MakeToolkit();
  std::unique_ptr<Shell> shell = MakeShell();
  Ponderix1 ponderix1{Platform{*hostConnector, *toolkit, *shell}};
};

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

Ponderix1& DensityModule() {
  static Module module;
  return module.ponderix1;
}

}  // namespace ponderix::win32
