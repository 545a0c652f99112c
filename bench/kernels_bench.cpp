// The seven kernels against two baselines on the same grid, in one run: a copy of the
// source into the result (what any operation must at least do) and a read of the
// source (a sum). bench/report.py turns the output into ratios to the copy.
#include <benchmark/benchmark.h>

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
  for (auto _ : state) {
    kernel(g);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(g.size.Count()));
}

void BM_Copy(benchmark::State& s) {
  Run(s, [](Grid& g) { std::memcpy(g.result.data(), g.source.data(), g.source.size() * 4); });
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
  b->Args({1024, 1024})->Args({4096, 4096})->Args({4097, 3001})->Unit(benchmark::kMillisecond);
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
