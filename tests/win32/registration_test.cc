// DllRegisterServer, DllUnregisterServer and DllInstall against the Wine
// registry, as steps of a round trip: every key is written with its value,
// machine-wide or per user, and undoing gives back the registry as it was.
#include <windows.h>

#include <sddl.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "harness.h"
#include "ponderix.h"
#include "win32/owners.h"
#include "win32/registration.h"
#include "winsim/support.h"

namespace ponderix::wintest {

namespace {

const std::wstring kClsid = GuidText(CLSID_SWConnection);
const std::wstring kLibid = GuidText(LIBID_Ponderix);
const std::wstring kProgId = win32::kProgId;
const std::wstring kPlatform = sizeof(void*) == 8 ? L"win64" : L"win32";
const std::wstring kOtherPlatform = sizeof(void*) == 8 ? L"win32" : L"win64";
const std::wstring kOtherAddIn = L"{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}";
const std::wstring kFakeMachine = L"Software\\PonderixTest\\Machine";

std::wstring Classes(const std::wstring& below) { return L"Software\\Classes\\" + below; }

struct ExpectedValue {
  HKEY hive;
  std::wstring path;
  std::wstring name;
  std::variant<std::wstring, DWORD> value;
};

// Every value registration writes when it uses `hive` for the classes and the add-in list.
std::vector<ExpectedValue> ExpectedValues(HKEY hive) {
  const std::wstring dll = AddinDll::Get().path();
  const std::wstring folder = dll.substr(0, dll.find_last_of(L'\\') + 1);
  const std::wstring classKey = Classes(L"CLSID\\" + kClsid);
  const std::wstring typeLib = Classes(L"TypeLib\\" + kLibid + L"\\1.0");
  const std::wstring iface = Classes(L"Interface\\" + GuidText(IID__SWConnection));
  const std::wstring addIn = L"Software\\SolidWorks\\AddIns\\" + kClsid;
  return {
      {hive, classKey, L"", L"Ponderix by Korvanis"},
      {hive, classKey + L"\\InprocServer32", L"", dll},
      {hive, classKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment"},
      {hive, classKey + L"\\ProgID", L"", kProgId},
      {hive, classKey + L"\\TypeLib", L"", kLibid},
      {hive, Classes(kProgId + L"\\CLSID"), L"", kClsid},
      {hive, typeLib, L"", L"Ponderix by Korvanis"},
      {hive, typeLib + L"\\0\\" + kPlatform, L"", dll},
      {hive, typeLib + L"\\FLAGS", L"", L"0"},
      {hive, typeLib + L"\\HELPDIR", L"", folder},
      {hive, iface, L"", L"_SWConnection"},
      {hive, iface + L"\\ProxyStubClsid32", L"", L"{00020424-0000-0000-C000-000000000046}"},
      {hive, iface + L"\\TypeLib", L"", kLibid},
      {hive, iface + L"\\TypeLib", L"Version", L"1.0"},
      {hive, addIn, L"", DWORD{0}},
      {hive, addIn, L"Title", L"Ponderix"},
      {hive, addIn, L"Description", L"Tool for changing densities of SW parts in context of assembly."},
      {HKEY_CURRENT_USER, L"Software\\SolidWorks\\AddInsStartup\\" + kClsid, L"", DWORD{0}},
  };
}

void CheckValues(Check& check, const std::vector<ExpectedValue>& expected) {
  for (const ExpectedValue& e : expected) {
    const std::string where = DumpTree(e.hive, e.path) + "value '" + Describe(e.name) + "'";
    if (const auto* text = std::get_if<std::wstring>(&e.value)) {
      check.Equal(ReadString(e.hive, e.path, e.name).value_or(L"<missing>"), *text, where);
    } else {
      const auto number = ReadDword(e.hive, e.path, e.name);
      check.True(number.has_value(), where + " is missing");
      if (number) check.Equal(*number, std::get<DWORD>(e.value), where);
    }
  }
}

// The keys registration may touch, in both hives, as text.
std::string Snapshot() {
  std::string out;
  for (const HKEY hive : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
    out += DumpTree(hive, Classes(L"CLSID\\" + kClsid));
    out += DumpTree(hive, Classes(kProgId));
    out += DumpTree(hive, Classes(L"TypeLib\\" + kLibid));
    out += DumpTree(hive, Classes(L"Interface\\" + GuidText(IID__SWConnection)));
    out += DumpTree(hive, Classes(L"Interface\\" + GuidText(IID_SwAddin)));
    out += DumpTree(hive, L"Software\\SolidWorks");
  }
  return out;
}

void SeedHostWorld() {
  const std::wstring dll = AddinDll::Get().path();
  const std::wstring folder = dll.substr(0, dll.find_last_of(L'\\') + 1);
  WriteString(HKEY_LOCAL_MACHINE, L"Software\\SolidWorks", L"Version", L"32");
  WriteDword(HKEY_LOCAL_MACHINE, L"Software\\SolidWorks\\AddIns\\" + kOtherAddIn, L"", 1);
  WriteString(HKEY_LOCAL_MACHINE, L"Software\\SolidWorks\\AddIns\\" + kOtherAddIn, L"Title", L"Other");
  WriteDword(HKEY_CURRENT_USER, L"Software\\SolidWorks\\AddInsStartup\\" + kOtherAddIn, L"", 1);
  // The host registers its own add-in interface; it is not ours to touch.
  WriteString(HKEY_LOCAL_MACHINE, Classes(L"Interface\\" + GuidText(IID_SwAddin)), L"", L"ISwAddin");
  // The other build of the add-in, registered from the same folder.
  const std::wstring typeLib = Classes(L"TypeLib\\" + kLibid + L"\\1.0");
  WriteString(HKEY_LOCAL_MACHINE, typeLib, L"", L"Ponderix by Korvanis");
  WriteString(HKEY_LOCAL_MACHINE, typeLib + L"\\0\\" + kOtherPlatform, L"",
              folder + L"other\\PonderixKorvanis.dll");
  WriteString(HKEY_LOCAL_MACHINE, typeLib + L"\\FLAGS", L"", L"0");
  WriteString(HKEY_LOCAL_MACHINE, typeLib + L"\\HELPDIR", L"", folder);
}

// Leaves no registration and no seeded key behind.
void Clean() {
  AddinDll::Get().UnregisterServer();
  DeleteTree(HKEY_LOCAL_MACHINE, L"Software\\SolidWorks");
  DeleteTree(HKEY_CURRENT_USER, L"Software\\SolidWorks");
  DeleteTree(HKEY_LOCAL_MACHINE, Classes(L"Interface\\" + GuidText(IID_SwAddin)));
  DeleteTree(HKEY_LOCAL_MACHINE, Classes(L"TypeLib\\" + kLibid));
  DeleteTree(HKEY_CURRENT_USER, L"Software\\PonderixTest");
}

bool NothingRegisteredIn(HKEY hive) {
  return !KeyExists(hive, Classes(L"CLSID\\" + kClsid)) && !KeyExists(hive, Classes(kProgId)) &&
         !KeyExists(hive, Classes(L"TypeLib\\" + kLibid + L"\\1.0\\0\\" + kPlatform)) &&
         !KeyExists(hive, Classes(L"Interface\\" + GuidText(IID__SWConnection))) &&
         !KeyExists(hive, L"Software\\SolidWorks\\AddIns\\" + kClsid);
}

// Where a step leaves the registration: machine-wide, per user (and no
// machine key, not even the host's folder), or the registry as before.
enum class Left { kMachine, kUser, kBefore };

struct Step {
  const char* what;
  std::function<HRESULT()> call;
  HRESULT expected;
  Left left;
};

void Play(Check& check, const std::string& label, const std::vector<Step>& steps) {
  const std::string before = Snapshot();
  for (const Step& step : steps) {
    const std::string what = label + step.what;
    check.Hr(step.call(), step.expected, what);
    if (step.left == Left::kMachine) {
      CheckValues(check, ExpectedValues(HKEY_LOCAL_MACHINE));
      check.True(NothingRegisteredIn(HKEY_CURRENT_USER), what + ": per-user classes written");
    } else if (step.left == Left::kUser) {
      CheckValues(check, ExpectedValues(HKEY_CURRENT_USER));
      check.True(
          NothingRegisteredIn(HKEY_LOCAL_MACHINE) && !KeyExists(HKEY_LOCAL_MACHINE, L"Software\\SolidWorks"),
          what + ": machine keys written");
    } else {
      check.Equal(Snapshot(), before, what + ": the registry afterwards");
    }
  }
}

const AddinDll& Dll() { return AddinDll::Get(); }

// Registering twice is undone by one unregister, and unregistering gives back
// the registry as it was, with or without the host's keys around.
const Test roundTrip("Registration.RoundTripRestoresTheRegistry", [](Check& check) {
  for (const bool hostInstalled : {false, true}) {
    Clean();
    if (hostInstalled) SeedHostWorld();
    Play(check, hostInstalled ? "host installed: " : "no host keys: ",
         {{"DllRegisterServer", [] { return Dll().RegisterServer(); }, S_OK, Left::kMachine},
          {"DllRegisterServer again", [] { return Dll().RegisterServer(); }, S_OK, Left::kMachine},
          {"DllUnregisterServer", [] { return Dll().UnregisterServer(); }, S_OK, Left::kBefore},
          {"DllUnregisterServer again", [] { return Dll().UnregisterServer(); }, S_OK, Left::kBefore}});
  }
  Clean();
  Play(check, "",
       {{"DllInstall(TRUE, \"user\")", [] { return Dll().Install(true, L"user"); }, S_OK, Left::kUser},
        {"DllInstall(FALSE, \"user\")", [] { return Dll().Install(false, L"user"); }, S_OK, Left::kBefore},
        {"DllInstall(TRUE, \"everyone\")", [] { return Dll().Install(true, L"everyone"); }, E_INVALIDARG,
         Left::kBefore},
        {"DllInstall(TRUE, NULL)", [] { return Dll().Install(true, nullptr); }, S_OK, Left::kMachine},
        {"DllInstall(FALSE, NULL)", [] { return Dll().Install(false, nullptr); }, S_OK, Left::kBefore}});
  Clean();
});

// The start-up choices made before a registration (by the host for its user,
// by the setup program or an administrator for the machine) outlive it; a
// user without one starts from the machine's; unregistering removes both.
const Test startupChoices("Registration.KeepsTheStartUpChoices", [](Check& check) {
  const std::wstring machine = L"Software\\SolidWorks\\AddIns\\" + kClsid;
  const std::wstring user = L"Software\\SolidWorks\\AddInsStartup\\" + kClsid;
  struct Row {
    std::optional<DWORD> machineBefore, userBefore;
    DWORD machineAfter, userAfter;
  };
  for (const Row& row : std::vector<Row>{{1, std::nullopt, 1, 1}, {std::nullopt, 1, 0, 1}, {1, 0, 1, 0}}) {
    Clean();
    const std::string before = Snapshot();
    if (row.machineBefore) WriteDword(HKEY_LOCAL_MACHINE, machine, L"", *row.machineBefore);
    if (row.userBefore) WriteDword(HKEY_CURRENT_USER, user, L"", *row.userBefore);
    const std::string label =
        "machine " + (row.machineBefore ? std::to_string(*row.machineBefore) : "absent") + ", user " +
        (row.userBefore ? std::to_string(*row.userBefore) : "absent") + ": ";
    check.Hr(Dll().RegisterServer(), S_OK, label + "DllRegisterServer");
    check.Equal(ReadDword(HKEY_LOCAL_MACHINE, machine, L"").value_or(99), row.machineAfter,
                label + "machine");
    check.Equal(ReadDword(HKEY_CURRENT_USER, user, L"").value_or(99), row.userAfter, label + "user");
    check.Hr(Dll().UnregisterServer(), S_OK, label + "DllUnregisterServer");
    check.Equal(Snapshot(), before, label + "the registry after unregistering");
  }
  Clean();
});

// With the machine hive read-only, the plain registration is refused and
// writes nothing; the per-user install still works.
const Test noRights("Registration.WithoutMachineRightsOnlyThePerUserInstallWrites", [](Check& check) {
  Clean();
  // A stand-in machine hive whose classes folder grants no creating or writing.
  WriteString(HKEY_CURRENT_USER, kFakeMachine + L"\\Software\\Classes", L"", L"");
  {
    win32::UniqueHkey classes;
    RegOpenKeyExW(HKEY_CURRENT_USER, (kFakeMachine + L"\\Software\\Classes").c_str(), 0, WRITE_DAC,
                  win32::OutPtr(classes));
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    // Everyone may read, delete and change the DACL (for the clean-up), but not create or write.
    ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;KRSDWD;;;WD)", SDDL_REVISION_1, &descriptor,
                                                         nullptr);
    const std::unique_ptr<void, decltype(&LocalFree)> readOnly(descriptor, &LocalFree);
    check.Equal(RegSetKeySecurity(classes.get(), DACL_SECURITY_INFORMATION, readOnly.get()),
                LONG{ERROR_SUCCESS}, "making the stand-in classes read-only");
  }
  win32::UniqueHkey machine;
  RegOpenKeyExW(HKEY_CURRENT_USER, kFakeMachine.c_str(), 0, KEY_READ, win32::OutPtr(machine));
  check.Equal(RegOverridePredefKey(HKEY_LOCAL_MACHINE, machine.get()), LONG{ERROR_SUCCESS},
              "RegOverridePredefKey");
  Play(check, "without machine rights: ",
       {{"DllRegisterServer", [] { return Dll().RegisterServer(); }, E_ACCESSDENIED, Left::kBefore},
        {"DllInstall(TRUE, \"user\")", [] { return Dll().Install(true, L"user"); }, S_OK, Left::kUser},
        {"DllInstall(FALSE, \"user\")", [] { return Dll().Install(false, L"user"); }, S_OK, Left::kBefore}});
  RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
  machine.reset();
  Clean();
});

}  // namespace

}  // namespace ponderix::wintest
