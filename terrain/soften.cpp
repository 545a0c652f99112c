// Soften and Soften more. Each weighted sum is formed in double in a fixed order (the
// cells of a weight class by row, then by column; the classes from weight 1 upward),
// rounded once to float and divided by the divisor in float, so the result does not
// depend on how the loops are arranged.
#include <algorithm>
#include <array>
#include <cstdlib>

#include "terrain/operations.h"

namespace terrain {
namespace {

struct Cell {
  int dy;
  int dx;
};

template <int R>
constexpr int WeightOf(int dy, int dx) {
  if constexpr (R == 1) {
    return 1 + (dx == 0) + (dy == 0);
  } else {
    return 1 + (2 - (dx < 0 ? -dx : dx)) + (2 - (dy < 0 ? -dy : dy));
  }
}

template <int R>
constexpr int kCentreWeight = WeightOf<R>(0, 0);

template <int R>
constexpr int kWeightSum = R == 1 ? 15 : 65;

// The window's cells ordered by weight class, then by row, then by column.
template <int R>
constexpr auto OrderedCells() {
  std::array<Cell, (2 * R + 1) * (2 * R + 1)> cells{};
  size_t n = 0;
  for (int w = 1; w <= kCentreWeight<R>; ++w)
    for (int dy = -R; dy <= R; ++dy)
      for (int dx = -R; dx <= R; ++dx)
        if (WeightOf<R>(dy, dx) == w) cells[n++] = {dy, dx};
  return cells;
}

template <int R>
constexpr auto kCells = OrderedCells<R>();

// The weighted sum of one element; sample(cell index) yields each cell's height.
template <int R, typename Sample>
inline double WeightedSum(Sample sample) {
  double total = 0.0;
  size_t i = 0;
  for (int w = 1; w <= kCentreWeight<R>; ++w) {
    double classSum = sample(i++);
    while (i < kCells<R>.size() && WeightOf<R>(kCells<R>[i].dy, kCells<R>[i].dx) == w)
      classSum += sample(i++);
    total = w == 1 ? classSum : total + w * classSum;
  }
  return total;
}

// An element near the border: cells outside the grid sample 0.0 and leave the divisor.
template <int R>
float BorderElement(GridSize size, const float* source, int32_t x, int32_t y) {
  float divisor = static_cast<float>(kWeightSum<R>);
  const double sum = WeightedSum<R>([&](size_t i) -> double {
    const int32_t nx = x + kCells<R>[i].dx;
    const int32_t ny = y + kCells<R>[i].dy;
    if (nx < 0 || nx >= size.width || ny < 0 || ny >= size.height) {
      divisor -= static_cast<float>(WeightOf<R>(kCells<R>[i].dy, kCells<R>[i].dx));
      return 0.0;
    }
    return source[static_cast<size_t>(ny) * static_cast<size_t>(size.width) +
                  static_cast<size_t>(nx)];
  });
  return static_cast<float>(sum) / divisor;
}

template <int R>
HeightRange Smooth(GridSize size, std::span<const float> source, std::span<float> result) {
  CheckGrid(size, source, result);
  const float* src = source.data();
  float* dst = result.data();
  const size_t width = static_cast<size_t>(size.width);
  Extremes extremes;
  for (int32_t y = 0; y < size.height; ++y) {
    float* out = dst + static_cast<size_t>(y) * width;
    const bool interiorRow = y >= R && y < size.height - R;
    const int32_t x0 = interiorRow ? R : size.width;
    const int32_t x1 = interiorRow ? size.width - R : size.width;
    auto border = [&](int32_t x) {
      const float v = BorderElement<R>(size, src, x, y);
      out[x] = v;
      extremes.Add(v);
    };
    for (int32_t x = 0; x < std::min(x0, size.width); ++x) border(x);
    if (x0 < x1) {
      // rows[i] is the row of cell kCells[i]; its column is x + kCells[i].dx.
      std::array<const float*, kCells<R>.size()> rows;
      for (size_t i = 0; i < rows.size(); ++i)
        rows[i] = src + static_cast<size_t>(y + kCells<R>[i].dy) * width;
      constexpr float kDivisor = static_cast<float>(kWeightSum<R>);
      for (int32_t x = x0; x < x1; ++x) {
        const double sum = WeightedSum<R>([&](size_t i) -> double { return rows[i][x + kCells<R>[i].dx]; });
        const float v = static_cast<float>(sum) / kDivisor;
        out[x] = v;
        extremes.Add(v);
      }
    }
    for (int32_t x = std::max(x1, x0); x < size.width; ++x) border(x);
  }
  return RangeOfWalk(extremes, size, result, WalkOrder::kColumnByColumn);
}

}  // namespace

HeightRange Soften(GridSize size, std::span<const float> source, std::span<float> result) {
  return Smooth<1>(size, source, result);
}

HeightRange SoftenMore(GridSize size, std::span<const float> source, std::span<float> result) {
  return Smooth<2>(size, source, result);
}

}  // namespace terrain
