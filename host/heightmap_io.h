// Reading and writing heightmap files: any single-band raster GDAL reads, and
// headerless RAW grids (.r16 unsigned 16-bit, .r32 float32, little-endian).
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

#include "host/landscape.h"

namespace host {

// A file that cannot be read or written; the message names the file and the reason.
class HeightmapError : public std::runtime_error {
 public:
  HeightmapError(const std::string& path, const std::string& reason)
      : std::runtime_error(path + ": " + reason) {}
};

struct RawOptions {
  std::optional<std::pair<int32_t, int32_t>> size;      // width x height; square when unset
  std::optional<std::pair<double, double>> range;       // heights of r16 0 and 65535
};

// Refuses grids of more than maxPoints points (and never more than kMaxGridPoints - 1),
// before any memory is set aside for them: a file's header alone can claim any size.
Landscape ReadHeightmap(const std::string& path, const RawOptions& raw = {},
                        int64_t maxPoints = kMaxGridPoints - 1);

// The format follows the extension: .tif/.tiff GeoTIFF float32, .png 16-bit PNG with
// the height range stored in the file, .r16, .r32. The file appears whole or not at
// all: it is written beside the target and then renamed over it.
void WriteHeightmap(const std::string& path, const Landscape& land);

}  // namespace host
