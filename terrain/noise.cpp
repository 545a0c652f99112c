#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
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

// Which values of a run of 64 a point's offset uses up, given the takes (values that,
// read as a point's coin flip, give it an offset) and whether the first value is already
// used up by the run before; the carry says the same of the next run's first value.
// A run of consecutive takes alternates coin, offset, coin, ... from wherever it starts
// with a coin, so the used-up values are the odd places of runs that start on a coin:
// the addition finds those runs, 64 values at a time, without following them.
uint64_t UsedAsOffsets(uint64_t takes, bool& carry) {
  constexpr uint64_t kEven = 0x5555555555555555ull;
  takes &= ~uint64_t{carry};
  const uint64_t follows = takes << 1 | uint64_t{carry};
  const uint64_t oddStarts = takes & ~kEven & ~follows;
  uint64_t evenRuns;
  carry = __builtin_add_overflow(oddStarts, takes, &evenRuns);
  return (kEven ^ (evenRuns << 1)) & follows;
}

// Values of the generator drawn ahead in batches and used up in order, so the
// sequence each point sees is the one single draws would give. Per batch, every value
// is read as a coin flip (what it would leave in its point's cell, the offset being
// the next value), and the values that are flips are marked; the walk then hands out
// the marked cells in order, without following the flips one by one.
class DrawAhead {
 public:
  static constexpr size_t kWords = 16;
  static constexpr size_t kBatch = kWords * 64;

  DrawAhead(CNoiseGen& generator, float coverage) : generator_(generator), coverage_(coverage) {}

  void Refill() {
    // One value beyond the batch is drawn too, the offset of its last flip; it opens
    // the next batch.
    if (primed_) {
      values_[0] = values_[kBatch];
      generator_.UniformBatch(values_ + 1, kBatch);
    } else {
      generator_.UniformBatch(values_, kBatch + 1);
      primed_ = true;
    }
    uint8_t takes[kBatch];
    for (size_t k = 0; k < kBatch; ++k) {
      // Arithmetic rather than selections: the flips are what no predictor learns.
      const uint32_t take = values_[k] <= coverage_;
      const uint32_t offset = std::bit_cast<uint32_t>(generator_.Transform(values_[k + 1], 3));
      const uint32_t mask = 0u - take;
      cells[k] = (offset & mask) | (kKeepsHeight & ~mask);
      takes[k] = static_cast<uint8_t>(take);
    }
    for (size_t w = 0; w < kWords; ++w) {
      uint64_t bits = 0;
      for (size_t octet = 0; octet < 8; ++octet) {
        static_assert(std::endian::native == std::endian::little, "takes[k] is byte k");
        uint64_t bytes;  // eight takes, 0 or 1, gathered into eight bits by one product
        std::memcpy(&bytes, takes + w * 64 + octet * 8, sizeof bytes);
        bits |= ((bytes * 0x0102040810204080ull) >> 56) << (octet * 8);
      }
      coinFlips[w] = ~UsedAsOffsets(bits, usedFirst_);
    }
  }

  uint32_t cells[kBatch];
  uint64_t coinFlips[kWords];  // bit k of word w: value 64 w + k is a point's coin flip

 private:
  CNoiseGen& generator_;
  float coverage_;
  bool primed_ = false;
  bool usedFirst_ = false;  // the batch's first value is the last flip's offset
  float values_[kBatch + 1];
};

// Four columns of four cells each (a to d), stored as four rows from the given column on.
template <size_t kColumns>
void TurnFour(simd::Lanes<4>::Ints a, simd::Lanes<4>::Ints b, simd::Lanes<4>::Ints c,
              simd::Lanes<4>::Ints d, uint32_t (&rows)[4][kColumns], size_t column) {
  using Ints = simd::Lanes<4>::Ints;
  const Ints ab0 = __builtin_shuffle(a, b, Ints{0, 4, 1, 5});
  const Ints ab1 = __builtin_shuffle(a, b, Ints{2, 6, 3, 7});
  const Ints cd0 = __builtin_shuffle(c, d, Ints{0, 4, 1, 5});
  const Ints cd1 = __builtin_shuffle(c, d, Ints{2, 6, 3, 7});
  const Ints turned[4] = {__builtin_shuffle(ab0, cd0, Ints{0, 1, 4, 5}),
                          __builtin_shuffle(ab0, cd0, Ints{2, 3, 6, 7}),
                          __builtin_shuffle(ab1, cd1, Ints{0, 1, 4, 5}),
                          __builtin_shuffle(ab1, cd1, Ints{2, 3, 6, 7})};
  for (size_t j = 0; j < 4; ++j) std::memcpy(&rows[j][column], &turned[j], sizeof turned[j]);
}

// A tile's rows lie a whole grid row apart, further than the processor's own
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
  // each point's offset (or a marker) into a small table, and a second pass adds the
  // table to the tile's rows, a row at a time, four columns per step. The
  // range is tracked per column in walk order and the columns merged in walk order,
  // which is what a single tracker along the walk would hold.
  constexpr size_t kTileColumns = 32;
  using simd::Floats;
  using Bits = simd::Lanes<simd::kLanes>::Ints;
  const size_t width = static_cast<size_t>(size.width);
  const size_t height = static_cast<size_t>(size.height);
  // The walk fills the table a column at a time, in order; the row pass reads it back
  // four rows at a time, turned round in registers. Columns lie a little more than a
  // column apart, so that those read together do not compete for the same cache sets.
  const size_t stride = height + 16;
  std::vector<uint32_t> table(stride * kTileColumns);
  float lowest = kRangeResetMinimum;
  float highest = kRangeResetMaximum;
  DrawAhead draws(generator, coverage);
  // The walk's place in the batch: a word of coin-flip marks and which word it is.
  // Plain locals, written out in the loop below, so that they stay in registers.
  size_t word = DrawAhead::kWords - 1;
  uint64_t flips = 0;
  for (size_t x0 = 0; x0 < width; x0 += kTileColumns) {
    const size_t columns = std::min(kTileColumns, width - x0);
    for (size_t c = 0; c < columns; ++c) {
      const auto x = static_cast<int32_t>(x0 + c);
      uint32_t* cell = table.data() + c * stride;
      for (int32_t y = 0; y < size.height; ++y, ++cell) {
        if (testWater && isWater(x, y)) {  // keeps its height, draws nothing
          *cell = kIsWater;
          continue;
        }
        while (flips == 0) {
          if (++word == DrawAhead::kWords) {
            draws.Refill();
            word = 0;
          }
          flips = draws.coinFlips[word];
        }
        *cell = draws.cells[word * 64 + static_cast<size_t>(std::countr_zero(flips))];
        flips &= flips - 1;
      }
    }
    // Per column of the tile, its running range; a water point enters as NaN, which
    // never moves a tracker.
    // Group g holds columns 4g to 4g + 3; a tile's last columns that do not fill a
    // group are tracked lane by lane in the group after the full ones.
    simd::LaneExtremes<Floats> columnRanges[kTileColumns / simd::kLanes];
    const size_t groups = columns / simd::kLanes;
    uint32_t rows[4][kTileColumns];  // the table's cells for four rows, row by row
    for (size_t y = 0; y < height; ++y) {
      const size_t quad = y % 4;
      if (quad == 0) {
        size_t c = 0;
        if (y + 4 <= height) {
          for (; c + 4 <= columns; c += 4) {
            const uint32_t* at = table.data() + c * stride + y;
            TurnFour(simd::Load<Bits>(at), simd::Load<Bits>(at + stride),
                     simd::Load<Bits>(at + 2 * stride), simd::Load<Bits>(at + 3 * stride),
                     rows, c);
          }
        }
        for (; c < columns; ++c)
          for (size_t j = 0; j < 4 && y + j < height; ++j) rows[j][c] = table[c * stride + y + j];
      }
      const size_t start = y * width + x0;
      if (y + kPrefetchRows < height) {
        for (size_t c = 0; c < columns; c += 64 / sizeof(float)) {
          __builtin_prefetch(source.data() + start + kPrefetchRows * width + c, 0);
          __builtin_prefetch(result.data() + start + kPrefetchRows * width + c, 1);
        }
      }
      const uint32_t* cells = rows[quad];
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
        columnRanges[g].Add(tracked);
      }
      for (size_t c = groups * simd::kLanes; c < columns; ++c) {
        const float h = source[start + c];
        const uint32_t cell = cells[c];
        const float v = cell == kKeepsHeight || cell == kIsWater ? h : h + std::bit_cast<float>(cell);
        result[start + c] = v;
        if (cell == kIsWater) continue;
        auto& tail = columnRanges[groups];
        const size_t lane = c - groups * simd::kLanes;
        tail.lowest[lane] = v < tail.lowest[lane] ? v : tail.lowest[lane];
        tail.highest[lane] = v > tail.highest[lane] ? v : tail.highest[lane];
      }
    }
    // The columns in walk order, each a tracker's end, merged by the same comparisons.
    // A column's tracker starts at infinity rather than at the reset ends; whatever it
    // takes that those ends would have kept out, the merge keeps out too.
    for (size_t c = 0; c < columns; ++c) {
      const auto& range = columnRanges[c / simd::kLanes];
      const float columnLow = range.lowest[c % simd::kLanes];
      const float columnHigh = range.highest[c % simd::kLanes];
      lowest = columnLow < lowest ? columnLow : lowest;
      highest = columnHigh > highest ? columnHigh : highest;
    }
  }
  return {lowest, highest};
}

}  // namespace terrain
