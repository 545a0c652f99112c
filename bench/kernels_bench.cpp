// The seven kernels against two baselines on the same grid, in one run: a copy of the
// source into the result (what any operation must at least do) and a read of the
// source (a sum). Each at one thread and at every thread (the third argument, 0 for
// all); the copy is shared out the same way. bench/peers.py turns the output into
// ratios to the copy.
#include <benchmark/benchmark.h>
#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>
#include <tbb/task_arena.h>

#include <cstring>
#include <memory>
#include <numeric>
#include <random>
#include <vector>

#include "terrain/operations.h"

namespace {

struct Grid {
  terrain::GridSize size;
  std::vector<float> source;
  std::vector<float> result;
};

Grid& GridOf(int64_t width, int64_t height) {
  static std::vector<std::unique_ptr<Grid>> grids;
  for (auto& g : grids)
    if (g->size.width == width && g->size.height == height) return *g;
  auto g = std::make_unique<Grid>();
  g->size = {static_cast<int32_t>(width), static_cast<int32_t>(height)};
  g->source.resize(g->size.Count());
  g->result.resize(g->size.Count());
  std::mt19937 rng(11);
  std::uniform_real_distribution<float> h(-200.0f, 1800.0f);
  for (float& v : g->source) v = h(rng);
  grids.push_back(std::move(g));
  return *grids.back();
}

template <typename Kernel>
void Run(benchmark::State& state, Kernel kernel) {
  Grid& g = GridOf(state.range(0), state.range(1));
  const int threads =
      state.range(2) > 0 ? static_cast<int>(state.range(2)) : tbb::task_arena::automatic;
  tbb::task_arena arena(threads);
  for (auto _ : state) {
    arena.execute([&] { kernel(g); });
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(g.size.Count()));
  state.counters["threads"] = arena.max_concurrency();
}

void BM_Copy(benchmark::State& s) {
  Run(s, [](Grid& g) {
    if (tbb::this_task_arena::max_concurrency() == 1) {
      std::memcpy(g.result.data(), g.source.data(), g.source.size() * 4);
      return;
    }
    // In row bands, as the kernels share out their work.
    tbb::parallel_for(tbb::blocked_range<size_t>(0, g.source.size(), size_t{1} << 16),
                      [&](const tbb::blocked_range<size_t>& r) {
                        std::memcpy(g.result.data() + r.begin(), g.source.data() + r.begin(),
                                    r.size() * 4);
                      });
  });
}
void BM_Sum(benchmark::State& s) {
  Run(s, [](Grid& g) {
    benchmark::DoNotOptimize(std::reduce(g.source.begin(), g.source.end(), 0.0f));
  });
}
void BM_Soften(benchmark::State& s) {
  Run(s, [](Grid& g) { terrain::Soften(g.size, g.source, g.result); });
}
void BM_SoftenMore(benchmark::State& s) {
  Run(s, [](Grid& g) { terrain::SoftenMore(g.size, g.source, g.result); });
}
void BM_Flatten(benchmark::State& s) {
  Run(s, [](Grid& g) { terrain::Flatten(g.size, g.source, g.result, {100.0, 40}); });
}
void BM_Glaciate(benchmark::State& s) {
  Run(s, [](Grid& g) { terrain::Glaciate(g.size, g.source, g.result, {30, -200.0, 1800.0}); });
}
void BM_Canyonize(benchmark::State& s) {
  Run(s, [](Grid& g) { terrain::Canyonize(g.size, g.source, g.result, {30, -200.0, 1800.0}); });
}
void BM_Hill(benchmark::State& s) {
  Run(s, [](Grid& g) { terrain::AddHill(g.size, g.source, g.result, {0.4, 0.6, 250.0, 0.2}); });
}
void BM_Noise(benchmark::State& s) {
  Run(s, [](Grid& g) {
    terrain::NoiseParameters p;
    p.amplitudePercent = 20;
    p.coveragePercent = 50;
    p.ignoreWater = false;
    p.minHeight = -200.0;
    p.maxHeight = 1800.0;
    terrain::AddNoise(g.size, g.source, g.result, p, nullptr);
  });
}

void Sizes(benchmark::internal::Benchmark* b) {
  for (const int threads : {1, 0})
    b->Args({1024, 1024, threads})->Args({4096, 4096, threads})->Args({4097, 3001, threads});
  b->Unit(benchmark::kMillisecond)->UseRealTime();
}

BENCHMARK(BM_Copy)->Apply(Sizes);
BENCHMARK(BM_Sum)->Apply(Sizes);
BENCHMARK(BM_Soften)->Apply(Sizes);
BENCHMARK(BM_SoftenMore)->Apply(Sizes);
BENCHMARK(BM_Flatten)->Apply(Sizes);
BENCHMARK(BM_Glaciate)->Apply(Sizes);
BENCHMARK(BM_Canyonize)->Apply(Sizes);
BENCHMARK(BM_Hill)->Apply(Sizes);
BENCHMARK(BM_Noise)->Apply(Sizes);

}  // namespace

BENCHMARK_MAIN();
