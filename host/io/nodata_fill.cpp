#include <cpl_error.h>
#include <gdal_alg.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "host/io/error.h"
#include "host/io/gdal_internal.h"
#include "host/io/reading_internal.h"

namespace host::io_internal {

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
  if (missing == land.Count()) throw Error(path, "holds no height: every cell is NoData");
  std::vector<uint8_t> valid;
  try {
    valid.resize(land.Count());
  } catch (const std::bad_alloc&) {
    throw Error(path, "not enough memory to fill its NoData cells");
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
    throw Error(path, std::string("its NoData cells cannot be filled (") + e.what() + ")");
  }
  // Whatever the fill could not reach stands at the lowest valid height.
  land.RecordRange();
  for (size_t i = 0; i < land.Count(); ++i)
    if (land.noData[i] && !std::isfinite(land.heights[i]))
      land.heights[i] = static_cast<float>(land.minHeight);
}

}  // namespace host::io_internal
