#include <algorithm>
#include <cfloat>
#include <cmath>

#include "terrain/operations.h"
#include "terrain/simd.h"

namespace terrain {
namespace {

// KeepFinite without branches, so the loop over the grid vectorises.
inline double KeepFiniteSelect(double v, double h) {
  const bool finiteSource = (h - h) == 0.0;  // false for infinities and NaN
  double kept = v != v ? h : v;
  kept = kept > FLT_MAX ? FLT_MAX : kept;
  kept = kept < -FLT_MAX ? -FLT_MAX : kept;
  return finiteSource ? kept : v;
}

// Heights computed per stretch, small enough to be read back from cache for the range.
constexpr size_t kStretch = 4096;

}  // namespace

__attribute__((target_clones("avx2", "default")))
HeightRange Flatten(GridSize size, std::span<const float> source, std::span<float> result,
                    const FlattenParameters& parameters) {
  CheckGrid(size, source, result);
  const double target = parameters.targetHeight;
  const double keep = static_cast<double>(100 - parameters.severityPercent) * 0.01;
  const bool fullFlatten = parameters.severityPercent == 100;
  auto exact = [&](size_t i) {
    const double h = source[i];
    return KeepFiniteSelect(fullFlatten ? target : target + (h - target) * keep, h);
  };
  StoredExtremes stored;
  // With a target a float can hold and a share kept between none and all, a finite
  // height's result lies between it and the target: never NaN, never beyond the float
  // limit, so KeepFinite has nothing to do and the loop is a plain blend.
  const bool targetFits = std::fabs(target) <= FLT_MAX;
  const bool plain = targetFits && keep >= 0.0 && keep <= 1.0 && !fullFlatten;
  const float* src = source.data();
  float* dst = result.data();
  size_t start = 0;
  if (fullFlatten && targetFits) {
    // Every point becomes the target, whatever it held.
    std::fill(result.begin(), result.end(), static_cast<float>(target));
    if (!result.empty()) stored.extremes.Add(static_cast<float>(target));
    start = result.size();
  }
  if (plain) {
    constexpr int kWidth = 8;
    using L = simd::Lanes<kWidth>;
    simd::LaneExtremes<L::Floats> lanes;
    for (; start + kWidth <= source.size(); start += kWidth) {
      const L::Doubles h = simd::LoadWide<kWidth>(src + start);
      const L::Floats v = simd::Narrow(target + (h - target) * keep);
      simd::StoreFloats(dst + start, v);
      lanes.Add(v);
    }
    lanes.MergeInto(stored.extremes);
  }
  for (; start < source.size(); start += kStretch) {
    const size_t end = std::min(source.size(), start + kStretch);
    if (fullFlatten) {
      for (size_t i = start; i < end; ++i)
        dst[i] = static_cast<float>(KeepFiniteSelect(target, src[i]));
    } else {
      for (size_t i = start; i < end; ++i) {
        const double h = src[i];
        dst[i] = static_cast<float>(KeepFiniteSelect(target + (h - target) * keep, h));
      }
    }
    stored.Add(result.subspan(start, end - start));
  }
  HeightRange range = RangeOfStored(stored, size, result, WalkOrder::kColumnByColumn, exact);
  // A plane still needs a range with two distinct ends.
  if (range.minimum == range.maximum) range.maximum += kFlatRangeWidening;
  return range;
}

}  // namespace terrain
