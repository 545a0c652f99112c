// The seven terrain operations as plain functions: source heights and parameters in,
// every result element written, the running height range out. They throw
// std::invalid_argument when the buffers do not match the grid (see CheckGrid).
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "random/noise_gen.h"
#include "terrain/grid.h"
#include "terrain/parameters.h"

namespace terrain {

// 3 x 3 weighted mean (weights 1-2-1 / 2-3-2 / 1-2-1), cut off at the border.
HeightRange Soften(GridSize size, std::span<const float> source, std::span<float> result);
// 5 x 5 weighted mean, weight 1 + (2 - |dx|) + (2 - |dy|), cut off at the border.
HeightRange SoftenMore(GridSize size, std::span<const float> source, std::span<float> result);

// Every height keeps (100 - severity) % of its distance from the target. A result of a
// single height has its range widened by kFlatRangeWidening.
HeightRange Flatten(GridSize size, std::span<const float> source, std::span<float> result,
                    const FlattenParameters& parameters);

// Height times exp((n - 1) k), n the height's place in the recorded range.
HeightRange Glaciate(GridSize size, std::span<const float> source, std::span<float> result,
                     const ProfileParameters& parameters);
// Height times 1 - exp(-k n).
HeightRange Canyonize(GridSize size, std::span<const float> source, std::span<float> result,
                      const ProfileParameters& parameters);

// Water test for a grid point (x, y); called once per point in walk order.
using WaterTest = std::function<bool(int32_t x, int32_t y)>;

// Seeded random offsets on a share of the points, walked column by column. Points for
// which isWater answers true (asked only when ignoreWater is set) keep their height
// and are left out of the range.
HeightRange AddNoise(GridSize size, std::span<const float> source, std::span<float> result,
                     const NoiseParameters& parameters, const WaterTest& isWater);

// Add Noise split over machines. The walk reads the generator's sequence as flips (one
// a point that is not water, in walk order) and offsets (the value after a flip that
// takes one); which values are flips depends only on the seed and the coverage. The
// sequence is surveyed in pieces of pieceValues values, each on its own (any machine, in
// any order), then a run of the walk that starts at flip number n finds its place from
// the survey alone. Every run so placed gives the whole walk's heights exactly.
struct NoisePiece {
  // For a piece whose first value is a flip (0) or the offset of the flip before (1):
  uint64_t flips[2] = {0, 0};             // how many of its values are flips
  bool endsOnOffset[2] = {false, false};  // whether the next piece starts on an offset
};
NoisePiece SurveyNoisePiece(int32_t seed, int32_t coveragePercent, uint64_t piece,
                            uint64_t pieceValues);

// The surveyed pieces, from the sequence's start, in order.
class NoiseSequence {
 public:
  NoiseSequence(int32_t seed, int32_t coveragePercent, uint64_t pieceValues,
                std::span<const NoisePiece> pieces);
  uint64_t Flips() const { return flipsBefore_.back(); }  // in all the pieces
  int32_t Seed() const { return seed_; }
  int32_t CoveragePercent() const { return coveragePercent_; }
  // A generator whose next value is flip number `flip` (from 0), which the pieces hold.
  CNoiseGen AtFlip(uint64_t flip) const;

 private:
  int32_t seed_;
  int32_t coveragePercent_;
  uint64_t pieceValues_;
  std::vector<uint64_t> flipsBefore_;  // per piece, and the total after the last
  std::vector<bool> startsOnOffset_;
};

// AddNoise on a run of whole columns of a larger grid (source and result hold the run
// only; the parameters' range is the whole grid's) whose first point that is not water
// takes flip number firstFlip: the whole walk's heights for those columns.
HeightRange AddNoiseFrom(GridSize size, std::span<const float> source, std::span<float> result,
                         const NoiseParameters& parameters, const WaterTest& isWater,
                         const NoiseSequence& sequence, uint64_t firstFlip);

// Adds a Gaussian bump; results at or below kHillFloorLimit become kHillFloor.
HeightRange AddHill(GridSize size, std::span<const float> source, std::span<float> result,
                    const HillParameters& parameters);

// The heights AddHill gives the points of a window of a larger grid: `whole` is the
// grid the parameters refer to, the window starts at column x0 and row y0 of it and has
// the size of `window` (source and result hold the window only). Every point is computed
// as the contract says (no fast path), so the window matches the whole grid's result
// bit for bit, for tiles of a grid too large to hold at once.
void AddHillWindow(GridSize whole, int32_t x0, int32_t y0, GridSize window,
                   std::span<const float> source, std::span<float> result,
                   const HillParameters& parameters);

// A percentage typed by the user as a fraction, formed in extended precision.
double PercentToFraction(double percent);

// Keeps a result that came from a finite height within the float range: overflow
// becomes the largest finite float of its sign, a NaN the source height. Heights that
// were not finite to begin with pass through as computed.
double KeepFinite(double value, double source);

}  // namespace terrain
