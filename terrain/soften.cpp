// Soften and Soften more. Each weighted sum is formed in double in a fixed order (the
// cells of a weight class by row, then by column; the classes from weight 1 upward),
// rounded once to float and divided by the divisor in float, so the result does not
// depend on how the loops are arranged.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <utility>
#include <vector>

#include "terrain/operations.h"
#include "terrain/parallel.h"
#include "terrain/simd.h"

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

template <int R>
constexpr int WeightOfCell(size_t i) {
  return WeightOf<R>(kCells<R>[i].dy, kCells<R>[i].dx);
}

// The weighted sum of one element, unrolled at compile time; sample(i) yields the
// height of cell kCells[i] as a double or as a vector of doubles.
template <int R, typename T, typename Sample>
ROVANDEL_VECTOR_INLINE T WeightedSum(Sample&& sample) {
  constexpr size_t kCount = kCells<R>.size();
  T total{};
  T classSum{};
  auto step = [&]<size_t I>(std::integral_constant<size_t, I>) __attribute__((always_inline)) {
    constexpr int w = WeightOfCell<R>(I);
    constexpr bool first = I == 0 || WeightOfCell<R>(I == 0 ? 0 : I - 1) != w;
    constexpr bool last = I + 1 == kCount || WeightOfCell<R>(I + 1 == kCount ? I : I + 1) != w;
    const T s = sample(I);
    if constexpr (first) {
      classSum = s;
    } else {
      classSum = classSum + s;
    }
    if constexpr (last) {
      if constexpr (w == 1) {
        total = classSum;
      } else {
        total = total + static_cast<double>(w) * classSum;
      }
    }
  };
  [&]<size_t... I>(std::index_sequence<I...>) __attribute__((always_inline)) {
    (step(std::integral_constant<size_t, I>{}), ...);
  }
  (std::make_index_sequence<kCount>{});
  return total;
}

// The weighted sum rounded to float, divided by the divisor. A sum of finite heights
// near the float limit can exceed it before the division brings it back; such a mean
// is divided in double instead of becoming infinite.
inline float MeanOf(double sum, float divisor) {
  const float rounded = static_cast<float>(sum);
  if (std::isinf(rounded) && std::isfinite(sum)) return static_cast<float>(sum / divisor);
  return rounded / divisor;
}

// An element near the border: cells outside the grid sample 0.0 and leave the divisor.
template <int R>
float BorderElement(GridSize size, const float* source, int32_t x, int32_t y) {
  float divisor = static_cast<float>(kWeightSum<R>);
  const double sum = WeightedSum<R, double>([&](size_t i) -> double {
    const int32_t nx = x + kCells<R>[i].dx;
    const int32_t ny = y + kCells<R>[i].dy;
    if (nx < 0 || nx >= size.width || ny < 0 || ny >= size.height) {
      divisor -= static_cast<float>(WeightOf<R>(kCells<R>[i].dy, kCells<R>[i].dx));
      return 0.0;
    }
    return source[static_cast<size_t>(ny) * static_cast<size_t>(size.width) +
                  static_cast<size_t>(nx)];
  });
  return MeanOf(sum, divisor);
}

// Rows [y0, y1) of the result; the extremes of what they hold.
template <int R>
ROVANDEL_VECTOR_INLINE Extremes SmoothRows(GridSize size, const float* src, float* dst, int32_t y0,
                                           int32_t y1) {
  const size_t width = static_cast<size_t>(size.width);
  Extremes extremes;
  // The window's source rows widened to double once each, kept in a ring of 2R + 1
  // rows, so each height is converted once rather than once per cell that reads it.
  constexpr int kWindowRows = 2 * R + 1;
  std::vector<double> ring(kWindowRows * width);
  auto widened = [&](int32_t row) { return ring.data() + (row % kWindowRows) * width; };
  auto widen = [&](int32_t row) {
    const float* from = src + static_cast<size_t>(row) * width;
    std::copy(from, from + width, widened(row));
  };
  for (int32_t row = std::max(0, y0 - R); row < std::min(y0 + R, size.height); ++row) widen(row);
  for (int32_t y = y0; y < y1; ++y) {
    if (y + R < size.height) widen(y + R);
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
      std::array<const double*, kCells<R>.size()> rows;
      for (size_t i = 0; i < rows.size(); ++i) rows[i] = widened(y + kCells<R>[i].dy);
      constexpr float kDivisor = static_cast<float>(kWeightSum<R>);
      auto sumAt = [&](int32_t x) __attribute__((always_inline)) {
        return WeightedSum<R, simd::Doubles>([&](size_t i) __attribute__((always_inline)) {
          return simd::LoadDoubles(rows[i] + x + kCells<R>[i].dx);
        });
      };
      int32_t x = x0;
      simd::LaneExtremes<simd::Floats> lanes;
      simd::Floats check{};  // stays zero while every mean is finite, NaN otherwise
      for (; x + simd::kLanes <= x1; x += simd::kLanes) {
        const simd::Floats v = simd::Narrow(sumAt(x)) / kDivisor;
        check += v - v;
        simd::StoreFloats(out + x, v);
        lanes.Add(v);
      }
      if (check[0] + check[1] + check[2] + check[3] != 0.0f) {
        // Rare: a mean that is not finite. Such a row is done again point by point,
        // since a sum of finite heights may still round to infinity.
        lanes = {};
        for (int32_t v0 = x0; v0 < x; v0 += simd::kLanes) {
          const simd::Doubles sum = sumAt(v0);
          simd::Floats v;
          for (int lane = 0; lane < simd::kLanes; ++lane) v[lane] = MeanOf(sum[lane], kDivisor);
          simd::StoreFloats(out + v0, v);
          lanes.Add(v);
        }
      }
      lanes.MergeInto(extremes);
      for (; x < x1; ++x) {
        const double sum =
            WeightedSum<R, double>([&](size_t i) { return rows[i][x + kCells<R>[i].dx]; });
        const float v = MeanOf(sum, kDivisor);
        out[x] = v;
        extremes.Add(v);
      }
    }
    for (int32_t x = std::max(x1, x0); x < size.width; ++x) border(x);
  }
  return extremes;
}

// Built per instruction set as plain functions: not every compiler clones templates.
ROVANDEL_CLONES_AVX2 Extremes SoftenRows(GridSize size, const float* src, float* dst, int32_t y0,
                                         int32_t y1) {
  return SmoothRows<1>(size, src, dst, y0, y1);
}
ROVANDEL_CLONES_AVX2 Extremes SoftenMoreRows(GridSize size, const float* src, float* dst,
                                             int32_t y0, int32_t y1) {
  return SmoothRows<2>(size, src, dst, y0, y1);
}

template <int R>
HeightRange Smooth(GridSize size, std::span<const float> source, std::span<float> result) {
  CheckGrid(size, source, result);
  const Extremes extremes = ForRowBands(size, [&](int32_t y0, int32_t y1) {
    return (R == 1 ? SoftenRows : SoftenMoreRows)(size, source.data(), result.data(), y0, y1);
  });
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
