// Glaciate and Canyonize: a factor from each height's place in the recorded range.
#include <cmath>

#include "terrain/operations.h"

namespace terrain {
namespace {

template <typename Factor>
HeightRange Reshape(GridSize size, std::span<const float> source, std::span<float> result,
                    const ProfileParameters& parameters, Factor factor) {
  CheckGrid(size, source, result);
  const double minHeight = parameters.minHeight;
  const double range = parameters.maxHeight - minHeight;
  const double strength = parameters.severityPercent * 0.1;
  // An empty or unknown recorded range cannot place a height: keep the heights.
  const bool placeable = range != 0.0 && std::isfinite(range);
  Extremes extremes;
  for (size_t i = 0; i < source.size(); ++i) {
    const double h = source[i];
    double v = h;
    if (placeable) v = KeepFinite(factor((h - minHeight) / range, strength) * h, h);
    result[i] = static_cast<float>(v);
    extremes.Add(v);
  }
  return RangeOfWalk(extremes, size, result, WalkOrder::kColumnByColumn);
}

}  // namespace

HeightRange Glaciate(GridSize size, std::span<const float> source, std::span<float> result,
                     const ProfileParameters& parameters) {
  return Reshape(size, source, result, parameters,
                 [](double n, double k) { return std::exp((n - 1.0) * k); });
}

HeightRange Canyonize(GridSize size, std::span<const float> source, std::span<float> result,
                      const ProfileParameters& parameters) {
  return Reshape(size, source, result, parameters,
                 [](double n, double k) { return 1.0 - std::exp(-k * n); });
}

}  // namespace terrain
