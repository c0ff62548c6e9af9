// The density dialog: pick a common material, or type a value, in one of six
// units. OK keeps the choice, Cancel clears continueRun; the dialog never
// talks to the host. The rules behind it are those of density_model.h.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "addin/toolkit.h"
#include "density/density_model.h"

namespace ponderix {

// NOLINTNEXTLINE(readability-identifier-naming): the dialog's own name
class frmPonderix : public FormEvents {
 public:
  // Loads the dialog (its form exists, nothing is filled in yet). It shows the
  // unit that suits the document's `userLengthUnit` first, and Cancel clears `continueRun`.
  frmPonderix(DensityState& density, int32_t userLengthUnit, bool& continueRun, Toolkit& toolkit,
              std::function<void()> openMakerWebPage, const std::string& webAddress);

  static FormLayout Layout(std::string_view webAddress);

  // Fills both lists and the value box from partDensity and the length unit
  // without letting the list reactions run.
  void PrepareDialog();
  // Modal; returns when OK or Cancel hides the dialog or the close box closes
  // it. A request to quit the application ends the run as Cancel does.
  void Show() {
    if (form_->ShowModal() == ShowEnd::kQuit) continueRun_ = false;
  }
  Form& form() { return *form_; }

  void btnOK_Click();
  void btnCancel_Click();
  void cboComMats_Change();
  void cboDensUnits_Change();
  // Refuses to let the focus go while the box holds text that is not a
  // number here, unless it goes to Cancel.
  void txtDensVal_Exit(bool& Cancel, std::string_view next);
  void txtDensVal_KeyDown(int KeyCode, int Shift);
  void lblWebLink_Click();

  void Click(std::string_view control) override;
  void Change(std::string_view control) override;
  void Exit(std::string_view control, std::string_view next, bool& cancel) override;
  void KeyDown(std::string_view control, int keyCode, int shift) override;

  bool comMatsArmed = false;
  bool densUnitsArmed = false;
  int16_t comMatIndex = 0;
  std::array<Colour, kComMatCount> comMatColors{};

 private:
  // False, with nothing changed, when the box's text is no number that can be accepted.
  bool AcceptDensVal();
  // The value box shows displayDensity.
  void ShowDisplayDensity();

  DensityState& run_;  // the run's density state
  int32_t userLengthUnit_;
  bool& continueRun_;
  Toolkit& toolkit_;
  std::function<void()> openMakerWebPage_;
  std::unique_ptr<Form> form_;
};

}  // namespace ponderix
