// Add Hill / Depression, with the same verified fast exp as Glaciate and Canyonize:
// four points of a row at a time, std::exp wherever the fast value could round to a
// different stored height.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <vector>

#include "terrain/fast_exp.h"
#include "terrain/operations.h"

namespace terrain {
namespace {

using simd::Doubles;

constexpr double kTolerance = 0x1p-46;

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

}  // namespace

__attribute__((target_clones("avx2", "default")))
HeightRange AddHill(GridSize size, std::span<const float> source, std::span<float> result,
                    const HillParameters& parameters) {
  CheckGrid(size, source, result);
  const Bump bump{parameters.centreX,
                  parameters.centreY,
                  parameters.heightChange,
                  parameters.width * parameters.width,
                  size.width,
                  size.height};
  const size_t width = static_cast<size_t>(size.width);
  auto exact = [&](size_t i) {
    const auto y = static_cast<int32_t>(i / width);
    const auto x = static_cast<int32_t>(i % width);
    return bump.Exact(x, bump.Row(y), source[i]);
  };
  const bool fast = bump.w2 != 0.0;
  // Each column's squared distance is the same on every row: work it out once.
  std::vector<double> columnDistances(width);
  for (int32_t x = 0; x < size.width; ++x) {
    const double fx = (x + 0.5) / size.width - bump.cx;
    columnDistances[static_cast<size_t>(x)] = fx * fx;
  }
  StoredExtremes stored;
  for (int32_t y = 0; y < size.height; ++y) {
    const size_t row = static_cast<size_t>(y) * width;
    const double dy2 = bump.Row(y);
    int32_t x = 0;
    for (; fast && x + simd::kLanes <= size.width; x += simd::kLanes) {
      const Doubles src = simd::LoadWide(source.data() + row + static_cast<size_t>(x));
      Doubles dx2;
      std::memcpy(&dx2, columnDistances.data() + x, sizeof dx2);
      const Doubles exponent = -(dx2 + dy2) / bump.w2;
      // Far enough out exp is exactly zero, for std::exp too.
      const auto zero = exponent < simd::kExpIsZeroBelow;
      const Doubles g = zero ? Doubles{} : simd::ExpLanes(exponent);
      const Doubles change = bump.dh * g;
      const Doubles h = src + change;
      const Doubles magnitude =
          (change < 0 ? -change : change) * kTolerance + (h < 0 ? -h : h) * 0x1p-50;
      const Doubles low = h - magnitude;
      const Doubles high = h + magnitude;
      const auto covered = zero | ((exponent >= simd::kFastExpLow) & (exponent <= 0.0));
      const auto finite = (high <= 3.0e38) & (low >= -3.0e38);  // false for NaN
      const auto floorAgrees = (low > kHillFloorLimit) == (high > kHillFloorLimit);
      const auto safe =
          covered & finite & floorAgrees & simd::RoundsSafely(h, magnitude);
      for (int lane = 0; lane < simd::kLanes; ++lane) {
        const size_t i = row + static_cast<size_t>(x + lane);
        result[i] = static_cast<float>(safe[lane] ? Bump::Finish(h[lane], src[lane]) : exact(i));
      }
    }
    for (; x < size.width; ++x) {
      const size_t i = row + static_cast<size_t>(x);
      result[i] = static_cast<float>(bump.Exact(x, dy2, source[i]));
    }
    stored.Add(result.subspan(row, width));
  }
  return RangeOfStored(stored, size, result, WalkOrder::kRowByRow, exact);
}

}  // namespace terrain
