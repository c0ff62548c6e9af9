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
  sim::SimDocument d;
  d.path = std::move(path);
  d.type = kDocTypePart;
  d.open = open;
  d.visible = visible;
  d.density = density;
  return d;
}

sim::Scene PartScene(double density, int32_t lengthUnit) {
  sim::Scene scene;
  sim::SimDocument part = Part("C:\\Models\\gear.sldprt", density, true, true);
  part.lengthUnit = lengthUnit;
  scene.documents.push_back(part);
  scene.active = part.path;
  return scene;
}

sim::Scene PumpScene(std::vector<std::optional<std::string>> selection) {
  sim::Scene scene;
  sim::SimDocument pump;
  pump.path = kPump;
  pump.type = kDocTypeAssembly;
  pump.lengthUnit = 1;
  pump.dependencies = std::vector<std::string>{
      "bolt",  kBolt,  "washer",  kWasher,  "motor", "C:\\Work\\Pump\\Motor\\motor.sldasm",
      "rotor", kRotor, "housing", kHousing, "bolt",  "C:\\Work\\Pump\\Motor\\bolt.sldprt"};
  scene.documents.push_back(pump);
  scene.documents.push_back(Part(kBolt, 7850));
  scene.documents.push_back(Part(kHousing, 2700));
  sim::SimDocument motor;
  motor.path = "C:\\Work\\Pump\\Motor\\motor.sldasm";
  motor.type = kDocTypeAssembly;
  motor.visible = false;
  scene.documents.push_back(motor);
  scene.documents.push_back(Part(kRotor, 7700));
  scene.documents.push_back(Part(kWasher, 7800, false));
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
