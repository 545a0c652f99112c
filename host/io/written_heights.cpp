#include <cmath>
#include <limits>

#include "host/io/written_heights_internal.h"

namespace host::io_internal {

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

std::optional<double> FloatNoDataValue(const Landscape& land, bool needed) {
  const auto& value = land.geo.noDataValue;
  if (value && (std::isnan(*value) || static_cast<double>(static_cast<float>(*value)) == *value))
    return value;
  if (needed) return std::numeric_limits<double>::quiet_NaN();
  return std::nullopt;
}

void RowAsWritten(const Landscape& land, int32_t y, float noData, float* row) {
  const size_t start = static_cast<size_t>(y) * land.width;
  for (int32_t x = 0; x < land.width; ++x) {
    const float h = land.heights[start + x];
    row[x] = land.IsNoData(start + x) || !std::isfinite(h) ? noData : h;
  }
}

}  // namespace host::io_internal
