// Reading and writing heightmap files: any single-band raster GDAL reads, and
// headerless RAW grids (.r16 unsigned 16-bit, .r32 float32, little-endian).
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "host/io/error.h"
#include "host/io/formats.h"
#include "host/io/progress.h"
#include "host/model/landscape.h"

namespace host {

struct RawOptions {
  std::optional<std::pair<int32_t, int32_t>> size;  // width x height; square when unset
  std::optional<std::pair<double, double>> range;   // heights of r16 0 and 65535
};

// Reads a heightmap with its georeferencing. Cells the file marks as NoData (its NoData
// value, its mask, NaN) are remembered and filled with heights interpolated from their
// valid surroundings; the recorded range is that of the valid cells. Refuses grids of
// more than maxPoints points (never more than kMaxGridPoints - 1) before any memory is
// set aside for them, and a grid without a single valid height.
Landscape ReadHeightmap(const std::string& path, const RawOptions& raw = {},
                        int64_t maxPoints = kMaxGridPoints - 1, const ProgressFn& progress = {});

struct WriteOptions {
  std::vector<std::string> creationOptions;  // GeoTIFF NAME=VALUE, over the defaults
  ProgressFn progress;                       // told how far the write has come
};

// What a save did that the user needs to know to read the file back.
struct SaveReport {
  // The heights a 16-bit file's steps 0 (1 when step 0 is NoData) and 65535 stand for.
  std::optional<std::pair<double, double>> sixteenBitRange;
};

// The format follows the extension: .tif/.tiff GeoTIFF float32 and .asc ASCII grid with
// the georeferencing; .png 16-bit with its height range and NoData stored in the file;
// .r16 (refused when a cell is NoData or not finite) and .r32 (NoData written as NaN).
// A 16-bit file spans the finite heights of the valid cells. The file is replaced as a
// whole (see FileReplacement).
SaveReport WriteHeightmap(const std::string& path, const Landscape& land,
                          const WriteOptions& options = {});

// The grid size of a heightmap file, from its header (or length and --size) alone.
std::pair<int32_t, int32_t> GridSizeOf(const std::string& path, const RawOptions& raw = {});

// A selection mask: any single-band raster of the landscape's size, weights 0..1 or
// 0..255 (taken as such when a value exceeds 1); NoData cells weigh 0.
std::vector<float> ReadWeights(const std::string& path, int32_t width, int32_t height);

// Empty when GDAL's GeoTIFF writer takes these NAME=VALUE options; else what is wrong.
std::string CheckCreationOptions(const std::vector<std::string>& options);

}  // namespace host
