// Glaciate and Canyonize: a factor from each height's place in the recorded range.
//
// The factor needs exp once per point. Four points at a time take a fast exp; a point
// keeps that result only when no exp within the fast one's error of it could round to
// a different float. The few others, and every point the fast exp does not cover, are
// computed with std::exp, so the stored heights are those of std::exp throughout.
#include <algorithm>
#include <cmath>

#include "terrain/fast_exp.h"
#include "terrain/operations.h"

namespace terrain {
namespace {

using simd::Doubles;

constexpr size_t kStretch = 4096;
// Bound on the fast path's error relative to the result (2^-50 from exp, the C
// library's own half unit, and the roundings after exp), with room to spare.
constexpr double kTolerance = 0x1p-46;

struct Profile {
  double minHeight;
  double range;
  double strength;
  bool canyonize;

  double Exact(double h) const {
    const double n = (h - minHeight) / range;
    const double v = canyonize ? (1.0 - std::exp(-strength * n)) * h
                               : std::exp((n - 1.0) * strength) * h;
    return KeepFinite(v, h);
  }

  // The fast values of four points and the lanes in which they hold.
  ROVANDEL_VECTOR_INLINE auto Fast(Doubles h, Doubles& v) const {
    const Doubles n = (h - minHeight) / range;
    const Doubles x = canyonize ? -strength * n : (n - 1.0) * strength;
    const Doubles e = simd::ExpLanes(x);
    // Canyonize subtracts from 1, so exp's error counts against the whole factor.
    const Doubles product = canyonize ? (1.0 - e) * h : e * h;
    const Doubles magnitude = canyonize ? (e < 0 ? -e : e) * (h < 0 ? -h : h) : Doubles{};
    const Doubles size = (product < 0 ? -product : product) + magnitude;
    v = product;
    const auto inRange = (x >= simd::kFastExpLow) & (x <= simd::kFastExpHigh);
    const auto finite = (size <= 3.0e38) & (size >= 0.0);  // false for NaN and overflow
    return inRange & finite & simd::RoundsSafely(product, size * kTolerance);
  }
};


__attribute__((target_clones("avx2", "default")))
HeightRange Reshape(GridSize size, std::span<const float> source, std::span<float> result,
                    const ProfileParameters& parameters, bool canyonize) {
  CheckGrid(size, source, result);
  const Profile profile{parameters.minHeight, parameters.maxHeight - parameters.minHeight,
                        parameters.severityPercent * 0.1, canyonize};
  // An empty or unknown recorded range cannot place a height: keep the heights.
  const bool placeable = profile.range != 0.0 && std::isfinite(profile.range);
  auto exact = [&](size_t i) -> double {
    const double h = source[i];
    return placeable ? profile.Exact(h) : h;
  };
  StoredExtremes stored;
  for (size_t start = 0; start < source.size(); start += kStretch) {
    const size_t end = std::min(source.size(), start + kStretch);
    size_t i = start;
    if (placeable) {
      for (; i + simd::kLanes <= end; i += simd::kLanes) {
        Doubles v;
        const auto safe = profile.Fast(simd::LoadWide(source.data() + i), v);
        for (int lane = 0; lane < simd::kLanes; ++lane)
          result[i + lane] = static_cast<float>(safe[lane] ? v[lane] : exact(i + lane));
      }
    }
    for (; i < end; ++i) result[i] = static_cast<float>(exact(i));
    stored.Add(result.subspan(start, end - start));
  }
  return RangeOfStored(stored, size, result, WalkOrder::kColumnByColumn, exact);
}

}  // namespace

HeightRange Glaciate(GridSize size, std::span<const float> source, std::span<float> result,
                     const ProfileParameters& parameters) {
  return Reshape(size, source, result, parameters, false);
}

HeightRange Canyonize(GridSize size, std::span<const float> source, std::span<float> result,
                      const ProfileParameters& parameters) {
  return Reshape(size, source, result, parameters, true);
}

}  // namespace terrain
