#include "winsim/support.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <utility>
#include <vector>

#include "win32/owners.h"
#include "win32/text.h"

namespace ponderix::winsim {

namespace {

using DllRegisterFn = HRESULT(WINAPI*)();
using DllInstallFn = HRESULT(WINAPI*)(BOOL, LPCWSTR);
using DllGetClassObjectFn = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);

// An open key, or none when opening failed.
class Key {
 public:
  Key(HKEY hive, std::wstring_view path, REGSAM access) {
    RegOpenKeyExW(hive, std::wstring(path).c_str(), 0, access, win32::OutPtr(key_));
  }
  bool open() const { return key_ != nullptr; }
  HKEY get() const { return key_.get(); }

 private:
  win32::UniqueHkey key_;
};

std::string Utf8(const std::wstring& text) { return win32::Narrow(text); }

void DumpInto(HKEY key, const std::wstring& name, int depth, std::string& out) {
  out += std::string(static_cast<size_t>(depth) * 2, ' ') + "[" + Utf8(name) + "]\n";
  std::vector<std::string> values;
  std::vector<wchar_t> valueName(16384);
  std::vector<BYTE> data(65536);
  for (DWORD i = 0;; ++i) {
    DWORD nameLength = static_cast<DWORD>(valueName.size());
    DWORD type = 0;
    DWORD dataSize = static_cast<DWORD>(data.size());
    if (RegEnumValueW(key, i, valueName.data(), &nameLength, nullptr, &type, data.data(), &dataSize) !=
        ERROR_SUCCESS) {
      break;
    }
    std::string text = Utf8(std::wstring(valueName.data(), nameLength)) + "=";
    if (type == REG_SZ || type == REG_EXPAND_SZ) {
      const std::wstring raw(reinterpret_cast<const wchar_t*>(data.data()), dataSize / sizeof(wchar_t));
      text += "sz:" + Utf8(raw.c_str());
    } else if (type == REG_DWORD && dataSize == sizeof(DWORD)) {
      DWORD number = 0;
      std::copy_n(data.data(), sizeof number, reinterpret_cast<BYTE*>(&number));
      text += "dword:" + std::to_string(number);
    } else {
      text += "type" + std::to_string(type) + ":" + std::to_string(dataSize) + " bytes";
    }
    values.push_back(text);
  }
  std::sort(values.begin(), values.end());
  for (const std::string& value : values)
    out += std::string(static_cast<size_t>(depth) * 2 + 2, ' ') + value + "\n";

  std::vector<std::wstring> children;
  for (DWORD i = 0;; ++i) {
    wchar_t child[256];
    DWORD length = 256;
    if (RegEnumKeyExW(key, i, child, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    children.emplace_back(child, length);
  }
  std::sort(children.begin(), children.end());
  for (const std::wstring& child : children) {
    Key sub(key, child, KEY_READ);
    if (sub.open()) DumpInto(sub.get(), child, depth + 1, out);
  }
}

}  // namespace

namespace {

std::wstring BesideThisProgram(const wchar_t* name) {
  wchar_t self[MAX_PATH * 4];
  const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH * 4);
  std::wstring folder(self, length);
  folder.resize(folder.find_last_of(L"\\/") + 1);
  return folder + name;
}

}  // namespace

AddinDll& AddinDll::Get() {
  static AddinDll dll(BesideThisProgram(L"PonderixKorvanis.dll"));
  return dll;
}

AddinDll::AddinDll(std::wstring path) : path_(std::move(path)) {
  module_ = LoadLibraryW(path_.c_str());
  if (!module_) {
    throw std::runtime_error("cannot load " + Utf8(path_) + ": " +
                             HexCode(HRESULT_FROM_WIN32(GetLastError())));
  }
}

template <class Fn>
Fn AddinDll::Export(const char* name) const {
  const FARPROC function = GetProcAddress(module_, name);
  if (!function) throw std::runtime_error(std::string("the DLL does not export ") + name);
  // void (*)() is the type GCC lets any function pointer pass through.
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(function));
}

HRESULT AddinDll::RegisterServer() const { return Export<DllRegisterFn>("DllRegisterServer")(); }
HRESULT AddinDll::UnregisterServer() const { return Export<DllRegisterFn>("DllUnregisterServer")(); }
HRESULT AddinDll::Install(bool install, const wchar_t* commandLine) const {
  return Export<DllInstallFn>("DllInstall")(install ? TRUE : FALSE, commandLine);
}
HRESULT AddinDll::CanUnloadNow() const { return Export<DllRegisterFn>("DllCanUnloadNow")(); }
HRESULT AddinDll::GetClassObject(REFCLSID clsid, REFIID iid, void** out) const {
  return Export<DllGetClassObjectFn>("DllGetClassObject")(clsid, iid, out);
}

ScopedRegistration::ScopedRegistration() : result_(AddinDll::Get().RegisterServer()) {}
ScopedRegistration::~ScopedRegistration() { AddinDll::Get().UnregisterServer(); }

bool KeyExists(HKEY hive, std::wstring_view path) { return Key(hive, path, KEY_READ).open(); }

std::optional<std::wstring> ReadString(HKEY hive, std::wstring_view path, std::wstring_view name) {
  wchar_t data[4096];
  DWORD size = sizeof data;
  DWORD type = 0;
  if (RegGetValueW(hive, std::wstring(path).c_str(), std::wstring(name).c_str(), RRF_RT_REG_SZ, &type, data,
                   &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  return std::wstring(data);
}

std::optional<DWORD> ReadDword(HKEY hive, std::wstring_view path, std::wstring_view name) {
  DWORD data = 0;
  DWORD size = sizeof data;
  if (RegGetValueW(hive, std::wstring(path).c_str(), std::wstring(name).c_str(), RRF_RT_REG_DWORD, nullptr,
                   &data, &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  return data;
}

namespace {

void WriteValue(HKEY hive, std::wstring_view path, std::wstring_view name, DWORD type, const void* data,
                DWORD size) {
  win32::UniqueHkey key;
  if (RegCreateKeyExW(hive, std::wstring(path).c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                      win32::OutPtr(key), nullptr) != ERROR_SUCCESS) {
    throw std::runtime_error("cannot create key " + Utf8(std::wstring(path)));
  }
  const LONG status =
      RegSetValueExW(key.get(), std::wstring(name).c_str(), 0, type, static_cast<const BYTE*>(data), size);
  if (status != ERROR_SUCCESS)
    throw std::runtime_error("cannot write a value in " + Utf8(std::wstring(path)));
}

}  // namespace

void WriteString(HKEY hive, std::wstring_view path, std::wstring_view name, std::wstring_view value) {
  const std::wstring text(value);
  WriteValue(hive, path, name, REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

void WriteDword(HKEY hive, std::wstring_view path, std::wstring_view name, DWORD value) {
  WriteValue(hive, path, name, REG_DWORD, &value, sizeof value);
}

void DeleteTree(HKEY hive, std::wstring_view path) { RegDeleteTreeW(hive, std::wstring(path).c_str()); }

std::string DumpTree(HKEY hive, std::wstring_view path) {
  const Key key(hive, path, KEY_READ);
  if (!key.open()) return Utf8(std::wstring(path)) + " <absent>\n";
  std::string out;
  DumpInto(key.get(), std::wstring(path), 0, out);
  return out;
}

std::string HexCode(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(hr));
  return text;
}

}  // namespace ponderix::winsim
