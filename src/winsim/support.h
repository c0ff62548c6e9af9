// The add-in DLL loaded by path, and registry helpers that read, seed and
// snapshot keys.
#pragma once

#include <windows.h>

#include <oaidl.h>
#include <objbase.h>

#include <optional>
#include <string>
#include <string_view>

#include "win32/text.h"

namespace ponderix::winsim {

// The add-in DLL, loaded until the process ends: COM may hold objects of it
// for as long as the apartment lives.
class AddinDll {
 public:
  // Loads the DLL at `path`; throws std::runtime_error when it cannot.
  explicit AddinDll(std::wstring path);
  ~AddinDll() = default;
  AddinDll(const AddinDll&) = delete;
  AddinDll& operator=(const AddinDll&) = delete;
  // PonderixKorvanis.dll beside this program, loaded for the whole process.
  static AddinDll& Get();

  const std::wstring& path() const { return path_; }
  HMODULE module() const { return module_; }

  HRESULT RegisterServer() const;
  HRESULT UnregisterServer() const;
  HRESULT Install(bool install, const wchar_t* commandLine) const;
  HRESULT CanUnloadNow() const;
  HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** out) const;

 private:
  // The export `name` as a pointer to a function of type Fn.
  template <class Fn>
  Fn Export(const char* name) const;

  std::wstring path_;
  HMODULE module_ = nullptr;
};

// Registers machine-wide for the lifetime of the object.
class ScopedRegistration {
 public:
  ScopedRegistration();
  ~ScopedRegistration();
  ScopedRegistration(const ScopedRegistration&) = delete;
  ScopedRegistration& operator=(const ScopedRegistration&) = delete;
  HRESULT result() const { return result_; }

 private:
  HRESULT result_;
};

bool KeyExists(HKEY hive, std::wstring_view path);
std::optional<std::wstring> ReadString(HKEY hive, std::wstring_view path, std::wstring_view name);
std::optional<DWORD> ReadDword(HKEY hive, std::wstring_view path, std::wstring_view name);
// Creates the key when missing; throws std::runtime_error on failure.
void WriteString(HKEY hive, std::wstring_view path, std::wstring_view name, std::wstring_view value);
void WriteDword(HKEY hive, std::wstring_view path, std::wstring_view name, DWORD value);
void DeleteTree(HKEY hive, std::wstring_view path);

// The key with its values and subkeys, in a stable text form; "<absent>"
// when it does not exist.
std::string DumpTree(HKEY hive, std::wstring_view path);

using win32::GuidText;
// An HRESULT as 0x and eight hex digits.
std::string HexCode(HRESULT hr);

}  // namespace ponderix::winsim
