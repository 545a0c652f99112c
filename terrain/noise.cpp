#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

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

// Values of the generator drawn ahead in batches and used up in order, so the
// sequence each point sees is the one single draws would give.
struct DrawAhead {
  static constexpr size_t kBatch = 1024;
  float values[kBatch];
  size_t next = kBatch;
  // At least two values are ready after this.
  void Refill(CNoiseGen& generator) {
    if (next + 2 <= kBatch) return;
    const size_t kept = kBatch - next;
    for (size_t k = 0; k < kept; ++k) values[k] = values[next + k];
    generator.UniformBatch(values + kept, kBatch - kept);
    next = 0;
  }
};

// A tile's rows lie a whole grid row apart, further than the processor's own
// prefetching reaches, so the copies ask for the rows they will need a little ahead.
constexpr size_t kPrefetchRows = 16;

template <typename Span>
void Prefetch(Span heights, size_t first, size_t count, bool forWriting) {
  if (first + count > heights.size()) return;
  for (size_t k = 0; k < count; k += 64 / sizeof(float)) {
    if (forWriting) {
      __builtin_prefetch(heights.data() + first + k, 1);
    } else {
      __builtin_prefetch(heights.data() + first + k, 0);
    }
  }
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

  // Column by column: the walk fixes which random value lands on which point. The
  // grid is row-major, so the walk works on a tile of kTileColumns columns copied into
  // column order, which keeps memory access sequential without changing the order of
  // water tests and draws.
  constexpr int32_t kTileColumns = 32;
  const size_t width = static_cast<size_t>(size.width);
  const size_t height = static_cast<size_t>(size.height);
  const size_t stride = height + 16;  // not a power of two: columns must not share cache sets
  std::vector<float> tile(std::min<size_t>(kTileColumns, width) * stride);
  float lowest = kRangeResetMinimum;
  float highest = kRangeResetMaximum;
  DrawAhead draws;
  for (int32_t x0 = 0; x0 < size.width; x0 += kTileColumns) {
    const size_t columns = static_cast<size_t>(std::min(kTileColumns, size.width - x0));
    for (size_t y = 0; y < height; ++y) {
      const float* row = source.data() + y * width + static_cast<size_t>(x0);
      Prefetch(source, (y + kPrefetchRows) * width + static_cast<size_t>(x0), columns, false);
      for (size_t c = 0; c < columns; ++c) tile[c * stride + y] = row[c];
    }
    for (size_t c = 0; c < columns; ++c) {
      const int32_t x = x0 + static_cast<int32_t>(c);
      float* column = tile.data() + c * stride;
      for (int32_t y = 0; y < size.height; ++y) {
        if (testWater && isWater(x, y)) continue;  // keeps its height, draws nothing
        draws.Refill(generator);
        // The offset is worked out whether or not the point takes it (no branch on a
        // coin flip); only a point that takes it uses up its draw.
        const float r = draws.values[draws.next];
        const float offset = generator.Transform(draws.values[draws.next + 1], 3);
        const bool take = r <= coverage;
        draws.next += take ? 2 : 1;
        const float h = take ? column[y] + offset : column[y];
        lowest = h < lowest ? h : lowest;
        highest = h > highest ? h : highest;
        column[y] = h;
      }
    }
    for (size_t y = 0; y < height; ++y) {
      float* row = result.data() + y * width + static_cast<size_t>(x0);
      Prefetch(result, (y + kPrefetchRows) * width + static_cast<size_t>(x0), columns, true);
      for (size_t c = 0; c < columns; ++c) row[c] = tile[c * stride + y];
    }
  }
  return {lowest, highest};
}

}  // namespace terrain
