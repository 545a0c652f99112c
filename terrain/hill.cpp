#include <cfloat>
#include <cmath>

#include "terrain/operations.h"

namespace terrain {

HeightRange AddHill(GridSize size, std::span<const float> source, std::span<float> result,
                    const HillParameters& parameters) {
  CheckGrid(size, source, result);
  const double cx = parameters.centreX;
  const double cy = parameters.centreY;
  const double dh = parameters.heightChange;
  const double w2 = parameters.width * parameters.width;
  const size_t width = static_cast<size_t>(size.width);
  Extremes extremes;
  for (int32_t y = 0; y < size.height; ++y) {
    const double fy = (y + 0.5) / size.height - cy;
    const double dy2 = fy * fy;
    const size_t row = static_cast<size_t>(y) * width;
    for (int32_t x = 0; x < size.width; ++x) {
      const double fx = (x + 0.5) / size.width - cx;
      const double dx2 = fx * fx;
      const double src = source[row + static_cast<size_t>(x)];
      // A zero width is a bump of no extent: it changes nothing.
      const double g = w2 == 0.0 ? 0.0 : std::exp(-(dx2 + dy2) / w2);
      double bump = dh * g;
      if (std::isnan(bump)) bump = 0.0;  // an infinite change times a zero tail
      double h = src + bump;
      if (!(h > kHillFloorLimit)) {
        h = kHillFloor;
      } else if (h > FLT_MAX && std::isfinite(src)) {
        h = FLT_MAX;
      }
      result[row + static_cast<size_t>(x)] = static_cast<float>(h);
      extremes.Add(h);
    }
  }
  return RangeOfWalk(extremes, size, result, WalkOrder::kRowByRow);
}

}  // namespace terrain
