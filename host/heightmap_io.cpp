#include "host/heightmap_io.h"

#include <cpl_conv.h>
#include <cpl_error.h>
#include <cpl_string.h>
#include <gdal.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <unistd.h>

namespace host {
namespace {

namespace fs = std::filesystem;

// Metadata keys that carry a 16-bit PNG's height range in the file itself.
constexpr char kScaleKey[] = "HEIGHT_SCALE";
constexpr char kOffsetKey[] = "HEIGHT_OFFSET";

std::string Extension(const std::string& path) {
  std::string ext = fs::path(path).extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
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

void CheckSize(const std::string& path, int64_t width, int64_t height, int64_t maxPoints) {
  if (width <= 0 || height <= 0)
    throw HeightmapError(path, "the grid is empty (" + std::to_string(width) + " x " +
                                   std::to_string(height) + ")");
  const int64_t limit = std::min(maxPoints, kMaxGridPoints - 1);
  if (width * height > limit)
    throw HeightmapError(path, "the grid has " + std::to_string(width * height) +
                                   " points; at most " + std::to_string(limit) +
                                   (limit == kMaxGridPoints - 1 ? " (2^30 - 1)" : "") +
                                   " are supported");
}

Landscape ReadRaw(const std::string& path, const RawOptions& raw, bool sixteenBit,
                  int64_t maxPoints) {
  std::error_code ec;
  const auto bytes = fs::file_size(path, ec);
  if (ec) throw HeightmapError(path, ec.message());
  if (bytes == 0) throw HeightmapError(path, "the file is empty");
  const uint64_t sampleSize = sixteenBit ? 2 : 4;
  if (bytes % sampleSize != 0)
    throw HeightmapError(path, "the length (" + std::to_string(bytes) +
                                   " bytes) is not a whole number of samples");
  const uint64_t samples = bytes / sampleSize;
  int64_t width, height;
  if (raw.size) {
    width = raw.size->first;
    height = raw.size->second;
    CheckSize(path, width, height, maxPoints);
    if (static_cast<uint64_t>(width * height) != samples)
      throw HeightmapError(path, "the length (" + std::to_string(bytes) + " bytes) does not match " +
                                     std::to_string(width) + " x " + std::to_string(height));
  } else {
    width = height = static_cast<int64_t>(std::llround(std::sqrt(static_cast<double>(samples))));
    if (static_cast<uint64_t>(width * height) != samples || samples == 0)
      throw HeightmapError(path, "the length (" + std::to_string(bytes) +
                                     " bytes) is not a square grid; give the size with --size WxH");
    CheckSize(path, width, height, maxPoints);
  }
  Landscape land;
  land.width = static_cast<int32_t>(width);
  land.height = static_cast<int32_t>(height);
  land.heights.resize(land.Count());
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
    }
  } else {
    if (!in.read(reinterpret_cast<char*>(land.heights.data()),
                 static_cast<std::streamsize>(land.Count() * 4)))
      throw HeightmapError(path, "the file ended early");
    if constexpr (std::endian::native == std::endian::big)
      for (float& h : land.heights) h = std::bit_cast<float>(__builtin_bswap32(std::bit_cast<uint32_t>(h)));
  }
  land.RecordRange();
  return land;
}

Landscape ReadRaster(const std::string& path, int64_t maxPoints) {
  InitGdal();
  CPLErrorReset();
  GDALDatasetH dataset = GDALOpen(path.c_str(), GA_ReadOnly);
  if (!dataset) {
    std::error_code ec;
    if (!fs::exists(path, ec)) throw HeightmapError(path, "no such file");
    throw HeightmapError(path, "not a raster this program can read (" +
                                   GdalReason("unknown format") + ")");
  }
  struct Closer {
    GDALDatasetH d;
    ~Closer() { GDALClose(d); }
  } closer{dataset};
  const int bands = GDALGetRasterCount(dataset);
  if (bands != 1)
    throw HeightmapError(path, "has " + std::to_string(bands) + " bands; a heightmap has one");
  CheckSize(path, GDALGetRasterXSize(dataset), GDALGetRasterYSize(dataset), maxPoints);
  Landscape land;
  land.width = GDALGetRasterXSize(dataset);
  land.height = GDALGetRasterYSize(dataset);
  land.heights.resize(land.Count());
  GDALRasterBandH band = GDALGetRasterBand(dataset, 1);
  if (GDALRasterIO(band, GF_Read, 0, 0, land.width, land.height, land.heights.data(), land.width,
                   land.height, GDT_Float32, 0, 0) != CE_None)
    throw HeightmapError(path, "cannot be read (" + GdalReason("read error") + ")");
  int hasScale = 0, hasOffset = 0;
  double scale = GDALGetRasterScale(band, &hasScale);
  double offset = GDALGetRasterOffset(band, &hasOffset);
  if (!hasScale && !hasOffset) {
    const char* s = GDALGetMetadataItem(dataset, kScaleKey, nullptr);
    const char* o = GDALGetMetadataItem(dataset, kOffsetKey, nullptr);
    if (s && o) {
      scale = CPLAtof(s);
      offset = CPLAtof(o);
      hasScale = hasOffset = 1;
    }
  }
  if ((hasScale && scale != 1.0) || (hasOffset && offset != 0.0))
    for (float& h : land.heights) h = static_cast<float>(h * scale + offset);
  land.RecordRange();
  return land;
}

// A temporary name beside the target, so the rename stays on one file system.
std::string TemporaryBeside(const std::string& path) {
  return path + ".part-" + std::to_string(::getpid());
}

void Publish(const std::string& temporary, const std::string& path) {
  std::error_code ec;
  fs::rename(temporary, path, ec);
  if (ec) {
    fs::remove(temporary, ec);
    throw HeightmapError(path, "cannot be replaced (" + ec.message() + ")");
  }
}

void WriteRaw(const std::string& temporary, const Landscape& land, bool sixteenBit) {
  std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
  if (sixteenBit) {
    const double span = land.maxHeight - land.minHeight;
    std::vector<uint8_t> row(static_cast<size_t>(land.width) * 2);
    for (int32_t y = 0; y < land.height; ++y) {
      for (int32_t x = 0; x < land.width; ++x) {
        const double h = land.heights[static_cast<size_t>(y) * land.width + x];
        const double t = span > 0 && std::isfinite(h) ? (h - land.minHeight) / span : 0.0;
        const auto v = static_cast<uint16_t>(std::lround(std::clamp(t, 0.0, 1.0) * 65535.0));
        row[2 * x] = static_cast<uint8_t>(v & 0xFF);
        row[2 * x + 1] = static_cast<uint8_t>(v >> 8);
      }
      out.write(reinterpret_cast<const char*>(row.data()), static_cast<std::streamsize>(row.size()));
    }
  } else {
    out.write(reinterpret_cast<const char*>(land.heights.data()),
              static_cast<std::streamsize>(land.Count() * 4));
  }
  out.flush();
  if (!out) throw std::runtime_error("cannot be written");
}

void WriteGeoTiff(const std::string& temporary, const Landscape& land) {
  GDALDriverH driver = GDALGetDriverByName("GTiff");
  const char* options[] = {"COMPRESS=DEFLATE", "PREDICTOR=3", "TILED=YES", "BIGTIFF=IF_SAFER",
                           nullptr};
  GDALDatasetH out = GDALCreate(driver, temporary.c_str(), land.width, land.height, 1, GDT_Float32,
                                const_cast<char**>(options));
  if (!out) throw std::runtime_error("cannot be created (" + GdalReason("GeoTIFF") + ")");
  const CPLErr written =
      GDALRasterIO(GDALGetRasterBand(out, 1), GF_Write, 0, 0, land.width, land.height,
                   const_cast<float*>(land.heights.data()), land.width, land.height, GDT_Float32, 0, 0);
  GDALClose(out);
  if (written != CE_None || CPLGetLastErrorType() >= CE_Failure)
    throw std::runtime_error("cannot be written (" + GdalReason("write error") + ")");
}

void WritePng16(const std::string& temporary, const Landscape& land) {
  const double span = land.maxHeight - land.minHeight;
  const double scale = span > 0 ? span / 65535.0 : 1.0;
  const double offset = land.minHeight;
  GDALDatasetH memory = GDALCreate(GDALGetDriverByName("MEM"), "", land.width, land.height, 1,
                                   GDT_UInt16, nullptr);
  if (!memory) throw std::runtime_error("not enough memory for the picture");
  {
    std::vector<uint16_t> row(static_cast<size_t>(land.width));
    GDALRasterBandH band = GDALGetRasterBand(memory, 1);
    for (int32_t y = 0; y < land.height; ++y) {
      for (int32_t x = 0; x < land.width; ++x) {
        const double h = land.heights[static_cast<size_t>(y) * land.width + x];
        const double v = std::isfinite(h) ? std::round((h - offset) / scale) : 0.0;
        row[static_cast<size_t>(x)] = static_cast<uint16_t>(std::clamp(v, 0.0, 65535.0));
      }
      if (GDALRasterIO(band, GF_Write, 0, y, land.width, 1, row.data(), land.width, 1, GDT_UInt16,
                       0, 0) != CE_None)
        break;
    }
  }
  const std::string s = CPLSPrintf("%.17g", scale);
  const std::string o = CPLSPrintf("%.17g", offset);
  GDALSetMetadataItem(memory, kScaleKey, s.c_str(), nullptr);
  GDALSetMetadataItem(memory, kOffsetKey, o.c_str(), nullptr);
  const char* options[] = {"WRITE_METADATA_AS_TEXT=YES", nullptr};
  GDALDatasetH out = GDALCreateCopy(GDALGetDriverByName("PNG"), temporary.c_str(), memory, FALSE,
                                    const_cast<char**>(options), nullptr, nullptr);
  GDALClose(memory);
  if (!out) throw std::runtime_error("cannot be written (" + GdalReason("PNG") + ")");
  GDALClose(out);
}

}  // namespace

Landscape ReadHeightmap(const std::string& path, const RawOptions& raw, int64_t maxPoints) {
  const std::string ext = Extension(path);
  if (ext == ".r16" || ext == ".raw") return ReadRaw(path, raw, true, maxPoints);
  if (ext == ".r32") return ReadRaw(path, raw, false, maxPoints);
  return ReadRaster(path, maxPoints);
}

void WriteHeightmap(const std::string& path, const Landscape& land) {
  InitGdal();
  CPLErrorReset();
  const std::string ext = Extension(path);
  const std::string temporary = TemporaryBeside(path);
  try {
    if (ext == ".tif" || ext == ".tiff") {
      WriteGeoTiff(temporary, land);
    } else if (ext == ".png") {
      WritePng16(temporary, land);
    } else if (ext == ".r16" || ext == ".raw") {
      WriteRaw(temporary, land, true);
    } else if (ext == ".r32") {
      WriteRaw(temporary, land, false);
    } else {
      throw HeightmapError(path, "unknown format '" + ext + "' (use .tif, .png, .r16 or .r32)");
    }
  } catch (const HeightmapError&) {
    std::error_code ec;
    fs::remove(temporary, ec);
    throw;
  } catch (const std::runtime_error& e) {
    // The writers name no file: the user knows the target, not the temporary one.
    std::error_code ec;
    fs::remove(temporary, ec);
    throw HeightmapError(path, e.what());
  }
  Publish(temporary, path);
}

}  // namespace host
