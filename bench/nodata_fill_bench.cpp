// Opening an SRTM-like tile with voids: 1201 x 1201 Int16 with 90% of its cells NoData,
// read and filled as the host opens it, against the same tile with every cell valid
// (the read alone) and against GDAL's own fill on the same grid: with gdal_fillnodata's
// defaults (search distance 100, no smoothing) and over the whole grid.
#include <benchmark/benchmark.h>
#include <gdal.h>
#include <gdal_alg.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "host/io/heightmap_io.h"

namespace {

constexpr int kSide = 1201;
constexpr int16_t kVoid = -32768;

// Terrain-like heights, with 90% of the cells NoData in wide holes (valid cells only
// on patches 60 to 80 cells across) when `voids` is set: the hard case for a fill that
// searches outward from each void.
std::string MakeTile(const char* name, bool voids) {
  GDALAllRegister();
  const std::string path = std::string("/tmp/") + name;
  GDALDatasetH ds =
      GDALCreate(GDALGetDriverByName("GTiff"), path.c_str(), kSide, kSide, 1, GDT_Int16, nullptr);
  std::vector<int16_t> values(static_cast<size_t>(kSide) * kSide);
  for (int y = 0; y < kSide; ++y)
    for (int x = 0; x < kSide; ++x) {
      const bool hole = voids && std::sin(x * 0.02) * std::cos(y * 0.017) <= 0.7;
      values[static_cast<size_t>(y) * kSide + x] =
          hole ? kVoid : static_cast<int16_t>(500 + 300 * std::sin(x * 0.01) * std::cos(y * 0.013));
    }
  GDALRasterBandH band = GDALGetRasterBand(ds, 1);
  if (voids) GDALSetRasterNoDataValue(band, kVoid);
  if (GDALRasterIO(band, GF_Write, 0, 0, kSide, kSide, values.data(), kSide, kSide, GDT_Int16, 0,
                   0) != CE_None)
    std::abort();
  GDALClose(ds);
  return path;
}

void BM_OpenWithVoids(benchmark::State& state) {
  const std::string path = MakeTile("kelvamor-bench-voids.tif", true);
  for (auto _ : state) benchmark::DoNotOptimize(host::ReadHeightmap(path).heights.data());
  std::remove(path.c_str());
}

void BM_OpenWithoutVoids(benchmark::State& state) {
  const std::string path = MakeTile("kelvamor-bench-full.tif", false);
  for (auto _ : state) benchmark::DoNotOptimize(host::ReadHeightmap(path).heights.data());
  std::remove(path.c_str());
}

// GDAL's fill, searching `state.range(0)` cells (0: the whole grid, as this host did
// before its own fill).
void BM_GdalFill(benchmark::State& state) {
  const double distance = state.range(0) > 0 ? static_cast<double>(state.range(0)) : 2.0 * kSide;
  const std::string path = MakeTile("kelvamor-bench-gdal.tif", true);
  for (auto _ : state) {
    state.PauseTiming();
    GDALDatasetH source = GDALOpen(path.c_str(), GA_ReadOnly);
    GDALDatasetH copy =
        GDALCreateCopy(GDALGetDriverByName("MEM"), "", source, FALSE, nullptr, nullptr, nullptr);
    GDALClose(source);
    state.ResumeTiming();
    GDALRasterBandH band = GDALGetRasterBand(copy, 1);
    GDALFillNodata(band, nullptr, distance, 0, 0, nullptr, nullptr, nullptr);
    GDALClose(copy);
  }
  std::remove(path.c_str());
}

BENCHMARK(BM_OpenWithoutVoids)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenWithVoids)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GdalFill)->Arg(100)->Arg(0)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
