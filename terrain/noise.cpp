#include <tbb/blocked_range.h>
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
#include <stdexcept>
#include <string>
#include <utility>
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

// Eight flags of one byte each (0 or 1), gathered into eight bits by one product;
// 64 of them into a word.
uint64_t PackFlags(const uint8_t* flags) {
  static_assert(std::endian::native == std::endian::little, "flags[k] is byte k");
  uint64_t bits = 0;
  for (size_t octet = 0; octet < 8; ++octet) {
    uint64_t bytes;
    std::memcpy(&bytes, flags + octet * 8, sizeof bytes);
    bits |= ((bytes * 0x0102040810204080ull) >> 56) << (octet * 8);
  }
  return bits;
}

// A stretch of the generator's sequence as the walk reads it. Every value is read as a
// coin flip: what it would leave in its point's cell (an offset, the next value, when it
// takes one; a marker when not). Which values are flips depends on everything before,
// one bit carried from value to value (a flip that takes uses up the next value), so
// those marks are made in order, 64 at a time; the cells are made in parts, one per
// thread, each part's generator moved to its place in the sequence by a jump.
struct Window {
  size_t index = 0;                   // which window of the sequence
  uint64_t firstFlip = 0;             // flips in the windows before
  std::vector<uint32_t> cells;        // value k read as a flip
  std::vector<uint64_t> flips;        // bit k of word w: value 64 w + k is a flip
  std::vector<uint32_t> flipsBefore;  // flips in the window before word w
};

// The sequence a window after another, three kept: a tile's flips never span more than
// two, since a window holds at least twice a tile's points, and the third is drawn
// while tiles walk the two before.
class Draws {
 public:
  static constexpr size_t kChunk = 1024;  // values a part draws at a time

  // partValues: a multiple of kChunk. The windows are the caller's, reused from call to
  // call.
  Draws(const CNoiseGen& seeded, float coverage, size_t parts, size_t partValues,
        Window (&windows)[3])
      : windows_(windows),
        coverage_(coverage),
        partValues_(partValues),
        words_(parts * partValues / 64),
        parts_(parts, seeded),
        firsts_(parts),
        // A part draws its values and the next part's first; its next window starts
        // after the other parts'.
        onToNextWindow_(parts > 1 ? (parts - 1) * partValues - 1 : 0) {
    if (parts > 1) {
      const CNoiseGen::Jump onePart(partValues);
      for (size_t j = 1; j < parts; ++j) {
        parts_[j] = parts_[j - 1];
        onePart.Apply(parts_[j]);
      }
    }
    for (size_t j = 0; j < parts; ++j) firsts_[j] = parts_[j].Uniform();
  }

  // Draws the next window: its cells, and its takes (values that, read as a flip, take
  // an offset) where its marks will be. Safe while tiles walk the two windows before.
  void Make() {
    Window& window = windows_[made_ % 3];
    if (window.flips.size() != words_) {
      window.cells.resize(words_ * 64);
      window.flips.resize(words_);
      window.flipsBefore.resize(words_);
    }
    if (parts_.size() == 1) {
      MakePart(window, 0);
    } else {
      tbb::parallel_for(size_t{0}, parts_.size(), [&](size_t j) { MakePart(window, j); });
    }
  }

  // Marks the window just drawn, in order from the one before; its flips are then made.
  void Mark() {
    Window& window = windows_[made_ % 3];
    window.index = made_;
    window.firstFlip = flipsMade_;
    uint32_t count = 0;
    for (size_t w = 0; w < words_; ++w) {
      window.flipsBefore[w] = count;
      window.flips[w] = ~UsedAsOffsets(window.flips[w], usedFirst_);
      count += static_cast<uint32_t>(std::popcount(window.flips[w]));
    }
    flipsMade_ += count;
    ++made_;
  }

  // Flips made so far.
  uint64_t Made() const { return flipsMade_; }

  // Whether the next window may be drawn while flips from firstUnwalked on are still to
  // be read: its place is that of the oldest window kept, which must hold none of them.
  bool CanMakeFor(uint64_t firstUnwalked) const {
    return made_ < 3 || firstUnwalked >= windows_[(made_ - 2) % 3].firstFlip;
  }

  // Where flip number flip (counted from the sequence's start) lies: its window, which
  // must be one of those kept, the word, and the word's flips from it on. While the water
  // is still being asked, windows are drawn ahead of the walk, so the flip may lie in
  // any of the three; while a window is drawn beside the walk, in one of the two newest.
  struct Place {
    const Window* window;
    size_t word;
    uint64_t flips;
  };
  Place Find(uint64_t flip) const {
    size_t back = 1;
    while (back < std::min<size_t>(made_, 3) && flip < windows_[(made_ - back) % 3].firstFlip)
      ++back;
    const Window& window = windows_[(made_ - back) % 3];
    const uint64_t within = flip - window.firstFlip;
    // The last word with no more flips before it than within: it holds the flip.
    const auto after = std::upper_bound(window.flipsBefore.begin(), window.flipsBefore.end(),
                                        static_cast<uint32_t>(within));
    const auto word = static_cast<size_t>(after - window.flipsBefore.begin()) - 1;
    uint64_t flips = window.flips[word];
    for (uint64_t skip = within - window.flipsBefore[word]; skip > 0; --skip) flips &= flips - 1;
    return {&window, word, flips};
  }

  const Window& Following(const Window& window) const { return windows_[(window.index + 1) % 3]; }
  size_t Words() const { return words_; }

 private:
  // The part's cells, and its takes (values that, read as a flip, take an offset) in
  // place of the marks.
  void MakePart(Window& window, size_t part) {
    CNoiseGen& generator = parts_[part];
    const size_t first = part * partValues_;
    float values[kChunk + 1];
    uint8_t takes[kChunk];
    values[kChunk] = firsts_[part];
    for (size_t done = 0; done < partValues_; done += kChunk) {
      values[0] = values[kChunk];
      generator.UniformBatch(values + 1, kChunk);
      uint32_t* cells = window.cells.data() + first + done;
      for (size_t k = 0; k < kChunk; ++k) {
        // Arithmetic rather than selections: the flips are what no predictor learns.
        const uint32_t take = values[k] <= coverage_;
        const uint32_t offset = std::bit_cast<uint32_t>(generator.Transform(values[k + 1], 3));
        const uint32_t mask = 0u - take;
        cells[k] = (offset & mask) | (kKeepsHeight & ~mask);
        takes[k] = static_cast<uint8_t>(take);
      }
      uint64_t* words = window.flips.data() + (first + done) / 64;
      for (size_t w = 0; w < kChunk / 64; ++w) words[w] = PackFlags(takes + w * 64);
    }
    if (parts_.size() > 1) {
      onToNextWindow_.Apply(generator);
      generator.UniformBatch(&firsts_[part], 1);
    } else {
      firsts_[part] = values[kChunk];
    }
  }

  Window (&windows_)[3];
  float coverage_;
  size_t partValues_;
  size_t words_;
  std::vector<CNoiseGen> parts_;
  std::vector<float> firsts_;  // each part's first value of its next window, drawn
  CNoiseGen::Jump onToNextWindow_;
  size_t made_ = 0;
  uint64_t flipsMade_ = 0;
  bool usedFirst_ = false;  // the next window's first value is the last flip's offset
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
// Which flips a tile's points take is known from how many points come before it, so
// tiles are walked on any thread once their flips are made, and their ranges merged in
// tile order.
constexpr size_t kTileColumns = 32;
using simd::Floats;
using Bits = simd::Lanes<simd::kLanes>::Ints;

// A tile's water bits, one a point in walk order, start on a word of their own, so that
// the tiles whose water is known can be read while the next one's is written.
size_t TileWaterWords(size_t height) { return (kTileColumns * height + 63) / 64; }

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
            const uint64_t* water)
      : size_(size),
        width_(static_cast<size_t>(size.width)),
        height_(static_cast<size_t>(size.height)),
        // Columns lie a little more than a column apart, so that those read together
        // do not compete for the same cache sets.
        stride_(height_ + 16),
        source_(source),
        result_(result),
        water_(water) {}

  void Prepare(Tile& tile) const {
    if (tile.table.size() < stride_ * kTileColumns) tile.table.resize(stride_ * kTileColumns);
  }

  // Fills the tile's table with the draws of its points, in walk order, from flip number
  // firstFlip on; flips says how many its points use.
  void Walk(Tile& tile, size_t index, uint64_t firstFlip, uint64_t flips,
            const Draws& draws) const {
    tile.x0 = index * kTileColumns;
    tile.columns = std::min(kTileColumns, width_ - tile.x0);
    // The walk's place in the sequence, as plain locals so that they stay in registers.
    const Window* window = nullptr;
    const uint32_t* cells = nullptr;
    const uint64_t* marks = nullptr;
    size_t word = 0;
    uint64_t unread = 0;
    if (flips > 0) {
      const Draws::Place place = draws.Find(firstFlip);
      window = place.window;
      cells = window->cells.data();
      marks = window->flips.data();
      word = place.word;
      unread = place.flips;
    }
    const size_t words = draws.Words();
    const uint64_t* tileWater = water_ ? water_ + index * TileWaterWords(height_) : nullptr;
    for (size_t c = 0; c < tile.columns; ++c) {
      uint32_t* cell = tile.table.data() + c * stride_;
      for (size_t y = 0; y < height_; ++y, ++cell) {
        if (water_) {
          const size_t k = c * height_ + y;
          if (tileWater[k / 64] >> (k % 64) & 1) {  // keeps its height, draws nothing
            *cell = kIsWater;
            continue;
          }
        }
        while (unread == 0) {
          if (++word == words) {
            window = &draws.Following(*window);
            cells = window->cells.data();
            marks = window->flips.data();
            word = 0;
          }
          unread = marks[word];
        }
        *cell = cells[word * 64 + static_cast<size_t>(std::countr_zero(unread))];
        unread &= unread - 1;
      }
    }
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
  const uint64_t* water_;  // a tile's bits from word index * TileWaterWords(height) on
  float lowest_ = kRangeResetMinimum;
  float highest_ = kRangeResetMaximum;
};

// The generator as Add Noise seeds it.
CNoiseGen SeededNoise(int32_t seed) {
  CNoiseGen generator;
  generator.SetMode(0);
  generator.Seed(seed);
  return generator;
}

// The coverage as the walk compares a flip with it.
float NoiseCoverage(int32_t coveragePercent) { return static_cast<float>(coveragePercent * 0.01); }

// Add Noise's walk from a generator whose next value is the first point's flip.
HeightRange WalkNoise(GridSize size, std::span<const float> source, std::span<float> result,
                      const NoiseParameters& parameters, const WaterTest& isWater,
                      CNoiseGen generator) {
  CheckGrid(size, source, result);

  // Formed in 64 bits: equal to the 32-bit arithmetic wherever that did not overflow.
  int64_t range = SaturatedInt32(std::ceil(parameters.maxHeight)) -
                  SaturatedInt32(std::floor(parameters.minHeight));
  if (range == 0) range = (static_cast<int64_t>(size.width) + size.height) / 2;
  const float amplitude =
      parameters.noiseType == 1
          ? kFixedNoiseAmplitude
          : static_cast<float>(static_cast<double>(parameters.amplitudePercent * range) * 0.01);
  generator.SetRange(-amplitude, amplitude);
  const float coverage = NoiseCoverage(parameters.coveragePercent);

  // Each tile's points take the flips after those of the tiles before: one a point that
  // is not water. Water is asked for on the calling thread, in walk order, one bit a
  // point; tiles whose water is known are counted, and may be walked, while it goes on.
  const size_t height = static_cast<size_t>(size.height);
  const size_t tiles = (static_cast<size_t>(size.width) + kTileColumns - 1) / kTileColumns;
  const bool asksWater = parameters.ignoreWater && isWater;
  std::vector<uint64_t> water(asksWater ? tiles * TileWaterWords(height) : 0);
  std::vector<uint64_t> firstFlips(tiles + 1, 0);
  std::atomic<size_t> known{0};  // tiles whose firstFlips[t + 1] is set
  auto countTile = [&](size_t t) {
    const size_t begin = t * kTileColumns * height;
    const size_t points = std::min(size.Count(), begin + kTileColumns * height) - begin;
    size_t wet = 0;
    const uint64_t* tileWater = water.data() + t * TileWaterWords(height);
    for (size_t w = 0; asksWater && w < TileWaterWords(height); ++w)
      wet += static_cast<size_t>(std::popcount(tileWater[w]));
    firstFlips[t + 1] = firstFlips[t] + points - wet;
  };
  if (!asksWater) {
    for (size_t t = 0; t < tiles; ++t) countTile(t);
    known = tiles;
  }

  // The sequence is made a window at a time, in as many parts as there are threads. A
  // window holds at least twice a tile's points, so that a tile's flips lie in at most
  // two windows, and at most as many values as the grid can use (two a point), so that a
  // small grid makes a small window.
  const size_t threads = static_cast<size_t>(tbb::this_task_arena::max_concurrency());
  const size_t parts = threads <= 1 || size.Count() < MinimumBandPoints() ? 1 : threads;
  size_t windowValues = std::min<size_t>(MinimumBandPoints() * 16, 2 * size.Count() + 2);
  windowValues = std::max(windowValues, 2 * kTileColumns * height + 2);
  const size_t partValues = (windowValues / parts + Draws::kChunk) / Draws::kChunk * Draws::kChunk;
  // A fresh buffer costs a page fault per 4 KiB at its first touch, more than the work
  // done in it, so each thread keeps its windows and its tile's table for the next
  // call (three windows of a million values or more: 13 MB and up); a call made while the
  // thread's own are in use gets its own.
  thread_local Window keptWindows[3];
  thread_local bool windowsInUse = false;
  Window ownWindows[3];
  const bool keep = !windowsInUse;
  const struct InUse {
    bool& flag;
    bool was;
    ~InUse() { flag = was; }
  } inUse{windowsInUse, std::exchange(windowsInUse, true)};
  Draws draws(generator, coverage, parts, partValues, keep ? keptWindows : ownWindows);

  // Tiles are walked, and their rows passed, as soon as their water is known and their
  // flips are all made; the tiles' ranges are merged in walk order at the end.
  NoiseWalk walk(size, source, result, asksWater ? water.data() : nullptr);
  std::vector<ColumnRanges> ranges(tiles);
  std::atomic<bool> abandoned{false};
  auto walkTiles = [&] {
    for (size_t done = 0; done < tiles;) {
      const size_t counted = known.load(std::memory_order_acquire);
      if (abandoned.load(std::memory_order_relaxed)) return;
      size_t ready = done;
      while (ready < counted && firstFlips[ready + 1] <= draws.Made()) ++ready;
      // At most what the uncounted tiles could still ask for: one flip a point.
      const uint64_t needed =
          firstFlips[counted] +
          (size.Count() - std::min(size.Count(), counted * kTileColumns * height));
      const bool more = draws.Made() < needed && draws.CanMakeFor(firstFlips[done]);
      if (ready == done) {
        if (more) {
          draws.Make();
          draws.Mark();
        } else {
          known.wait(counted, std::memory_order_acquire);  // for more of the water
        }
        continue;
      }
      // The next window is drawn while the tiles walk.
      tbb::task_group drawing;
      if (more) drawing.run([&] { draws.Make(); });
      tbb::parallel_for(
          tbb::blocked_range<size_t>(done, ready, 1), [&](const tbb::blocked_range<size_t>& range) {
            // A tile's walk and row pass start no tasks, so nothing else
            // runs on this thread while they use its table.
            thread_local Tile tile;
            walk.Prepare(tile);
            for (size_t t = range.begin(); t < range.end(); ++t) {
              walk.Walk(tile, t, firstFlips[t], firstFlips[t + 1] - firstFlips[t], draws);
              walk.RowPass(tile);
              ranges[t] = tile.ranges;
            }
          });
      drawing.wait();
      if (more) draws.Mark();
      done = ready;
    }
  };
  if (!asksWater) {
    walkTiles();
  } else {
    tbb::task_group walking;
    walking.run(walkTiles);
    try {
      for (size_t t = 0; t < tiles; ++t) {
        uint64_t* tileWater = water.data() + t * TileWaterWords(height);
        const auto x0 = static_cast<int32_t>(t * kTileColumns);
        const auto x1 = static_cast<int32_t>(
            std::min<size_t>((t + 1) * kTileColumns, static_cast<size_t>(size.width)));
        size_t k = 0;
        for (int32_t x = x0; x < x1; ++x)
          for (int32_t y = 0; y < size.height; ++y, ++k)
            if (isWater(x, y)) tileWater[k / 64] |= uint64_t{1} << (k % 64);
        countTile(t);
        known.store(t + 1, std::memory_order_release);
        known.notify_all();
      }
    } catch (...) {
      abandoned = true;
      known.store(tiles, std::memory_order_release);
      known.notify_all();
      walking.wait();
      throw;
    }
    walking.wait();
  }
  for (const ColumnRanges& tile : ranges) walk.Merge(tile);
  return walk.Range();
}

}  // namespace

HeightRange AddNoise(GridSize size, std::span<const float> source, std::span<float> result,
                     const NoiseParameters& parameters, const WaterTest& isWater) {
  return WalkNoise(size, source, result, parameters, isWater, SeededNoise(parameters.seed));
}

NoisePiece SurveyNoisePiece(int32_t seed, int32_t coveragePercent, uint64_t piece,
                            uint64_t pieceValues) {
  CNoiseGen generator = SeededNoise(seed);
  if (piece > 0) CNoiseGen::Jump(piece * pieceValues).Apply(generator);
  const float coverage = NoiseCoverage(coveragePercent);
  NoisePiece survey;
  bool offset[2] = {false, true};  // whether the next value is an offset, per start
  float values[4096];
  for (uint64_t done = 0; done < pieceValues;) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(std::size(values), pieceValues - done));
    generator.UniformBatch(values, n);
    for (size_t k = 0; k < n; ++k)
      for (size_t start = 0; start < 2; ++start) {
        if (offset[start]) {
          offset[start] = false;
        } else {
          ++survey.flips[start];
          offset[start] = values[k] <= coverage;
        }
      }
    done += n;
  }
  for (size_t start = 0; start < 2; ++start) survey.endsOnOffset[start] = offset[start];
  return survey;
}

NoiseSequence::NoiseSequence(int32_t seed, int32_t coveragePercent, uint64_t pieceValues,
                             std::span<const NoisePiece> pieces)
    : seed_(seed), coveragePercent_(coveragePercent), pieceValues_(pieceValues) {
  if (pieceValues == 0) throw std::invalid_argument("a piece of the sequence holds no value");
  bool onOffset = false;  // the sequence starts with the first point's flip
  uint64_t flips = 0;
  for (const NoisePiece& piece : pieces) {
    flipsBefore_.push_back(flips);
    startsOnOffset_.push_back(onOffset);
    flips += piece.flips[onOffset];
    onOffset = piece.endsOnOffset[onOffset];
  }
  flipsBefore_.push_back(flips);
}

CNoiseGen NoiseSequence::AtFlip(uint64_t flip) const {
  if (flip >= Flips())
    throw std::invalid_argument("the surveyed pieces hold " + std::to_string(Flips()) +
                                " flips, not flip " + std::to_string(flip));
  const auto after = std::upper_bound(flipsBefore_.begin(), flipsBefore_.end(), flip);
  const auto piece = static_cast<size_t>(after - flipsBefore_.begin()) - 1;
  CNoiseGen generator = SeededNoise(seed_);
  if (piece > 0) CNoiseGen::Jump(piece * pieceValues_).Apply(generator);
  // The flip's place in its piece: the piece's values followed as the walk reads them.
  const float coverage = NoiseCoverage(coveragePercent_);
  uint64_t toSkip = flip - flipsBefore_[piece];
  bool offset = startsOnOffset_[piece];
  uint64_t place = 0;
  float values[4096];
  for (;;) {
    generator.UniformBatch(values, std::size(values));
    for (size_t k = 0; k < std::size(values); ++k, ++place) {
      if (offset) {
        offset = false;
        continue;
      }
      if (toSkip == 0) {
        CNoiseGen at = SeededNoise(seed_);
        CNoiseGen::Jump(piece * pieceValues_ + place).Apply(at);
        return at;
      }
      --toSkip;
      offset = values[k] <= coverage;
    }
  }
}

HeightRange AddNoiseFrom(GridSize size, std::span<const float> source, std::span<float> result,
                         const NoiseParameters& parameters, const WaterTest& isWater,
                         const NoiseSequence& sequence, uint64_t firstFlip) {
  if (sequence.Seed() != parameters.seed ||
      sequence.CoveragePercent() != parameters.coveragePercent)
    throw std::invalid_argument("the sequence was surveyed for another seed or coverage");
  CheckGrid(size, source, result);
  CNoiseGen generator = SeededNoise(parameters.seed);
  // A run whose points are all water draws nothing, and may start past the last flip.
  if (firstFlip < sequence.Flips()) generator = sequence.AtFlip(firstFlip);
  return WalkNoise(size, source, result, parameters, isWater, generator);
}

}  // namespace terrain
