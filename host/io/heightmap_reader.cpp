#include <cpl_conv.h>
#include <cpl_error.h>
#include <cpl_string.h>
#include <gdal.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>

#include "base/huge_pages.h"
#include "base/parallel_copy.h"
#include "host/common/error.h"
#include "host/common/replace_file.h"
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
    land.heights.reserve(land.Count());
    base::AdviseHugePages(land.heights.data(), land.Count() * sizeof(float));
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

// Headerless RAW grids are read here; every other file is GDAL's to read.
bool IsRawFormat(const Format* format) { return format && !format->gdalDriver; }

// The drivers that may open `path`: the one its extension names, VRT only for .vrt,
// else any heightmap driver but VRT (so a .tif holding VRT XML is not read as one).
CPLStringList DriversFor(const std::string& path) {
  CPLStringList drivers;
  const std::string ext = Extension(path);
  const Format* format = FindFormat(path);
  if (ext == ".vrt") {
    drivers.AddString("VRT");
  } else if (format && format->gdalDriver) {
    drivers.AddString(format->gdalDriver);
    if (format->id == FormatId::kAsciiGrid) drivers.AddString("GRASSASCIIGrid");
  } else {
    for (const char* name : {"GTiff", "AAIGrid", "GRASSASCIIGrid", "PNG", "SRTMHGT", "EHdr", "ENVI",
                             "USGSDEM", "BT", "HFA", "GSAG", "GSBG", "GS7BG", "XYZ"})
      drivers.AddString(name);
  }
  return drivers;
}

// A FIFO would block the reader and a device never end: only regular files (links
// followed) and network locations are read.
void CheckRegularFile(const std::string& path) {
  if (IsNetworkPath(path)) return;
  if (const std::string problem = NotRegularFile(path); !problem.empty())
    throw Error(path, problem);
  if (const std::string problem = SideFilesProblem(path); !problem.empty())
    throw Error(path, problem);
}

// Opens a raster for reading with the drivers its name allows, its .aux.xml read too
// (where a 16-bit file keeps its scale and offset). Throws Error naming the file.
Dataset OpenRaster(const std::string& path) {
  InitGdal();
  CPLErrorReset();
  std::error_code ec;
  const CPLStringList drivers = DriversFor(path);
  CPLSetThreadLocalConfigOption("GDAL_PAM_ENABLED", "YES");
  Dataset dataset(GDALOpenEx(path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY, drivers.List(),
                             nullptr, nullptr));
  CPLSetThreadLocalConfigOption("GDAL_PAM_ENABLED", nullptr);
  if (!dataset) {
    if (!IsNetworkPath(path) && !fs::exists(fs::symlink_status(path, ec)))
      throw Error(path, "no such file");
    throw Error(path, "not a raster this program can read (" + GdalReason("unknown format") + ")");
  }
  return dataset;
}

// The band a heightmap is read from: the only one, or the one chosen (1-based).
GDALRasterBandH HeightBand(const std::string& path, GDALDatasetH ds, int chosen = 0) {
  const int bands = GDALGetRasterCount(ds);
  if (chosen == 0 && bands != 1)
    throw Error(path, "has " + std::to_string(bands) +
                          " bands; a heightmap or mask has one (choose one with --band)");
  if (chosen < 0 || chosen > bands)
    throw Error(
        path, "has no band " + std::to_string(chosen) + " (it has " + std::to_string(bands) + ")");
  return GDALGetRasterBand(ds, chosen == 0 ? 1 : chosen);
}

// The mask of `band`: 1 where a cell is NoData, whether by a value, a mask band or voids;
// empty when every cell is valid.
// `outW` x `outH` cells of it (none: the window's own size) sample the window's nearest.
std::vector<uint8_t> ReadVoids(const std::string& path, GDALRasterBandH band, int32_t w, int32_t h,
                               int32_t x0 = 0, int32_t y0 = 0, int32_t outW = 0, int32_t outH = 0) {
  std::vector<uint8_t> voids;
  if (GDALGetMaskFlags(band) & GMF_ALL_VALID) return voids;
  if (outW == 0) outW = w, outH = h;
  voids.resize(static_cast<size_t>(outW) * outH);
  if (GDALRasterIO(GDALGetMaskBand(band), GF_Read, x0, y0, w, h, voids.data(), outW, outH, GDT_Byte,
                   0, 0) != CE_None)
    throw Error(path, "its NoData mask cannot be read (" + GdalReason("read error") + ")");
  for (uint8_t& cell : voids) cell = cell == 0 ? 1 : 0;
  return voids;
}

Landscape ReadRaster(const std::string& path, int chosenBand, int64_t maxPoints,
                     const ProgressFn& progress) {
  const RasterHeights raster(path, chosenBand);
  CheckSize(path, raster.Width(), raster.Height(), maxPoints);
  Landscape land;
  land.width = raster.Width();
  land.height = raster.Height();
  Allocate(land, path);
  raster.Read(0, 0, land.width, land.height, land.heights.data(), progress);
  land.geo = raster.Geo();
  return land;
}

}  // namespace

struct RasterHeights::Band {
  Dataset dataset;
  GDALRasterBandH band = nullptr;
};

RasterHeights::RasterHeights(const std::string& path, int chosenBand)
    : path_(path), band_(std::make_unique<Band>()) {
  CheckRegularFile(path);
  if (IsRawFormat(FindFormat(path)))
    throw Error(path, "a headerless RAW grid is read whole, not by windows");
  band_->dataset = OpenRaster(path);
  GDALDatasetH ds = band_->dataset.get();
  band_->band = HeightBand(path, ds, chosenBand);
  width_ = GDALGetRasterXSize(ds);
  height_ = GDALGetRasterYSize(ds);
  int hasScale = 0, hasOffset = 0;
  double scale = GDALGetRasterScale(band_->band, &hasScale);
  double offset = GDALGetRasterOffset(band_->band, &hasOffset);
  if (!hasScale && !hasOffset) {
    const char* s = GDALGetMetadataItem(ds, kScaleKey, nullptr);
    const char* o = GDALGetMetadataItem(ds, kOffsetKey, nullptr);
    if (s && o) {
      scale = CPLAtof(s);
      offset = CPLAtof(o);
      hasScale = hasOffset = 1;
    }
  }
  geo_ = ReadGeoreference(ds, band_->band);
  if ((hasScale && scale != 1.0) || (hasOffset && offset != 0.0)) {
    geo_.scaleOffset = std::pair{scale, offset};
  } else if (GDALDataTypeIsInteger(GDALGetRasterDataType(band_->band))) {
    // Whole numbers that are the heights themselves: a 16-bit save keeps them so while
    // they fit, and a file of whole metres stays one.
    geo_.scaleOffset = std::pair{1.0, 0.0};
  }
}

RasterHeights::~RasterHeights() = default;
RasterHeights::RasterHeights(RasterHeights&&) noexcept = default;

void RasterHeights::Read(int32_t x0, int32_t y0, int32_t w, int32_t h, float* out,
                         const ProgressFn& progress, int32_t outW, int32_t outH) const {
  if (x0 < 0 || y0 < 0 || w <= 0 || h <= 0 || x0 > width_ - w || y0 > height_ - h)
    throw Error(path_, "no window " + std::to_string(w) + " x " + std::to_string(h) + " at " +
                           std::to_string(x0) + ", " + std::to_string(y0) + " in its " +
                           std::to_string(width_) + " x " + std::to_string(height_) + " grid");
  GDALRasterIOExtraArg extra;
  INIT_RASTERIO_EXTRA_ARG(extra);
  extra.pfnProgress = &GdalProgress;
  extra.pProgressData = const_cast<ProgressFn*>(&progress);
  if (outW <= 0 || outH <= 0) outW = w, outH = h;
  if (GDALRasterIOEx(band_->band, GF_Read, x0, y0, w, h, out, outW, outH, GDT_Float32, 0, 0,
                     &extra) != CE_None)
    throw Error(path_, "cannot be read (" + GdalReason("read error") + ")");
  const std::vector<uint8_t> voids = ReadVoids(path_, band_->band, w, h, x0, y0, outW, outH);
  const size_t count = static_cast<size_t>(outW) * outH;
  if (geo_.scaleOffset) {
    // Plain variables: Clang does not capture structured bindings in lambdas.
    const double scale = geo_.scaleOffset->first, offset = geo_.scaleOffset->second;
    base::ForStretches(count, base::kCopyGrain, [&](size_t begin, size_t end) {
      for (size_t i = begin; i < end; ++i) out[i] = StoredHeight(out[i], scale, offset);
    });
  }
  // A void is NaN from here on: the one void rule (voids.h) takes it from there.
  if (!voids.empty())
    for (size_t i = 0; i < count; ++i)
      if (voids[i]) out[i] = std::numeric_limits<float>::quiet_NaN();
}

Landscape ReadHeightmap(const std::string& path, const RawOptions& raw, int64_t maxPoints,
                        const ProgressFn& progress) {
  CheckRegularFile(path);
  const Format* format = FindFormat(path);
  Landscape land = IsRawFormat(format)
                       ? ReadRaw(path, raw, format->id == FormatId::kRaw16, maxPoints, progress)
                       : ReadRaster(path, raw.band, maxPoints, progress);
  FillNoData(land, path, {});
  land.RecordRange();
  Report(progress, 1.0);
  return land;
}

bool RasterHeights::CheapToSample() const {
  // Overviews answer at once; else an uncompressed file of a format read in place.
  if (GDALGetOverviewCount(band_->band) > 0) return true;
  GDALDatasetH ds = band_->dataset.get();
  const std::string driver = GDALGetDriverShortName(GDALGetDatasetDriver(ds));
  const char* compression = GDALGetMetadataItem(ds, "COMPRESSION", "IMAGE_STRUCTURE");
  const bool plain = !compression || EQUAL(compression, "NONE");
  return plain && (driver == "GTiff" || driver == "ENVI" || driver == "EHdr" || driver == "HFA" ||
                   driver == "BT");
}

std::optional<Landscape> ReadQuickLook(const std::string& path, const RawOptions& raw,
                                       int32_t longest) {
  CheckRegularFile(path);
  const Format* format = FindFormat(path);
  Landscape look;
  if (IsRawFormat(format)) {
    look = ReadRawEvery(path, raw, format->id == FormatId::kRaw16, longest);
  } else {
    const RasterHeights raster(path, raw.band);
    if (!raster.CheapToSample()) return std::nullopt;
    const int32_t every = EveryNth(raster.Width(), raster.Height(), longest);
    look.width = (raster.Width() + every - 1) / every;
    look.height = (raster.Height() + every - 1) / every;
    Allocate(look, path);
    raster.Read(0, 0, raster.Width(), raster.Height(), look.heights.data(), {}, look.width,
                look.height);
    look.geo = raster.Geo();
    // Each cell of the look covers the file's cells it stands for: the same ground.
    if (auto& t = look.geo.geoTransform) {
      const double across = static_cast<double>(raster.Width()) / look.width;
      const double down = static_cast<double>(raster.Height()) / look.height;
      (*t)[1] *= across;
      (*t)[4] *= across;
      (*t)[2] *= down;
      (*t)[5] *= down;
    }
  }
  FillNoData(look, path, {});
  look.RecordRange();
  return look;
}

std::pair<int32_t, int32_t> GridSizeOf(const std::string& path, const RawOptions& raw) {
  CheckRegularFile(path);
  const Format* format = FindFormat(path);
  if (IsRawFormat(format)) {
    const auto [w, h] = RawGridSize(path, raw, format->id == FormatId::kRaw16, kMaxGridPoints - 1);
    return {static_cast<int32_t>(w), static_cast<int32_t>(h)};
  }
  const Dataset dataset = OpenRaster(path);
  HeightBand(path, dataset.get(), raw.band);
  return {GDALGetRasterXSize(dataset.get()), GDALGetRasterYSize(dataset.get())};
}

std::optional<int> RasterBandCount(const std::string& path) {
  const Format* format = FindFormat(path);
  if (IsRawFormat(format)) return std::nullopt;
  try {
    const Dataset dataset = OpenRaster(path);
    return GDALGetRasterCount(dataset.get());
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

Weights ReadWeights(const std::string& path, int32_t width, int32_t height) {
  auto checkSize = [&](int32_t w, int32_t h) {
    if (w != width || h != height)
      throw Error(path, "the mask is " + std::to_string(w) + " x " + std::to_string(h) +
                            ", the landscape " + std::to_string(width) + " x " +
                            std::to_string(height));
  };
  CheckRegularFile(path);
  Weights weights;
  std::vector<uint8_t> voids;
  double largest = 1.0;  // the stored value that weighs 1
  bool clamps = false;   // floats: values beyond 0..1 are clamped and counted
  const Format* format = FindFormat(path);
  if (IsRawFormat(format)) {
    const bool sixteenBit = format->id == FormatId::kRaw16;
    RawOptions raw;
    raw.size = std::pair{width, height};
    raw.range = sixteenBit ? std::optional(std::pair{0.0, 65535.0}) : std::nullopt;
    Landscape mask = ReadRaw(path, raw, sixteenBit, kMaxGridPoints - 1, {});
    checkSize(mask.width, mask.height);
    weights.values.assign(mask.heights.begin(), mask.heights.end());
    largest = sixteenBit ? 65535.0 : 1.0;
    clamps = !sixteenBit;
  } else {
    const Dataset dataset = OpenRaster(path);
    HeightBand(path, dataset.get());
    checkSize(GDALGetRasterXSize(dataset.get()), GDALGetRasterYSize(dataset.get()));
    GDALRasterBandH band = GDALGetRasterBand(dataset.get(), 1);
    weights.values.resize(static_cast<size_t>(width) * height);
    if (GDALRasterIO(band, GF_Read, 0, 0, width, height, weights.values.data(), width, height,
                     GDT_Float32, 0, 0) != CE_None)
      throw Error(path, "cannot be read (" + GdalReason("read error") + ")");
    voids = ReadVoids(path, band, width, height);
    const GDALDataType type = GDALGetRasterDataType(band);
    clamps = GDALDataTypeIsFloating(type);
    if (!clamps && GDALDataTypeIsInteger(type))
      largest =
          std::ldexp(1.0, GDALGetDataTypeSizeBits(type) - (GDALDataTypeIsSigned(type) ? 1 : 0)) - 1;
  }
  for (size_t i = 0; i < weights.values.size(); ++i) {
    float& w = weights.values[i];
    if ((!voids.empty() && voids[i]) || std::isnan(w)) {
      w = 0.0f;
      continue;
    }
    const double weight = w / largest;
    if (clamps && (weight < 0.0 || weight > 1.0)) ++weights.clamped;
    w = static_cast<float>(std::clamp(weight, 0.0, 1.0));
  }
  return weights;
}

}  // namespace host
