// The headless toolkit: the event rules both toolkits keep (toolkit_rules.h),
// then what only it has: the script's names and its errors.
#include <algorithm>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "sim/headless_toolkit.h"
#include "toolkit_rules.h"

namespace ponderix::sim {
namespace {

// A rule's show-time lines as the script; questions are answered from the shown form.
class RuleSource final : public ActionSource {
 public:
  std::optional<Action> Next(const FormSnapshot& shown) override {
    while (at < lines->size()) {
      const std::string& line = (*lines)[at++];
      if (!line.starts_with("? ")) return ParseAction(line, static_cast<int>(at));
      events->log.push_back(test::Answer(line, [&](const std::string& what, const std::string& name) {
        if (what == "focus") return shown.focus;
        const ControlSnapshot& c = *std::find_if(
            shown.controls.begin(), shown.controls.end(),
            [&](const ControlSnapshot& each) { return each.name == (what == "ticks" ? "lboParts" : name); });
        if (what == "text") return c.kind == ControlKind::kTextBox ? c.text : c.caption;
        if (what == "index") return std::to_string(c.index);
        if (what == "ticks") return test::TicksText(c.ticks);
        return std::string((what == "checked" ? c.checked : c.visible) ? "1" : "0");
      }));
    }
    return std::nullopt;
  }

  const std::vector<std::string>* lines = nullptr;
  size_t at = 0;
  test::EventLog* events = nullptr;
};

TEST(HeadlessToolkit, KeepsTheToolkitsEventRules) {
  for (const test::ToolkitRule& rule : test::kToolkitRules) {
    SCOPED_TRACE(rule.rule);
    SimHost host{Scene{}};
    RuleSource source;
    HeadlessToolkit toolkit(host, source);
    const auto show = [&](const test::ToolkitRule&, Form& form, const FormLayout&, test::EventLog& events,
                          const std::vector<std::string>& lines, size_t first) {
      source.lines = &lines;
      source.at = first;
      source.events = &events;
      form.ShowModal();
      return source.at;
    };
    EXPECT_EQ(test::Play(rule, toolkit, show), rule.log);
  }
}

ControlLayout Control(std::string name, ControlKind kind, int tabIndex, bool tabStop) {
  ControlLayout c;
  c.name = std::move(name);
  c.kind = kind;
  c.tabIndex = tabIndex;
  c.tabStop = tabStop;
  return c;
}

// A form with a hidden and a disabled button, and a drop-down item named "0".
class HeadlessFormTest : public ::testing::Test {
 protected:
  void Show(const std::string& script) {
    using CK = ControlKind;
    FormLayout f;
    f.name = "frmTest";
    f.controls = {Control("list", CK::kCheckList, 4, true), Control("cbo", CK::kDropDown, 3, true),
                  Control("lbl", CK::kLabel, 0, false),     Control("chk", CK::kCheckBox, 2, true),
                  Control("ok", CK::kButton, 1, true),      Control("hidden", CK::kButton, 5, true),
                  Control("off", CK::kButton, 6, true),     Control("txt", CK::kTextBox, 0, true)};
    f.controls[4].caption = "Okay";
    f.controls[5].visible = false;
    f.controls[6].enabled = false;
    form_.reset();
    source_ = std::make_unique<ScriptSource>(ScriptSource::FromText(script));
    toolkit_ = std::make_unique<HeadlessToolkit>(host_, *source_);
    form_ = toolkit_->LoadForm(f, events_);
    form_->DropDown("cbo").AddItem("steel", 0);
    form_->DropDown("cbo").AddItem("0", 1);
    form_->CheckList("list").SetRows({"a.sldprt", "b.sldprt"});
    form_->ShowModal();
  }

  SimHost host_{Scene{}};
  test::EventLog events_;
  std::unique_ptr<ScriptSource> source_;
  std::unique_ptr<HeadlessToolkit> toolkit_;
  std::unique_ptr<Form> form_;
};

// A button by its caption, an item by its text before its index, Tab past
// the hidden and the disabled stop; the form counts as loaded until unloaded.
TEST_F(HeadlessFormTest, ScriptNamesAndStops) {
  Show("click Okay\npick cbo 0\nfocus list\nkey Tab\nsnapshot\nclose\n");
  EXPECT_EQ(test::JoinLines(events_.log), "Exit txt ok|Click ok|Change cbo");
  const FormSnapshot& shown = toolkit_->snapshots().at(0);
  EXPECT_EQ(shown.focus, "txt");
  EXPECT_EQ(shown.controls[1].index, 1);
  EXPECT_THROW(form_->DropDown("cbo").SetListIndex(2), std::out_of_range);
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
