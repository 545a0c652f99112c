// The working set every terrain kernel shares: a row-major grid of 32-bit heights and
// the height range that an operation produced.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>

namespace terrain {

// Reset values of a running range: the range of an operation that wrote nothing.
inline constexpr float kRangeResetMinimum = 2147483648.0f;
inline constexpr float kRangeResetMaximum = -2147483648.0f;

struct GridSize {
  int32_t width = 0;   // columns; x runs 0 .. width - 1
  int32_t height = 0;  // rows; y runs 0 .. height - 1
  size_t Count() const { return static_cast<size_t>(width) * static_cast<size_t>(height); }
};

// Smallest and largest height an operation wrote, compared strictly in the order the
// operation wrote them; NaN never moves either end.
struct HeightRange {
  float minimum = kRangeResetMinimum;
  float maximum = kRangeResetMaximum;
  // True when the operation recorded at least one height and more than one value.
  bool IsUsable() const {
    return maximum > kRangeResetMaximum && minimum < kRangeResetMinimum && maximum != minimum;
  }
};

// Throws std::invalid_argument unless size is non-negative and both spans hold exactly
// size.Count() heights.
void CheckGrid(GridSize size, std::span<const float> source, std::span<const float> result);

// The exact extremes of the values a kernel computed (before rounding to float), in any
// order. NaN is ignored.
struct Extremes {
  double lowest = std::numeric_limits<double>::infinity();
  double highest = -std::numeric_limits<double>::infinity();
  void Add(double v) { Add(v, v); }
  // Takes in extremes found elsewhere.
  void Add(double low, double high) {
    lowest = low < lowest ? low : lowest;
    highest = high > highest ? high : highest;
  }
};

// The order in which the contract walks a grid: column by column for most operations,
// row by row for the hill.
enum class WalkOrder { kColumnByColumn, kRowByRow };

// The range a running tracker would hold after walking result in the given order,
// comparing each computed value with the tracker and keeping it rounded to float.
// Kernels may compute in any order: only the sign of a zero extreme depends on the
// walk, and that is settled from result.
HeightRange RangeOfWalk(const Extremes& extremes, GridSize size, std::span<const float> result,
                        WalkOrder order);

// The extremes of heights as stored (floats), gathered a stretch at a time while the
// stretch is still in cache. NaN is skipped.
struct StoredExtremes {
  void Add(std::span<const float> heights);
  Extremes extremes;
};

// The same as RangeOfWalk, for kernels that do not track the exact values as they go:
// the stored floats settle the range, and only when an end is a zero are the exact
// values of the zero elements asked for (exact(i) recomputes element i).
template <typename Exact>
HeightRange RangeOfStored(const StoredExtremes& stored, GridSize size,
                          std::span<const float> result, WalkOrder order, Exact&& exact) {
  Extremes extremes = stored.extremes;
  const float lowest = static_cast<float>(extremes.lowest);
  const float highest = static_cast<float>(extremes.highest);
  if (lowest == 0.0f || highest == 0.0f) {
    // Which zero the tracker ends on depends on whether the exact extreme was zero
    // itself or a tiny value that rounded to one.
    Extremes zeros;
    for (size_t i = 0; i < result.size(); ++i)
      if (result[i] == 0.0f) zeros.Add(exact(i));
    if (lowest == 0.0f) extremes.lowest = zeros.lowest;
    if (highest == 0.0f) extremes.highest = zeros.highest;
  }
  return RangeOfWalk(extremes, size, result, order);
}

}  // namespace terrain
