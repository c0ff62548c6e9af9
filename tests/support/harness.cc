#include "harness.h"

#include <exception>

namespace ponderix::test {

namespace {

std::vector<sim::Action> Parse(const std::vector<std::string>& lines) {
  std::vector<sim::Action> actions;
  int number = 0;
  for (const std::string& line : lines) {
    if (auto action = sim::ParseAction(line, ++number)) actions.push_back(*action);
  }
  return actions;
}

}  // namespace

sim::SimDocument Part(std::string path, double density, bool open, bool visible) {
  return {std::move(path), kDocTypePart, open, visible, 0, density, std::nullopt, false};
}

sim::Scene PartScene(double density, int32_t lengthUnit) {
  sim::Scene scene;
  scene.documents = {Part("C:\\Models\\gear.sldprt", density, true, true)};
  scene.documents[0].lengthUnit = lengthUnit;
  scene.active = scene.documents[0].path;
  return scene;
}

sim::Scene PumpScene(std::vector<std::optional<std::string>> selection) {
  const char* const motor = "C:\\Work\\Pump\\Motor\\motor.sldasm";
  sim::Scene scene;
  scene.documents = {
      {kPump, kDocTypeAssembly, true, true, 1, 1000,
       std::vector<std::string>{"bolt", kBolt, "washer", kWasher, "motor", motor, "rotor", kRotor, "housing",
                                kHousing, "bolt", "C:\\Work\\Pump\\Motor\\bolt.sldprt"},
       false},
      Part(kBolt, 7850),
      Part(kHousing, 2700),
      {motor, kDocTypeAssembly, true, false, 0, 1000, std::nullopt, false},
      Part(kRotor, 7700),
      Part(kWasher, 7800, false)};
  scene.active = kPump;
  scene.selection = std::move(selection);
  return scene;
}

Harness::Harness(sim::Scene scene, const std::vector<std::string>& script)
    : host(std::move(scene)),
      shell(host),
      actions(Parse(script)),
      toolkit(host, actions, host.scene().decimalSeparator),
      module(Platform{host, toolkit, shell}) {}

std::optional<std::string> Harness::Run() {
  try {
    module.RunDensity();
  } catch (const std::exception& e) {
    return e.what();
  }
  return std::nullopt;
}

std::vector<std::string> Harness::MessageTexts() const {
  std::vector<std::string> texts;
  for (const sim::Message& m : host.messages()) texts.push_back(m.text);
  return texts;
}

std::vector<std::string> Harness::EventKinds() const {
  std::vector<std::string> kinds;
  for (const sim::Event& e : host.events()) kinds.emplace_back(sim::EventKindName(e.kind));
  return kinds;
}

}  // namespace ponderix::test
