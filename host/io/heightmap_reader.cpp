#include <cpl_conv.h>
#include <cpl_error.h>
#include <gdal.h>

#include <algorithm>
#include <filesystem>

#include "host/io/error.h"
#include "host/io/formats.h"
#include "host/io/gdal_internal.h"
#include "host/io/georeference_internal.h"
#include "host/io/heightmap_io.h"
#include "host/io/reading_internal.h"

namespace host {
namespace io_internal {

void CheckSize(const std::string& path, int64_t width, int64_t height, int64_t maxPoints) {
  if (width <= 0 || height <= 0)
    throw Error(
        path, "the grid is empty (" + std::to_string(width) + " x " + std::to_string(height) + ")");
  const int64_t limit = std::min(maxPoints, kMaxGridPoints - 1);
  if (width * height > limit)
    throw Error(path, "the grid has " + std::to_string(width * height) + " points; at most " +
                          std::to_string(limit) +
                          (limit == kMaxGridPoints - 1 ? " (2^30 - 1)" : "") + " are supported");
}

// Sets the grid's memory aside, or says how much it needed.
void Allocate(Landscape& land, const std::string& path) {
  try {
    land.heights.resize(land.Count());
  } catch (const std::bad_alloc&) {
    throw Error(path, "not enough memory for its " + std::to_string(land.width) + " x " +
                          std::to_string(land.height) + " grid (" +
                          std::to_string(land.Count() * sizeof(float) >> 20) + " MB)");
  }
}

}  // namespace io_internal

using namespace io_internal;

namespace {

namespace fs = std::filesystem;

Landscape ReadRaster(const std::string& path, int64_t maxPoints, const ProgressFn& progress) {
  InitGdal();
  CPLErrorReset();
  const Dataset dataset(GDALOpen(path.c_str(), GA_ReadOnly));
  if (!dataset) {
    std::error_code ec;
    if (!fs::exists(path, ec)) throw Error(path, "no such file");
    throw Error(path, "not a raster this program can read (" + GdalReason("unknown format") + ")");
  }
  GDALDatasetH ds = dataset.get();
  const int bands = GDALGetRasterCount(ds);
  if (bands != 1) throw Error(path, "has " + std::to_string(bands) + " bands; a heightmap has one");
  CheckSize(path, GDALGetRasterXSize(ds), GDALGetRasterYSize(ds), maxPoints);
  Landscape land;
  land.width = GDALGetRasterXSize(ds);
  land.height = GDALGetRasterYSize(ds);
  Allocate(land, path);
  GDALRasterBandH band = GDALGetRasterBand(ds, 1);
  GDALRasterIOExtraArg extra;
  INIT_RASTERIO_EXTRA_ARG(extra);
  extra.pfnProgress = &GdalProgress;
  extra.pProgressData = const_cast<ProgressFn*>(&progress);
  if (GDALRasterIOEx(band, GF_Read, 0, 0, land.width, land.height, land.heights.data(), land.width,
                     land.height, GDT_Float32, 0, 0, &extra) != CE_None)
    throw Error(path, "cannot be read (" + GdalReason("read error") + ")");
  // The mask says which cells are NoData, whether by a value, a mask band or voids.
  if (!(GDALGetMaskFlags(band) & GMF_ALL_VALID)) {
    land.noData.resize(land.Count());
    if (GDALRasterIO(GDALGetMaskBand(band), GF_Read, 0, 0, land.width, land.height,
                     land.noData.data(), land.width, land.height, GDT_Byte, 0, 0) != CE_None)
      throw Error(path, "its NoData mask cannot be read (" + GdalReason("read error") + ")");
    for (uint8_t& cell : land.noData) cell = cell == 0 ? 1 : 0;
  }
  int hasScale = 0, hasOffset = 0;
  double scale = GDALGetRasterScale(band, &hasScale);
  double offset = GDALGetRasterOffset(band, &hasOffset);
  if (!hasScale && !hasOffset) {
    const char* s = GDALGetMetadataItem(ds, kScaleKey, nullptr);
    const char* o = GDALGetMetadataItem(ds, kOffsetKey, nullptr);
    if (s && o) {
      scale = CPLAtof(s);
      offset = CPLAtof(o);
      hasScale = hasOffset = 1;
    }
  }
  if ((hasScale && scale != 1.0) || (hasOffset && offset != 0.0))
    for (float& h : land.heights) h = static_cast<float>(h * scale + offset);
  land.geo = ReadGeoreference(ds, band);
  return land;
}

// Headerless RAW grids are read here; every other file is GDAL's to read.
bool IsRaw(const Format* format) { return format && !format->gdalDriver; }

}  // namespace

Landscape ReadHeightmap(const std::string& path, const RawOptions& raw, int64_t maxPoints,
                        const ProgressFn& progress) {
  const Format* format = FindFormat(path);
  Landscape land = IsRaw(format)
                       ? ReadRaw(path, raw, format->id == FormatId::kRaw16, maxPoints, progress)
                       : ReadRaster(path, maxPoints, progress);
  FillNoData(land, path, {});
  land.RecordRange();
  Report(progress, 1.0);
  return land;
}

std::pair<int32_t, int32_t> GridSizeOf(const std::string& path, const RawOptions& raw) {
  const Format* format = FindFormat(path);
  if (IsRaw(format)) {
    const auto [w, h] = RawGridSize(path, raw, format->id == FormatId::kRaw16, kMaxGridPoints - 1);
    return {static_cast<int32_t>(w), static_cast<int32_t>(h)};
  }
  InitGdal();
  CPLErrorReset();
  const Dataset dataset(GDALOpen(path.c_str(), GA_ReadOnly));
  if (!dataset)
    throw Error(path, "not a raster this program can read (" + GdalReason("unknown format") + ")");
  return {GDALGetRasterXSize(dataset.get()), GDALGetRasterYSize(dataset.get())};
}

std::vector<float> ReadWeights(const std::string& path, int32_t width, int32_t height) {
  const Landscape mask = ReadHeightmap(path, RawOptions{std::pair{width, height}, {}});
  if (mask.width != width || mask.height != height)
    throw Error(path, "the mask is " + std::to_string(mask.width) + " x " +
                          std::to_string(mask.height) + ", the landscape " + std::to_string(width) +
                          " x " + std::to_string(height));
  // Weights 0..1 as they are; a mask that goes beyond 1 is taken as 0..255.
  const double scale = mask.maxHeight > 1.0 ? 1.0 / 255.0 : 1.0;
  std::vector<float> weights(mask.Count());
  for (size_t i = 0; i < weights.size(); ++i)
    weights[i] =
        mask.IsNoData(i) ? 0.0f : static_cast<float>(std::clamp(mask.heights[i] * scale, 0.0, 1.0));
  return weights;
}

}  // namespace host
