// The heights as a save writes them: their finite range, NoData cells given the file's
// value, and the mapping onto 16-bit steps. Private to io/.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>

#include "host/model/landscape.h"

namespace host::io_internal {

// The smallest and largest finite height of the valid cells, and whether any cell must
// be written as NoData (a NoData cell, or one that holds no height).
struct WrittenHeights {
  double minimum = 0.0;
  double maximum = 0.0;
  bool needsNoData = false;
};

WrittenHeights Survey(const Landscape& land);

// The NoData value a float32 output carries: the file's own where a float holds it,
// else NaN; none when the landscape has no NoData cell and the file had no value.
std::optional<double> FloatNoDataValue(const Landscape& land, bool needed);

// One row of heights as written: NoData cells and cells without a height get `noData`.
void RowAsWritten(const Landscape& land, int32_t y, float noData, float* row);

// The 16-bit steps of a save: heights minimum..maximum onto first..65535, so no height
// is clipped; step 0 is NoData when `first` is 1.
struct SixteenBit {
  double scale;  // height = value * scale + offset
  double offset;
  int first;

  explicit SixteenBit(const WrittenHeights& w) : first(w.needsNoData ? 1 : 0) {
    const double span = w.maximum - w.minimum;
    scale = span > 0 ? span / (65535 - first) : 1.0;
    offset = w.minimum - first * scale;
  }
  uint16_t Value(const Landscape& land, size_t i) const {
    const double h = land.heights[i];
    if (land.IsNoData(i) || !std::isfinite(h)) return 0;
    const double v = std::round((h - offset) / scale);
    return static_cast<uint16_t>(std::clamp(v, static_cast<double>(first), 65535.0));
  }
};

}  // namespace host::io_internal
