#include <tbb/parallel_for.h>
#include <tbb/task_arena.h>
#include <tbb/task_group.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "random/noise_gen.h"
#include "terrain/operations.h"
#include "terrain/parallel.h"
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
//
// Batches are made a block at a time: the generator draws the block's values in order,
// the batches are read as coin flips on as many threads as there are (each value on
// its own), and the marks, which carry one bit from batch to batch, follow in order.
class DrawAhead {
 public:
  static constexpr size_t kWords = 16;
  static constexpr size_t kBatch = kWords * 64;

  // blockBatches: batches made at a time (1 when one thread does everything).
  DrawAhead(CNoiseGen& generator, float coverage, size_t blockBatches)
      : generator_(generator),
        coverage_(coverage),
        blockBatches_(blockBatches),
        values_(blockBatches * kBatch + 1),
        blockCells_(blockBatches * kBatch),
        blockFlips_(blockBatches * kWords),
        next_(blockBatches) {}

  // Moves cells and coinFlips on to the next batch.
  void Refill() {
    if (next_ == blockBatches_) {
      RefillBlock();
      next_ = 0;
    }
    cells = blockCells_.data() + next_ * kBatch;
    coinFlips = blockFlips_.data() + next_ * kWords;
    ++next_;
  }

  const uint32_t* cells = nullptr;
  const uint64_t* coinFlips = nullptr;  // bit k of word w: value 64 w + k is a coin flip

 private:
  void RefillBlock() {
    // One value beyond the block is drawn too, the offset of its last flip; it opens
    // the next block.
    const size_t count = blockBatches_ * kBatch;
    if (primed_) {
      values_[0] = values_[count];
      generator_.UniformBatch(values_.data() + 1, count);
    } else {
      generator_.UniformBatch(values_.data(), count + 1);
      primed_ = true;
    }
    if (blockBatches_ == 1) {
      ReadBatch(0);
    } else {
      tbb::parallel_for(size_t{0}, blockBatches_, [this](size_t b) { ReadBatch(b); });
    }
    for (uint64_t& word : blockFlips_) word = ~UsedAsOffsets(word, usedFirst_);
  }

  // Batch b's cells and its takes (values that, read as a coin flip, give an offset).
  void ReadBatch(size_t b) {
    const float* values = values_.data() + b * kBatch;
    uint32_t* cells = blockCells_.data() + b * kBatch;
    uint8_t takes[kBatch];
    for (size_t k = 0; k < kBatch; ++k) {
      // Arithmetic rather than selections: the flips are what no predictor learns.
      const uint32_t take = values[k] <= coverage_;
      const uint32_t offset = std::bit_cast<uint32_t>(generator_.Transform(values[k + 1], 3));
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
      blockFlips_[b * kWords + w] = bits;  // the takes, until the marks follow in order
    }
  }

  CNoiseGen& generator_;
  float coverage_;
  size_t blockBatches_;
  bool primed_ = false;
  bool usedFirst_ = false;  // the next batch's first value is the last flip's offset
  std::vector<float> values_;
  std::vector<uint32_t> blockCells_;
  std::vector<uint64_t> blockFlips_;
  size_t next_;
};

// Four columns of four cells each (a to d), stored as four rows from the given column on.
template <size_t kColumns>
void TurnFour(simd::Lanes<4>::Ints a, simd::Lanes<4>::Ints b, simd::Lanes<4>::Ints c,
              simd::Lanes<4>::Ints d, uint32_t (&rows)[4][kColumns], size_t column) {
  using Ints = simd::Lanes<4>::Ints;
  const Ints ab0 = __builtin_shufflevector(a, b, 0, 4, 1, 5);
  const Ints ab1 = __builtin_shufflevector(a, b, 2, 6, 3, 7);
  const Ints cd0 = __builtin_shufflevector(c, d, 0, 4, 1, 5);
  const Ints cd1 = __builtin_shufflevector(c, d, 2, 6, 3, 7);
  const Ints turned[4] = {
      __builtin_shufflevector(ab0, cd0, 0, 1, 4, 5), __builtin_shufflevector(ab0, cd0, 2, 3, 6, 7),
      __builtin_shufflevector(ab1, cd1, 0, 1, 4, 5), __builtin_shufflevector(ab1, cd1, 2, 3, 6, 7)};
  for (size_t j = 0; j < 4; ++j) std::memcpy(&rows[j][column], &turned[j], sizeof turned[j]);
}

// A tile's rows lie a whole grid row apart, further than the processor's own
// prefetching reaches, so the row pass asks for the rows it will need a little ahead.
constexpr size_t kPrefetchRows = 16;

// Column by column: the walk fixes which random value lands on which point. The grid
// is row-major, so the walk works on a tile of kTileColumns columns: it writes each
// point's offset (or a marker) into the tile's table, and the row pass adds the table
// to the tile's rows, a row at a time, four columns per step. The range is tracked per
// column in walk order and the columns merged in walk order, which is what a single
// tracker along the walk would hold.
//
// The walk draws, so it goes tile after tile on one thread; row passes of tiles already
// walked run on the others, and their ranges are merged in tile order.
constexpr size_t kTileColumns = 32;
using simd::Floats;
using Bits = simd::Lanes<simd::kLanes>::Ints;

// Per column of a tile, its running range. Group g holds columns 4g to 4g + 3; a tile's
// last columns that do not fill a group are tracked lane by lane in the group after the
// full ones.
struct ColumnRanges {
  size_t columns = 0;
  simd::LaneExtremes<Floats> groups[kTileColumns / simd::kLanes];
};

struct Tile {
  size_t x0 = 0;
  size_t columns = 0;
  std::vector<uint32_t> table;  // column c's cells from c * stride on, row by row
  ColumnRanges ranges;
};

class NoiseWalk {
 public:
  NoiseWalk(GridSize size, std::span<const float> source, std::span<float> result,
            CNoiseGen& generator, float coverage, const std::vector<uint64_t>* water,
            size_t blockBatches)
      : size_(size),
        width_(static_cast<size_t>(size.width)),
        height_(static_cast<size_t>(size.height)),
        // Columns lie a little more than a column apart, so that those read together
        // do not compete for the same cache sets.
        stride_(height_ + 16),
        source_(source),
        result_(result),
        water_(water),
        draws_(generator, coverage, blockBatches) {}

  size_t Tiles() const { return (width_ + kTileColumns - 1) / kTileColumns; }
  void Prepare(Tile& tile) const { tile.table.resize(stride_ * kTileColumns); }

  // Fills the tile's table with the draws of its points, in walk order.
  void Walk(Tile& tile, size_t index) {
    tile.x0 = index * kTileColumns;
    tile.columns = std::min(kTileColumns, width_ - tile.x0);
    // The walk's place in the batch, as plain locals so that they stay in registers.
    size_t word = word_;
    uint64_t flips = flips_;
    const uint32_t* cells = draws_.cells;
    const uint64_t* coinFlips = draws_.coinFlips;
    for (size_t c = 0; c < tile.columns; ++c) {
      const size_t x = tile.x0 + c;
      uint32_t* cell = tile.table.data() + c * stride_;
      for (size_t y = 0; y < height_; ++y, ++cell) {
        if (water_) {
          const size_t k = x * height_ + y;
          if ((*water_)[k / 64] >> (k % 64) & 1) {  // keeps its height, draws nothing
            *cell = kIsWater;
            continue;
          }
        }
        while (flips == 0) {
          if (++word == DrawAhead::kWords) {
            draws_.Refill();
            cells = draws_.cells;
            coinFlips = draws_.coinFlips;
            word = 0;
          }
          flips = coinFlips[word];
        }
        *cell = cells[word * 64 + static_cast<size_t>(std::countr_zero(flips))];
        flips &= flips - 1;
      }
    }
    word_ = word;
    flips_ = flips;
  }

  // Adds the tile's table to its rows; tracks each column's range.
  void RowPass(Tile& tile) const {
    const size_t columns = tile.columns;
    const size_t x0 = tile.x0;
    const size_t stride = stride_;
    const uint32_t* table = tile.table.data();
    tile.ranges = {};
    tile.ranges.columns = columns;
    const size_t groups = columns / simd::kLanes;
    uint32_t rows[4][kTileColumns];  // the table's cells for four rows, row by row
    for (size_t y = 0; y < height_; ++y) {
      const size_t quad = y % 4;
      if (quad == 0) {
        size_t c = 0;
        if (y + 4 <= height_) {
          for (; c + 4 <= columns; c += 4) {
            const uint32_t* at = table + c * stride + y;
            TurnFour(simd::Load<Bits>(at), simd::Load<Bits>(at + stride),
                     simd::Load<Bits>(at + 2 * stride), simd::Load<Bits>(at + 3 * stride), rows, c);
          }
        }
        for (; c < columns; ++c)
          for (size_t j = 0; j < 4 && y + j < height_; ++j) rows[j][c] = table[c * stride + y + j];
      }
      const size_t start = y * width_ + x0;
      if (y + kPrefetchRows < height_) {
        for (size_t c = 0; c < columns; c += 64 / sizeof(float)) {
          __builtin_prefetch(source_.data() + start + kPrefetchRows * width_ + c, 0);
          __builtin_prefetch(result_.data() + start + kPrefetchRows * width_ + c, 1);
        }
      }
      const uint32_t* cells = rows[quad];
      for (size_t g = 0; g < groups; ++g) {
        const size_t c = g * simd::kLanes;
        const Floats h = simd::LoadFloats(source_.data() + start + c);
        const Bits bits = simd::Load<Bits>(cells + c);
        const auto water = bits == static_cast<int>(kIsWater);
        const auto keeps = (bits == static_cast<int>(kKeepsHeight)) | water;
        Floats offset;
        std::memcpy(&offset, &bits, sizeof offset);
        const Floats v = keeps ? h : h + offset;
        simd::StoreFloats(result_.data() + start + c, v);
        // A water point enters as NaN, which never moves a tracker.
        const Floats tracked = water ? Floats{} + __builtin_nanf("") : v;
        tile.ranges.groups[g].Add(tracked);
      }
      for (size_t c = groups * simd::kLanes; c < columns; ++c) {
        const float h = source_[start + c];
        const uint32_t cell = cells[c];
        const float v =
            cell == kKeepsHeight || cell == kIsWater ? h : h + std::bit_cast<float>(cell);
        result_[start + c] = v;
        if (cell == kIsWater) continue;
        auto& tail = tile.ranges.groups[groups];
        const size_t lane = c - groups * simd::kLanes;
        tail.lowest[lane] = v < tail.lowest[lane] ? v : tail.lowest[lane];
        tail.highest[lane] = v > tail.highest[lane] ? v : tail.highest[lane];
      }
    }
  }

  // The tile's columns in walk order, each a tracker's end, merged by the same
  // comparisons. A column's tracker starts at infinity rather than at the reset ends;
  // whatever it takes that those ends would have kept out, the merge keeps out too.
  void Merge(const ColumnRanges& tile) {
    for (size_t c = 0; c < tile.columns; ++c) {
      const auto& range = tile.groups[c / simd::kLanes];
      const float columnLow = range.lowest[c % simd::kLanes];
      const float columnHigh = range.highest[c % simd::kLanes];
      lowest_ = columnLow < lowest_ ? columnLow : lowest_;
      highest_ = columnHigh > highest_ ? columnHigh : highest_;
    }
  }

  HeightRange Range() const { return {lowest_, highest_}; }

 private:
  GridSize size_;
  size_t width_;
  size_t height_;
  size_t stride_;
  std::span<const float> source_;
  std::span<float> result_;
  const std::vector<uint64_t>* water_;
  DrawAhead draws_;
  size_t word_ = DrawAhead::kWords - 1;
  uint64_t flips_ = 0;
  float lowest_ = kRangeResetMinimum;
  float highest_ = kRangeResetMaximum;
};

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

  // Water is asked for first, on the calling thread and in walk order, one bit a point.
  std::vector<uint64_t> water;
  if (parameters.ignoreWater && isWater) {
    water.assign((size.Count() + 63) / 64, 0);
    size_t k = 0;
    for (int32_t x = 0; x < size.width; ++x)
      for (int32_t y = 0; y < size.height; ++y, ++k)
        if (isWater(x, y)) water[k / 64] |= uint64_t{1} << (k % 64);
  }
  const size_t threads = static_cast<size_t>(tbb::this_task_arena::max_concurrency());
  const size_t tiles = (static_cast<size_t>(size.width) + kTileColumns - 1) / kTileColumns;
  const bool serial = threads <= 1 || size.Count() < MinimumBandPoints() || tiles < 2;
  // On several threads, batches are read a block of 32 at a time, shared out.
  NoiseWalk walk(size, source, result, generator, coverage, water.empty() ? nullptr : &water,
                 serial ? 1 : 32);
  if (serial) {
    Tile tile;
    walk.Prepare(tile);
    for (size_t t = 0; t < tiles; ++t) {
      walk.Walk(tile, t);
      walk.RowPass(tile);
      walk.Merge(tile.ranges);
    }
    return walk.Range();
  }
  // The calling thread walks, tile after tile, and hands each walked tile's row pass
  // to the other threads. A tile's table is walked again once its row pass is done; when
  // no other thread has taken the passes, the walker does them itself. The tiles'
  // ranges are merged in walk order at the end.
  const size_t slots = 2 * threads;
  std::vector<Tile> pool(slots);
  for (Tile& tile : pool) walk.Prepare(tile);
  std::vector<std::atomic<bool>> passing(slots);
  std::vector<ColumnRanges> ranges(tiles);
  tbb::task_group passes;
  for (size_t t = 0; t < tiles; ++t) {
    const size_t slot = t % slots;
    if (passing[slot].load(std::memory_order_acquire)) passes.wait();
    walk.Walk(pool[slot], t);
    passing[slot].store(true, std::memory_order_relaxed);
    passes.run([&, slot, t] {
      walk.RowPass(pool[slot]);
      ranges[t] = pool[slot].ranges;
      passing[slot].store(false, std::memory_order_release);
    });
  }
  passes.wait();
  for (const ColumnRanges& tile : ranges) walk.Merge(tile);
  return walk.Range();
}

}  // namespace terrain
