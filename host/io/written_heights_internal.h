// The heights as a save writes them: their finite range, NoData cells given the file's
// value, and the mapping onto 16-bit steps. Private to io/.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <utility>

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

// The NoData value a float32 output carries, and whether it differs from the file's
// own. The file's value is kept where a float holds it and no valid height equals it;
// else NaN where the format takes NaN, else the first of -9999, -32768, -99999 and
// "one below the lowest height" that no valid height equals. None when the landscape
// has no NoData cell and the file had no value.
struct NoDataChoice {
  std::optional<double> value;
  std::optional<std::pair<double, double>> changed;  // the file's value, the one written
};
NoDataChoice ChooseNoData(const Landscape& land, const WrittenHeights& written, bool takesNaN);

// One row of heights as written: NoData cells and cells without a height get `noData`.
void RowAsWritten(const Landscape& land, int32_t y, float noData, float* row);

// The 16-bit steps of a save: the opened file's mapping when every height falls on
// first..65535 with it, else heights minimum..maximum onto first..65535, so no height is
// clipped; step 0 is NoData when `first` is 1.
struct SixteenBit {
  double scale;  // height = value * scale + offset
  double offset;
  int first;

  SixteenBit(const WrittenHeights& w, const std::optional<std::pair<double, double>>& kept)
      : first(w.needsNoData ? 1 : 0) {
    if (kept && kept->first > 0 && std::isfinite(kept->first) && std::isfinite(kept->second)) {
      const double low = (w.minimum - kept->second) / kept->first;
      const double high = (w.maximum - kept->second) / kept->first;
      if (low >= first - 0.5 && high <= 65535.5) {
        scale = kept->first;
        offset = kept->second;
        return;
      }
    }
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
