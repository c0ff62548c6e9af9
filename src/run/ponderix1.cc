#include "run/ponderix1.h"

#include <cmath>
#include <string>
#include <utility>

#include "density/frm_ponderix.h"
#include "density/number_text.h"
#include "partselect/frm_part_select.h"

namespace ponderix {

namespace {

constexpr int kShowNormal = 1;  // the shell shows the page in a normal window
constexpr std::string_view kWebPageDirectory = "C:\\";

// Runs a call that puts the view back after a failure. Its own failure is
// dropped: the failure being reported is the one that ended the run.
template <class Call>
void BestEffort(Call&& call) noexcept {
  try {
    std::forward<Call>(call)();
  } catch (...) {  // NOLINT(bugprone-empty-catch): dropped on purpose, see above
  }
}

}  // namespace

Ponderix1::Ponderix1(Platform platform) : platform_(platform) {}

Ponderix1::~Ponderix1() = default;

void Ponderix1::RunDensity() {
  // Whichever way the run ends, a failing host call included, nothing it took stays held.
  struct TearDownOnExit {
    Ponderix1& module;
    ~TearDownOnExit() { module.TearDownRun(); }
  } tearDown{*this};
  RunSteps();
}

void Ponderix1::RunSteps() {
  RunState& s = state;
  s.continueRun = true;
  s.unopenedParts.clear();
  s.partsToWrite = 0;
  s.partsWritten = 0;
  s.swApp = platform_.hostConnector.GetApplication(kHostProgId);
  if (!s.swApp) throw HostError("GetApplication", "the host gave no application");
  s.swModel = s.swApp->GetActiveDocument();
  if (!s.swModel) {
    s.retVal = s.swApp->ShowUserMessage(std::string(kNoActiveDocMessage), 0, 0);
    return;
  }
  s.activeDocPath = s.swModel->GetPathName();
  s.swSelMgr = s.swModel->SelectionManager();
  s.activeDocType = s.swModel->GetType();
  if (s.activeDocType != kDocTypePart && s.activeDocType != kDocTypeAssembly) {
    s.retVal = s.swApp->ShowUserMessage(std::string(kWrongDocTypeMessage), 0, 0);
    return;
  }
  if (s.activeDocType == kDocTypeAssembly) {
    if (!GatherSelectedParts() || !s.continueRun) return;
    // Closed through its close box with nothing pre-selected: nothing to change.
    if (s.partDocs.Erased() || s.partDocs.IsEmptyPreselection()) return;
    ReportUnopenedParts();
  } else {
    s.partDocs.Dimension(1);
    s.partDocs(1) = s.swModel;
  }

  s.swUserUnit = s.swModel->GetUserUnit(kUnitTypeLength);
  if (!s.swUserUnit) throw HostError("GetUserUnit", "the host gave no length unit");
  s.userLengthUnit = s.swUserUnit->UnitCode();

  // Parts the host could not open are skipped; the first one it did open gives the density.
  Ref<Document> first;
  for (int64_t i = s.partDocs.LowerBound(); i <= s.partDocs.UpperBound() && !first; ++i)
    first = s.partDocs(i);
  if (!first) return;
  s.partDensity = first->GetUserPreferenceDoubleValue(kPrefMaterialDensity);
  first.reset();

  ponderix_ = std::make_unique<frmPonderix>(
      s, s.userLengthUnit, s.continueRun, platform_.toolkit, [this] { OpenMakerWebPage(); },
      std::string(kMakerWebAddress));
  ponderix_->PrepareDialog();
  ponderix_->Show();
  if (!s.continueRun) return;
  // Only a density the host handed over unusable can be left so; no part gets it.
  if (!std::isfinite(s.chosenDensity)) {
    throw HostError("GetUserPreferenceDoubleValue", "the part's density is not a finite number");
  }

  const ShowEnd shown = platform_.toolkit.ShowMessageBox(
      std::string(kResultMessagePrefix) + FormatInvariantNumber(s.displayDensity) + " " +
      s.densUnitNames.at(static_cast<size_t>(s.densUnitIndex)));
  // The host is shutting down: nothing is written, as after a Cancel.
  if (shown == ShowEnd::kQuit) return;
  s.partDensity = s.chosenDensity;
  for (int64_t i = s.partDocs.LowerBound(); i <= s.partDocs.UpperBound(); ++i) {
    if (s.partDocs(i)) ++s.partsToWrite;
  }
  try {
    for (int64_t i = s.partDocs.LowerBound(); i <= s.partDocs.UpperBound(); ++i) {
      if (const Ref<Document> doc = s.partDocs(i)) {
        SetPartDensity(doc);
        ++s.partsWritten;
      }
    }
  } catch (...) {
    // The user gets back the document they started from before learning of the failure.
    BestEffort([&s] { s.swApp->ActivateDocument(s.activeDocPath, true, s.docErrors); });
    throw;
  }
  s.swModel = s.swApp->ActivateDocument(s.activeDocPath, true, s.docErrors);
}

void Ponderix1::ReportUnopenedParts() {
  if (state.unopenedParts.empty()) return;
  std::string text(kUnopenedPartsMessage);
  for (size_t i = 0; i < state.unopenedParts.size(); ++i) {
    if (i > 0) text += ", ";
    text += state.unopenedParts[i];
  }
  state.retVal = state.swApp->ShowUserMessage(text, 0, 0);
}

bool Ponderix1::GatherSelectedParts() {
  RunState& s = state;
  s.partDocs.Erase();
  if (!s.swSelMgr) throw HostError("SelectionManager", "the host gave no selection manager");
  const int32_t n = s.swSelMgr->SelectedObjectCount();
  // The documents of the selected part components, in selection order. Every
  // component and its document is asked for before any document's type, as
  // the host expects the calls. A selected item without a component, or a
  // component the host gives no document for, is skipped.
  std::vector<Ref<Document>> docs;
  for (int32_t i = 1; i <= n; ++i) {
    const Ref<Component> component = s.swSelMgr->SelectedObjectComponent(i);
    if (!component) continue;
    if (Ref<Document> doc = component->ComponentDocument()) docs.push_back(std::move(doc));
  }
  std::vector<Ref<Document>> parts;
  for (Ref<Document>& doc : docs) {
    if (doc->GetType() == kDocTypePart) parts.push_back(std::move(doc));
  }
  docs.clear();
  s.selPartCount = static_cast<int64_t>(parts.size());
  if (s.selPartCount < 1) {
    s.partDocs.MarkEmptyPreselection();
  } else {
    s.partDocs.Dimension(parts.size());
    s.selPartIndex = 0;
    for (Ref<Document>& doc : parts) s.partDocs(++s.selPartIndex) = std::move(doc);
  }

  partSelect_ = std::make_unique<frmPartSelect>(
      s, platform_.toolkit, [this] { OpenMakerWebPage(); }, std::string(kMakerWebAddress));
  // No part files: the message is shown, and RunDensity's teardown ends the run.
  if (partSelect_->RunEnded()) return false;
  partSelect_->PrepareDialog();
  partSelect_->Show();
  return true;
}

void Ponderix1::SetPartDensity(const Ref<Document>& partDoc) {
  RunState& s = state;
  const bool visible = partDoc->Visible();
  const std::string path = partDoc->GetPathName();
  s.swApp->OpenDocument(path, kDocTypePart, kOpenSilent, "", s.docErrors, s.docWarnings);
  const Ref<Document> active = s.swApp->ActivateDocument(path, true, s.docErrors);
  if (!active) throw HostError("ActivateDocument", "the host could not activate " + path);
  try {
    s.retVal = active->SetUserPreferenceDoubleValue(kPrefMaterialDensity, s.partDensity) ? 1 : 0;
    active->SetVisible(visible);
  } catch (...) {
    // Activating showed the part's window; a failed write does not leave it shown.
    if (!visible) BestEffort([&active] { active->SetVisible(false); });
    throw;
  }
}

void Ponderix1::OpenMakerWebPage() {
  platform_.shell.Open(std::string(kMakerWebAddress), std::string(kWebPageDirectory), kShowNormal);
}

void Ponderix1::TearDownRun() noexcept {
  state.swSelMgr.reset();
  state.swModel.reset();
  state.swUserUnit.reset();
  state.swApp.reset();
  state.partDocs.Erase();
  partSelect_.reset();
  ponderix_.reset();
}

}  // namespace ponderix
