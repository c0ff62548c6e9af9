// BuildPartFileList on assemblies of realistic shape: long Windows paths, a
// fifth of the entries repeating a file name (mostly from another folder),
// a few sub-assemblies, half the distinct names pre-selected. The oracle runs
// at the small size to show what the quadratic original costs.
#include <algorithm>
#include <array>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "partselect/part_list.h"
#include "partselect/part_list_oracle.h"

namespace {

struct Input {
  std::vector<std::string> dependencies;
  std::optional<std::vector<std::string>> preSelNames;
};

Input MakeInput(std::size_t count) {
  static const std::array<const char*, 8> kFolders = {
      "Purchased\\Fasteners\\", "Purchased\\Bearings\\",   "Machined\\",          "Sheet Metal\\",
      "Weldments\\Frame\\",     "Library\\Toolbox\\ISO\\", "Castings\\Housing\\", ""};
  static const std::array<const char*, 8> kStems = {"ISO 4762 M8x25",   "DIN 912 M6x20", "Bracket",
                                                    "Drive Shaft",      "Pump Housing",  "Cover Plate",
                                                    "Bearing 6204-2RS", "Gasket"};
  std::mt19937 rng(2031);
  const auto below = [&rng](std::size_t n) {
    return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng);
  };

  std::vector<std::string> names;  // distinct file names, in creation order
  std::vector<std::string> paths;
  Input input;
  input.preSelNames.emplace();
  for (std::size_t i = 0; i < count; ++i) {
    std::string folder = "C:\\Projects\\Pump-" + std::to_string(2000 + below(60)) + "\\" + kFolders[below(8)];
    if (!names.empty() && below(5) == 0) {
      paths.push_back(std::move(folder) + names[below(names.size())]);
      continue;
    }
    std::string name = std::string(kStems[below(8)]) + " - " + std::to_string(1000 + i) +
                       (below(30) == 0  ? ".SLDASM"
                        : below(4) == 0 ? ".sldprt"
                                        : ".SLDPRT");
    if (below(2) == 0) input.preSelNames->push_back(name);
    paths.push_back(std::move(folder) + name);
    names.push_back(std::move(name));
  }
  std::shuffle(paths.begin(), paths.end(), rng);
  for (std::string& path : paths) {
    input.dependencies.push_back(path.substr(path.rfind('\\') + 1));
    input.dependencies.push_back(std::move(path));
  }
  return input;
}

void BM_BuildPartFileList(benchmark::State& state) {
  const Input input = MakeInput(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(ponderix::BuildPartFileList(input.dependencies, input.preSelNames));
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_BuildPartFileList)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_OracleBuildPartFileList(benchmark::State& state) {
  const Input input = MakeInput(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(ponderix::oracle::BuildPartFileList(input.dependencies, input.preSelNames));
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_OracleBuildPartFileList)->Arg(1000)->Unit(benchmark::kMillisecond);

}  // namespace
