// A GeoTIFF of heights made by many hands: its blocks are compressed wherever
// their heights are computed (on any machine), and one writer puts the compressed bytes
// in place, in any order, without compressing anything itself. The file is the one a
// save writes: the host's GeoTIFF defaults and the user's --co, the georeferencing.
#pragma once

#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/io/heightmap_io.h"
#include "host/model/landscape.h"

namespace host {

// How the blocks are cut and compressed: the GeoTIFF defaults a save uses, then the
// user's NAME=VALUE options, tiles of block x block cells.
struct BlockFormat {
  int32_t block = 256;                  // a multiple of 16
  std::vector<std::string> options;     // --co, over the defaults
  int threads = 0;                      // compressing threads; 0: every core
  Storage storage = Storage::kFloat32;  // whole numbers: values already whole steps
};

// A window's heights as a whole-number file stores them: each valid height's step
// (WholeSteps::Step), each void (not finite) `noData`, written to `out`. Returned: the
// lowest and highest step of a valid height, and a flag per value of the type (from
// steps.lowest) that a valid height uses, which the file's NoData choice needs from
// every window.
struct WholeWindow {
  double low = INFINITY, high = -INFINITY;
  std::vector<bool> used;
};
WholeWindow StoreSteps(const float* heights, size_t count, const WholeSteps& steps, double noData,
                       float* out);

// Each block of a w x h window of heights (for whole-number storage, made by StoreSteps),
// compressed as the file stores it, in row-major
// block order. The window starts on a block's corner and holds whole blocks, but at the
// right and bottom edges of the grid. Throws std::runtime_error with GDAL's reason.
std::vector<std::string> CompressBlocks(const float* heights, int32_t w, int32_t h,
                                        const BlockFormat& format);

class BlockAssembly {
 public:
  // Makes `path` (a temporary the caller created) a tiled GeoTIFF of width x height
  // whose blocks are all still missing, of the format's storage (the steps of
  // WholeSteps(storage, geo) for whole numbers), with `geo`'s georeferencing and `noData`
  // as its NoData value. Throws Error naming `path`.
  BlockAssembly(const std::string& path, int32_t width, int32_t height, const Georeference& geo,
                std::optional<double> noData, const BlockFormat& format);
  ~BlockAssembly();
  BlockAssembly(const BlockAssembly&) = delete;
  BlockAssembly& operator=(const BlockAssembly&) = delete;

  int32_t BlocksAcross() const { return across_; }
  int32_t BlocksDown() const { return down_; }
  // Puts block (bx, by), compressed by CompressBlocks with the same format, in place.
  // Throws Error naming the file (a full disk, a file-size limit, a classic TIFF past
  // 4 GiB).
  void Put(int32_t bx, int32_t by, std::string_view bytes);
  // Whether every block has been put.
  bool Complete() const { return placed_ == static_cast<int64_t>(across_) * down_; }

 private:
  void WriteValue(uint64_t at, int size, uint64_t value);

  std::string path_;
  int fd_ = -1;
  int32_t across_ = 0, down_ = 0;
  bool swap_ = false;  // the file's byte order is not this machine's
  uint64_t offsetsAt_ = 0, countsAt_ = 0;
  int offsetSize_ = 0, countSize_ = 0;  // bytes a value
  uint64_t end_ = 0;                    // where the next block goes
  int64_t placed_ = 0;
  std::vector<uint8_t> done_;
};

// Gives a GeoTIFF the assembly finished its NoData value, once the voids are known.
// Throws Error naming `path`.
void SetNoData(const std::string& path, double noData);

}  // namespace host
