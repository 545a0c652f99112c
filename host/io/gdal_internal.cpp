#include "host/io/gdal_internal.h"

#include <cpl_conv.h>
#include <cpl_error.h>

#include <cstdio>
#include <stdexcept>

namespace host::io_internal {

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

}  // namespace host::io_internal
