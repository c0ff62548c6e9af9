#include "partselect/frm_part_select.h"

#include <utility>

#include "partselect/part_list.h"

namespace ponderix {

namespace {

// The controls the dialog reaches by name after its layout.
constexpr char kLboParts[] = "lboParts";
constexpr char kTxtU[] = "txtU";
constexpr char kChkNameStyle[] = "chkNameStyle";
constexpr char kCmdOK[] = "cmdOK";
constexpr char kCmdCancel[] = "cmdCancel";
constexpr char kCmdSelectAll[] = "cmdSelectAll";
constexpr char kCmdDeselectAll[] = "cmdDeselectAll";
constexpr char kLblWebLink[] = "lblWebLink";
constexpr char kCmdBreak[] = "cmdBreak";

}  // namespace

frmPartSelect::frmPartSelect(PartSelectState& run, Toolkit& toolkit, std::function<void()> openMakerWebPage,
                             const std::string& webAddress)
    : run_(run), toolkit_(toolkit), openMakerWebPage_(std::move(openMakerWebPage)) {
  form_ = toolkit_.LoadForm(Layout(webAddress), *this);
  UserForm_Initialize();
}

FormLayout frmPartSelect::Layout(std::string_view webAddress) {
  using K = ControlKind;
  FormLayout f;
  f.name = "frmPartSelect";
  f.title = "Select Parts";
  f.width = 482.25;
  f.height = 358.5;
  auto& instruction = f.controls.emplace_back(MakeControl("lblInstruction", K::kLabel, 12, 0, 312, 18, 0,
                                                          false, "Select parts to have density changed."));
  instruction.font = Font{"Tahoma", 12, true};
  auto& style = f.controls.emplace_back(MakeControl(kChkNameStyle, K::kCheckBox, 12, 17.25, 113.25, 17.25, 6,
                                                    true, std::string(kShortNamesCaption)));
  style.autoSize = true;
  style.backColour = Colour::System(Colour::Kind::kButtonFace);
  style.foreColour = Colour::System(Colour::Kind::kButtonText);
  f.controls.push_back(MakeControl(kLboParts, K::kCheckList, 12, 34.5, 456, 289.5, 0, true, ""));
  f.controls.push_back(MakeControl(kCmdSelectAll, K::kButton, 12, 330, 66, 18, 2, true, "Select all"));
  f.controls.push_back(MakeControl(kCmdDeselectAll, K::kButton, 84, 330, 66, 18, 3, true, "Deselect all"));
  f.controls.push_back(MakeControl(kCmdOK, K::kButton, 318, 330, 66, 24, 4, true, "OK"));
  f.controls.push_back(MakeControl(kCmdCancel, K::kButton, 396, 330, 66, 24, 5, true, "Cancel"));
  auto& jan = f.controls.emplace_back(
      MakeControl("lblJan", K::kLabel, 366, 0, 110.25, 9.75, 0, false, "Coming January 2004:"));
  jan.font.face.clear();
  auto& link = f.controls.emplace_back(
      MakeControl(kLblWebLink, K::kLabel, 366, 12, 110.25, 9.75, 0, false, std::string(webAddress)));
  link.font.face.clear();
  link.foreColour = Colour::Rgb(0, 0, 255);
  link.clickable = true;
  auto& step = f.controls.emplace_back(MakeControl(kTxtU, K::kTextBox, 354, 12, 48, 15.75, 8, true, ""));
  step.visible = false;
  step.enabled = false;
  step.backColour = Colour::Rgb(255, 192, 192);
  auto& brk = f.controls.emplace_back(MakeControl(kCmdBreak, K::kButton, 408, 6, 54, 24, 7, true, "Break"));
  brk.visible = false;
  brk.enabled = false;
  brk.backColour = Colour::Rgb(255, 0, 0);
  brk.foreColour = Colour::Rgb(255, 255, 192);
  brk.font = Font{"Tahoma", 12, true};
  return f;
}

void frmPartSelect::UserForm_Initialize() {
  stepNo = 0;
  form_->TextBox(kTxtU).SetText(std::to_string(stepNo));
  WaitSeconds(0.1F);
  CollectOpenDocs();
  CollectPreSelNames();
  if (!BuildPartList()) return;
  FillPartList();
  RestoreSelections();
}

void frmPartSelect::WaitSeconds(float seconds) {
  // A monotonic clock: the wait ends on time also across midnight.
  const double end = toolkit_.Seconds() + static_cast<double>(seconds);
  while (toolkit_.Seconds() < end) toolkit_.ProcessPendingEvents();
}

void frmPartSelect::CollectOpenDocs() {
  const Ref<DocumentEnumerator> docs = run_.swApp->EnumerateDocuments();
  if (!docs) throw HostError("EnumerateDocuments", "the host gave no enumerator");
  docs->Reset();
  for (;;) {
    int32_t fetched = 0;
    Ref<Document> doc = docs->Next(1, fetched);
    if (fetched < 1) break;
    if (!doc) throw HostError("Next", "the host counted a document but gave none");
    openDocNames.emplace_back(FileNameOf(doc->GetPathName()));
    openDocs.push_back(std::move(doc));
  }
}

void frmPartSelect::CollectPreSelNames() {
  if (run_.partDocs.Erased() || run_.partDocs.IsEmptyPreselection()) return;
  std::vector<std::string> names;
  names.reserve(run_.partDocs.size());
  for (int64_t i = run_.partDocs.LowerBound(); i <= run_.partDocs.UpperBound(); ++i) {
    const Ref<Document>& doc = run_.partDocs(i);
    if (!doc) throw HostError("GetPathName", "a pre-selected part has no document");
    names.emplace_back(FileNameOf(doc->GetPathName()));
  }
  preSelNames = SortedDistinctNames(std::move(names));
}

bool frmPartSelect::BuildPartList() {
  const std::string assemblyPath = run_.swModel->GetPathName();
  auto dependencies = run_.swApp->ListDependencies(assemblyPath, true, true, false);
  PartFileList list;
  if (dependencies) list = BuildPartFileList(std::move(*dependencies), preSelNames);
  // An assembly whose entries are all dropped (only sub-assemblies, empty
  // names) has no part files either.
  if (list.partNames.empty()) {
    run_.retVal = run_.swApp->ShowUserMessage(std::string(kNoPartFilesMessage), 0, 0);
    runEnded_ = true;
    return false;
  }
  form_->SetTitle(SplitPath(assemblyPath).fileName);
  partPaths = std::move(list.partPaths);
  partNames = std::move(list.partNames);
  partSelected = std::move(list.partSelected);
  return true;
}

void frmPartSelect::FillPartList() {
  auto& list = form_->CheckList(kLboParts);
  list.SetFocus();
  list.Clear();
  list.SetRows(partNames);
  for (int i = 0; i < list.RowCount(); ++i) list.SetTicked(i, false);
  list.SetEnabled(true);
}

void frmPartSelect::RestoreSelections() {
  auto& list = form_->CheckList(kLboParts);
  for (int i = 0; i < list.RowCount(); ++i) list.SetTicked(i, partSelected.at(static_cast<size_t>(i)));
}

void frmPartSelect::SaveSelections() {
  auto& list = form_->CheckList(kLboParts);
  for (int i = 0; i < list.RowCount(); ++i) partSelected.at(static_cast<size_t>(i)) = list.Ticked(i);
}

void frmPartSelect::PrepareDialog() {
  // The steps written to the hidden box mark how far preparation got; the
  // enable toggle makes the list repaint every row with its tick.
  auto& step = form_->TextBox(kTxtU);
  auto& list = form_->CheckList(kLboParts);
  step.SetText("1");
  list.SetEnabled(false);
  step.SetText("2");
  step.SetText("3");
  list.SetEnabled(true);
  step.SetText("4");
  step.SetText("5");
}

void frmPartSelect::chkNameStyle_Change() {
  auto& style = form_->CheckBox(kChkNameStyle);
  style.SetCaption(std::string(style.Value() ? kLongNamesCaption : kShortNamesCaption));
  auto& list = form_->CheckList(kLboParts);
  if (list.RowCount() == 0) return;
  SaveSelections();
  list.Clear();
  list.SetRows(style.Value() ? partPaths : partNames);
  RestoreSelections();
}

void frmPartSelect::cmdCancel_Click() {
  run_.continueRun = false;
  form_->Hide();
}

void frmPartSelect::cmdOK_Click() {
  SaveSelections();
  std::vector<size_t> chosen;
  for (size_t i = 0; i < partSelected.size(); ++i) {
    if (partSelected[i]) chosen.push_back(i);
  }
  if (chosen.empty()) {
    run_.retVal = run_.swApp->ShowUserMessage(std::string(kNoPartsSelectedMessage), 0, 0);
    run_.continueRun = false;
    form_->Hide();
    return;
  }
  std::vector<std::string_view> chosenNames;  // views of partNames, which outlive them
  chosenNames.reserve(chosen.size());
  for (size_t i : chosen) chosenNames.push_back(partNames[i]);
  const std::vector<int32_t> match = MatchOpenDocuments(chosenNames, openDocNames);

  run_.partDocs.Dimension(chosen.size());
  for (size_t j = 0; j < chosen.size(); ++j) {
    Ref<Document>& entry = run_.partDocs(static_cast<int64_t>(j) + 1);
    if (match[j] >= 1) {
      entry = openDocs[static_cast<size_t>(match[j]) - 1];
      continue;
    }
    entry = run_.swApp->OpenDocument(partPaths[chosen[j]], kDocTypePart, kOpenSilent, "", run_.docErrors,
                                     run_.docWarnings);
    if (entry) {
      entry->SetVisible(false);
    } else {
      run_.unopenedParts.emplace_back(chosenNames[j]);
    }
  }
  form_->Hide();
}

void frmPartSelect::SetAllTicks(bool ticked) {
  auto& list = form_->CheckList(kLboParts);
  for (int i = 0; i < list.RowCount(); ++i) list.SetTicked(i, ticked);
}

void frmPartSelect::cmdSelectAll_Click() { SetAllTicks(true); }
void frmPartSelect::cmdDeselectAll_Click() { SetAllTicks(false); }
void frmPartSelect::lblWebLink_Click() { openMakerWebPage_(); }

void frmPartSelect::Click(std::string_view control) {
  if (control == kCmdOK) {
    cmdOK_Click();
  } else if (control == kCmdCancel) {
    cmdCancel_Click();
  } else if (control == kCmdSelectAll) {
    cmdSelectAll_Click();
  } else if (control == kCmdDeselectAll) {
    cmdDeselectAll_Click();
  } else if (control == kLblWebLink) {
    lblWebLink_Click();
  } else if (control == kCmdBreak) {
    cmdBreak_Click();
  }
}

void frmPartSelect::Change(std::string_view control) {
  if (control == kChkNameStyle) {
    chkNameStyle_Change();
  } else if (control == kLboParts) {
    lboParts_Change();
  }
}

}  // namespace ponderix
