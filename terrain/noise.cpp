#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <limits>
#include <vector>

#include "random/noise_gen.h"
#include "terrain/operations.h"
#include "terrain/simd.h"

namespace terrain {
namespace {

// floor/ceil of a recorded height as a 32-bit integer, saturating (NaN counts as 0).
int64_t SaturatedInt32(double v) {
  if (std::isnan(v)) return 0;
  if (v <= std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  if (v >= std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  return static_cast<int64_t>(v);
}

// What the walk leaves for each point of a tile: an offset to add, or one of two
// markers (NaN patterns that no arithmetic produces) for a point that keeps its height.
constexpr uint32_t kKeepsHeight = 0x7fa00001u;  // drew, and did not take an offset
constexpr uint32_t kIsWater = 0x7fa00002u;      // water: drew nothing, left out of the range

// Values of the generator drawn ahead in batches and used up in order, so the
// sequence each point sees is the one single draws would give. Until the walk reaches
// a value nobody knows whether it is a coin flip or an offset, so each is read ahead
// as a flip: how far it moves the walk (2 when the point takes an offset, the offset
// being the next value) and what it leaves in the point's cell. The walk then follows
// the steps without a branch on the flip.
class DrawAhead {
 public:
  static constexpr size_t kBatch = 1024;

  DrawAhead(CNoiseGen& generator, float coverage) : generator_(generator), coverage_(coverage) {}

  // At least two values are ready at next after this; returns where they start.
  size_t Refill(size_t next) {
    if (next + 2 <= kBatch) return next;
    const size_t kept = kBatch - next;
    for (size_t k = 0; k < kept; ++k) values_[k] = values_[next + k];
    generator_.UniformBatch(values_ + kept, kBatch - kept);
    for (size_t k = 0; k + 1 < kBatch; ++k) {
      // Arithmetic rather than selections: the flips are what no predictor learns.
      const uint32_t take = values_[k] <= coverage_;
      const uint32_t offset = std::bit_cast<uint32_t>(generator_.Transform(values_[k + 1], 3));
      const uint32_t mask = 0u - take;
      steps[k] = static_cast<uint8_t>(1 + take);
      cells[k] = (offset & mask) | (kKeepsHeight & ~mask);
    }
    return 0;
  }

  uint8_t steps[kBatch];
  uint32_t cells[kBatch];

 private:
  CNoiseGen& generator_;
  float coverage_;
  float values_[kBatch];
};

// The walk's columns lie a whole grid row apart, further than the processor's own
// prefetching reaches, so the row pass asks for the rows it will need a little ahead.
constexpr size_t kPrefetchRows = 16;

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
  // grid is row-major, so the walk works on a tile of kTileColumns columns: it writes
  // each point's offset (or a marker) into a small row-major table, and a second pass
  // adds the table to the tile's rows, a row at a time, four columns per step. The
  // range is tracked per column in walk order and the columns merged in walk order,
  // which is what a single tracker along the walk would hold.
  constexpr size_t kTileColumns = 32;
  using simd::Floats;
  using Bits = simd::Lanes<simd::kLanes>::Ints;
  const size_t width = static_cast<size_t>(size.width);
  const size_t height = static_cast<size_t>(size.height);
  std::vector<uint32_t> table(height * kTileColumns);
  float lowest = kRangeResetMinimum;
  float highest = kRangeResetMaximum;
  DrawAhead draws(generator, coverage);
  size_t next = DrawAhead::kBatch;
  for (size_t x0 = 0; x0 < width; x0 += kTileColumns) {
    const size_t columns = std::min(kTileColumns, width - x0);
    for (size_t c = 0; c < columns; ++c) {
      const auto x = static_cast<int32_t>(x0 + c);
      uint32_t* cell = table.data() + c;
      for (int32_t y = 0; y < size.height; ++y, cell += kTileColumns) {
        if (testWater && isWater(x, y)) {  // keeps its height, draws nothing
          *cell = kIsWater;
          continue;
        }
        next = draws.Refill(next);
        // Only a point that takes its offset uses up the offset's draw.
        *cell = draws.cells[next];
        next += draws.steps[next];
      }
    }
    // Per column of the tile, its running range; a water point enters as NaN, which
    // never moves a tracker.
    constexpr size_t kGroups = kTileColumns / simd::kLanes;
    Floats low[kGroups], high[kGroups];
    for (size_t g = 0; g < kGroups; ++g) {
      low[g] = Floats{} + kRangeResetMinimum;
      high[g] = Floats{} + kRangeResetMaximum;
    }
    float lowTail[simd::kLanes], highTail[simd::kLanes];
    std::fill(std::begin(lowTail), std::end(lowTail), kRangeResetMinimum);
    std::fill(std::begin(highTail), std::end(highTail), kRangeResetMaximum);
    const size_t groups = columns / simd::kLanes;
    for (size_t y = 0; y < height; ++y) {
      const size_t start = y * width + x0;
      if (y + kPrefetchRows < height) {
        __builtin_prefetch(source.data() + start + kPrefetchRows * width, 0);
        __builtin_prefetch(result.data() + start + kPrefetchRows * width, 1);
        if (columns > 16) {
          __builtin_prefetch(source.data() + start + kPrefetchRows * width + 16, 0);
          __builtin_prefetch(result.data() + start + kPrefetchRows * width + 16, 1);
        }
      }
      const uint32_t* cells = table.data() + y * kTileColumns;
      for (size_t g = 0; g < groups; ++g) {
        const size_t c = g * simd::kLanes;
        const Floats h = simd::LoadFloats(source.data() + start + c);
        const Bits bits = simd::Load<Bits>(cells + c);
        const auto water = bits == static_cast<int>(kIsWater);
        const auto keeps = (bits == static_cast<int>(kKeepsHeight)) | water;
        Floats offset;
        std::memcpy(&offset, &bits, sizeof offset);
        const Floats v = keeps ? h : h + offset;
        simd::StoreFloats(result.data() + start + c, v);
        const Floats tracked = water ? Floats{} + __builtin_nanf("") : v;
        low[g] = tracked < low[g] ? tracked : low[g];
        high[g] = tracked > high[g] ? tracked : high[g];
      }
      for (size_t c = groups * simd::kLanes; c < columns; ++c) {
        const float h = source[start + c];
        const uint32_t cell = cells[c];
        const float v = cell == kKeepsHeight || cell == kIsWater ? h : h + std::bit_cast<float>(cell);
        result[start + c] = v;
        if (cell == kIsWater) continue;
        const size_t lane = c - groups * simd::kLanes;
        lowTail[lane] = v < lowTail[lane] ? v : lowTail[lane];
        highTail[lane] = v > highTail[lane] ? v : highTail[lane];
      }
    }
    // The columns in walk order, each a tracker's end, merged by the same comparisons.
    for (size_t c = 0; c < columns; ++c) {
      const size_t g = c / simd::kLanes;
      const size_t lane = c % simd::kLanes;
      const float columnLow = g < groups ? low[g][lane] : lowTail[lane];
      const float columnHigh = g < groups ? high[g][lane] : highTail[lane];
      lowest = columnLow < lowest ? columnLow : lowest;
      highest = columnHigh > highest ? columnHigh : highest;
    }
  }
  return {lowest, highest};
}

}  // namespace terrain
