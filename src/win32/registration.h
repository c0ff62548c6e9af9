// Self-registration: the COM class, its ProgID, the type library and the
// host's add-in list, written as the host's users expect to find them.
//
// Machine scope writes the classes under HKLM\Software\Classes and lists the
// add-in under HKLM\SOFTWARE\SolidWorks\AddIns; user scope writes them under
// HKCU\Software\Classes and HKCU\Software\SolidWorks\AddIns. Both add the
// start-up entry HKCU\Software\SolidWorks\AddInsStartup of the user who
// registers. The two start-up values (the list entry's default and the
// user's own) are written only where absent, so a re-registration, as in an
// upgrade, keeps the choices made since. Unregistering removes exactly these
// keys, and host folders that are left empty by it.
#pragma once

#include <string>

namespace ponderix::win32 {

// The ProgID of coclass SWConnection, as ponderix.idl declares it; the error
// objects of the add-in name it as their source.
inline constexpr wchar_t kProgId[] = L"PonderixKorvanis.SWConnection";

enum class RegistrationScope { kMachine, kUser };

// Writes every key of `scope` for `modulePath`. A failure undoes the partial
// registration and throws ComError; without the rights to write the machine
// keys, kMachine fails with access denied and writes nothing (a per-user
// registration is asked for, never chosen silently).
void RegisterServer(RegistrationScope scope, const std::wstring& modulePath);

// Removes the keys of `scope`, or of both scopes when `bothScopes`. Keys that
// are absent are fine; the first other failure is thrown (ComError) after
// everything else has been tried.
void UnregisterServer(RegistrationScope scope, bool bothScopes);

}  // namespace ponderix::win32
