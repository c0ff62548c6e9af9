// The dialog-toolkit contract: forms, their controls and the events they raise.
//
// A dialog describes its window once as a `FormLayout` (positions and sizes in
// points, fonts, colours, tab order) and handles events through `FormEvents`.
// The same dialog code runs on the headless toolkit (src/sim) and the Win32 one
// (src/win32); both honour these event rules:
//  - setting a drop-down's selection from code raises its Change event exactly
//    as a user's pick does, and only when the selection really changes;
//  - a control that takes the focus (a click on a button, check box, list or
//    drop-down; Tab) first lets the text box that loses it run its Exit event,
//    and the click follows; labels take no focus;
//  - an Exit that sets its refusal flag keeps the focus in the text box, with
//    the box's text selected, and the click or pick that tried to take the
//    focus does nothing;
//  - a text box's KeyDown gives the virtual-key code; Tab then moves the focus to the next
//    tab stop, while Enter and Esc do nothing more (no default or cancel button);
//  - the close box ends the modal show without running any handler;
//  - a request to quit the application (WM_QUIT) ends the modal show too, and
//    the show says so, so that the run can end as a Cancel would;
//  - a handler's exception makes the call that raised its event throw it or,
//    where the event came through the window system, the modal show or the
//    next ProcessPendingEvents.
// No toolkit call gives no object. Each call's line says how it can fail.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ponderix {

inline constexpr int kKeyTab = 9;
inline constexpr int kKeyEnter = 13;
inline constexpr int kKeyEsc = 27;

struct Colour {
  enum class Kind : uint8_t { kRgb, kWindowBackground, kWindowText, kButtonFace, kButtonText };
  Kind kind = Kind::kRgb;
  uint8_t r = 0, g = 0, b = 0;

  static constexpr Colour Rgb(uint8_t red, uint8_t green, uint8_t blue) {
    return {Kind::kRgb, red, green, blue};
  }
  static constexpr Colour System(Kind k) { return {k, 0, 0, 0}; }
  friend constexpr bool operator==(const Colour&, const Colour&) = default;
};

struct Font {
  std::string face = "Tahoma";  // empty: the dialog's default face
  double points = 8.25;
  bool bold = false;
};

enum class ControlKind { kLabel, kButton, kCheckBox, kTextBox, kDropDown, kCheckList };

struct ControlLayout {
  std::string name;
  ControlKind kind = ControlKind::kLabel;
  double left = 0, top = 0, width = 0, height = 0;  // points, client area
  int tabIndex = 0;
  bool tabStop = false;
  std::string caption;  // label, button and check-box text; a text box's first text
  Font font;
  Colour foreColour = Colour::System(Colour::Kind::kWindowText);
  Colour backColour = Colour::System(Colour::Kind::kButtonFace);
  bool visible = true;
  bool enabled = true;
  bool clickable = false;  // a label that raises Click
  bool flat = false;       // drop-down drawn flat rather than sunken
  bool autoSize = false;   // check box sized to its caption
};

// A control at (left, top), `width` x `height` points. Text boxes, drop-downs
// and lists get the window background, everything else the button face.
inline ControlLayout MakeControl(std::string name, ControlKind kind, double left, double top, double width,
                                 double height, int tabIndex, bool tabStop, std::string caption = {}) {
  ControlLayout c;
  c.name = std::move(name);
  c.kind = kind;
  c.left = left;
  c.top = top;
  c.width = width;
  c.height = height;
  c.tabIndex = tabIndex;
  c.tabStop = tabStop;
  c.caption = std::move(caption);
  if (kind == ControlKind::kTextBox || kind == ControlKind::kDropDown || kind == ControlKind::kCheckList) {
    c.backColour = Colour::System(Colour::Kind::kWindowBackground);
  }
  return c;
}

struct FormLayout {
  std::string name;
  std::string title;
  double width = 0, height = 0;  // client area, points
  std::vector<ControlLayout> controls;
};

// The dialog's handlers; `control` is the control's layout name. A handler
// may throw; the toolkit passes its exception on as the rules above say.
class FormEvents {
 public:
  virtual ~FormEvents() = default;
  // A button or clickable label was clicked (a check box's click is its Change).
  virtual void Click(std::string_view /*control*/) {}
  // A drop-down's selection, a check box's tick or a list's ticks changed.
  virtual void Change(std::string_view /*control*/) {}
  // The text box `control` loses the focus to the control `next` ("" when it
  // is none of the form's); setting `cancel` keeps it there.
  virtual void Exit(std::string_view /*control*/, std::string_view /*next*/, bool& /*cancel*/) {}
  // A key went down in the text box `control`, before the toolkit's own handling of it.
  virtual void KeyDown(std::string_view /*control*/, int /*keyCode*/, int /*shift*/) {}
};

class Control {
 public:
  virtual ~Control() = default;
  // On a shown form, runs the Exit of a text box that loses the focus first; fails as that handler does.
  virtual void SetFocus() = 0;
  // Cannot fail.
  virtual void SetEnabled(bool enabled) = 0;
};

// A list box with a check box in front of every row; rows count from 0.
class CheckListControl : public virtual Control {
 public:
  // Removes every row; cannot fail.
  virtual void Clear() = 0;
  // Replaces the rows, row i from entry i, all unticked; cannot fail.
  virtual void SetRows(const std::vector<std::string>& rows) = 0;
  // The rows' texts in order; cannot fail.
  virtual std::vector<std::string> Rows() = 0;
  // Cannot fail.
  virtual int RowCount() = 0;
  // A row outside the list throws std::out_of_range.
  virtual bool Ticked(int row) = 0;
  // A row outside the list throws std::out_of_range.
  virtual void SetTicked(int row, bool ticked) = 0;
};

class CheckBoxControl : public virtual Control {
 public:
  // Whether the box is ticked; cannot fail.
  virtual bool Value() = 0;
  // Cannot fail.
  virtual void SetCaption(const std::string& caption) = 0;
};

// A pick-only drop-down list; index -1 is "nothing selected".
class DropDownControl : public virtual Control {
 public:
  // Removes every item, leaving nothing selected without a Change; cannot fail.
  virtual void Clear() = 0;
  // Inserts the item at `index`, 0 to the count; another index throws std::out_of_range.
  virtual void AddItem(const std::string& text, int index) = 0;
  // Cannot fail.
  virtual int ListIndex() = 0;
  // Raises Change when the selection really changes, and fails as that handler
  // does; `index` is -1 or an item's (the headless toolkit throws std::out_of_range for another).
  virtual void SetListIndex(int index) = 0;
  // Cannot fail.
  virtual void SetBackColour(Colour colour) = 0;
};

class TextBoxControl : public virtual Control {
 public:
  // Cannot fail.
  virtual std::string Text() = 0;
  // Cannot fail.
  virtual void SetText(const std::string& text) = 0;
};

class LabelControl : public virtual Control {
 public:
  // Cannot fail.
  virtual void SetCaption(const std::string& caption) = 0;
};

// How a modal show ended: hidden (by a handler, or the close box), or by a
// request to quit the application, which stays pending for the host's loop.
enum class ShowEnd { kHidden, kQuit };

class Form {
 public:
  // Destroying the form unloads it.
  virtual ~Form() = default;
  // Returns when the form is hidden, closed through its close box, or the
  // application is asked to quit; a handler's failure, or the toolkit's own,
  // ends the show and is thrown from here.
  virtual ShowEnd ShowModal() = 0;
  // Hides the form, which ends its modal show; cannot fail.
  virtual void Hide() = 0;
  // Cannot fail.
  virtual void SetTitle(const std::string& title) = 0;
  // Each gives the named control of its kind; throws std::logic_error when the layout has none.
  virtual CheckListControl& CheckList(std::string_view name) = 0;
  virtual CheckBoxControl& CheckBox(std::string_view name) = 0;
  virtual DropDownControl& DropDown(std::string_view name) = 0;
  virtual TextBoxControl& TextBox(std::string_view name) = 0;
  virtual LabelControl& Label(std::string_view name) = 0;
};

class Toolkit {
 public:
  virtual ~Toolkit() = default;
  // Creates the form from its layout; `events` must outlive it. Never null;
  // throws std::runtime_error when the window system cannot make the form.
  virtual std::unique_ptr<Form> LoadForm(const FormLayout& layout, FormEvents& events) = 0;
  // A plain message box with an OK button only and no caption of the caller's;
  // like a form's modal show, it says whether a request to quit ended it. Cannot fail.
  virtual ShowEnd ShowMessageBox(const std::string& text) = 0;
  // A monotonic clock in seconds; cannot fail.
  virtual double Seconds() = 0;
  // Lets pending window events run; throws what a handler threw meanwhile outside a modal show.
  virtual void ProcessPendingEvents() = 0;
  // The decimal separator of the user's locale, "." when the locale gives none; cannot fail.
  virtual std::string DecimalSeparator() = 0;
};

// The shell's opener: `file` with its default action, no verb and no parameters.
class Shell {
 public:
  virtual ~Shell() = default;
  // The outcome is not examined; cannot fail.
  virtual void Open(const std::string& file, const std::string& directory, int showMode) = 0;
};

}  // namespace ponderix
