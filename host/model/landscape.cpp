#include "host/model/landscape.h"

#include <tbb/blocked_range.h>
#include <tbb/parallel_reduce.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <tuple>

#include "base/parallel_copy.h"

namespace host {

std::pair<float, float> Landscape::ValidEnds(size_t begin, size_t end) const {
  struct Ends {
    float lo = std::numeric_limits<float>::infinity();
    float hi = -std::numeric_limits<float>::infinity();
  };
  // Stretches on every core; a minimum and a maximum merge the same in any order.
  const Ends ends = tbb::parallel_reduce(
      tbb::blocked_range<size_t>(begin, end, base::kCopyGrain), Ends{},
      [&](const tbb::blocked_range<size_t>& r, Ends e) {
        for (size_t i = r.begin(); i < r.end(); ++i) {
          const float h = heights[i];
          if (!std::isfinite(h) || IsNoData(i)) continue;
          e.lo = h < e.lo ? h : e.lo;
          e.hi = h > e.hi ? h : e.hi;
        }
        return e;
      },
      [](Ends a, const Ends& b) {
        a.lo = std::min(a.lo, b.lo);
        a.hi = std::max(a.hi, b.hi);
        return a;
      });
  return {ends.lo, ends.hi};
}

std::pair<double, double> Landscape::ValidRange() const {
  const auto [lo, hi] = ValidEnds(0, heights.size());
  if (lo > hi) return {0.0, 0.0};
  return {lo, hi};
}

void Landscape::RecordRange() { std::tie(minHeight, maxHeight) = ValidRange(); }

Landscape Landscape::Copy() const {
  Landscape copy;
  copy.width = width;
  copy.height = height;
  copy.heights.resize(heights.size());
  base::CopyFloats(heights.data(), copy.heights.data(), heights.size());
  copy.noData = noData;
  copy.minHeight = minHeight;
  copy.maxHeight = maxHeight;
  copy.geo = geo;
  return copy;
}

}  // namespace host
