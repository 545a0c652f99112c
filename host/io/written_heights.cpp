#include <cmath>
#include <limits>

#include "host/io/written_heights_internal.h"

namespace host {

bool FloatHoldsNoData(double value) {
  return std::isnan(value) || static_cast<double>(static_cast<float>(value)) == value;
}

}  // namespace host

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

namespace {

// Whether a valid cell would be written as `value`, and so read back as a void.
bool Collides(const Landscape& land, double value) {
  if (std::isnan(value)) return false;
  const float written = static_cast<float>(value);
  for (size_t i = 0; i < land.Count(); ++i)
    if (land.heights[i] == written && !land.IsNoData(i)) return true;
  return false;
}

}  // namespace

NoDataChoice ChooseNoData(const Landscape& land, const WrittenHeights& written, bool takesNaN) {
  const std::optional<double>& own = land.geo.noDataValue;
  const bool representable = own && FloatHoldsNoData(*own);
  if (representable && !Collides(land, *own)) return {own, std::nullopt};
  if (!own && !written.needsNoData) return {};
  NoDataChoice choice;
  if (takesNaN) {
    choice.value = std::numeric_limits<double>::quiet_NaN();
  } else {
    for (const double candidate : {-9999.0, -32768.0, -99999.0, std::floor(written.minimum) - 1.0})
      if (!Collides(land, candidate)) {
        choice.value = candidate;
        break;
      }
  }
  if (own) choice.changed = std::pair{*own, *choice.value};
  return choice;
}

void RowAsWritten(const Landscape& land, int32_t y, float noData, float* row) {
  const size_t start = static_cast<size_t>(y) * land.width;
  for (int32_t x = 0; x < land.width; ++x) {
    const float h = land.heights[start + x];
    row[x] = land.IsNoData(start + x) || !std::isfinite(h) ? noData : h;
  }
}

}  // namespace host::io_internal
