#include "host/model/landscape.h"

#include <cmath>
#include <limits>
#include <tuple>

namespace host {

std::pair<double, double> Landscape::ValidRange() const {
  double lo = std::numeric_limits<double>::infinity();
  double hi = -lo;
  for (size_t i = 0; i < heights.size(); ++i) {
    const float h = heights[i];
    if (!std::isfinite(h) || IsNoData(i)) continue;
    lo = h < lo ? h : lo;
    hi = h > hi ? h : hi;
  }
  if (lo > hi) lo = hi = 0.0;
  return {lo, hi};
}

void Landscape::RecordRange() { std::tie(minHeight, maxHeight) = ValidRange(); }

}  // namespace host
