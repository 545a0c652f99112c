// A step of the window's history on grids of the sizes terrain artists edit: what a
// whole-grid edit (Soften) and a brush-sized edit (a 128² box) cost to keep and to undo,
// against the whole copy of the grid the history kept before (the baseline, in the same
// run). Counters: the bytes a step keeps, and how many such steps the history's 1 GiB
// holds.
#include <benchmark/benchmark.h>

#include <QUndoStack>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <random>

#include "base/parallel_copy.h"
#include "host/ui/history.h"
#include "host/ui/main_window.h"
#include "terrain/operations.h"

namespace {

struct Edit {
  host::Landscape before, after;
};

// Terrain-like heights (ridges over a few octaves, a little noise, 0..2000 m), then the
// edit: Soften over the whole grid, or a 128² box raised by a smooth bump.
const Edit& EditOf(int32_t side, bool whole) {
  static std::map<std::pair<int32_t, bool>, std::unique_ptr<Edit>> edits;
  auto& e = edits[{side, whole}];
  if (e) return *e;
  e = std::make_unique<Edit>();
  host::Landscape& land = e->before;
  land.width = land.height = side;
  land.heights.resize(land.Count());
  std::mt19937 rng(7);
  std::normal_distribution<float> noise(0.0f, 0.5f);
  for (int32_t y = 0; y < side; ++y)
    for (int32_t x = 0; x < side; ++x) {
      double h = 1000.0;
      for (int octave = 0; octave < 5; ++octave) {
        const double f = (1 << octave) * 6.0 / side;
        h += 400.0 / (1 << octave) * std::sin(x * f + octave) * std::cos(y * f * 1.3 - octave);
      }
      land.heights[static_cast<size_t>(y) * side + x] = static_cast<float>(h) + noise(rng);
    }
  land.RecordRange();
  e->after = land;
  if (whole) {
    terrain::Soften({side, side}, land.heights, e->after.heights);
  } else {
    for (int32_t y = 0; y < 128; ++y)
      for (int32_t x = 0; x < 128; ++x)
        e->after.heights[static_cast<size_t>(y + side / 3) * side + x + side / 3] +=
            static_cast<float>(20.0 * std::sin(x * M_PI / 128) * std::sin(y * M_PI / 128));
  }
  e->after.RecordRange();
  return *e;
}

void Counters(benchmark::State& state, size_t bytes) {
  state.counters["step_MB"] = static_cast<double>(bytes) / 1e6;
  state.counters["steps_per_GiB"] =
      static_cast<double>(host::MainWindow::kHistoryBytes) / static_cast<double>(bytes);
}

// The baseline: the whole copy a step used to keep.
void BM_WholeCopy(benchmark::State& state) {
  const Edit& e = EditOf(static_cast<int32_t>(state.range(0)), state.range(1) != 0);
  for (auto _ : state) {
    host::Heights copy(e.before.heights.size());
    base::CopyFloats(e.before.heights.data(), copy.data(), copy.size());
    benchmark::DoNotOptimize(copy.data());
  }
  Counters(state, e.before.Count() * sizeof(float));
}

void BM_MakeStep(benchmark::State& state) {
  const Edit& e = EditOf(static_cast<int32_t>(state.range(0)), state.range(1) != 0);
  size_t bytes = 0;
  for (auto _ : state) {
    const host::LandscapeChange change(e.before, e.after);
    bytes = change.Bytes();
  }
  Counters(state, bytes);
}

void BM_Undo(benchmark::State& state) {
  const Edit& e = EditOf(static_cast<int32_t>(state.range(0)), state.range(1) != 0);
  const host::LandscapeChange change(e.before, e.after);
  host::Landscape land = e.after;
  bool back = true;
  for (auto _ : state) {
    change.ApplyTo(land, back);
    back = !back;
  }
  Counters(state, change.Bytes());
}

// Twenty whole-grid Softens in a row, kept within the window's bound as the window keeps
// them: counters for the steps kept, how many are made again rather than undone by their
// difference, and the bytes; timed, two undos and two redos, the second undo made again
// from the landscape the history keeps whole: against BM_Soften in the same run.
void BM_TwentySofts(benchmark::State& state) {
  host::Landscape land = EditOf(static_cast<int32_t>(state.range(0)), true).before;
  const host::Remake soften = [](host::Landscape& l) {
    host::Heights result(l.heights.size());
    terrain::Soften({l.width, l.height}, l.heights, result);
    l.heights.swap(result);
    return true;
  };
  QUndoStack history;
  for (int i = 0; i < 20; ++i) {
    host::Landscape before = land;
    soften(land);
    history.push(new host::LandscapeStep(
        [&](const host::LandscapeChange& c, bool back) {
          if (!host::ApplyStep(history, c, back, land)) state.SkipWithError("not made again");
        },
        "Soften",
        std::make_shared<host::LandscapeChange>(std::move(before), land, host::CellBox{}, nullptr,
                                                soften)));
    host::SettleHistory(history);
    host::KeepHistoryWithin(history, host::MainWindow::kHistoryBytes, &land);
  }
  int forgotten = 0;
  for (int i = 0; i < history.count(); ++i)
    forgotten += dynamic_cast<const host::LandscapeStep*>(history.command(i))->Of().Forgotten();
  for (auto _ : state) {
    history.setIndex(history.count() - 2);
    history.setIndex(history.count());
  }
  state.counters["steps"] = history.count();
  state.counters["made_again"] = forgotten;
  state.counters["history_MB"] = static_cast<double>(host::HistoryBytes(history)) / 1e6;
}

void BM_Soften(benchmark::State& state) {
  const host::Landscape& land = EditOf(static_cast<int32_t>(state.range(0)), true).before;
  host::Heights result(land.heights.size());
  terrain::Soften({land.width, land.height}, land.heights, result);  // its pages touched
  for (auto _ : state) terrain::Soften({land.width, land.height}, land.heights, result);
}

// {side, whole grid (1) or a brush's box (0)}
#define SIZES ->Args({4096, 1})->Args({4096, 0})->Args({16384, 1})->Args({16384, 0})
BENCHMARK(BM_WholeCopy) SIZES->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_MakeStep) SIZES->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Undo) SIZES->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Soften)->Arg(4096)->Arg(16384)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_TwentySofts)
    ->Arg(4096)
    ->Arg(16384)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
