#include <algorithm>
#include <cfloat>

#include "terrain/operations.h"

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
  for (size_t start = 0; start < source.size(); start += kStretch) {
    const size_t end = std::min(source.size(), start + kStretch);
    const float* src = source.data();
    float* dst = result.data();
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
