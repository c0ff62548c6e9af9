#include "win32/registration.h"

#include <optional>
#include <string_view>
#include <variant>
#include <vector>

#include "ponderix.h"
#include "run/sw_connection.h"
#include "win32/com_error.h"
#include "win32/owners.h"
#include "win32/text.h"

namespace ponderix::win32 {

namespace {

constexpr wchar_t kDescription[] = L"Ponderix by Korvanis";
constexpr wchar_t kInterfaceName[] = L"_SWConnection";
constexpr wchar_t kTypeLibVersion[] = L"1.0";
// The standard marshaler of oleautomation interfaces.
constexpr wchar_t kAutomationProxyStub[] = L"{00020424-0000-0000-C000-000000000046}";
constexpr wchar_t kHostTitle[] = L"Ponderix";
// One type library, two builds: each registers its own platform below it.
constexpr const wchar_t* kTypeLibPlatform = sizeof(void*) == 8 ? L"win64" : L"win32";

constexpr wchar_t kHostAddIns[] = L"Software\\SolidWorks\\AddIns";
constexpr wchar_t kHostStartup[] = L"Software\\SolidWorks\\AddInsStartup";
constexpr wchar_t kHostRoot[] = L"Software\\SolidWorks";

struct Value {
  std::wstring name;  // "" is the key's default value
  std::variant<std::wstring, DWORD> data;
  // Written only where the value is absent: a start-up choice that the host,
  // an administrator or the setup program made stays through a re-registration.
  bool keepExisting = false;
};

struct Key {
  HKEY hive;
  std::wstring path;
  std::vector<Value> values;
};

HKEY ScopeHive(RegistrationScope scope) {
  return scope == RegistrationScope::kMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

std::wstring ClassesPath(std::wstring_view below) { return L"Software\\Classes\\" + std::wstring(below); }

std::wstring Clsid() { return GuidText(CLSID_SWConnection); }
std::wstring TypeLibKey() { return ClassesPath(L"TypeLib\\" + GuidText(LIBID_Ponderix)); }
std::wstring TypeLibVersionKey() { return TypeLibKey() + L"\\" + kTypeLibVersion; }

std::optional<UniqueHkey> OpenForReading(HKEY hive, const std::wstring& path) {
  UniqueHkey key;
  if (RegOpenKeyExW(hive, path.c_str(), 0, KEY_READ, OutPtr(key)) != ERROR_SUCCESS) return std::nullopt;
  return key;
}

// The start-up default of the add-in list entry (1: load at start-up), 0 where
// there is none or it is no number.
DWORD StartupDefault(HKEY hive, const std::wstring& path) {
  const std::optional<UniqueHkey> key = OpenForReading(hive, path);
  DWORD number = 0;
  DWORD type = 0;
  DWORD bytes = sizeof number;
  if (!key ||
      RegQueryValueExW(key->get(), L"", nullptr, &type, reinterpret_cast<BYTE*>(&number), &bytes) !=
          ERROR_SUCCESS ||
      type != REG_DWORD) {
    return 0;
  }
  return number;
}

std::vector<Key> KeysToWrite(RegistrationScope scope, const std::wstring& modulePath) {
  const HKEY hive = ScopeHive(scope);
  const std::wstring clsid = Clsid();
  const std::wstring addInKey = std::wstring(kHostAddIns) + L"\\" + clsid;
  const std::wstring libid = GuidText(LIBID_Ponderix);
  const std::wstring iid = GuidText(IID__SWConnection);
  const std::wstring classKey = ClassesPath(L"CLSID\\" + clsid);
  const std::wstring interfaceKey = ClassesPath(L"Interface\\" + iid);
  const std::wstring folder = modulePath.substr(0, modulePath.find_last_of(L"\\/") + 1);
  const std::wstring hostDescription = Widen(kMenuHint);
  return {
      {hive, classKey, {{L"", kDescription}}},
      {hive, classKey + L"\\InprocServer32", {{L"", modulePath}, {L"ThreadingModel", L"Apartment"}}},
      {hive, classKey + L"\\ProgID", {{L"", kProgId}}},
      {hive, classKey + L"\\TypeLib", {{L"", libid}}},
      {hive, ClassesPath(kProgId), {{L"", kDescription}}},
      {hive, ClassesPath(kProgId) + L"\\CLSID", {{L"", clsid}}},
      {hive, TypeLibVersionKey(), {{L"", kDescription}}},
      {hive, TypeLibVersionKey() + L"\\0\\" + kTypeLibPlatform, {{L"", modulePath}}},
      {hive, TypeLibVersionKey() + L"\\FLAGS", {{L"", L"0"}}},
      {hive, TypeLibVersionKey() + L"\\HELPDIR", {{L"", folder}}},
      {hive, interfaceKey, {{L"", kInterfaceName}}},
      {hive, interfaceKey + L"\\ProxyStubClsid32", {{L"", kAutomationProxyStub}}},
      {hive, interfaceKey + L"\\TypeLib", {{L"", libid}, {L"Version", kTypeLibVersion}}},
      // Off at start-up unless someone chose otherwise (the setup program
      // writes its choice here before it registers).
      {hive, addInKey, {{L"", DWORD{0}, true}, {L"Title", kHostTitle}, {L"Description", hostDescription}}},
      // The user's own start-up choice, which the host keeps here; where the
      // user has made none yet, it starts as the list entry's default, so that
      // the registering user gets what everyone else gets from that default.
      {HKEY_CURRENT_USER,
       std::wstring(kHostStartup) + L"\\" + clsid,
       {{L"", StartupDefault(hive, addInKey), true}}},
  };
}

void WriteValue(HKEY key, const Value& value) {
  if (value.keepExisting &&
      RegQueryValueExW(key, value.name.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS) {
    return;
  }
  LONG status;
  if (const auto* text = std::get_if<std::wstring>(&value.data)) {
    const DWORD bytes = static_cast<DWORD>((text->size() + 1) * sizeof(wchar_t));
    status = RegSetValueExW(key, value.name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text->c_str()),
                            bytes);
  } else {
    const DWORD number = std::get<DWORD>(value.data);
    status = RegSetValueExW(key, value.name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                            sizeof number);
  }
  ThrowIfWin32Error(status, "writing registry value " + Narrow(value.name));
}

void WriteKey(const Key& entry) {
  UniqueHkey key;
  ThrowIfWin32Error(RegCreateKeyExW(entry.hive, entry.path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                    KEY_SET_VALUE | KEY_QUERY_VALUE, nullptr, OutPtr(key), nullptr),
                    "creating registry key " + Narrow(entry.path));
  for (const Value& value : entry.values) WriteValue(key.get(), value);
}

// Opening the scope's classes folder for writing is where a user without
// rights on the machine keys is turned away (access denied), before anything
// is written.
void CheckWritable(RegistrationScope scope) {
  UniqueHkey classes;
  ThrowIfWin32Error(
      RegCreateKeyExW(ScopeHive(scope), L"Software\\Classes", 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_CREATE_SUB_KEY | KEY_SET_VALUE, nullptr, OutPtr(classes), nullptr),
      "opening the registry's classes for writing");
}

// True when the key exists and holds neither values nor subkeys.
bool IsEmptyKey(HKEY hive, const std::wstring& path) {
  const std::optional<UniqueHkey> key = OpenForReading(hive, path);
  if (!key) return false;
  DWORD subkeys = 0;
  DWORD values = 0;
  if (RegQueryInfoKeyW(key->get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                       nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  return subkeys == 0 && values == 0;
}

bool HasSubkeys(HKEY hive, const std::wstring& path) {
  const std::optional<UniqueHkey> key = OpenForReading(hive, path);
  if (!key) return false;
  DWORD subkeys = 0;
  if (RegQueryInfoKeyW(key->get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr,
                       nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
    return true;  // unreadable: leave it alone
  }
  return subkeys != 0;
}

// Deletes a key with everything below it, deepest first. RegDeleteTreeW does
// this in one call, but Windows XP, where the 32-bit hosts run, lacks it.
LONG DeleteKeyTree(HKEY parent, const std::wstring& path) {
  {
    UniqueHkey key;
    LONG status = RegOpenKeyExW(parent, path.c_str(), 0, KEY_ENUMERATE_SUB_KEYS, OutPtr(key));
    if (status != ERROR_SUCCESS) return status;
    for (;;) {
      wchar_t name[256];  // a key name has at most 255 characters
      DWORD length = 256;
      status = RegEnumKeyExW(key.get(), 0, name, &length, nullptr, nullptr, nullptr, nullptr);
      if (status == ERROR_NO_MORE_ITEMS) break;
      if (status == ERROR_SUCCESS) status = DeleteKeyTree(key.get(), name);
      // A subkey that stays would come back at index 0 for ever.
      if (status != ERROR_SUCCESS) return status;
    }
  }
  return RegDeleteKeyW(parent, path.c_str());
}

// Collects the first failure, so that one stubborn key does not keep the
// others in place.
class Remover {
 public:
  void DeleteTree(HKEY hive, const std::wstring& path) {
    const LONG status = DeleteKeyTree(hive, path);
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) Record(status, path);
  }
  void DeleteIfEmpty(HKEY hive, const std::wstring& path) {
    if (IsEmptyKey(hive, path)) DeleteTree(hive, path);
  }
  void ThrowFirst() const {
    if (first_) ThrowIfWin32Error(first_->first, "removing registry key " + Narrow(first_->second));
  }

 private:
  void Record(LONG status, const std::wstring& path) {
    if (!first_) first_.emplace(status, path);
  }
  std::optional<std::pair<LONG, std::wstring>> first_;
};

void RemoveScope(RegistrationScope scope, Remover& remover) {
  const HKEY hive = ScopeHive(scope);
  const std::wstring clsid = Clsid();
  remover.DeleteTree(hive, ClassesPath(L"CLSID\\" + clsid));
  remover.DeleteTree(hive, ClassesPath(kProgId));
  remover.DeleteTree(hive, ClassesPath(L"Interface\\" + GuidText(IID__SWConnection)));

  // The type library key is shared with a registration of the other build;
  // its version folder goes only when no platform is left in it.
  remover.DeleteTree(hive, TypeLibVersionKey() + L"\\0\\" + kTypeLibPlatform);
  if (!HasSubkeys(hive, TypeLibVersionKey() + L"\\0")) {
    remover.DeleteTree(hive, TypeLibVersionKey());
    remover.DeleteIfEmpty(hive, TypeLibKey());
  }

  remover.DeleteTree(hive, std::wstring(kHostAddIns) + L"\\" + clsid);
  remover.DeleteIfEmpty(hive, kHostAddIns);
  remover.DeleteTree(HKEY_CURRENT_USER, std::wstring(kHostStartup) + L"\\" + clsid);
  remover.DeleteIfEmpty(HKEY_CURRENT_USER, kHostStartup);
  remover.DeleteIfEmpty(hive, kHostRoot);
  remover.DeleteIfEmpty(HKEY_CURRENT_USER, kHostRoot);
}

void WriteScope(RegistrationScope scope, const std::wstring& modulePath) {
  CheckWritable(scope);
  try {
    for (const Key& key : KeysToWrite(scope, modulePath)) WriteKey(key);
  } catch (...) {
    Remover undo;  // best effort: the original failure is the one to report
    RemoveScope(scope, undo);
    throw;
  }
}

}  // namespace

void RegisterServer(RegistrationScope scope, const std::wstring& modulePath) {
  WriteScope(scope, modulePath);
}

void UnregisterServer(RegistrationScope scope, bool bothScopes) {
  Remover remover;
  if (bothScopes || scope == RegistrationScope::kMachine) RemoveScope(RegistrationScope::kMachine, remover);
  if (bothScopes || scope == RegistrationScope::kUser) RemoveScope(RegistrationScope::kUser, remover);
  remover.ThrowFirst();
}

}  // namespace ponderix::win32
