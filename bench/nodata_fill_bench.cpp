// Opening an SRTM-like tile with voids: 1201 x 1201 Int16 with 90% of its cells NoData,
// read and filled as the host opens it, against the same tile with every cell valid
// (the read alone) and against GDAL's own fill with gdal_fillnodata's defaults (search
// distance 100, no smoothing) on the same grid.
#include <benchmark/benchmark.h>
#include <gdal.h>
#include <gdal_alg.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "host/io/heightmap_io.h"

namespace {

constexpr int kSide = 1201;
constexpr int16_t kVoid = -32768;

// Terrain-like heights with `voidShare` of the cells NoData, in clustered holes as
// real voids come.
std::string MakeTile(const char* name, double voidShare) {
  GDALAllRegister();
  const std::string path = std::string("/tmp/") + name;
  GDALDatasetH ds =
      GDALCreate(GDALGetDriverByName("GTiff"), path.c_str(), kSide, kSide, 1, GDT_Int16, nullptr);
  std::vector<int16_t> values(static_cast<size_t>(kSide) * kSide);
  std::mt19937 random(7);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (int y = 0; y < kSide; ++y)
    for (int x = 0; x < kSide; ++x) {
      const bool hole = unit(random) < voidShare;
      values[static_cast<size_t>(y) * kSide + x] =
          hole ? kVoid : static_cast<int16_t>(500 + 300 * std::sin(x * 0.01) * std::cos(y * 0.013));
    }
  GDALRasterBandH band = GDALGetRasterBand(ds, 1);
  if (voidShare > 0) GDALSetRasterNoDataValue(band, kVoid);
  if (GDALRasterIO(band, GF_Write, 0, 0, kSide, kSide, values.data(), kSide, kSide, GDT_Int16, 0,
                   0) != CE_None)
    std::abort();
  GDALClose(ds);
  return path;
}

void BM_OpenWithVoids(benchmark::State& state) {
  const std::string path = MakeTile("kelvamor-bench-voids.tif", 0.9);
  for (auto _ : state) benchmark::DoNotOptimize(host::ReadHeightmap(path).heights.data());
  std::remove(path.c_str());
}

void BM_OpenWithoutVoids(benchmark::State& state) {
  const std::string path = MakeTile("kelvamor-bench-full.tif", 0.0);
  for (auto _ : state) benchmark::DoNotOptimize(host::ReadHeightmap(path).heights.data());
  std::remove(path.c_str());
}

void BM_GdalFillDefaults(benchmark::State& state) {
  const std::string path = MakeTile("kelvamor-bench-gdal.tif", 0.9);
  for (auto _ : state) {
    state.PauseTiming();
    GDALDatasetH source = GDALOpen(path.c_str(), GA_ReadOnly);
    GDALDatasetH copy =
        GDALCreateCopy(GDALGetDriverByName("MEM"), "", source, FALSE, nullptr, nullptr, nullptr);
    GDALClose(source);
    state.ResumeTiming();
    GDALRasterBandH band = GDALGetRasterBand(copy, 1);
    GDALFillNodata(band, nullptr, 100, 0, 0, nullptr, nullptr, nullptr);
    GDALClose(copy);
  }
  std::remove(path.c_str());
}

BENCHMARK(BM_OpenWithoutVoids)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenWithVoids)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GdalFillDefaults)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
