#include <algorithm>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "sim/headless_toolkit.h"

namespace ponderix::sim {
namespace {

using ::testing::ElementsAre;
using Log = std::vector<std::string>;

// Records every event; can cancel the text box's Exit a number of times.
class Recorder : public FormEvents {
 public:
  void Click(std::string_view control) override { log.push_back("Click " + std::string(control)); }
  void Change(std::string_view control) override { log.push_back("Change " + std::string(control)); }
  void Exit(std::string_view control, std::string_view next, bool& cancel) override {
    log.push_back("Exit " + std::string(control) + " " + std::string(next));
    if (cancelExits > 0) {
      --cancelExits;
      cancel = true;
    }
  }
  void KeyDown(std::string_view control, int keyCode, int /*shift*/) override {
    log.push_back("KeyDown " + std::string(control) + " " + std::to_string(keyCode));
  }

  Log log;
  int cancelExits = 0;
};

ControlLayout Control(std::string name, ControlKind kind, int tabIndex, bool tabStop) {
  ControlLayout c;
  c.name = std::move(name);
  c.kind = kind;
  c.tabIndex = tabIndex;
  c.tabStop = tabStop;
  return c;
}

// Declared out of tab order, so that Tab must follow tabIndex.
FormLayout Layout() {
  using CK = ControlKind;
  FormLayout f;
  f.name = "frmTest";
  f.title = "Test";
  f.controls = {Control("list", CK::kCheckList, 4, true), Control("cbo", CK::kDropDown, 3, true),
                Control("lbl", CK::kLabel, 0, false),     Control("link", CK::kLabel, 9, false),
                Control("chk", CK::kCheckBox, 2, true),   Control("ok", CK::kButton, 1, true),
                Control("hidden", CK::kButton, 5, true),  Control("off", CK::kButton, 6, true),
                Control("txt", CK::kTextBox, 0, true)};
  f.controls[3].clickable = true;
  f.controls[5].caption = "Okay";
  f.controls[6].visible = false;
  f.controls[7].enabled = false;
  return f;
}

// One form on the headless toolkit, shown with the actions of a script. The
// focus starts in the text box, the first tab stop.
class HeadlessFormTest : public ::testing::Test {
 protected:
  void Load(const std::string& script) {
    form_.reset();
    toolkit_.reset();
    source_ = std::make_unique<ScriptSource>(ScriptSource::FromText(script));
    toolkit_ = std::make_unique<HeadlessToolkit>(host_, *source_);
    form_ = toolkit_->LoadForm(Layout(), events_);
    form_->DropDown("cbo").AddItem("steel", 0);
    form_->DropDown("cbo").AddItem("0", 1);
    form_->CheckList("list").SetRows({"a.sldprt", "b.sldprt"});
  }
  void Show(const std::string& script) {
    Load(script);
    form_->ShowModal();
  }
  const FormSnapshot& Snap(size_t i) const { return toolkit_->snapshots().at(i); }
  const ControlSnapshot& Control(size_t snap, std::string_view name) const {
    for (const ControlSnapshot& c : Snap(snap).controls)
      if (c.name == name) return c;
    throw std::logic_error("no control " + std::string(name));
  }

  SimHost host_{Scene{}};
  Recorder events_;
  std::unique_ptr<ScriptSource> source_;
  std::unique_ptr<HeadlessToolkit> toolkit_;
  std::unique_ptr<Form> form_;
};

struct FocusCase {
  std::string action;
  std::string target;
  Log events;           // after the text box's Exit
  std::string changed;  // the control whose value the action changes
};

// Every action that takes the focus lets the text box run Exit first; a
// cancelled Exit keeps the focus there and swallows the action.
TEST_F(HeadlessFormTest, ExitRunsFirstAndItsCancelSwallowsTheAction) {
  const FocusCase cases[] = {
      {"click ok", "ok", {"Click ok"}, ""},
      {"click Okay", "ok", {"Click ok"}, ""},
      {"click chk", "chk", {"Change chk", "Click chk"}, "chk"},
      {"pick cbo steel", "cbo", {"Change cbo"}, "cbo"},
      {"tick b.sldprt", "list", {"Change list"}, "list"},
      {"focus cbo", "cbo", {}, ""},
  };
  for (const FocusCase& c : cases) {
    for (const bool cancel : {false, true}) {
      SCOPED_TRACE(c.action + (cancel ? " (cancelled)" : ""));
      events_ = Recorder();
      events_.cancelExits = cancel ? 1 : 0;
      Show("type 5\n" + c.action + "\nsnapshot\nclose\n");
      Log expected = {"Exit txt " + c.target};
      if (!cancel) expected.insert(expected.end(), c.events.begin(), c.events.end());
      EXPECT_EQ(events_.log, expected);
      EXPECT_EQ(Snap(0).focus, cancel ? "txt" : c.target);
      EXPECT_EQ(Control(0, "txt").text, "5");
      const bool done = !cancel;
      EXPECT_EQ(Control(0, "chk").checked, done && c.changed == "chk");
      EXPECT_EQ(Control(0, "cbo").index, done && c.changed == "cbo" ? 0 : -1);
      EXPECT_EQ(Control(0, "list").ticks[1], done && c.changed == "list");
    }
  }
}

// By the user or from code, Change comes only when the selection changes; an
// item's text wins over an index: "0" is the second item.
TEST_F(HeadlessFormTest, ChangeOnlyWhenTheSelectionChanges) {
  Show("pick cbo 0\npick cbo 1\npick cbo 0\npick cbo steel\nsnapshot\nclose\n");
  EXPECT_THAT(events_.log, ElementsAre("Exit txt cbo", "Change cbo", "Change cbo"));
  EXPECT_EQ(Control(0, "cbo").index, 0);

  events_ = Recorder();
  DropDownControl& cbo = form_->DropDown("cbo");
  for (const int index : {0, -1, -1, 1, 1}) cbo.SetListIndex(index);
  EXPECT_THAT(events_.log, ElementsAre("Change cbo", "Change cbo"));
  EXPECT_THROW(cbo.SetListIndex(2), std::out_of_range);
  EXPECT_EQ(cbo.ListIndex(), 1);
}

TEST_F(HeadlessFormTest, LabelsTakeNoFocusAndOnlyAClickableOneClicks) {
  Show("click lbl\nclick link\nsnapshot\nclose\n");
  EXPECT_THAT(events_.log, ElementsAre("Click link"));
  EXPECT_EQ(Snap(0).focus, "txt");
}

TEST_F(HeadlessFormTest, TabFollowsTabIndexOverReachableStopsAndWraps) {
  std::string script;
  for (int i = 0; i < 5; ++i) script += "key Tab\nsnapshot\n";
  Show(script + "close\n");
  Log focus;
  for (const FormSnapshot& s : toolkit_->snapshots()) focus.push_back(s.focus);
  EXPECT_THAT(focus, ElementsAre("ok", "chk", "cbo", "list", "txt"));
  // KeyDown reaches the control that has the focus before Tab moves it on.
  EXPECT_THAT(Log(events_.log.begin(), events_.log.begin() + 3),
              ElementsAre("KeyDown txt 9", "Exit txt ok", "KeyDown ok 9"));
}

TEST_F(HeadlessFormTest, CloseEndsTheShowWithoutAnyHandler) {
  Show("type 5\nclose\nclick ok\n");
  EXPECT_TRUE(events_.log.empty());
  EXPECT_EQ(toolkit_->LoadedForms(), 1);
  form_.reset();
  EXPECT_EQ(toolkit_->LoadedForms(), 0);
}

TEST_F(HeadlessFormTest, ActionsThatCannotBeCarriedOut) {
  const std::pair<std::string, std::string> cases[] = {
      {"click hidden", "hidden is hidden or disabled"},
      {"click off", "off is hidden or disabled"},
      {"pick nothing 0", "frmTest has no control named \"nothing\""},
      {"click OK", "frmTest has no control named \"OK\"; did you mean \"ok\"?"},
      {"click chek", "frmTest has no control named \"chek\"; did you mean \"chk\"?"},
      {"click a\x1b[2Jb", "frmTest has no control named \"a\\x1B[2Jb\""},
      {"click " + std::string(100, 'x'), "frmTest has no control named \"" + std::string(80, 'x') + "...\""},
      {"pick ok 0", "ok is a button: use click ok"},
      {"pick cbo 2", "cbo has no item \"2\""},
      {"pick cbo Steel", "cbo has no item \"Steel\"; did you mean \"steel\"?"},
      {"tick B.SLDPRT", "no row \"B.SLDPRT\" in the list; did you mean \"b.sldprt\"?"},
      {"tick sldprt", "no row \"sldprt\" in the list; did you mean \"a.sldprt\"?"},
      {"focus lbl", "lbl is a label, which takes no focus: use click lbl"},
      {"click cbo", "cbo is a drop-down: use pick cbo ITEM"},
      {"click list", "list is a list: use tick ROW"},
      {"click txt", "txt is a text box: use focus txt, then type TEXT"},
      {"focus ok\ntype 5", "type needs the focus in a text box (focus is on ok): use focus txt first"},
  };
  for (const auto& [script, message] : cases) {
    SCOPED_TRACE(script);
    events_ = Recorder();
    try {
      Show("snapshot\n" + script + "\nclose\n");
      ADD_FAILURE() << "carried out";
    } catch (const ScriptError& e) {
      EXPECT_EQ(e.message(), message);
      EXPECT_EQ(e.line(), 1 + static_cast<int>(std::count(script.begin(), script.end(), '\n')) + 1);
      ASSERT_TRUE(toolkit_->scriptError().has_value());
      EXPECT_EQ(toolkit_->scriptError()->message(), message);
    }
  }
}

}  // namespace
}  // namespace ponderix::sim
