// BuildPartFileList on assemblies of realistic shape: long Windows paths, a
// fifth of the entries repeating a file name (mostly from another folder),
// a few sub-assemblies, half the distinct names pre-selected. The oracle runs
// at the smaller sizes to show what the quadratic original costs.
#include <array>
#include <cstddef>
#include <optional>
#include <random>
#include <string>
#include <utility>
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
  // Plain modulo and a hand-written shuffle: the standard distributions and
  // std::shuffle differ between standard libraries, and every platform should
  // measure the same input.
  std::mt19937 rng(2031);
  const auto below = [&rng](std::size_t n) { return static_cast<std::size_t>(rng()) % n; };

  std::vector<std::string> names;  // distinct file names, in creation order
  std::vector<std::string> paths;
  Input input;
  input.preSelNames.emplace();
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t project = 2000 + below(60);
    std::string folder = "C:\\Projects\\Pump-" + std::to_string(project) + "\\" + kFolders[below(8)];
    if (!names.empty() && below(5) == 0) {
      paths.push_back(std::move(folder) + names[below(names.size())]);
      continue;
    }
    const char* stem = kStems[below(8)];
    const char* extension = below(30) == 0 ? ".SLDASM" : below(4) == 0 ? ".sldprt" : ".SLDPRT";
    std::string name = std::string(stem) + " - " + std::to_string(1000 + i) + extension;
    if (below(2) == 0) input.preSelNames->push_back(name);
    paths.push_back(std::move(folder) + name);
    names.push_back(std::move(name));
  }
  for (std::size_t i = paths.size(); i > 1; --i) std::swap(paths[i - 1], paths[below(i)]);
  for (std::string& path : paths) {
    input.dependencies.push_back(path.substr(path.rfind('\\') + 1));
    input.dependencies.push_back(std::move(path));
  }
  return input;
}

void BM_BuildPartFileList(benchmark::State& state) {
  const Input input = MakeInput(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    state.PauseTiming();  // the host hands the list over; copying it is not the function's cost
    std::vector<std::string> dependencies = input.dependencies;
    state.ResumeTiming();
    benchmark::DoNotOptimize(ponderix::BuildPartFileList(std::move(dependencies), input.preSelNames));
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
// 10,000 takes several seconds for its single iteration; 100,000 would take ten minutes or more.
BENCHMARK(BM_OracleBuildPartFileList)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace
