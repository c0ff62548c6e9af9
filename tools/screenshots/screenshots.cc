// Shows each dialog, the density dialog with each of its lists open, the
// result message and the failure box with the example assembly's content, one
// at a time, for scripts/screenshots to capture from the X side. For each
// it prints "SHOWN <name> <left> <top> <right> <bottom>" (the screen
// rectangle of the window and its open list) and keeps it shown until the file <name>.done
// appears in the folder given as the first argument, or 30 seconds pass.
// With a second argument, a suffix, it shows only the density dialog, named
// frm-ponderix<suffix>: for a prefix at another DPI. The program is DPI-aware,
// as modern hosts are.
#include <windows.h>

#include <cstdio>
#include <memory>
#include <string>

#include "density/frm_ponderix.h"
#include "partselect/frm_part_select.h"
#include "run/ponderix1.h"
#include "run/run_state.h"
#include "win32/platform.h"
#include "win32/text.h"
#include "win32/win32_toolkit.h"
#include "winsim/ui_driver.h"

namespace ponderix::winsim {
namespace {

constexpr int kWaitMs = 30000;

class NoEvents final : public FormEvents {};

// Announces `window` (with `list`, an open drop-down list, when given) and waits for the capture.
void Capture(const std::wstring& folder, const char* name, HWND window, HWND list = nullptr) {
  if (!window) throw UiDriverError(std::string("no window for ") + name);
  Sleep(500);  // let it paint
  RECT rect{};
  GetWindowRect(window, &rect);
  RECT dropped{};
  if (list && GetWindowRect(list, &dropped)) UnionRect(&rect, &rect, &dropped);
  std::printf("SHOWN %s %ld %ld %ld %ld\n", name, static_cast<long>(rect.left), static_cast<long>(rect.top),
              static_cast<long>(rect.right), static_cast<long>(rect.bottom));
  std::fflush(stdout);
  const std::wstring done =
      folder + L"/" + std::wstring(name, name + std::char_traits<char>::length(name)) + L".done";
  const ULONGLONG end = GetTickCount64() + kWaitMs;
  while (GetFileAttributesW(done.c_str()) == INVALID_FILE_ATTRIBUTES && GetTickCount64() < end) Sleep(50);
}

int Run(const std::wstring& folder, const std::string& suffix) {
  std::unique_ptr<win32::NativeToolkit> toolkit = win32::MakeNativeToolkit();
  std::string error;
  const std::string densityName = "frm-ponderix" + suffix;

  // The part selection dialog as UserForm_Initialize leaves it for pump.sldasm.
  const FormLayout partLayout = frmPartSelect::Layout(kMakerWebAddress);
  NoEvents none;
  std::unique_ptr<Form> parts = toolkit->LoadForm(partLayout, none);
  parts->SetTitle("pump.sldasm");
  parts->TextBox("txtU").SetText("5");
  auto& list = parts->CheckList("lboParts");
  list.SetFocus();
  list.SetRows({"bolt.sldprt", "housing.sldprt", "rotor.sldprt", "washer.sldprt"});
  list.SetTicked(0, true);
  if (suffix.empty()) {
    error = ShowAndDrive([&] { parts->ShowModal(); },
                         [&] {
                           const HWND form = WaitForForm(L"pump.sldasm", kWaitMs);
                           Capture(folder, "frm-part-select", form);
                           Close(form);
                         });
  }

  // The density dialog of a steel part in a document measured in centimetres, steel picked.
  RunState run;
  run.partDensity = 7871;
  run.userLengthUnit = 1;
  frmPonderix density(
      run, run.userLengthUnit, run.continueRun, *toolkit, [] {}, std::string(kMakerWebAddress));
  density.PrepareDialog();
  density.form().DropDown("cboComMats").SetListIndex(1);
  if (error.empty()) {
    error = ShowAndDrive([&] { density.Show(); },
                         [&] {
                           const HWND form = WaitForForm(L"Ponderix by Korvanis", kWaitMs);
                           Capture(folder, densityName.c_str(), form);
                           if (suffix.empty()) {
                             const FormLayout layout = frmPonderix::Layout(kMakerWebAddress);
                             // Leaving the value box put the list back on "(enter manually)": steel again.
                             Pick(form, layout, "cboComMats", 1);
                             for (const char* dropDown : {"cboComMats", "cboDensUnits"}) {
                               Capture(folder, (densityName + "-" + dropDown).c_str(), form,
                                       ShowList(form, layout, dropDown, true));
                               ShowList(form, layout, dropDown, false);
                             }
                           }
                           Close(form);
                         });
  }

  if (error.empty() && suffix.empty()) {
    error = ShowAndDrive([&] { toolkit->ShowMessageBox("Part density set to  7.871 g/cm^3"); },
                         [&] {
                           const HWND box = WaitForMessageBox(kWaitMs);
                           Capture(folder, "result-message", box);
                           PressOk(box);
                         });
  }
  if (error.empty() && suffix.empty()) {
    error = ShowAndDrive(
        [&] {
          toolkit->ShowFailureBox(
              "The density run failed: SetUserPreferenceDoubleValue: the part is read-only\n\n"
              "Parts already written: 1 of 2.");
        },
        [&] {
          const HWND box = WaitForMessageBox(kWaitMs);
          Capture(folder, "failure-message", box);
          PressOk(box);
        });
  }
  if (!error.empty()) {
    std::printf("FAILED %s\n", error.c_str());
    return 1;
  }
  std::printf("DONE\n");
  return 0;
}

}  // namespace
}  // namespace ponderix::winsim

int wmain(int argc, wchar_t** argv) {
  if (argc != 2 && argc != 3) {
    std::printf("usage: win32_screenshots FOLDER [SUFFIX]\n");
    return 2;
  }
  SetProcessDPIAware();
  try {
    return ponderix::winsim::Run(argv[1], argc == 3 ? ponderix::win32::Narrow(argv[2]) : std::string());
  } catch (const std::exception& e) {
    std::printf("FAILED %s\n", e.what());
    return 1;
  }
}
