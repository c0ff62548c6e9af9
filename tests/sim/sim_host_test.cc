#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "sim/sim_host.h"

namespace ponderix::sim {
namespace {

using ::testing::ElementsAre;

constexpr const char* kTop = "C:\\p\\top.sldasm";

Scene OneAssembly() {
  Scene s;
  s.documents = {{kTop, kDocTypeAssembly, true, true, 0, 1000, std::nullopt, false}};
  s.active = kTop;
  return s;
}

TEST(SimHost, ReferencesCountOnceUntilTheLastHolderLetsGo) {
  auto host = std::make_unique<SimHost>(OneAssembly());
  Ref<Application> app = host->GetApplication("SldWorks.Application");
  EXPECT_EQ(host->HeldReferences(), 1);
  Ref<Document> doc = app->GetActiveDocument();
  Ref<Document> copy = doc;
  EXPECT_EQ(host->HeldReferences(), 2);
  doc.reset();
  EXPECT_EQ(host->HeldReferences(), 2);
  copy.reset();
  EXPECT_EQ(host->HeldReferences(), 1);

  // References that outlive the host stay usable and safe to release.
  Ref<Document> late = app->GetActiveDocument();
  host.reset();
  EXPECT_EQ(late->GetPathName(), kTop);
  late.reset();
  app.reset();
}

// Answers the enable method with `enabled` and records what was called.
class Target : public CallbackTarget {
 public:
  CallbackResult InvokeByName(std::string_view name) noexcept override {
    calls.emplace_back(name);
    return {true, true, name == "Enable" ? enabled : 0, ""};
  }
  std::vector<std::string> calls;
  int32_t enabled = 1;
};

TEST(SimHost, MenuWithOtherAddInsItems) {
  Scene scene = OneAssembly();
  scene.menu = {{kDocTypePart, "Other@Tools", std::nullopt, std::nullopt, std::nullopt},
                {kDocTypePart, "Deep@Theirs@Tools", std::nullopt, std::nullopt, std::nullopt}};
  SimHost host(scene);
  const Ref<Application> app = host.GetApplication("SldWorks.Application");
  Target target;
  ASSERT_TRUE(app->RegisterCallbackTarget(0, target, 1));
  const std::string item = "Run@Mine@Tools";
  for (int i = 0; i < 2; ++i) app->AddMenuCommand(kDocTypePart, 1, item, -1, "Run", "Enable", "hint");

  const Ref<Frame> frame = app->MainFrame();
  // Direct children only: Other, Theirs and Mine; nothing for assemblies.
  EXPECT_EQ(frame->MenuItemCount(kDocTypePart, "Tools"), 3);
  EXPECT_EQ(frame->MenuItemCount(kDocTypePart, "Mine@Tools"), 1);
  EXPECT_EQ(frame->MenuItemCount(kDocTypeAssembly, "Tools"), 0);
  EXPECT_EQ(host.Menu().size(), 5u) << "an item added twice is there once";

  EXPECT_TRUE(host.ChooseCommand(kDocTypePart, "Run").enabled);
  target.enabled = 0;
  EXPECT_FALSE(host.ChooseCommand(kDocTypePart, "Run").enabled);
  EXPECT_THAT(target.calls, ElementsAre("Enable", "Run", "Enable"));
  EXPECT_THROW(host.ChooseCommand(kDocTypeAssembly, "Run"), std::invalid_argument);

  EXPECT_TRUE(app->RemoveMenuEntry(kDocTypePart, item, "Run"));
  EXPECT_FALSE(app->RemoveMenuEntry(kDocTypePart, item, "Run"));
  EXPECT_EQ(frame->MenuItemCount(kDocTypePart, "Mine@Tools"), 0);
  EXPECT_TRUE(app->RemoveMenuEntry(kDocTypePart, "Theirs@Tools", ""));
  std::vector<std::string> left;
  for (const MenuEntry& e : host.Menu()) left.push_back(e.path);
  EXPECT_THAT(left, ElementsAre("Other@Tools", "Mine@Tools"));
}

}  // namespace
}  // namespace ponderix::sim
