// The host shutting down while a dialog or the result message is shown: the
// real DLL ends the run as Cancel does and passes the WM_QUIT on to the host's
// loop. Scripts cannot post WM_QUIT, so these rows stay here; every other
// run-level behaviour is in the scenario corpus. Needs a display (Xvfb).
#include <windows.h>

#include <wrl/client.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "density/frm_ponderix.h"
#include "harness.h"
#include "partselect/frm_part_select.h"
#include "ponderix.h"
#include "run/ponderix1.h"
#include "run/sw_connection.h"
#include "win32/registration.h"
#include "winsim/fake_host.h"
#include "winsim/ui_driver.h"

namespace ponderix::wintest {

namespace {

using Microsoft::WRL::ComPtr;

constexpr int kWaitMs = 10000;

sim::Scene PumpScene() {
  auto doc = [](std::string path, int32_t type, bool open) {
    sim::SimDocument d;
    d.path = "C:\\Work\\" + std::move(path);
    d.type = type;
    d.open = open;
    d.density = 7800;
    return d;
  };
  sim::Scene scene;
  sim::SimDocument assembly = doc("pump.sldasm", kDocTypeAssembly, true);
  assembly.dependencies =
      std::vector<std::string>{"bolt", "C:\\Work\\bolt.sldprt", "washer", "C:\\Work\\washer.sldprt"};
  scene.documents = {assembly, doc("bolt.sldprt", kDocTypePart, true),
                     doc("washer.sldprt", kDocTypePart, false)};
  scene.active = "C:\\Work\\pump.sldasm";
  scene.selection = {"C:\\Work\\bolt.sldprt"};
  return scene;
}

HWND Form(const std::wstring& title) {
  const HWND form = WaitForForm(title, kWaitMs);
  if (!form) throw UiDriverError("no dialog appeared");
  return form;
}

// The density dialog with steel picked.
HWND SteelPicked() {
  Click(Form(L"pump.sldasm"), frmPartSelect::Layout(kMakerWebAddress), "cmdOK");
  const HWND form = Form(L"Ponderix by Korvanis");
  Pick(form, frmPonderix::Layout(kMakerWebAddress), "cboComMats", 1);
  return form;
}

struct QuitRow {
  const char* name;
  std::function<HWND()> reach;  // the window shown when the WM_QUIT comes
  int code;
};

const QuitRow kRows[] = {
    {"during the part selection", [] { return Form(L"pump.sldasm"); }, 7},
    {"during the density dialog", SteelPicked, 9},
    {"during the result message",
     [] {
       Click(SteelPicked(), frmPonderix::Layout(kMakerWebAddress), "btnOK");
       const HWND box = WaitForMessageBox(kWaitMs);
       if (!box) throw UiDriverError("the result message did not appear");
       return box;
     },
     11},
};

const Test quit("Quit.EndsTheRunAsCancelAndPassesTheQuitOn", [](Check& check) {
  const ScopedRegistration registration;
  check.Hr(registration.result(), S_OK, "DllRegisterServer");
  for (const QuitRow& row : kRows) {
    const std::string what = std::string("quit ") + row.name;
    FakeHost host(PumpScene());
    {
      CLSID clsid{};
      ComPtr<SwAddin> addin;
      check.Hr(CLSIDFromProgID(win32::kProgId, &clsid), S_OK, what + ": CLSIDFromProgID");
      if (!check.Hr(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&addin)), S_OK,
                    what + ": CoCreateInstance")) {
        return;
      }
      VARIANT_BOOL result = VARIANT_FALSE;
      check.Hr(addin->ConnectToSW(host.application(), 1, &result), S_OK, what + ": ConnectToSW");
      sim::CommandOutcome outcome;
      const std::string driverError =
          ShowAndDrive([&] { outcome = host.ChooseCommand(kDocTypeAssembly, kRunCallback); },
                       [&] { PostQuit(row.reach(), row.code); });
      check.Equal(driverError, std::string(), what + ": driver");
      MSG message{};
      int quitCode = 0;
      while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) quitCode = static_cast<int>(message.wParam);
      }
      check.Equal(quitCode, row.code, what + ": WM_QUIT passed on");
      check.True(outcome.enabled && outcome.result.ok,
                 what + ": the command failed: " + outcome.result.error);
      check.Hr(addin->DisconnectFromSW(&result), S_OK, what + ": DisconnectFromSW");
    }
    for (const sim::SimDocument& d : host.sim().scene().documents) {
      check.True(!d.modified && d.density == 7800, what + ": " + d.path + " was written");
    }
    check.True(host.sim().Menu().empty(), what + ": menu after DisconnectFromSW");
    check.Equal(host.AddinReferences(), 0L, what + ": COM references the add-in kept");
    check.Equal(host.SimReferences(), 0, what + ": host references the add-in kept");
  }
});

}  // namespace

}  // namespace ponderix::wintest
