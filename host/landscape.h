// The host's landscape: a grid of heights and the height range recorded with it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace host {

struct Landscape {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<float> heights;  // row by row
  double minHeight = 0.0;      // the recorded range
  double maxHeight = 0.0;

  size_t Count() const { return static_cast<size_t>(width) * static_cast<size_t>(height); }
  // Records the smallest and largest finite height (0..0 when there is none).
  void RecordRange();
};

// Grids must stay below 2^30 points: the plug-in contract sizes buffers in 32 bits.
inline constexpr int64_t kMaxGridPoints = int64_t{1} << 30;

// A fractal landscape from a fixed seed: hills, valleys and ground below sea level.
Landscape MakeDefaultLandscape(int32_t side = 513, uint32_t seed = 20261208);
// The default landscape's sea level.
inline constexpr double kDefaultSeaLevel = 0.0;

}  // namespace host
