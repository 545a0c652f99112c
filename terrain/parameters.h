// Parameters of the terrain operations, as plain values with their units. The values
// given here are the ones an empty dialog field stands for.
#pragma once

#include <cstdint>

namespace terrain {

struct FlattenParameters {
  double targetHeight = 0.0;     // height units; every height is pulled toward it
  int32_t severityPercent = 50;  // 0 keeps the landscape, 100 makes it a plane
};

// Glaciate and Canyonize: an exponential of each height's place in the recorded range.
struct ProfileParameters {
  int32_t severityPercent = 10;  // 0..100, strength k = severity / 10
  double minHeight = 0.0;        // the landscape's recorded range (height units)
  double maxHeight = 0.0;
};

struct NoiseParameters {
  int32_t seed = 12345;           // generator seed; seed and -seed give the same noise
  int32_t noiseType = 0;          // 0 "Random", 1 "Gaussian" (fixed amplitude), -1 none
  int32_t amplitudePercent = 20;  // half-width of the offsets, % of the height range
  int32_t coveragePercent = 20;   // share of the points that receive an offset
  bool ignoreWater = true;        // leave points the host reports as water alone
  double minHeight = 0.0;         // the landscape's recorded range (height units)
  double maxHeight = 0.0;
};

// Offsets of the "Gaussian" noise type lie in [-kFixedNoiseAmplitude, kFixedNoiseAmplitude).
inline constexpr float kFixedNoiseAmplitude = 10.0f;

struct HillParameters {
  double centreX = 0.5;        // fraction of the map's width (0 left edge, 1 right edge)
  double centreY = 0.5;        // fraction of the map's height
  double heightChange = 10.0;  // height units at the centre; negative digs a depression
  double width = 0.1;          // fraction of the map at which the change falls to 1/e
};

// Heights a hill or depression leaves at or below kHillFloorLimit become kHillFloor.
inline constexpr double kHillFloorLimit = -1001.0;
inline constexpr double kHillFloor = -1000.0;

// A Flatten result with a single height gets this much headroom in its range.
inline constexpr float kFlatRangeWidening = 1000.0f;

}  // namespace terrain
