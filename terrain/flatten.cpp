#include <algorithm>
#include <cfloat>
#include <cmath>

#include "terrain/operations.h"
#include "terrain/parallel.h"
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

// Elements [begin, end) of the result; the extremes of what they hold as stored.
ROVANDEL_CLONES_AVX2
Extremes FlattenStretch(const float* src, float* dst, size_t begin, size_t end,
                        const FlattenParameters& parameters) {
  const double target = parameters.targetHeight;
  const double keep = static_cast<double>(100 - parameters.severityPercent) * 0.01;
  const bool fullFlatten = parameters.severityPercent == 100;
  StoredExtremes stored;
  // With a target a float can hold and a share kept between none and all, a finite
  // height's result lies between it and the target: never NaN, never beyond the float
  // limit, so KeepFinite has nothing to do and the loop is a plain blend.
  const bool targetFits = std::fabs(target) <= FLT_MAX;
  const bool plain = targetFits && keep >= 0.0 && keep <= 1.0 && !fullFlatten;
  size_t start = begin;
  if (fullFlatten && targetFits) {
    // Every point becomes the target, whatever it held.
    std::fill(dst + begin, dst + end, static_cast<float>(target));
    if (end > begin) stored.extremes.Add(static_cast<float>(target));
    start = end;
  }
  if (plain) {
    constexpr int kWidth = 8;
    using L = simd::Lanes<kWidth>;
    simd::LaneExtremes<L::Floats> lanes;
    for (; start + kWidth <= end; start += kWidth) {
      const L::Doubles h = simd::LoadWide<kWidth>(src + start);
      const L::Floats v = simd::Narrow(target + (h - target) * keep);
      simd::StoreFloats(dst + start, v);
      lanes.Add(v);
    }
    lanes.MergeInto(stored.extremes);
  }
  for (; start < end; start += kStretch) {
    const size_t stop = std::min(end, start + kStretch);
    if (fullFlatten) {
      for (size_t i = start; i < stop; ++i)
        dst[i] = static_cast<float>(KeepFiniteSelect(target, src[i]));
    } else {
      for (size_t i = start; i < stop; ++i) {
        const double h = src[i];
        dst[i] = static_cast<float>(KeepFiniteSelect(target + (h - target) * keep, h));
      }
    }
    stored.Add(std::span<const float>(dst + start, stop - start));
  }
  return stored.extremes;
}

}  // namespace

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
  const size_t width = static_cast<size_t>(size.width);
  StoredExtremes stored;
  stored.extremes = ForRowBands(size, [&](int32_t y0, int32_t y1) {
    return FlattenStretch(source.data(), result.data(), static_cast<size_t>(y0) * width,
                          static_cast<size_t>(y1) * width, parameters);
  });
  HeightRange range = RangeOfStored(stored, size, result, WalkOrder::kColumnByColumn, exact);
  // A plane still needs a range with two distinct ends.
  if (range.minimum == range.maximum) range.maximum += kFlatRangeWidening;
  return range;
}

}  // namespace terrain
