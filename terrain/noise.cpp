#include <cmath>
#include <cstdint>
#include <limits>

#include "random/noise_gen.h"
#include "terrain/operations.h"

namespace terrain {
namespace {

// floor/ceil of a recorded height as a 32-bit integer, saturating (NaN counts as 0).
int64_t SaturatedInt32(double v) {
  if (std::isnan(v)) return 0;
  if (v <= std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  if (v >= std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  return static_cast<int64_t>(v);
}

}  // namespace

HeightRange AddNoise(GridSize size, std::span<const float> source, std::span<float> result,
                     const NoiseParameters& parameters, const WaterTest& isWater) {
  CheckGrid(size, source, result);
  CNoiseGen generator;
  generator.SetMode(0);
  generator.Seed(parameters.seed);

  // Formed in 64 bits: equal to the 32-bit arithmetic wherever that did not overflow.
  int64_t range = SaturatedInt32(std::ceil(parameters.maxHeight)) -
                  SaturatedInt32(std::floor(parameters.minHeight));
  if (range == 0) range = (static_cast<int64_t>(size.width) + size.height) / 2;
  const float amplitude =
      parameters.noiseType == 1
          ? kFixedNoiseAmplitude
          : static_cast<float>(static_cast<double>(parameters.amplitudePercent * range) * 0.01);
  generator.SetRange(-amplitude, amplitude);
  const float coverage = static_cast<float>(parameters.coveragePercent * 0.01);
  const bool testWater = parameters.ignoreWater && isWater;

  // Column by column: the walk fixes which random value lands on which point.
  float lowest = kRangeResetMinimum;
  float highest = kRangeResetMaximum;
  const size_t width = static_cast<size_t>(size.width);
  for (int32_t x = 0; x < size.width; ++x) {
    for (int32_t y = 0; y < size.height; ++y) {
      const size_t i = static_cast<size_t>(y) * width + static_cast<size_t>(x);
      float h = source[i];
      result[i] = h;
      if (testWater && isWater(x, y)) continue;
      if (generator.Next(0) <= coverage) h = h + generator.Next(3);
      if (h < lowest) lowest = h;
      if (h > highest) highest = h;
      result[i] = h;
    }
  }
  return {lowest, highest};
}

}  // namespace terrain
