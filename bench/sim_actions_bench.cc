// The headless toolkit's actions on a list of N rows: `tick ROW` by row number
// and by row text. An action reads the shown form without copying it, so the
// time per action stays flat as N grows.
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "sim/headless_toolkit.h"

namespace {

using ponderix::sim::Action;

// `count` ticks of rows spread over the list (a fixed stride), then the close box.
class Ticks : public ponderix::sim::ActionSource {
 public:
  Ticks(const std::vector<std::string>& rows, bool byText) : rows_(rows), byText_(byText) {}
  void Start(std::size_t count) { left_ = count; }
  std::optional<Action> Next(const ponderix::sim::FormSnapshot& /*shown*/) override {
    Action a;
    if (left_ == 0) {
      a.kind = Action::Kind::kClose;
      return a;
    }
    --left_;
    row_ = (row_ + 7919) % rows_.size();
    a.kind = left_ % 2 == 0 ? Action::Kind::kTick : Action::Kind::kUntick;
    a.argument = byText_ ? rows_[row_] : std::to_string(row_);
    return a;
  }

 private:
  const std::vector<std::string>& rows_;
  bool byText_;
  std::size_t left_ = 0;
  std::size_t row_ = 0;
};

void TickActions(benchmark::State& state, bool byText) {
  constexpr std::size_t kActions = 1000;
  std::vector<std::string> rows;
  for (int64_t i = 0; i < state.range(0); ++i)
    rows.push_back("Cover Plate - " + std::to_string(1000 + i) + ".SLDPRT");
  ponderix::FormLayout layout;
  layout.name = "frmBench";
  layout.controls.push_back(
      ponderix::MakeControl("lboParts", ponderix::ControlKind::kCheckList, 0, 0, 100, 100, 0, true));
  ponderix::sim::SimHost host(ponderix::sim::Scene{});
  Ticks ticks(rows, byText);
  ponderix::sim::HeadlessToolkit toolkit(host, ticks);
  ponderix::FormEvents events;
  const auto form = toolkit.LoadForm(layout, events);
  form->CheckList("lboParts").SetRows(rows);
  for (auto _ : state) {
    ticks.Start(kActions);
    form->ShowModal();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kActions));
}

void BM_TickByNumber(benchmark::State& state) { TickActions(state, false); }
void BM_TickByText(benchmark::State& state) { TickActions(state, true); }
BENCHMARK(BM_TickByNumber)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TickByText)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond);

}  // namespace
