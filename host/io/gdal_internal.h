// GDAL as the reader and writers use it: set up once, its errors collected from every
// thread, datasets closed with their owner, and plain memory seen as a one-band
// dataset. Private to io/.
#pragma once

#include <cpl_string.h>
#include <gdal.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/common/progress.h"
#include "host/io/heightmap_io.h"

namespace host::io_internal {

// Registers the heightmap drivers, shuts the network out unless allowed, and sets
// GDAL's options for this program, once.
void InitGdal();
// GDAL's last error message in this thread, or `fallback` when it has none.
std::string GdalReason(const char* fallback);

// The failures GDAL reported while the watch lived, from any thread: its compression
// workers report theirs where the thread that asked never sees them.
class GdalFailures {
 public:
  GdalFailures();
  bool Any() const;
  // The first failure's message, or `fallback`.
  std::string Reason(const char* fallback) const;

 private:
  uint64_t start_;
};

struct DatasetCloser {
  void operator()(void* dataset) const { GDALClose(dataset); }
};
using Dataset = std::unique_ptr<void, DatasetCloser>;

// The GeoTIFF creation options a save uses: the defaults, then the user's NAME=VALUE; for
// whole numbers the floating-point predictor of the defaults becomes the horizontal one.
CPLStringList GeoTiffOptions(const std::vector<std::string>& given,
                             Storage storage = Storage::kFloat32);
// GDAL's type of a GeoTIFF's heights.
inline GDALDataType GdalTypeOf(Storage storage) {
  return storage == Storage::kInt16    ? GDT_Int16
         : storage == Storage::kUInt16 ? GDT_UInt16
                                       : GDT_Float32;
}
// Says on a whole-number band what its steps stand for, when not one unit from 0.
inline void ApplySteps(GDALRasterBandH band, const WholeSteps& steps) {
  if (steps.scale == 1.0 && steps.offset == 0.0) return;
  GDALSetRasterScale(band, steps.scale);
  GDALSetRasterOffset(band, steps.offset);
}

// A MEM dataset of one band over memory the caller owns.
Dataset WrapInMemory(void* data, int32_t width, int32_t height, GDALDataType type);

// Tells `progress` the share done, when there is one to tell.
inline void Report(const ProgressFn& progress, double done) {
  if (progress) progress(done);
}

}  // namespace host::io_internal
