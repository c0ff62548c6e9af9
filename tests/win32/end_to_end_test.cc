// The whole path under Wine: the real DLL, created by its ProgID, connected to
// the fake host, its command chosen by name as the host chooses it, and its
// real dialogs driven from a second thread. The fake host's state afterwards
// must be the state the simulator reaches on the same scene with the same
// actions, and the add-in must have given back every reference and its menu.
// Needs a display (Xvfb).
#include <windows.h>

#include <wrl/client.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "density/frm_ponderix.h"
#include "harness.h"
#include "partselect/frm_part_select.h"
#include "ponderix.h"
#include "run/ponderix1.h"
#include "run/sw_connection.h"
#include "sim/headless_toolkit.h"
#include "sim/session.h"
#include "win32/registration.h"
#include "win32/text.h"
#include "winsim/fake_host.h"
#include "winsim/support.h"
#include "winsim/ui_driver.h"

namespace ponderix::wintest {

namespace {

using Microsoft::WRL::ComPtr;

constexpr int kWaitMs = 10000;

sim::SimDocument Doc(std::string path, int32_t type, bool open, bool visible, int32_t unit, double density) {
  sim::SimDocument d;
  d.path = std::move(path);
  d.type = type;
  d.open = open;
  d.visible = visible;
  d.lengthUnit = unit;
  d.density = density;
  return d;
}

// examples/typical.json: a pump assembly whose bolt is selected, a washer not
// yet open, a motor sub-assembly and a drawing.
sim::Scene TypicalScene() {
  const std::string pump = "C:\\Work\\Pump\\";
  sim::Scene scene;
  sim::SimDocument assembly = Doc(pump + "pump.sldasm", kDocTypeAssembly, true, true, 1, 1000);
  assembly.dependencies = std::vector<std::string>{
      "bolt",    pump + "Parts\\bolt.sldprt",    "washer", pump + "Parts\\washer.sldprt",
      "motor",   pump + "Motor\\motor.sldasm",   "rotor",  pump + "Motor\\rotor.sldprt",
      "housing", pump + "Parts\\housing.sldprt", "bolt",   pump + "Motor\\bolt.sldprt"};
  scene.documents = {
      assembly,
      Doc(pump + "Parts\\bolt.sldprt", kDocTypePart, true, false, 0, 7850),
      Doc(pump + "Parts\\housing.sldprt", kDocTypePart, true, false, 0, 2700),
      Doc(pump + "Motor\\motor.sldasm", kDocTypeAssembly, true, false, 0, 1000),
      Doc(pump + "Motor\\rotor.sldprt", kDocTypePart, true, false, 0, 7700),
      Doc(pump + "Parts\\washer.sldprt", kDocTypePart, false, false, 0, 7800),
      Doc(pump + "Drawings\\pump.slddrw", 3, true, true, 1, 1000),
  };
  scene.active = pump + "pump.sldasm";
  scene.selection = {pump + "Parts\\bolt.sldprt", std::nullopt};
  scene.menuName = "Tools";
  scene.decimalSeparator = ".";
  return scene;
}

int IndexOf(const std::vector<std::wstring>& items, const std::wstring& wanted) {
  const auto it = std::find(items.begin(), items.end(), wanted);
  if (it == items.end()) throw UiDriverError("no item " + win32::Narrow(wanted));
  return static_cast<int>(it - items.begin());
}

HWND Form(const std::wstring& title) {
  const HWND form = WaitForForm(title, kWaitMs);
  if (!form) throw UiDriverError("the dialog " + win32::Narrow(title) + " did not appear");
  return form;
}

const FormLayout& PartLayout() {
  static const FormLayout layout = frmPartSelect::Layout(kMakerWebAddress);
  return layout;
}

const FormLayout& DensityLayout() {
  static const FormLayout layout = frmPonderix::Layout(kMakerWebAddress);
  return layout;
}

struct Run {
  const char* name;
  std::vector<std::string> script;   // the same user, for the simulator
  std::vector<std::string> written;  // the parts whose density the run sets
  // The user at the real dialogs; records the message boxes it acknowledges.
  std::function<void(std::vector<std::wstring>& boxes)> drive;
  std::vector<sim::SimFailure> failures;  // injected into the host
  // A failed run's last message box ends with this, after the failure's text.
  std::string failureNote;
  // Non-zero: the exit code of the WM_QUIT that `drive` posts, which must still be pending afterwards.
  int quitCode = 0;
};

// Records the text of the next message box and presses its OK.
void Acknowledge(std::vector<std::wstring>& boxes) {
  const HWND box = WaitForMessageBox(kWaitMs);
  if (!box) throw UiDriverError("no message box appeared");
  boxes.push_back(MessageText(box));
  PressOk(box);
}

// Ticks the washer besides the selected bolt, picks steel and acknowledges the result.
void DriveTypicalRun(std::vector<std::wstring>& boxes) {
  HWND form = Form(L"pump.sldasm");
  Tick(form, PartLayout(), "lboParts", IndexOf(Rows(form, PartLayout(), "lboParts"), L"washer.sldprt"), true);
  Click(form, PartLayout(), "cmdOK");
  form = Form(L"Ponderix by Korvanis");
  Pick(form, DensityLayout(), "cboComMats", IndexOf(Items(form, DensityLayout(), "cboComMats"), L"steel"));
  Click(form, DensityLayout(), "btnOK");
  Acknowledge(boxes);
}

const std::vector<std::string> kTypicalScript = {"tick washer.sldprt", "click cmdOK", "pick cboComMats steel",
                                                 "click btnOK"};
const std::string kBolt = "C:\\Work\\Pump\\Parts\\bolt.sldprt";
const std::string kWasher = "C:\\Work\\Pump\\Parts\\washer.sldprt";

const Run kRuns[] = {
    {"typical run", kTypicalScript, {kBolt, kWasher}, DriveTypicalRun, {}, {}},
    // The host fails on the second part: the user is told that one part was written.
    {"failed run",
     kTypicalScript,
     {kBolt},
     [](std::vector<std::wstring>& boxes) {
       DriveTypicalRun(boxes);
       Acknowledge(boxes);
     },
     {{"SetUserPreferenceDoubleValue", kWasher}},
     "\n\nParts already written: 1 of 2."},
    {"unreadable text is refused until retyped",
     {"click cmdOK", "type 8,9", "click btnOK", "pick cboComMats steel", "type 8.5", "click btnOK"},
     {kBolt},
     [](std::vector<std::wstring>& boxes) {
       HWND form = Form(L"pump.sldasm");
       Click(form, PartLayout(), "cmdOK");
       form = Form(L"Ponderix by Korvanis");
       Type(form, DensityLayout(), "txtDensVal", L"8,9");
       Click(form, DensityLayout(), "btnOK");
       Pick(form, DensityLayout(), "cboComMats", 1);
       if (!IsWindowVisible(form) || FocusedControl(form, DensityLayout()) != "txtDensVal" ||
           Text(form, DensityLayout(), "txtDensVal") != L"8,9" ||
           ListIndex(form, DensityLayout(), "cboComMats") != 0) {
         throw UiDriverError("the refused text let the focus go");
       }
       Type(form, DensityLayout(), "txtDensVal", L"8.5");
       Click(form, DensityLayout(), "btnOK");
       Acknowledge(boxes);
     },
     {},
     {}},
    {"cancelled with text the dialog cannot read",
     {"click cmdOK", "type 8,9", "click btnCancel"},
     {},
     [](std::vector<std::wstring>& /*boxes*/) {
       HWND form = Form(L"pump.sldasm");
       Click(form, PartLayout(), "cmdOK");
       form = Form(L"Ponderix by Korvanis");
       Type(form, DensityLayout(), "txtDensVal", L"8,9");
       Click(form, DensityLayout(), "btnCancel");
     },
     {},
     {}},
    // The host shutting down during a dialog: the run ends as Cancel ends it.
    {"quit during the part selection",
     {"tick washer.sldprt", "click cmdCancel"},
     {},
     [](std::vector<std::wstring>& /*boxes*/) {
       const HWND form = Form(L"pump.sldasm");
       Tick(form, PartLayout(), "lboParts", IndexOf(Rows(form, PartLayout(), "lboParts"), L"washer.sldprt"),
            true);
       PostQuit(form, 7);
     },
     {},
     {},
     7},
    {"quit during the density dialog",
     {"click cmdOK", "pick cboComMats steel", "click btnCancel"},
     {},
     [](std::vector<std::wstring>& /*boxes*/) {
       HWND form = Form(L"pump.sldasm");
       Click(form, PartLayout(), "cmdOK");
       form = Form(L"Ponderix by Korvanis");
       Pick(form, DensityLayout(), "cboComMats",
            IndexOf(Items(form, DensityLayout(), "cboComMats"), L"steel"));
       PostQuit(form, 9);
     },
     {},
     {},
     9},
    {"quit during the result message",
     {"click cmdOK", "pick cboComMats steel", "click btnCancel"},
     {},
     [](std::vector<std::wstring>& /*boxes*/) {
       HWND form = Form(L"pump.sldasm");
       Click(form, PartLayout(), "cmdOK");
       form = Form(L"Ponderix by Korvanis");
       Pick(form, DensityLayout(), "cboComMats",
            IndexOf(Items(form, DensityLayout(), "cboComMats"), L"steel"));
       Click(form, DensityLayout(), "btnOK");
       const HWND box = WaitForMessageBox(kWaitMs);
       if (!box) throw UiDriverError("the result message did not appear");
       PostQuit(box, 11);
     },
     {},
     {},
     11},
};

sim::SessionResult Simulate(const sim::Scene& scene, const std::vector<std::string>& script) {
  std::vector<sim::Action> actions;
  int line = 0;
  for (const std::string& text : script) {
    if (auto action = sim::ParseAction(text, ++line)) actions.push_back(std::move(*action));
  }
  sim::ScriptSource source(std::move(actions));
  return sim::RunSession(scene, source);
}

void CompareWithSimulator(Check& check, FakeHost& host, const sim::SessionResult& expected,
                          const std::vector<std::wstring>& boxes, const std::string& what) {
  for (const sim::DocumentState& want : expected.documents) {
    const sim::SimDocument* got = host.sim().FindDocument(want.path);
    if (!check.True(got != nullptr, what + ": document " + want.path)) continue;
    check.True(std::bit_cast<uint64_t>(got->density) == std::bit_cast<uint64_t>(want.density),
               what + ": density of " + want.path + " is " + std::to_string(got->density) + ", not " +
                   std::to_string(want.density));
    check.Equal(got->open, want.open, what + ": open " + want.path);
    check.Equal(got->visible, want.visible, what + ": visible " + want.path);
    check.Equal(got->modified, want.modified, what + ": modified " + want.path);
  }
  check.Equal(host.sim().scene().active.value_or("(none)"), expected.active.value_or("(none)"),
              what + ": active document");

  std::vector<std::string> wantHost;
  std::vector<std::string> wantBoxes;
  for (const sim::Message& m : expected.messages) {
    (m.kind == sim::Message::Kind::kHost ? wantHost : wantBoxes).push_back(m.text);
  }
  std::vector<std::string> gotHost;
  for (const sim::Message& m : host.sim().messages()) gotHost.push_back(m.text);
  std::vector<std::string> gotBoxes;
  for (const std::wstring& text : boxes) gotBoxes.push_back(win32::Narrow(text));
  check.True(gotHost == wantHost, what + ": host messages");
  check.True(gotBoxes == wantBoxes, what + ": message boxes" + (gotBoxes.empty() ? "" : " " + gotBoxes[0]));
}

const Test runs("EndToEnd.RealDllMatchesTheSimulator", [](Check& check) {
  const ScopedRegistration registration;
  check.Hr(registration.result(), S_OK, "DllRegisterServer");
  for (const Run& run : kRuns) {
    const std::string what = run.name;
    sim::Scene scene = TypicalScene();
    scene.failures = run.failures;
    const sim::SessionResult expected = Simulate(scene, run.script);
    check.Equal(expected.failure.has_value(), !run.failures.empty(),
                what + ": the simulator's run failed: " + expected.failure.value_or(""));
    std::vector<std::string> written;
    for (const sim::DocumentState& d : expected.documents) {
      if (d.modified) written.push_back(d.path);
    }
    check.True(written == run.written, what + ": the simulator wrote other parts than expected");

    FakeHost host(scene);
    host.Register();
    std::vector<std::wstring> boxes;
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
      check.True(host.sim().Menu() == expected.menu, what + ": menu while connected");

      sim::CommandOutcome outcome;
      const std::string driverError =
          ShowAndDrive([&] { outcome = host.ChooseCommand(expected.commandDocType, kRunCallback); },
                       [&] { run.drive(boxes); });
      check.Equal(driverError, std::string(), what + ": driver");
      MSG message{};
      int quitCode = 0;
      while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
          quitCode = static_cast<int>(message.wParam);
        } else {
          DispatchMessageW(&message);
        }
      }
      check.Equal(quitCode, run.quitCode, what + ": WM_QUIT passed on");
      check.True(outcome.enabled, what + ": command not enabled");
      check.Equal(outcome.result.ok, run.failures.empty(),
                  what + ": RunAddin failed: " + outcome.result.error);
      if (!outcome.result.ok) {
        // The failure also reaches the user, which the simulated host does not model.
        const std::string box = boxes.empty() ? std::string() : win32::Narrow(boxes.back());
        check.Equal(box, "The density run failed: " + outcome.result.error + run.failureNote,
                    what + ": the failure's message box");
        if (!boxes.empty()) boxes.pop_back();
      }

      check.Hr(addin->DisconnectFromSW(&result), S_OK, what + ": DisconnectFromSW");
      check.True(host.sim().Menu() == expected.menuAfterDisconnect && host.sim().Menu().empty(),
                 what + ": menu after DisconnectFromSW");
    }
    CompareWithSimulator(check, host, expected, boxes, what);
    check.Equal(expected.heldReferences, 0, what + ": references the simulator's add-in kept");
    check.Equal(host.AddinReferences(), 0L, what + ": COM references the add-in kept");
    check.Equal(host.SimReferences(), 0, what + ": host references the add-in kept");
    check.Equal(host.LiveObjects(), 1, what + ": automation objects alive");
  }
});

}  // namespace

}  // namespace ponderix::wintest
