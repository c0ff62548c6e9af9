// The density run: from the chosen menu command to the written parts and the
// teardown. Owns the run state and the two dialogs, which exist once each.
#pragma once

#include <memory>
#include <string_view>

#include "addin/host.h"
#include "addin/toolkit.h"
#include "run/run_state.h"

namespace ponderix {

class frmPartSelect;
class frmPonderix;

// The maker's web page, opened from both dialogs' web-link labels.
inline constexpr std::string_view kMakerWebAddress = "https://korvanis.example/";
inline constexpr std::string_view kHostProgId = "SldWorks.Application";

inline constexpr std::string_view kNoActiveDocMessage = "No active part in SolidWorks.  Program terminating.";
inline constexpr std::string_view kWrongDocTypeMessage = "This program only works for parts and assemblies.";
// Followed by the parts' names, comma-separated.
inline constexpr std::string_view kUnopenedPartsMessage =
    "These parts could not be opened and keep their density: ";
inline constexpr std::string_view kResultMessagePrefix = "Part density set to ";

// What a run needs from its platform.
struct Platform {
  HostConnector& hostConnector;
  Toolkit& toolkit;
  Shell& shell;
};

class Ponderix1 {
 public:
  explicit Ponderix1(Platform platform);
  ~Ponderix1();
  Ponderix1(const Ponderix1&) = delete;
  Ponderix1& operator=(const Ponderix1&) = delete;

  // One density run. Every way out, a failing host call included, releases
  // every host reference and unloads both dialogs; a failure is rethrown.
  void RunDensity();
  // Releases the host references, erases partDocs and unloads both dialogs.
  void TearDownRun() noexcept;
  // Gathers the pre-selected parts of the assembly and lets the user choose in
  // the part selection dialog. False when the run is over (the assembly has
  // no part files).
  bool GatherSelectedParts();
  // Opens, activates and writes partDensity into one part, keeping its visibility.
  void SetPartDensity(const Ref<Document>& partDoc);
  void OpenMakerWebPage();

  bool PartSelectLoaded() const { return partSelect_ != nullptr; }
  bool PonderixLoaded() const { return ponderix_ != nullptr; }

  RunState state;

 private:
  void RunSteps();
  void ReportUnopenedParts();

  Platform platform_;
  std::unique_ptr<frmPartSelect> partSelect_;
  std::unique_ptr<frmPonderix> ponderix_;
};

}  // namespace ponderix
