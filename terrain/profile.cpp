// Glaciate and Canyonize: a factor from each height's place in the recorded range.
//
// The factor needs exp once per point. Eight points at a time take a fast exp; a point
// keeps that result only when no exp within the fast one's error of it could round to
// a different float. The few others, and every point the fast exp does not cover, are
// computed with std::exp, so the stored heights are those of std::exp throughout.
#include <algorithm>
#include <cmath>

#include "terrain/checked.h"
#include "terrain/fast_exp.h"
#include "terrain/operations.h"
#include "terrain/parallel.h"

namespace terrain {
namespace {

// Bound on the fast path's error relative to the result, with room to spare: 2^-39.7
// from the fast exp, 2^-41.5 from placing the height by a multiplication (its error
// grows with the exponent, which stays within 719), and a few units in the last place
// from the C library's exp and the roundings after it. On terrain, a point lands within
// it of a float's rounding edge a few times in 10000 (more often for Canyonize, whose
// bound counts exp's error against the whole factor).
constexpr double kTolerance = 0x1p-37;

using simd::Doubles;
using Doubles8 = simd::Lanes<8>::Doubles;

template <bool kCanyonize>
struct Profile {
  double minHeight;
  double range;
  double strength;
  double inverseRange = 1.0 / range;

  double Exact(double h) const {
    const double n = (h - minHeight) / range;
    const double v =
        kCanyonize ? (1.0 - std::exp(-strength * n)) * h : std::exp((n - 1.0) * strength) * h;
    return KeepFinite(v, h);
  }

  // The fast values of eight points, and the lanes in which they hold. The arithmetic
  // runs on eight lanes, two independent chains through exp; the checks on four.
  ROVANDEL_VECTOR_INLINE auto Fast(const Doubles8& h, Doubles8& v) const {
    const Doubles8 n = (h - minHeight) * inverseRange;
    const Doubles8 x = kCanyonize ? -strength * n : (n - 1.0) * strength;
    const Doubles8 e = simd::ExpLanes(x);
    v = kCanyonize ? (1.0 - e) * h : e * h;
    // Canyonize subtracts from 1, so exp's error counts against the whole factor.
    const Doubles8 size = kCanyonize ? simd::Abs(v) + simd::Abs(e * h) : simd::Abs(v);
    const auto low =
        Check(simd::Half<0>(h), simd::Half<0>(x), simd::Half<0>(v), simd::Half<0>(size));
    const auto high =
        Check(simd::Half<1>(h), simd::Half<1>(x), simd::Half<1>(v), simd::Half<1>(size));
    return __builtin_shufflevector(low, high, 0, 1, 2, 3, 4, 5, 6, 7);
  }

  ROVANDEL_VECTOR_INLINE auto Check(const Doubles& h, const Doubles& x, const Doubles& v,
                                    const Doubles& size) const {
    const auto inRange = (x >= simd::kFastExpLow) & (x <= simd::kFastExpHigh);
    const auto finite = size <= 3.0e38;  // false for NaN and overflow
    auto usable = inRange & finite;
    // A zero height stays zero; its sign comes from 1 - exp, which only the C library's
    // exp settles when the exponent is next to zero.
    if constexpr (kCanyonize) usable &= (h != 0.0) | (simd::Abs(x) >= 0x1p-30);
    return simd::RoundsSafely(v, size * kTolerance, usable);
  }
};

// Elements [begin, end) of the result; the extremes of what they hold as stored.
template <bool kCanyonize>
ROVANDEL_VECTOR_INLINE Extremes ReshapeStretch(const Profile<kCanyonize>& profile,
                                               std::span<const float> source,
                                               std::span<float> result, size_t begin, size_t end) {
  StoredExtremes stored;
  auto fast = [&](size_t i, Doubles8 & v) __attribute__((always_inline)) {
    return profile.Fast(simd::LoadWide<8>(source.data() + i), v);
  };
  auto exact = [&](size_t i) { return profile.Exact(source[i]); };
  StoreChecked<8>(result, begin, end, stored, fast, exact);
  return stored.extremes;
}

ROVANDEL_CLONES_V3
Extremes GlaciateStretch(const Profile<false>& profile, std::span<const float> source,
                         std::span<float> result, size_t begin, size_t end) {
  return ReshapeStretch<false>(profile, source, result, begin, end);
}

ROVANDEL_CLONES_V3
Extremes CanyonizeStretch(const Profile<true>& profile, std::span<const float> source,
                          std::span<float> result, size_t begin, size_t end) {
  return ReshapeStretch<true>(profile, source, result, begin, end);
}

template <bool kCanyonize>
HeightRange Reshape(GridSize size, std::span<const float> source, std::span<float> result,
                    const ProfileParameters& parameters) {
  CheckGrid(size, source, result);
  const Profile<kCanyonize> profile{parameters.minHeight,
                                    parameters.maxHeight - parameters.minHeight,
                                    parameters.severityPercent * 0.1};
  // An empty or unknown recorded range cannot place a height: keep the heights.
  const bool placeable = profile.range != 0.0 && std::isfinite(profile.range);
  auto exact = [&](size_t i) -> double {
    const double h = source[i];
    return placeable ? profile.Exact(h) : h;
  };
  StoredExtremes stored;
  if (placeable) {
    const size_t width = static_cast<size_t>(size.width);
    stored.extremes = ForRowBands(size, [&](int32_t y0, int32_t y1) {
      const size_t begin = static_cast<size_t>(y0) * width, end = static_cast<size_t>(y1) * width;
      if constexpr (kCanyonize)
        return CanyonizeStretch(profile, source, result, begin, end);
      else
        return GlaciateStretch(profile, source, result, begin, end);
    });
  } else {
    std::copy(source.begin(), source.end(), result.begin());
    stored.Add(result);
  }
  return RangeOfStored(stored, size, result, WalkOrder::kColumnByColumn, exact);
}

}  // namespace

HeightRange Glaciate(GridSize size, std::span<const float> source, std::span<float> result,
                     const ProfileParameters& parameters) {
  return Reshape<false>(size, source, result, parameters);
}

HeightRange Canyonize(GridSize size, std::span<const float> source, std::span<float> result,
                      const ProfileParameters& parameters) {
  return Reshape<true>(size, source, result, parameters);
}

}  // namespace terrain
