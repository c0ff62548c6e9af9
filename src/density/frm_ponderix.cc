#include "density/frm_ponderix.h"

#include <string>
#include <utility>

#include "density/number_text.h"

namespace ponderix {

namespace {

// The controls the dialog reaches by name after its layout.
constexpr char kCboComMats[] = "cboComMats";
constexpr char kCboDensUnits[] = "cboDensUnits";
constexpr char kTxtDensVal[] = "txtDensVal";
constexpr char kBtnOK[] = "btnOK";
constexpr char kBtnCancel[] = "btnCancel";
constexpr char kLblWebLink[] = "lblWebLink";

constexpr Colour kWindowText = Colour::System(Colour::Kind::kWindowText);

}  // namespace

frmPonderix::frmPonderix(DensityState& density, int32_t userLengthUnit, bool& continueRun, Toolkit& toolkit,
                         std::function<void()> openMakerWebPage, const std::string& webAddress)
    : run_(density),
      userLengthUnit_(userLengthUnit),
      continueRun_(continueRun),
      toolkit_(toolkit),
      openMakerWebPage_(std::move(openMakerWebPage)) {
  form_ = toolkit_.LoadForm(Layout(webAddress), *this);
}

FormLayout frmPonderix::Layout(std::string_view webAddress) {
  FormLayout f;
  f.name = "frmPonderix";
  f.title = "Ponderix by Korvanis";
  f.width = 450;
  f.height = 134;
  using K = ControlKind;
  f.controls.push_back(MakeControl("lblComMats", K::kLabel, 24, 12, 132, 12, 1, false, "Common Materials"));
  auto& mats =
      f.controls.emplace_back(MakeControl(kCboComMats, K::kDropDown, 24, 24, 132, 15.75, 0, false, ""));
  mats.flat = true;
  f.controls.push_back(MakeControl("lblDensVal", K::kLabel, 216, 12, 78, 12, 4, false, "Density"));
  f.controls.push_back(MakeControl(kTxtDensVal, K::kTextBox, 216, 24, 72, 15.75, 2, true, ""));
  f.controls.push_back(MakeControl("lblDensUnits", K::kLabel, 300, 12, 78, 12, 5, false, "Density Units"));
  f.controls.push_back(MakeControl(kCboDensUnits, K::kDropDown, 300, 24, 126, 15.75, 3, false, ""));
  f.controls.push_back(MakeControl(kBtnOK, K::kButton, 216, 102, 102, 24, 6, true, "OK"));
  f.controls.push_back(MakeControl(kBtnCancel, K::kButton, 336, 102, 102, 24, 7, true, "Cancel"));
  auto& link = f.controls.emplace_back(
      MakeControl(kLblWebLink, K::kLabel, 6, 120, 110.25, 9.75, 8, false, std::string(webAddress)));
  link.foreColour = Colour::Rgb(0, 0, 255);
  link.font.face.clear();
  link.clickable = true;
  auto& jan = f.controls.emplace_back(
      MakeControl("lblJan", K::kLabel, 6, 108, 110.25, 9.75, 9, false, "Coming January 2004:"));
  jan.foreColour = kWindowText;
  jan.font.face.clear();
  return f;
}

void frmPonderix::PrepareDialog() {
  comMatsArmed = false;
  densUnitsArmed = false;
  FillDensityTables(run_);
  for (int i = 0; i < kComMatCount; ++i) comMatColors[i] = kComMats[i].colour;

  auto& mats = form_->DropDown(kCboComMats);
  mats.Clear();
  for (int i = 0; i < kComMatCount; ++i) mats.AddItem(run_.comMatNames[i], i);
  comMatIndex = 0;
  mats.SetListIndex(0);
  comMatsArmed = true;

  auto& units = form_->DropDown(kCboDensUnits);
  units.Clear();
  for (int i = 0; i < kDensUnitCount; ++i) units.AddItem(run_.densUnitNames[i], i);
  ApplyInitialUnit(run_, userLengthUnit_);
  units.SetListIndex(run_.densUnitIndex);
  densUnitsArmed = true;

  ShowDisplayDensity();
}

void frmPonderix::ShowDisplayDensity() {
  form_->TextBox(kTxtDensVal).SetText(FormatLocaleNumber(run_.displayDensity, toolkit_.DecimalSeparator()));
}

void frmPonderix::cboComMats_Change() {
  if (!comMatsArmed) return;
  const int index = form_->DropDown(kCboComMats).ListIndex();
  if (!ApplyMaterialRule(run_, index)) return;
  comMatIndex = static_cast<int16_t>(index);
  form_->DropDown(kCboComMats).SetBackColour(comMatColors[comMatIndex]);
  ShowDisplayDensity();
}

void frmPonderix::cboDensUnits_Change() {
  if (!densUnitsArmed) return;
  if (!ApplyUnitRule(run_, form_->DropDown(kCboDensUnits).ListIndex())) return;
  ShowDisplayDensity();
}

bool frmPonderix::AcceptDensVal() {
  const auto value = ParseLocaleNumber(form_->TextBox(kTxtDensVal).Text(), toolkit_.DecimalSeparator());
  // Not a number here, or one whose density in kg/m^3 no double holds.
  if (!value || !ApplyAcceptRule(run_, *value)) return false;
  auto& mats = form_->DropDown(kCboComMats);
  comMatsArmed = false;
  mats.SetListIndex(0);
  mats.SetBackColour(comMatColors[0]);
  comMatsArmed = true;
  return true;
}

void frmPonderix::txtDensVal_KeyDown(int KeyCode, int /*Shift*/) {
  auto& box = form_->TextBox(kTxtDensVal);
  if (KeyCode == kKeyTab || KeyCode == kKeyEnter) {
    const auto value = ParseLeadingNumber(box.Text());
    if (value) box.SetText(FormatLocaleNumber(*value, toolkit_.DecimalSeparator()));
    // A number too large for a double, or for a double in kg/m^3: the keys
    // never fail, so the box shows the last accepted value again.
    if (!value || !AcceptDensVal()) ShowDisplayDensity();
  }
  if (KeyCode == kKeyEsc) ShowDisplayDensity();
}

void frmPonderix::txtDensVal_Exit(bool& Cancel, std::string_view next) {
  if (AcceptDensVal()) return;
  // Text we cannot read must not let OK write the last accepted value in its
  // place: the focus stays for the user to retype it. Cancel writes nothing,
  // so it gets through; the box shows the last accepted value again, which is
  // what OK would write should the press on Cancel not end in a click.
  if (next == kBtnCancel) {
    ShowDisplayDensity();
  } else {
    Cancel = true;
  }
}

void frmPonderix::btnOK_Click() { form_->Hide(); }

void frmPonderix::btnCancel_Click() {
  continueRun_ = false;
  form_->Hide();
}

void frmPonderix::lblWebLink_Click() { openMakerWebPage_(); }

void frmPonderix::Click(std::string_view control) {
  if (control == kBtnOK) {
    btnOK_Click();
  } else if (control == kBtnCancel) {
    btnCancel_Click();
  } else if (control == kLblWebLink) {
    lblWebLink_Click();
  }
}

void frmPonderix::Change(std::string_view control) {
  if (control == kCboComMats) {
    cboComMats_Change();
  } else if (control == kCboDensUnits) {
    cboDensUnits_Change();
  }
}

void frmPonderix::Exit(std::string_view control, std::string_view next, bool& cancel) {
  if (control == kTxtDensVal) txtDensVal_Exit(cancel, next);
}

void frmPonderix::KeyDown(std::string_view control, int keyCode, int shift) {
  if (control == kTxtDensVal) txtDensVal_KeyDown(keyCode, shift);
}

}  // namespace ponderix
