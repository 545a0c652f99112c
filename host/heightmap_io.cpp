#include "host/heightmap_io.h"

#include <cpl_conv.h>
#include <cpl_error.h>
#include <cpl_string.h>
#include <gdal.h>
#include <gdal_alg.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <stdexcept>

#include "host/replace_file.h"

namespace host {
namespace {

namespace fs = std::filesystem;

// Metadata keys that carry a 16-bit PNG's height range in the file itself.
constexpr char kScaleKey[] = "HEIGHT_SCALE";
constexpr char kOffsetKey[] = "HEIGHT_OFFSET";
// Rows written to GDAL at a time, through a buffer where NoData cells get their value.
constexpr int32_t kRowsPerBlock = 256;

std::string Extension(const std::string& path) {
  std::string ext = fs::path(path).extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return std::tolower(c); });
  return ext;
}

void InitGdal() {
  static const bool ready = [] {
    GDALAllRegister();
    CPLSetConfigOption("GDAL_PAM_ENABLED", "NO");  // no .aux.xml files beside ours
    CPLSetConfigOption("GDAL_CACHEMAX", "64");     // megabytes; we hold the grid ourselves
    CPLSetErrorHandler(CPLQuietErrorHandler);
    return true;
  }();
  (void)ready;
}

std::string GdalReason(const char* fallback) {
  const char* message = CPLGetLastErrorMsg();
  return message && *message ? message : fallback;
}

struct DatasetCloser {
  void operator()(void* dataset) const { GDALClose(dataset); }
};
using Dataset = std::unique_ptr<void, DatasetCloser>;

void CheckSize(const std::string& path, int64_t width, int64_t height, int64_t maxPoints) {
  if (width <= 0 || height <= 0)
    throw HeightmapError(
        path, "the grid is empty (" + std::to_string(width) + " x " + std::to_string(height) + ")");
  const int64_t limit = std::min(maxPoints, kMaxGridPoints - 1);
  if (width * height > limit)
    throw HeightmapError(path, "the grid has " + std::to_string(width * height) +
                                   " points; at most " + std::to_string(limit) +
                                   (limit == kMaxGridPoints - 1 ? " (2^30 - 1)" : "") +
                                   " are supported");
}

// Sets the grid's memory aside, or says how much it needed.
void Allocate(Landscape& land, const std::string& path) {
  try {
    land.heights.resize(land.Count());
  } catch (const std::bad_alloc&) {
    throw HeightmapError(path, "not enough memory for its " + std::to_string(land.width) + " x " +
                                   std::to_string(land.height) + " grid (" +
                                   std::to_string(land.Count() * sizeof(float) >> 20) + " MB)");
  }
}

void Report(const ProgressFn& progress, double done) {
  if (progress) progress(done);
}

// The grid a RAW file holds, from its length and --size.
std::pair<int64_t, int64_t> RawGridSize(const std::string& path, const RawOptions& raw,
                                        bool sixteenBit, int64_t maxPoints) {
  std::error_code ec;
  const auto bytes = fs::file_size(path, ec);
  if (ec) throw HeightmapError(path, ec.message());
  if (bytes == 0) throw HeightmapError(path, "the file is empty");
  const uint64_t sampleSize = sixteenBit ? 2 : 4;
  if (bytes % sampleSize != 0)
    throw HeightmapError(
        path, "the length (" + std::to_string(bytes) + " bytes) is not a whole number of samples");
  const uint64_t samples = bytes / sampleSize;
  int64_t width, height;
  if (raw.size) {
    width = raw.size->first;
    height = raw.size->second;
    CheckSize(path, width, height, maxPoints);
    if (static_cast<uint64_t>(width * height) != samples)
      throw HeightmapError(path, "the length (" + std::to_string(bytes) +
                                     " bytes) does not match " + std::to_string(width) + " x " +
                                     std::to_string(height));
  } else {
    width = height = static_cast<int64_t>(std::llround(std::sqrt(static_cast<double>(samples))));
    if (static_cast<uint64_t>(width * height) != samples || samples == 0)
      throw HeightmapError(path, "the length (" + std::to_string(bytes) +
                                     " bytes) is not a square grid; give the size with --size WxH");
    CheckSize(path, width, height, maxPoints);
  }
  return {width, height};
}

Landscape ReadRaw(const std::string& path, const RawOptions& raw, bool sixteenBit,
                  int64_t maxPoints, const ProgressFn& progress) {
  const auto [width, height] = RawGridSize(path, raw, sixteenBit, maxPoints);
  Landscape land;
  land.width = static_cast<int32_t>(width);
  land.height = static_cast<int32_t>(height);
  Allocate(land, path);
  std::ifstream in(path, std::ios::binary);
  if (!in) throw HeightmapError(path, "cannot be opened");
  if (sixteenBit) {
    const double lo = raw.range ? raw.range->first : 0.0;
    const double step = raw.range ? (raw.range->second - raw.range->first) / 65535.0 : 1.0;
    std::vector<uint8_t> row(static_cast<size_t>(width) * 2);
    for (int64_t y = 0; y < height; ++y) {
      if (!in.read(reinterpret_cast<char*>(row.data()), static_cast<std::streamsize>(row.size())))
        throw HeightmapError(path, "the file ended early");
      for (int64_t x = 0; x < width; ++x) {
        const uint16_t v = static_cast<uint16_t>(row[2 * x] | (row[2 * x + 1] << 8));
        land.heights[static_cast<size_t>(y * width + x)] = static_cast<float>(lo + v * step);
      }
      if (y % 256 == 0) Report(progress, static_cast<double>(y) / height);
    }
  } else {
    for (int64_t y0 = 0; y0 < height; y0 += 256) {
      const int64_t rows = std::min<int64_t>(256, height - y0);
      if (!in.read(reinterpret_cast<char*>(land.heights.data() + y0 * width),
                   static_cast<std::streamsize>(rows * width * 4)))
        throw HeightmapError(path, "the file ended early");
      Report(progress, static_cast<double>(y0 + rows) / height);
    }
    if constexpr (std::endian::native == std::endian::big)
      for (float& h : land.heights)
        h = std::bit_cast<float>(__builtin_bswap32(std::bit_cast<uint32_t>(h)));
  }
  return land;
}

Georeference ReadGeoreference(GDALDatasetH dataset, GDALRasterBandH band) {
  Georeference geo;
  if (const char* wkt = GDALGetProjectionRef(dataset)) geo.projection = wkt;
  std::array<double, 6> transform{};
  if (GDALGetGeoTransform(dataset, transform.data()) == CE_None) geo.geoTransform = transform;
  int hasNoData = 0;
  const double noData = GDALGetRasterNoDataValue(band, &hasNoData);
  if (hasNoData) geo.noDataValue = noData;
  if (const char* text = GDALGetDescription(band)) geo.description = text;
  if (const char* unit = GDALGetRasterUnitType(band)) geo.unit = unit;
  for (char** item = GDALGetMetadata(dataset, nullptr); item && *item; ++item) {
    const std::string entry = *item;
    // The 16-bit range is this program's, remade by every 16-bit save.
    if (entry.rfind(std::string(kScaleKey) + "=", 0) == 0 ||
        entry.rfind(std::string(kOffsetKey) + "=", 0) == 0)
      continue;
    geo.metadata.push_back(entry);
  }
  return geo;
}

Landscape ReadRaster(const std::string& path, int64_t maxPoints, const ProgressFn& progress) {
  InitGdal();
  CPLErrorReset();
  const Dataset dataset(GDALOpen(path.c_str(), GA_ReadOnly));
  if (!dataset) {
    std::error_code ec;
    if (!fs::exists(path, ec)) throw HeightmapError(path, "no such file");
    throw HeightmapError(
        path, "not a raster this program can read (" + GdalReason("unknown format") + ")");
  }
  GDALDatasetH ds = dataset.get();
  const int bands = GDALGetRasterCount(ds);
  if (bands != 1)
    throw HeightmapError(path, "has " + std::to_string(bands) + " bands; a heightmap has one");
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
    throw HeightmapError(path, "cannot be read (" + GdalReason("read error") + ")");
  // The mask says which cells are NoData, whether by a value, a mask band or voids.
  if (!(GDALGetMaskFlags(band) & GMF_ALL_VALID)) {
    land.noData.resize(land.Count());
    if (GDALRasterIO(GDALGetMaskBand(band), GF_Read, 0, 0, land.width, land.height,
                     land.noData.data(), land.width, land.height, GDT_Byte, 0, 0) != CE_None)
      throw HeightmapError(path,
                           "its NoData mask cannot be read (" + GdalReason("read error") + ")");
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

// A MEM dataset of one band over memory the caller owns.
Dataset WrapInMemory(void* data, int32_t width, int32_t height, GDALDataType type) {
  Dataset dataset(GDALCreate(GDALGetDriverByName("MEM"), "", width, height, 0, type, nullptr));
  if (!dataset) throw std::runtime_error("no memory dataset (" + GdalReason("MEM") + ")");
  char pointer[64];
  std::snprintf(pointer, sizeof pointer, "DATAPOINTER=%p", data);
  const char* options[] = {pointer, nullptr};
  if (GDALAddBand(dataset.get(), type, const_cast<char**>(options)) != CE_None)
    throw std::runtime_error("no memory band (" + GdalReason("MEM") + ")");
  return dataset;
}

// Marks cells that hold no height (NaN, ±inf) as NoData and fills every NoData cell
// from its valid surroundings, so that no operation sees a sentinel.
void FillNoData(Landscape& land, const std::string& path, const ProgressFn& progress) {
  for (size_t i = 0; i < land.Count(); ++i) {
    if (std::isfinite(land.heights[i])) continue;
    if (land.noData.empty()) land.noData.resize(land.Count());
    land.noData[i] = 1;
  }
  if (land.noData.empty()) return;
  const size_t missing = static_cast<size_t>(std::count(land.noData.begin(), land.noData.end(), 1));
  if (missing == 0) {
    land.noData.clear();
    return;
  }
  if (missing == land.Count()) throw HeightmapError(path, "holds no height: every cell is NoData");
  std::vector<uint8_t> valid;
  try {
    valid.resize(land.Count());
  } catch (const std::bad_alloc&) {
    throw HeightmapError(path, "not enough memory to fill its NoData cells");
  }
  for (size_t i = 0; i < land.Count(); ++i) {
    valid[i] = land.noData[i] ? 0 : 255;
    if (land.noData[i]) land.heights[i] = std::numeric_limits<float>::quiet_NaN();
  }
  InitGdal();
  CPLErrorReset();
  try {
    const Dataset heights = WrapInMemory(land.heights.data(), land.width, land.height, GDT_Float32);
    const Dataset mask = WrapInMemory(valid.data(), land.width, land.height, GDT_Byte);
    // Search the whole grid, and keep GDAL's work files in memory.
    const char* options[] = {"TEMP_FILE_DRIVER=MEM", nullptr};
    if (GDALFillNodata(GDALGetRasterBand(heights.get(), 1), GDALGetRasterBand(mask.get(), 1),
                       static_cast<double>(land.width) + land.height, 0, 0,
                       const_cast<char**>(options), &GdalProgress,
                       const_cast<ProgressFn*>(&progress)) != CE_None)
      throw std::runtime_error(GdalReason("fill failed"));
  } catch (const std::runtime_error& e) {
    throw HeightmapError(path, std::string("its NoData cells cannot be filled (") + e.what() + ")");
  }
  // Whatever the fill could not reach stands at the lowest valid height.
  land.RecordRange();
  for (size_t i = 0; i < land.Count(); ++i)
    if (land.noData[i] && !std::isfinite(land.heights[i]))
      land.heights[i] = static_cast<float>(land.minHeight);
}

// The smallest and largest finite height of the valid cells, and whether any cell must
// be written as NoData (a NoData cell, or one that holds no height).
struct WrittenHeights {
  double minimum = 0.0;
  double maximum = 0.0;
  bool needsNoData = false;
};

WrittenHeights Survey(const Landscape& land) {
  WrittenHeights w;
  double lo = std::numeric_limits<double>::infinity(), hi = -lo;
  for (size_t i = 0; i < land.Count(); ++i) {
    const float h = land.heights[i];
    if (land.IsNoData(i) || !std::isfinite(h)) {
      w.needsNoData = true;
      continue;
    }
    lo = std::min<double>(lo, h);
    hi = std::max<double>(hi, h);
  }
  if (lo <= hi) {
    w.minimum = lo;
    w.maximum = hi;
  }
  return w;
}

// The NoData value a float32 output carries: the file's own where a float holds it,
// else NaN; none when the landscape has no NoData cell and the file had no value.
std::optional<double> FloatNoDataValue(const Landscape& land, bool needed) {
  const auto& value = land.geo.noDataValue;
  if (value && (std::isnan(*value) || static_cast<double>(static_cast<float>(*value)) == *value))
    return value;
  if (needed) return std::numeric_limits<double>::quiet_NaN();
  return std::nullopt;
}

// One row of heights as written: NoData cells and cells without a height get `noData`.
void RowAsWritten(const Landscape& land, int32_t y, float noData, float* row) {
  const size_t start = static_cast<size_t>(y) * land.width;
  for (int32_t x = 0; x < land.width; ++x) {
    const float h = land.heights[start + x];
    row[x] = land.IsNoData(start + x) || !std::isfinite(h) ? noData : h;
  }
}

void ApplyGeoreference(GDALDatasetH dataset, const Landscape& land, std::optional<double> noData) {
  const Georeference& geo = land.geo;
  if (!geo.projection.empty()) GDALSetProjection(dataset, geo.projection.c_str());
  if (geo.geoTransform) {
    std::array<double, 6> transform = *geo.geoTransform;
    GDALSetGeoTransform(dataset, transform.data());
  }
  if (!geo.metadata.empty()) {
    CPLStringList items;
    for (const std::string& item : geo.metadata) items.AddString(item.c_str());
    GDALSetMetadata(dataset, items.List(), nullptr);
  }
  GDALRasterBandH band = GDALGetRasterBand(dataset, 1);
  if (noData) GDALSetRasterNoDataValue(band, *noData);
  if (!geo.description.empty()) GDALSetDescription(band, geo.description.c_str());
  if (!geo.unit.empty()) GDALSetRasterUnitType(band, geo.unit.c_str());
}

// Writes the heights (NoData cells as `noData`) into band 1, a block of rows at a time.
CPLErr WriteFloatRows(GDALDatasetH dataset, const Landscape& land, float noData,
                      const ProgressFn& progress) {
  GDALRasterBandH band = GDALGetRasterBand(dataset, 1);
  std::vector<float> block(static_cast<size_t>(land.width) * kRowsPerBlock);
  for (int32_t y0 = 0; y0 < land.height; y0 += kRowsPerBlock) {
    const int32_t rows = std::min(kRowsPerBlock, land.height - y0);
    for (int32_t y = 0; y < rows; ++y)
      RowAsWritten(land, y0 + y, noData, block.data() + static_cast<size_t>(y) * land.width);
    if (GDALRasterIO(band, GF_Write, 0, y0, land.width, rows, block.data(), land.width, rows,
                     GDT_Float32, 0, 0) != CE_None)
      return CE_Failure;
    // Closing the file writes what is still cached: leave room for it.
    Report(progress, 0.9 * (y0 + rows) / land.height);
  }
  return CE_None;
}

// What keeps terrain saves fast and small: tiles, DEFLATE at a low level with the
// floating-point predictor, every core compressing.
CPLStringList GeoTiffOptions(const WriteOptions& options) {
  CPLStringList list;
  list.SetNameValue("TILED", "YES");
  list.SetNameValue("COMPRESS", "DEFLATE");
  list.SetNameValue("ZLEVEL", "1");
  list.SetNameValue("PREDICTOR", "3");
  list.SetNameValue("NUM_THREADS", "ALL_CPUS");
  list.SetNameValue("BIGTIFF", "IF_SAFER");
  for (const std::string& item : options.creationOptions) {
    char* key = nullptr;
    const char* value = CPLParseNameValue(item.c_str(), &key);
    if (key && value) list.SetNameValue(key, value);
    CPLFree(key);
  }
  return list;
}

void WriteGeoTiff(FileReplacement& file, const Landscape& land, const WriteOptions& options) {
  const WrittenHeights survey = Survey(land);
  const std::optional<double> noData = FloatNoDataValue(land, survey.needsNoData);
  CPLStringList creation = GeoTiffOptions(options);
  Dataset out(GDALCreate(GDALGetDriverByName("GTiff"), file.TemporaryPath().c_str(), land.width,
                         land.height, 1, GDT_Float32, creation.List()));
  if (!out) throw std::runtime_error("cannot be created (" + GdalReason("GeoTIFF") + ")");
  ApplyGeoreference(out.get(), land, noData);
  const CPLErr written =
      WriteFloatRows(out.get(), land, static_cast<float>(noData.value_or(0.0)), options.progress);
  out.reset();  // closing writes what is still cached
  if (written != CE_None || CPLGetLastErrorType() >= CE_Failure)
    throw std::runtime_error("cannot be written (" + GdalReason("write error") + ")");
}

// Formats GDAL writes from a whole copy in memory, with the georeferencing they hold;
// their side files (an ASCII grid's .prj) are replaced along with the file.
void WriteByCopy(FileReplacement& file, const Landscape& land, const char* driverName,
                 const ProgressFn& progress) {
  const WrittenHeights survey = Survey(land);
  std::optional<double> noData = land.geo.noDataValue;
  if (!noData && survey.needsNoData) noData = -9999.0;
  std::vector<float> copy(land.Count());
  for (int32_t y = 0; y < land.height; ++y)
    RowAsWritten(land, y, static_cast<float>(noData.value_or(0.0)),
                 copy.data() + static_cast<size_t>(y) * land.width);
  const Dataset memory = WrapInMemory(copy.data(), land.width, land.height, GDT_Float32);
  ApplyGeoreference(memory.get(), land, noData);
  Dataset out(GDALCreateCopy(GDALGetDriverByName(driverName), file.TemporaryPath().c_str(),
                             memory.get(), FALSE, nullptr, &GdalProgress,
                             const_cast<ProgressFn*>(&progress)));
  if (!out) throw std::runtime_error("cannot be written (" + GdalReason(driverName) + ")");
  char** files = GDALGetFileList(out.get());
  for (char** f = files; f && *f; ++f)
    if (fs::path(*f) != fs::path(file.TemporaryPath())) file.AddSideFile(*f);
  CSLDestroy(files);
  out.reset();
  if (CPLGetLastErrorType() >= CE_Failure)
    throw std::runtime_error("cannot be written (" + GdalReason(driverName) + ")");
}

// The 16-bit steps of a save: heights minimum..maximum onto first..65535, so no height
// is clipped; step 0 is NoData when `first` is 1.
struct SixteenBit {
  double scale;  // height = value * scale + offset
  double offset;
  int first;

  explicit SixteenBit(const WrittenHeights& w) : first(w.needsNoData ? 1 : 0) {
    const double span = w.maximum - w.minimum;
    scale = span > 0 ? span / (65535 - first) : 1.0;
    offset = w.minimum - first * scale;
  }
  uint16_t Value(const Landscape& land, size_t i) const {
    const double h = land.heights[i];
    if (land.IsNoData(i) || !std::isfinite(h)) return 0;
    const double v = std::round((h - offset) / scale);
    return static_cast<uint16_t>(std::clamp(v, static_cast<double>(first), 65535.0));
  }
};

SaveReport WriteRaw(FileReplacement& file, const std::string& path, const Landscape& land,
                    bool sixteenBit, const ProgressFn& progress) {
  SaveReport report;
  std::vector<uint8_t> row(static_cast<size_t>(land.width) * (sixteenBit ? 2 : 4));
  std::optional<SixteenBit> steps;
  if (sixteenBit) {
    const WrittenHeights survey = Survey(land);
    if (survey.needsNoData)
      throw HeightmapError(path,
                           "a .r16 file cannot mark NoData, and this landscape has cells "
                           "without a height; save it as .tif, .png or .r32");
    steps.emplace(survey);
    report.sixteenBitRange = std::pair{survey.minimum, steps->offset + 65535 * steps->scale};
  }
  std::vector<float> heights(static_cast<size_t>(land.width));
  for (int32_t y = 0; y < land.height; ++y) {
    const size_t start = static_cast<size_t>(y) * land.width;
    if (steps) {
      for (int32_t x = 0; x < land.width; ++x) {
        const uint16_t v = steps->Value(land, start + x);
        row[2 * x] = static_cast<uint8_t>(v & 0xFF);
        row[2 * x + 1] = static_cast<uint8_t>(v >> 8);
      }
    } else {
      RowAsWritten(land, y, std::numeric_limits<float>::quiet_NaN(), heights.data());
      if constexpr (std::endian::native == std::endian::big)
        for (float& h : heights)
          h = std::bit_cast<float>(__builtin_bswap32(std::bit_cast<uint32_t>(h)));
      std::memcpy(row.data(), heights.data(), row.size());
    }
    for (size_t done = 0; done < row.size();) {
      const ssize_t n = ::write(file.Descriptor(), row.data() + done, row.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0)
        throw std::runtime_error(std::string("cannot be written (") + std::strerror(errno) + ")");
      done += static_cast<size_t>(n);
    }
    if (y % 256 == 0) Report(progress, static_cast<double>(y) / land.height);
  }
  return report;
}

SaveReport WritePng16(FileReplacement& file, const Landscape& land, const ProgressFn& progress) {
  const WrittenHeights survey = Survey(land);
  const SixteenBit steps(survey);
  std::vector<uint16_t> values(land.Count());
  for (size_t i = 0; i < land.Count(); ++i) values[i] = steps.Value(land, i);
  const Dataset memory = WrapInMemory(values.data(), land.width, land.height, GDT_UInt16);
  // A PNG holds no coordinate system; its text chunks carry the range and metadata.
  Landscape described;
  described.geo.metadata = land.geo.metadata;
  ApplyGeoreference(memory.get(), described, std::nullopt);
  if (steps.first == 1) GDALSetRasterNoDataValue(GDALGetRasterBand(memory.get(), 1), 0.0);
  const std::string s = CPLSPrintf("%.17g", steps.scale);
  const std::string o = CPLSPrintf("%.17g", steps.offset);
  GDALSetMetadataItem(memory.get(), kScaleKey, s.c_str(), nullptr);
  GDALSetMetadataItem(memory.get(), kOffsetKey, o.c_str(), nullptr);
  const char* options[] = {"WRITE_METADATA_AS_TEXT=YES", nullptr};
  Dataset out(GDALCreateCopy(GDALGetDriverByName("PNG"), file.TemporaryPath().c_str(), memory.get(),
                             FALSE, const_cast<char**>(options), &GdalProgress,
                             const_cast<ProgressFn*>(&progress)));
  if (!out) throw std::runtime_error("cannot be written (" + GdalReason("PNG") + ")");
  out.reset();
  if (CPLGetLastErrorType() >= CE_Failure)
    throw std::runtime_error("cannot be written (" + GdalReason("PNG") + ")");
  SaveReport report;
  report.sixteenBitRange =
      std::pair{steps.offset + steps.first * steps.scale, steps.offset + 65535 * steps.scale};
  return report;
}

}  // namespace

Landscape ReadHeightmap(const std::string& path, const RawOptions& raw, int64_t maxPoints,
                        const ProgressFn& progress) {
  const std::string ext = Extension(path);
  Landscape land = ext == ".r16" || ext == ".raw" ? ReadRaw(path, raw, true, maxPoints, progress)
                   : ext == ".r32"                ? ReadRaw(path, raw, false, maxPoints, progress)
                                                  : ReadRaster(path, maxPoints, progress);
  FillNoData(land, path, {});
  land.RecordRange();
  Report(progress, 1.0);
  return land;
}

std::pair<int32_t, int32_t> GridSizeOf(const std::string& path, const RawOptions& raw) {
  const std::string ext = Extension(path);
  if (ext == ".r16" || ext == ".raw" || ext == ".r32") {
    const auto [w, h] = RawGridSize(path, raw, ext != ".r32", kMaxGridPoints - 1);
    return {static_cast<int32_t>(w), static_cast<int32_t>(h)};
  }
  InitGdal();
  CPLErrorReset();
  const Dataset dataset(GDALOpen(path.c_str(), GA_ReadOnly));
  if (!dataset)
    throw HeightmapError(
        path, "not a raster this program can read (" + GdalReason("unknown format") + ")");
  return {GDALGetRasterXSize(dataset.get()), GDALGetRasterYSize(dataset.get())};
}

std::vector<float> ReadWeights(const std::string& path, int32_t width, int32_t height) {
  const Landscape mask = ReadHeightmap(path, RawOptions{std::pair{width, height}, {}});
  if (mask.width != width || mask.height != height)
    throw HeightmapError(path, "the mask is " + std::to_string(mask.width) + " x " +
                                   std::to_string(mask.height) + ", the landscape " +
                                   std::to_string(width) + " x " + std::to_string(height));
  // Weights 0..1 as they are; a mask that goes beyond 1 is taken as 0..255.
  const double scale = mask.maxHeight > 1.0 ? 1.0 / 255.0 : 1.0;
  std::vector<float> weights(mask.Count());
  for (size_t i = 0; i < weights.size(); ++i)
    weights[i] =
        mask.IsNoData(i) ? 0.0f : static_cast<float>(std::clamp(mask.heights[i] * scale, 0.0, 1.0));
  return weights;
}

bool IsHeightmapFormat(const std::string& path) {
  const std::string ext = Extension(path);
  for (const char* known : {".tif", ".tiff", ".asc", ".png", ".r16", ".raw", ".r32"})
    if (ext == known) return true;
  return false;
}

std::string CheckCreationOptions(const std::vector<std::string>& options) {
  InitGdal();
  CPLStringList list;
  for (const std::string& item : options) {
    char* key = nullptr;
    const char* value = CPLParseNameValue(item.c_str(), &key);
    const bool ok = key && *key && value;
    CPLFree(key);
    if (!ok) return "'" + item + "' is not NAME=VALUE";
    list.AddString(item.c_str());
  }
  // GDAL reports what it refuses through the error handler; catch its words.
  struct Collected {
    std::string text;
  } collected;
  CPLPushErrorHandlerEx(
      [](CPLErr, CPLErrorNum, const char* message) {
        auto* c = static_cast<Collected*>(CPLGetErrorHandlerUserData());
        if (c->text.empty()) c->text = message;
      },
      &collected);
  const bool valid = GDALValidateCreationOptions(GDALGetDriverByName("GTiff"), list.List());
  CPLPopErrorHandler();
  if (valid) return {};
  return collected.text.empty() ? "not a GeoTIFF creation option" : collected.text;
}

SaveReport WriteHeightmap(const std::string& path, const Landscape& land,
                          const WriteOptions& options) {
  InitGdal();
  CPLErrorReset();
  const std::string ext = Extension(path);
  if (!IsHeightmapFormat(path))
    throw HeightmapError(path, "unknown format '" + ext + "' (use " + kHeightmapFormats + ")");
  FileReplacement file(path, ext);
  SaveReport report;
  try {
    if (ext == ".tif" || ext == ".tiff") {
      WriteGeoTiff(file, land, options);
    } else if (ext == ".asc") {
      WriteByCopy(file, land, "AAIGrid", options.progress);
    } else if (ext == ".png") {
      report = WritePng16(file, land, options.progress);
    } else {
      report = WriteRaw(file, path, land, ext != ".r32", options.progress);
    }
  } catch (const HeightmapError&) {
    throw;
  } catch (const std::runtime_error& e) {
    // The writers name no file: the user knows the target, not the temporary one.
    throw HeightmapError(path, e.what());
  } catch (const std::bad_alloc&) {
    throw HeightmapError(path, "not enough memory to write it");
  }
  file.Commit();
  Report(options.progress, 1.0);
  return report;
}

}  // namespace host
