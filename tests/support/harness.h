// A density run against the simulated host, for tests that read like runs:
// build a scene, give the user's actions as script lines, run, look.
#pragma once

#include <algorithm>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "run/ponderix1.h"
#include "sim/headless_toolkit.h"
#include "sim/sim_host.h"

namespace ponderix::test {

// A part document (type 1).
sim::SimDocument Part(std::string path, double density, bool open = true, bool visible = false);

// A scene with one active part, measured in `lengthUnit`.
sim::Scene PartScene(double density = 7850, int32_t lengthUnit = 1);

// The pump assembly of the bundled example: bolt, housing, rotor (open,
// invisible), washer (not open), a sub-assembly, centimetres; `selection`
// holds the paths of the selected components.
sim::Scene PumpScene(std::vector<std::optional<std::string>> selection = {});

inline constexpr const char* kPump = "C:\\Work\\Pump\\pump.sldasm";
inline constexpr const char* kBolt = "C:\\Work\\Pump\\Parts\\bolt.sldprt";
inline constexpr const char* kHousing = "C:\\Work\\Pump\\Parts\\housing.sldprt";
inline constexpr const char* kRotor = "C:\\Work\\Pump\\Motor\\rotor.sldprt";
inline constexpr const char* kWasher = "C:\\Work\\Pump\\Parts\\washer.sldprt";

// Script lines written as one text, separated by "|".
inline std::vector<std::string> Lines(std::string_view text) {
  std::vector<std::string> lines;
  while (!text.empty()) {
    const size_t end = std::min(text.find('|'), text.size());
    lines.emplace_back(text.substr(0, end));
    text.remove_prefix(std::min(end + 1, text.size()));
  }
  return lines;
}

inline const sim::ControlSnapshot& Control(const sim::FormSnapshot& form, std::string_view name) {
  for (const auto& c : form.controls) {
    if (c.name == name) return c;
  }
  throw std::logic_error("no control " + std::string(name));
}

class Harness {
 public:
  Harness(sim::Scene scene, const std::vector<std::string>& script);

  // Runs RunDensity; gives the failure text when the run failed.
  std::optional<std::string> Run();

  double Density(const std::string& path) const { return host.FindDocument(path)->density; }
  bool Visible(const std::string& path) const { return host.FindDocument(path)->visible; }
  bool Open(const std::string& path) const { return host.FindDocument(path)->open; }
  std::optional<std::string> Active() const { return host.scene().active; }
  std::vector<std::string> MessageTexts() const;
  // Event kinds in order ("box", "density", ...).
  std::vector<std::string> EventKinds() const;
  bool DialogsUnloaded() const {
    return toolkit.LoadedForms() == 0 && !module.PartSelectLoaded() && !module.PonderixLoaded();
  }

  sim::SimHost host;
  sim::SimShell shell;
  sim::ScriptSource actions;
  sim::HeadlessToolkit toolkit;
  Ponderix1 module;
};

}  // namespace ponderix::test
