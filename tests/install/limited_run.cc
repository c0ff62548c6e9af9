// Runs a program as a user without administrator rights would: with this
// process's token, the Administrators group disabled (deny-only), which is
// what Windows gives such a user when UAC is off and on Windows XP. Usage:
// limited_run PROGRAM [ARGS...]; the arguments go on as given, joined by
// blanks (so `_?=C:\Some Folder` arrives whole). Exits with the program's
// exit code, or 100 when the program could not be started.
#include <windows.h>

#include <cstdio>
#include <memory>
#include <string>

namespace {

struct HandleCloser {
  void operator()(HANDLE handle) const noexcept { CloseHandle(handle); }
};
using UniqueHandle = std::unique_ptr<void, HandleCloser>;

int Fail(const char* what) {
  std::printf("%s failed: %lu\n", what, GetLastError());
  return 100;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 100;
  HANDLE own = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, &own)) return Fail("OpenProcessToken");
  const UniqueHandle ownToken(own);
  SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
  PSID admins = nullptr;
  if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0,
                                0, 0, 0, 0, &admins)) {
    return Fail("AllocateAndInitializeSid");
  }
  const std::unique_ptr<void, decltype(&FreeSid)> adminsOwner(admins, &FreeSid);
  SID_AND_ATTRIBUTES disabled{admins, 0};
  HANDLE limited = nullptr;
  if (!CreateRestrictedToken(own, 0, 1, &disabled, 0, nullptr, 0, nullptr, &limited)) {
    return Fail("CreateRestrictedToken");
  }
  const UniqueHandle limitedToken(limited);

  std::wstring commandLine = L"\"" + std::wstring(argv[1]) + L"\"";
  for (int i = 2; i < argc; ++i) commandLine += L" " + std::wstring(argv[i]);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessAsUserW(limited, nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                            nullptr, &startup, &process)) {
    return Fail("CreateProcessAsUserW");
  }
  const UniqueHandle processOwner(process.hProcess);
  const UniqueHandle threadOwner(process.hThread);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 100;
  GetExitCodeProcess(process.hProcess, &code);
  return static_cast<int>(code);
}
