// What the library shares while it is loaded: its module handle, the counts
// that decide whether it may be unloaded, and the one density-run module
// (Ponderix1) that every add-in object of the library drives.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace ponderix {
class Ponderix1;
class SWConnection;
}  // namespace ponderix

namespace ponderix::win32 {

// Set once by DllMain.
void SetModuleHandle(HMODULE module) noexcept;
HMODULE ModuleHandle() noexcept;
// The full path of this library.
std::wstring ModulePath();

// Live COM objects and server locks (IClassFactory::LockServer and held class
// factories); the library may unload when both are zero.
void AddObject() noexcept;
void RemoveObject() noexcept;
void AddLock() noexcept;
void RemoveLock() noexcept;
bool CanUnload() noexcept;

// The density-run module with its Windows platform (host connector, dialogs,
// shell), created on first use and kept until the library unloads. Its runs
// act on the host that connected the add-in: the application of the newest
// add-in object that is connected, else the running host of the class.
Ponderix1& DensityModule();

// The add-in objects alive, for the host connector; each adds itself when
// made and removes itself when destroyed.
void AddConnection(const SWConnection& connection);
void RemoveConnection(const SWConnection& connection) noexcept;

// The failure's message box: the prefix, the error, a blank line, then the
// note that nothing was changed or "Parts already written: N of M.".
inline constexpr std::string_view kRunFailedPrefix = "The density run failed: ";
inline constexpr std::string_view kNoPartChangedNote = "No part was changed.";
inline constexpr std::string_view kPartsWrittenNote = "Parts already written: ";

// Tells the user in a message box that a density run failed with `error`, and
// how many of its parts it had written. Never throws.
void ShowRunFailure(const std::string& error) noexcept;

}  // namespace ponderix::win32
