// Glaciate and Canyonize: a factor from each height's place in the recorded range.
//
// The factor needs exp once per point. Four points at a time take a fast exp; a point
// keeps that result only when no exp within the fast one's error of it could round to
// a different float. The few others, and every point the fast exp does not cover, are
// computed with std::exp, so the stored heights are those of std::exp throughout.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "terrain/checked.h"
#include "terrain/fast_exp.h"
#include "terrain/operations.h"

namespace terrain {
namespace {

// Bound on the fast path's error relative to the result, with room to spare: 2^-39.7
// from the fast exp, 2^-41.5 from placing the height by a multiplication (its error
// grows with the exponent, which stays within 719), and a few units in the last place
// from the C library's exp and the roundings after it. A point lands within it of a
// float's rounding edge about once in 3000.
constexpr double kTolerance = 0x1p-37;

using Doubles8 = simd::Lanes<8>::Doubles;
using Masks8 = simd::Lanes<8>::Masks;

template <bool kCanyonize>
struct Profile {
  double minHeight;
  double range;
  double strength;
  double inverseRange = 1.0 / range;

  double Exact(double h) const {
    const double n = (h - minHeight) / range;
    const double v = kCanyonize ? (1.0 - std::exp(-strength * n)) * h
                                : std::exp((n - 1.0) * strength) * h;
    return KeepFinite(v, h);
  }

  // The fast values of eight points, and the lanes in which they hold.
  ROVANDEL_VECTOR_INLINE Masks8 Fast(Doubles8 h, Doubles8& v) const {
    const Doubles8 n = (h - minHeight) * inverseRange;
    const Doubles8 x = kCanyonize ? -strength * n : (n - 1.0) * strength;
    const Doubles8 e = simd::ExpLanes(x);
    v = kCanyonize ? (1.0 - e) * h : e * h;
    // Canyonize subtracts from 1, so exp's error counts against the whole factor.
    const Doubles8 size = kCanyonize ? simd::Abs(v) + simd::Abs(e * h) : simd::Abs(v);
    // Comparisons four lanes at a time: compilers handle those masks well.
    Masks8 held;
    for (int half = 0; half < 2; ++half) {
      const simd::Masks check =
          Check(simd::Half(h, half), simd::Half(x, half), simd::Half(v, half), simd::Half(size, half));
      std::memcpy(reinterpret_cast<char*>(&held) + half * sizeof check, &check, sizeof check);
    }
    return held;
  }

  ROVANDEL_VECTOR_INLINE simd::Masks Check(simd::Doubles h, simd::Doubles x, simd::Doubles v,
                                           simd::Doubles size) const {
    const auto inRange = (x >= simd::kFastExpLow) & (x <= simd::kFastExpHigh);
    const auto finite = size <= 3.0e38;  // false for NaN and overflow
    const auto held = inRange & finite & simd::RoundsSafely(v, size * kTolerance);
    // A zero height stays zero; its sign comes from 1 - exp, which only the C library's
    // exp settles when the exponent is next to zero.
    return kCanyonize ? held & ((h != 0.0) | (simd::Abs(x) >= 0x1p-30)) : held;
  }
};

template <bool kCanyonize>
ROVANDEL_VECTOR_INLINE HeightRange Reshape(GridSize size, std::span<const float> source,
                                           std::span<float> result,
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
    constexpr int kWidth = 8;
    auto fast = [&](size_t i, simd::Lanes<kWidth>::Doubles& v) {
      return profile.Fast(simd::LoadWide<kWidth>(source.data() + i), v);
    };
    StoreChecked<kWidth>(result, 0, result.size(), stored, fast, exact);
  } else {
    std::copy(source.begin(), source.end(), result.begin());
    stored.Add(result);
  }
  return RangeOfStored(stored, size, result, WalkOrder::kColumnByColumn, exact);
}

}  // namespace

__attribute__((target_clones("arch=x86-64-v3", "default")))
HeightRange Glaciate(GridSize size, std::span<const float> source, std::span<float> result,
                     const ProfileParameters& parameters) {
  return Reshape<false>(size, source, result, parameters);
}

__attribute__((target_clones("arch=x86-64-v3", "default")))
HeightRange Canyonize(GridSize size, std::span<const float> source, std::span<float> result,
                      const ProfileParameters& parameters) {
  return Reshape<true>(size, source, result, parameters);
}

}  // namespace terrain
