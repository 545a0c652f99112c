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

// The GeoTIFF creation options a save uses: the defaults, then the user's NAME=VALUE.
CPLStringList GeoTiffOptions(const std::vector<std::string>& given);

// A MEM dataset of one band over memory the caller owns.
Dataset WrapInMemory(void* data, int32_t width, int32_t height, GDALDataType type);

// Tells `progress` the share done, when there is one to tell.
inline void Report(const ProgressFn& progress, double done) {
  if (progress) progress(done);
}

}  // namespace host::io_internal
