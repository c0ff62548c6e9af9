// The part selection dialog: the user ticks the part files of the active
// assembly whose density the run changes. Loading it builds the list from the
// host's dependency list and ticks the parts pre-selected in the assembly; OK
// turns the ticked rows into partDocs, reusing documents the host has open and
// opening the others without a window.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "addin/toolkit.h"
#include "partselect/part_select_state.h"

namespace ponderix {

inline constexpr std::string_view kNoPartFilesMessage =
    "There are no part files associated with this assembly.  Program terminated.";
inline constexpr std::string_view kNoPartsSelectedMessage = "No parts selected.  Program terminated";
inline constexpr std::string_view kShortNamesCaption = "Check to view long names";
inline constexpr std::string_view kLongNamesCaption = "Uncheck to view short names";

// NOLINTNEXTLINE(readability-identifier-naming): the dialog's own name
class frmPartSelect : public FormEvents {
 public:
  // Loads the dialog, which runs UserForm_Initialize. When the assembly has no
  // part files the message is shown and RunEnded() is true: the caller tears
  // the run down and neither prepares nor shows the dialog.
  frmPartSelect(PartSelectState& run, Toolkit& toolkit, std::function<void()> openMakerWebPage,
                const std::string& webAddress);

  static FormLayout Layout(std::string_view webAddress);

  bool RunEnded() const { return runEnded_; }
  void PrepareDialog();
  // Modal. A request to quit the application ends the run as Cancel does.
  void Show() {
    if (form_->ShowModal() == ShowEnd::kQuit) run_.continueRun = false;
  }
  Form& form() { return *form_; }

  void chkNameStyle_Change();
  static void cmdBreak_Click() {}  // a developer's break: unreachable and inert in a release
  void cmdCancel_Click();
  void cmdOK_Click();
  void cmdSelectAll_Click();
  void cmdDeselectAll_Click();
  void lblWebLink_Click();
  static void lboParts_Change() {}

  void Click(std::string_view control) override;
  void Change(std::string_view control) override;

  std::optional<std::vector<std::string>> preSelNames;
  std::vector<std::string> partPaths;
  std::vector<std::string> partNames;
  std::vector<bool> partSelected;
  std::vector<std::string> openDocNames;  // openDocNames[k - 1] is the host's k-th open document
  std::vector<Ref<Document>> openDocs;
  int32_t stepNo = 0;

 private:
  void UserForm_Initialize();
  void WaitSeconds(float seconds);
  void CollectOpenDocs();
  void CollectPreSelNames();
  bool BuildPartList();
  void FillPartList();
  void RestoreSelections();
  void SaveSelections();
  void SetAllTicks(bool ticked);

  PartSelectState& run_;
  Toolkit& toolkit_;
  std::function<void()> openMakerWebPage_;
  std::unique_ptr<Form> form_;
  bool runEnded_ = false;
};

}  // namespace ponderix
