// Add Hill / Depression. The bump is exp(-(dx² + dy²) / w²); the fast path takes it as
// exp(-dx² / w²) · exp(-dy² / w²), one factor worked out per column and one per row, so
// no exp is left per point. That product differs from the contract's exp of the sum in
// the last bits only, and a point keeps it only where no value within that difference
// could round to another stored height; the others are computed with std::exp.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <stdexcept>
#include <vector>

#include "terrain/checked.h"
#include "terrain/operations.h"
#include "terrain/parallel.h"

namespace terrain {
namespace {

using simd::Doubles;

constexpr double kTolerance = 0x1p-46;
// Beyond this exponent exp is exactly zero, for std::exp too; within the other, each
// factor and their product stay normal doubles, so their relative errors hold.
constexpr double kExpIsZeroBeyond = 747.0;
constexpr double kFactorsNormalWithin = 700.0;

struct Bump {
  double cx, cy, dh, w2;
  int32_t width, height;

  double Row(int32_t y) const {
    const double fy = (y + 0.5) / height - cy;
    return fy * fy;
  }

  // The floor for deep depressions, and the float limit for finite heights.
  static double Finish(double h, double src) {
    if (!(h > kHillFloorLimit)) return kHillFloor;
    if (h > FLT_MAX && std::isfinite(src)) return FLT_MAX;
    return h;
  }

  // The bump the parameters describe on a grid of the given size.
  static Bump Of(const HillParameters& p, GridSize size) {
    return {p.centreX, p.centreY, p.heightChange, p.width * p.width, size.width, size.height};
  }

  double Exact(int32_t x, double dy2, double src) const {
    const double fx = (x + 0.5) / width - cx;
    const double dx2 = fx * fx;
    // A zero width is a bump of no extent: it changes nothing.
    const double g = w2 == 0.0 ? 0.0 : std::exp(-(dx2 + dy2) / w2);
    double bump = dh * g;
    if (std::isnan(bump)) bump = 0.0;  // an infinite change times a zero tail
    return Finish(src + bump, src);
  }
};

// Rows [y0, y1) of the result; the extremes of what they hold as stored. The columns'
// shares of the exponent and their factors are the same on every row.
ROVANDEL_CLONES_AVX2
Extremes HillRows(const Bump& bump, std::span<const float> source, std::span<float> result,
                  const double* columnExponents, const double* columnFactors, int32_t y0,
                  int32_t y1) {
  const size_t width = static_cast<size_t>(bump.width);
  auto exact = [&](size_t i) {
    const auto y = static_cast<int32_t>(i / width);
    const auto x = static_cast<int32_t>(i % width);
    return bump.Exact(x, bump.Row(y), source[i]);
  };
  const bool fast = bump.w2 != 0.0;
  StoredExtremes stored;
  for (int32_t y = y0; y < y1; ++y) {
    const size_t row = static_cast<size_t>(y) * width;
    const double dy2 = bump.Row(y);
    const double rowExponent = dy2 / bump.w2;
    const double rowFactor = std::exp(-rowExponent);
    auto fastFour = [&](size_t i, Doubles & value) __attribute__((always_inline)) {
      const size_t x = i - row;
      const Doubles src = simd::LoadWide(source.data() + i);
      const Doubles exponent = simd::LoadDoubles(columnExponents + x) + rowExponent;
      // Far enough out exp is exactly zero, for std::exp too.
      const auto zero = exponent > kExpIsZeroBeyond;
      const Doubles g = zero ? Doubles{} : simd::LoadDoubles(columnFactors + x) * rowFactor;
      const Doubles change = bump.dh * g;
      const Doubles h = src + change;
      // The factors' exps and the exponent's roundings, relative to the change, then the
      // sum's rounding; both with room to spare.
      const Doubles relative = kTolerance + (zero ? Doubles{} : exponent) * 0x1p-48;
      const Doubles absolute = simd::Abs(h);
      const Doubles magnitude = simd::Abs(change) * relative + absolute * 0x1p-50;
      const Doubles low = h - magnitude;
      const Doubles high = h + magnitude;
      const auto covered = zero | (exponent <= kFactorsNormalWithin);
      const auto finite = absolute + magnitude <= 3.0e38;  // false for NaN
      const auto floorAgrees = (low > kHillFloorLimit) == (high > kHillFloorLimit);
      value = h > kHillFloorLimit ? h : kHillFloor;
      return simd::RoundsSafely(h, magnitude, covered & finite & floorAgrees);
    };
    if (fast) {
      StoreChecked<simd::kLanes>(result, row, row + width, stored, fastFour, exact);
    } else {
      for (int32_t x = 0; x < bump.width; ++x)
        result[row + static_cast<size_t>(x)] =
            static_cast<float>(bump.Exact(x, dy2, source[row + static_cast<size_t>(x)]));
      stored.Add(result.subspan(row, width));
    }
  }
  return stored.extremes;
}

}  // namespace

HeightRange AddHill(GridSize size, std::span<const float> source, std::span<float> result,
                    const HillParameters& parameters) {
  CheckGrid(size, source, result);
  const Bump bump = Bump::Of(parameters, size);
  const size_t width = static_cast<size_t>(size.width);
  auto exact = [&](size_t i) {
    const auto y = static_cast<int32_t>(i / width);
    const auto x = static_cast<int32_t>(i % width);
    return bump.Exact(x, bump.Row(y), source[i]);
  };
  std::vector<double> columnExponents(width), columnFactors(width);
  for (int32_t x = 0; x < size.width; ++x) {
    const double fx = (x + 0.5) / size.width - bump.cx;
    columnExponents[static_cast<size_t>(x)] = fx * fx / bump.w2;
    columnFactors[static_cast<size_t>(x)] = std::exp(-(fx * fx / bump.w2));
  }
  StoredExtremes stored;
  stored.extremes = ForRowBands(size, [&](int32_t y0, int32_t y1) {
    return HillRows(bump, source, result, columnExponents.data(), columnFactors.data(), y0, y1);
  });
  return RangeOfStored(stored, size, result, WalkOrder::kRowByRow, exact);
}

void AddHillWindow(GridSize whole, int32_t x0, int32_t y0, GridSize window,
                   std::span<const float> source, std::span<float> result,
                   const HillParameters& parameters) {
  CheckGrid(window, source, result);
  if (x0 < 0 || y0 < 0 || window.width > whole.width - x0 || window.height > whole.height - y0)
    throw std::invalid_argument("the window lies outside the grid");
  const Bump bump = Bump::Of(parameters, whole);
  ForRowBands(window, [&](int32_t r0, int32_t r1) {
    for (int32_t y = r0; y < r1; ++y) {
      const double dy2 = bump.Row(y0 + y);
      const size_t row = static_cast<size_t>(y) * static_cast<size_t>(window.width);
      for (int32_t x = 0; x < window.width; ++x)
        result[row + static_cast<size_t>(x)] =
            static_cast<float>(bump.Exact(x0 + x, dy2, source[row + static_cast<size_t>(x)]));
    }
    return Extremes{};
  });
}

}  // namespace terrain
