// Kernels run on the threads of the caller's TBB arena (all cores unless the caller
// limits it), a band of rows per task. Every element is computed as on one thread, and
// the extremes of the bands merge exactly, so results do not depend on the split.
#pragma once

#include <tbb/blocked_range.h>
#include <tbb/parallel_reduce.h>

#include <algorithm>
#include <cstddef>

#include "terrain/grid.h"

namespace terrain {

// The fewest points a band holds; a grid of fewer stays on the calling thread, where a
// task's overhead would cost more than the work. Tests lower it to split small grids.
size_t MinimumBandPoints();
void SetMinimumBandPoints(size_t points);

// band(y0, y1) computes rows [y0, y1) and returns their Extremes; the bands' extremes
// are merged (in any order: they are exact).
template <typename Band>
Extremes ForRowBands(GridSize size, Band&& band) {
  const size_t width = std::max<size_t>(1, static_cast<size_t>(size.width));
  const auto grain = static_cast<int32_t>(std::max<size_t>(1, MinimumBandPoints() / width));
  return tbb::parallel_reduce(
      tbb::blocked_range<int32_t>(0, size.height, grain), Extremes{},
      [&](const tbb::blocked_range<int32_t>& rows, Extremes extremes) {
        const Extremes found = band(rows.begin(), rows.end());
        extremes.Add(found.lowest, found.highest);
        return extremes;
      },
      [](Extremes a, const Extremes& b) {
        a.Add(b.lowest, b.highest);
        return a;
      });
}

}  // namespace terrain
