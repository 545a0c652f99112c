#include "terrain/grid.h"

#include <stdexcept>

#include "terrain/simd.h"

namespace terrain {

void CheckGrid(GridSize size, std::span<const float> source, std::span<const float> result) {
  if (size.width < 0 || size.height < 0) throw std::invalid_argument("negative grid size");
  if (source.size() != size.Count() || result.size() != size.Count())
    throw std::invalid_argument("height buffer does not match the grid size");
}

namespace {

// The first stored zero that the walk meets. Called only when one exists.
float FirstZeroOfWalk(GridSize size, std::span<const float> heights, WalkOrder order) {
  if (order == WalkOrder::kRowByRow) {
    for (const float v : heights)
      if (v == 0.0f) return v;
    return 0.0f;
  }
  // Column walk on row-major data: the first zero of each row, then the smallest
  // column (the earliest row on a tie), reading memory in order.
  const size_t width = static_cast<size_t>(size.width);
  size_t bestX = width;
  float best = 0.0f;
  for (size_t y = 0; y < static_cast<size_t>(size.height) && bestX > 0; ++y) {
    const float* row = heights.data() + y * width;
    for (size_t x = 0; x < bestX; ++x) {
      if (row[x] == 0.0f) {
        bestX = x;
        best = row[x];
        break;
      }
    }
  }
  return best;
}

// Where the tracker ends for one end of the range. A tracker that only moves to a value
// beyond itself ends at the extreme rounded to float, since rounding is monotone. An
// extreme that is exactly zero is the exception: the first zero met wins, and a later
// zero of the other sign does not compare beyond it.
float TrackerEnd(double extreme, float reset, bool isMinimum, GridSize size,
                 std::span<const float> result, WalkOrder order) {
  const bool moved = isMinimum ? extreme < reset : extreme > reset;
  if (!moved) return reset;
  if (extreme == 0.0) return FirstZeroOfWalk(size, result, order);
  return static_cast<float>(extreme);
}

}  // namespace

void StoredExtremes::Add(std::span<const float> heights) {
  simd::LaneExtremes<simd::Floats> lanes;
  size_t i = 0;
  for (; i + simd::kLanes <= heights.size(); i += simd::kLanes)
    lanes.Add(simd::LoadFloats(heights.data() + i));
  lanes.MergeInto(extremes);
  for (; i < heights.size(); ++i) extremes.Add(heights[i]);
}

HeightRange RangeOfWalk(const Extremes& extremes, GridSize size, std::span<const float> result,
                        WalkOrder order) {
  return {TrackerEnd(extremes.lowest, kRangeResetMinimum, true, size, result, order),
          TrackerEnd(extremes.highest, kRangeResetMaximum, false, size, result, order)};
}

}  // namespace terrain
