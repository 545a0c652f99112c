#include "host/model/default_landscape.h"

#include <random>
#include <utility>
#include <vector>

namespace host {

Landscape MakeDefaultLandscape(int32_t side, uint32_t seed) {
  // Diamond-square on the next 2^n + 1 grid, then cropped.
  int32_t n = 1;
  while (n + 1 < side) n *= 2;
  const int32_t size = n + 1;
  std::vector<double> g(static_cast<size_t>(size) * size, 0.0);
  auto at = [&](int32_t x, int32_t y) -> double& { return g[static_cast<size_t>(y) * size + x]; };
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  double amplitude = 400.0;
  for (int32_t step = n; step > 1; step /= 2, amplitude *= 0.55) {
    const int32_t half = step / 2;
    for (int32_t y = half; y < size; y += step)
      for (int32_t x = half; x < size; x += step)
        at(x, y) = (at(x - half, y - half) + at(x + half, y - half) + at(x - half, y + half) +
                    at(x + half, y + half)) /
                       4.0 +
                   amplitude * unit(rng);
    for (int32_t y = 0; y < size; y += half) {
      for (int32_t x = (y / half) % 2 == 0 ? half : 0; x < size; x += step) {
        double sum = 0.0;
        int count = 0;
        for (auto [dx, dy] : {std::pair{-half, 0}, {half, 0}, {0, -half}, {0, half}}) {
          if (x + dx < 0 || x + dx >= size || y + dy < 0 || y + dy >= size) continue;
          sum += at(x + dx, y + dy);
          ++count;
        }
        at(x, y) = sum / count + amplitude * unit(rng);
      }
    }
  }
  Landscape land;
  land.width = land.height = side;
  land.heights.resize(land.Count());
  for (int32_t y = 0; y < side; ++y)
    for (int32_t x = 0; x < side; ++x)
      land.heights[static_cast<size_t>(y) * side + x] = static_cast<float>(at(x, y) + 60.0);
  land.RecordRange();
  return land;
}

}  // namespace host
