#include "terrain/operations.h"

namespace terrain {

HeightRange Flatten(GridSize size, std::span<const float> source, std::span<float> result,
                    const FlattenParameters& parameters) {
  CheckGrid(size, source, result);
  const double target = parameters.targetHeight;
  const double keep = static_cast<double>(100 - parameters.severityPercent) * 0.01;
  const bool fullFlatten = parameters.severityPercent == 100;
  Extremes extremes;
  for (size_t i = 0; i < source.size(); ++i) {
    const double h = source[i];
    const double v = KeepFinite(fullFlatten ? target : target + (h - target) * keep, h);
    result[i] = static_cast<float>(v);
    extremes.Add(v);
  }
  HeightRange range = RangeOfWalk(extremes, size, result, WalkOrder::kColumnByColumn);
  // A plane still needs a range with two distinct ends.
  if (range.minimum == range.maximum) range.maximum += kFlatRangeWidening;
  return range;
}

}  // namespace terrain
