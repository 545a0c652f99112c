// The optimised kernels against the literal reference walks, bit for bit, on random
// grids of awkward sizes and contents.
#include <gtest/gtest.h>
#include <tbb/task_arena.h>

#include <bit>
#include <cfloat>
#include <chrono>
#include <cmath>
#include <limits>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "terrain/fast_exp.h"
#include "terrain/parallel.h"
#include "tests/terrain/reference.h"

namespace {

using terrain::GridSize;
using terrain::HeightRange;

enum class Content { kTerrain, kSpecial, kZeros };

std::vector<float> RandomGrid(GridSize size, Content content, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> height(-500.0f, 3000.0f);
  std::uniform_int_distribution<int> pick(0, 99);
  const float kSpecials[] = {std::numeric_limits<float>::quiet_NaN(),
                             std::numeric_limits<float>::infinity(),
                             -std::numeric_limits<float>::infinity(),
                             3.0e38f,
                             -3.0e38f,
                             1.0e-42f,
                             -1.0e-42f,
                             0.0f,
                             -0.0f,
                             FLT_MIN};
  std::vector<float> grid(size.Count());
  for (float& h : grid) {
    const int p = pick(rng);
    if (content == Content::kZeros) {
      h = p < 40 ? 0.0f : p < 80 ? -0.0f : p < 90 ? 1.0e-44f : -1.0e-44f;
    } else if (content == Content::kSpecial && p < 30) {
      h = kSpecials[p % 10];
    } else {
      h = height(rng);
    }
  }
  return grid;
}

void ExpectSameBits(const reference::Output& expected, const std::vector<float>& heights,
                    HeightRange range) {
  ASSERT_EQ(expected.heights.size(), heights.size());
  for (size_t i = 0; i < heights.size(); ++i) {
    // A NaN's sign and payload depend on operand order, which the compiler may swap.
    if (std::isnan(expected.heights[i]) && std::isnan(heights[i])) continue;
    ASSERT_EQ(std::bit_cast<uint32_t>(expected.heights[i]), std::bit_cast<uint32_t>(heights[i]))
        << "element " << i << ": " << expected.heights[i] << " vs " << heights[i];
  }
  EXPECT_EQ(std::bit_cast<uint32_t>(expected.range.minimum), std::bit_cast<uint32_t>(range.minimum))
      << expected.range.minimum << " vs " << range.minimum;
  EXPECT_EQ(std::bit_cast<uint32_t>(expected.range.maximum), std::bit_cast<uint32_t>(range.maximum))
      << expected.range.maximum << " vs " << range.maximum;
}

// Runs the kernel at 1, 2, 3 and 8 threads and checks each run against the expected
// output; the fixture splits grids down to a row a band, so small grids split too.
template <typename Kernel>
void ExpectAtEveryThreadCount(const reference::Output& expected, std::vector<float>& result,
                              Kernel&& kernel) {
  for (const int threads : {1, 2, 3, 8}) {
    SCOPED_TRACE(testing::Message() << threads << " threads");
    std::fill(result.begin(), result.end(), 12345.0f);
    HeightRange range;
    tbb::task_arena(threads).execute([&] { range = kernel(); });
    ExpectSameBits(expected, result, range);
  }
}

// Bands as small as one row, for the tests' small grids.
class SmallBands {
 public:
  SmallBands() : before_(terrain::MinimumBandPoints()) { terrain::SetMinimumBandPoints(1); }
  ~SmallBands() { terrain::SetMinimumBandPoints(before_); }

 private:
  size_t before_;
};

struct Case {
  GridSize size;
  Content content;
  friend void PrintTo(const Case& c, std::ostream* os) {
    *os << c.size.width << " x " << c.size.height;
  }
};

std::string CaseName(const testing::TestParamInfo<Case>& info) {
  const char* kinds[] = {"terrain", "special", "zeros"};
  return std::to_string(info.param.size.width) + "x" + std::to_string(info.param.size.height) +
         "_" + kinds[static_cast<int>(info.param.content)];
}

class KernelMatchesReference : public testing::TestWithParam<Case> {
 protected:
  GridSize size() const { return GetParam().size; }
  std::vector<float> Source(unsigned salt) const {
    return RandomGrid(size(), GetParam().content,
                      salt * 7919u + static_cast<unsigned>(size().width * 131 + size().height));
  }
  std::vector<float> result_ = std::vector<float>(GetParam().size.Count(), 12345.0f);
  SmallBands bands_;
};

TEST_P(KernelMatchesReference, SoftenAndSoftenMore) {
  const auto source = Source(1);
  ExpectAtEveryThreadCount(reference::Soften(size(), source, 1), result_,
                           [&] { return terrain::Soften(size(), source, result_); });
  ExpectAtEveryThreadCount(reference::Soften(size(), source, 2), result_,
                           [&] { return terrain::SoftenMore(size(), source, result_); });
}

TEST_P(KernelMatchesReference, Flatten) {
  const auto source = Source(2);
  for (const terrain::FlattenParameters p :
       {terrain::FlattenParameters{0.0, 0}, terrain::FlattenParameters{0.0, 50},
        terrain::FlattenParameters{123.25, 37}, terrain::FlattenParameters{-7.5, 100},
        terrain::FlattenParameters{3.0e38, 99}}) {
    SCOPED_TRACE(p.severityPercent);
    ExpectAtEveryThreadCount(reference::Flatten(size(), source, p), result_,
                             [&] { return terrain::Flatten(size(), source, result_, p); });
  }
}

TEST_P(KernelMatchesReference, GlaciateAndCanyonize) {
  const auto source = Source(3);
  for (const terrain::ProfileParameters p :
       {terrain::ProfileParameters{0, -500.0, 3000.0},
        terrain::ProfileParameters{10, -500.0, 3000.0}, terrain::ProfileParameters{100, 0.0, 100.0},
        terrain::ProfileParameters{73, 5.0, 5.0},
        terrain::ProfileParameters{100, 1.0, 1.0 + 1e-300}}) {
    SCOPED_TRACE(p.severityPercent);
    ExpectAtEveryThreadCount(reference::Profile(size(), source, p, false), result_,
                             [&] { return terrain::Glaciate(size(), source, result_, p); });
    ExpectAtEveryThreadCount(reference::Profile(size(), source, p, true), result_,
                             [&] { return terrain::Canyonize(size(), source, result_, p); });
  }
}

TEST_P(KernelMatchesReference, Hill) {
  const auto source = Source(4);
  for (const terrain::HillParameters p :
       {terrain::HillParameters{}, terrain::HillParameters{0.2, 0.9, -4000.0, 0.3},
        terrain::HillParameters{1.5, -0.2, 250.0, 0.7},
        terrain::HillParameters{0.5, 0.5, 1e300, 0.2},
        terrain::HillParameters{0.5, 0.5, 10.0, 0.0}}) {
    ExpectAtEveryThreadCount(reference::Hill(size(), source, p), result_,
                             [&] { return terrain::AddHill(size(), source, result_, p); });
  }
}

TEST_P(KernelMatchesReference, Noise) {
  const auto source = Source(5);
  // Water in patches, so that whole stretches of a column draw nothing.
  auto water = [](int32_t x, int32_t y) { return ((x / 3) ^ (y / 5)) % 3 == 0; };
  for (const bool ignoreWater : {false, true}) {
    for (const int coverage : {0, 37, 100}) {
      terrain::NoiseParameters p;
      p.seed = 4711 + coverage;
      p.coveragePercent = coverage;
      p.amplitudePercent = 30;
      p.ignoreWater = ignoreWater;
      p.minHeight = -500.0;
      p.maxHeight = 3000.0;
      SCOPED_TRACE(coverage);
      ExpectAtEveryThreadCount(reference::Noise(size(), source, p, water), result_, [&] {
        return terrain::AddNoise(size(), source, result_, p, water);
      });
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Grids, KernelMatchesReference,
    testing::Values(Case{{1, 1}, Content::kTerrain}, Case{{1, 1}, Content::kSpecial},
                    Case{{1, 9}, Content::kTerrain}, Case{{9, 1}, Content::kSpecial},
                    Case{{2, 2}, Content::kTerrain}, Case{{4, 3}, Content::kSpecial},
                    Case{{5, 5}, Content::kTerrain}, Case{{17, 13}, Content::kTerrain},
                    Case{{31, 29}, Content::kSpecial}, Case{{64, 33}, Content::kTerrain},
                    Case{{23, 19}, Content::kZeros}, Case{{0, 7}, Content::kTerrain},
                    Case{{7, 0}, Content::kTerrain}, Case{{301, 257}, Content::kTerrain},
                    Case{{257, 131}, Content::kSpecial}),
    CaseName);

// Noise walks in tiles placed by how many points come before them, on a sequence drawn
// in windows and parts that jump to their place: random seeds, coverages, water and
// window sizes, every thread count, against the one-thread reference walk.
TEST(KernelMatchesReferenceOnRandomCases, Noise) {
  std::mt19937 rng(20261209);
  const size_t before = terrain::MinimumBandPoints();
  for (int trial = 0; trial < 24; ++trial) {
    const GridSize size{std::uniform_int_distribution<int32_t>(1, 200)(rng),
                        std::uniform_int_distribution<int32_t>(1, 160)(rng)};
    const auto source = RandomGrid(size, Content::kTerrain, static_cast<unsigned>(trial));
    terrain::NoiseParameters p;
    p.seed = std::uniform_int_distribution<int32_t>()(rng);
    p.coveragePercent = std::uniform_int_distribution<int32_t>(0, 100)(rng);
    p.amplitudePercent = 25;
    p.ignoreWater = trial % 3 != 0;
    p.minHeight = -500.0;
    p.maxHeight = 3000.0;
    // Water in blobs of a random size and share, so that whole tiles may draw nothing.
    const int32_t blob = std::uniform_int_distribution<int32_t>(1, 40)(rng);
    const int32_t share = std::uniform_int_distribution<int32_t>(0, 8)(rng);
    const auto salt = static_cast<uint32_t>(rng());
    auto water = [=](int32_t x, int32_t y) {
      const uint32_t h = (static_cast<uint32_t>(x / blob) * 73856093u) ^
                         (static_cast<uint32_t>(y / blob) * 19349663u) ^ salt;
      return static_cast<int32_t>((h * 2654435761u) >> 29) < share;
    };
    terrain::SetMinimumBandPoints(size_t{1} << std::uniform_int_distribution<int>(0, 16)(rng));
    SCOPED_TRACE(testing::Message()
                 << "trial " << trial << ": " << size.width << " x " << size.height << ", seed "
                 << p.seed << ", coverage " << p.coveragePercent << ", bands of "
                 << terrain::MinimumBandPoints());
    std::vector<float> result(size.Count());
    ExpectAtEveryThreadCount(reference::Noise(size, source, p, water), result,
                             [&] { return terrain::AddNoise(size, source, result, p, water); });

    // The same walk split into runs of columns, each placed by a survey of the sequence
    // in pieces of a random size: the whole walk's heights, bit for bit.
    const auto pieceValues = std::uniform_int_distribution<uint64_t>(1, 700)(rng);
    std::vector<int32_t> cuts{0, size.width};
    for (int c = std::uniform_int_distribution<int>(0, 4)(rng); c > 0; --c)
      cuts.push_back(std::uniform_int_distribution<int32_t>(0, size.width)(rng));
    std::sort(cuts.begin(), cuts.end());
    uint64_t dry = 0;
    for (int32_t x = 0; x < size.width; ++x)
      for (int32_t y = 0; y < size.height; ++y) dry += !(p.ignoreWater && water(x, y));
    std::vector<terrain::NoisePiece> pieces;
    for (uint64_t flips = 0; flips <= dry;) {
      pieces.push_back(
          terrain::SurveyNoisePiece(p.seed, p.coveragePercent, pieces.size(), pieceValues));
      const terrain::NoiseSequence sofar(p.seed, p.coveragePercent, pieceValues, pieces);
      flips = sofar.Flips();
    }
    const terrain::NoiseSequence sequence(p.seed, p.coveragePercent, pieceValues, pieces);
    uint64_t firstFlip = 0;
    for (size_t r = 0; r + 1 < cuts.size(); ++r) {
      const int32_t x0 = cuts[r], columns = cuts[r + 1] - cuts[r];
      if (columns == 0) continue;
      const GridSize run{columns, size.height};
      std::vector<float> runSource(run.Count()), runResult(run.Count());
      for (int32_t y = 0; y < size.height; ++y)
        std::copy_n(source.begin() + y * size.width + x0, columns, runSource.begin() + y * columns);
      terrain::AddNoiseFrom(
          run, runSource, runResult, p, [&](int32_t x, int32_t y) { return water(x0 + x, y); },
          sequence, firstFlip);
      for (int32_t y = 0; y < size.height; ++y)
        for (int32_t x = 0; x < columns; ++x) {
          ASSERT_EQ(std::bit_cast<uint32_t>(runResult[y * columns + x]),
                    std::bit_cast<uint32_t>(result[y * size.width + x0 + x]))
              << "run from column " << x0 << ", point " << x << "," << y << ", pieces of "
              << pieceValues;
        }
      for (int32_t x = 0; x < columns; ++x)
        for (int32_t y = 0; y < size.height; ++y) firstFlip += !(p.ignoreWater && water(x0 + x, y));
    }
  }
  terrain::SetMinimumBandPoints(before);
}

// A water test that throws stops Noise with its exception on every thread count, the
// walk that runs beside the water questions included: nothing waits forever.
TEST(KernelMatchesReferenceOnRandomCases, NoiseStopsWhenTheWaterTestThrows) {
  const SmallBands bands;
  const GridSize size{200, 150};
  const auto source = RandomGrid(size, Content::kTerrain, 5);
  std::vector<float> result(size.Count());
  terrain::NoiseParameters p;
  p.ignoreWater = true;
  for (const int threads : {1, 2, 8}) {
    size_t asked = 0;
    auto water = [&](int32_t, int32_t) {
      if (++asked == 20000) throw std::runtime_error("the host went away");
      return false;
    };
    tbb::task_arena(threads).execute([&] {
      EXPECT_THROW(terrain::AddNoise(size, source, result, p, water), std::runtime_error);
    });
  }
}

// While the host is slow to answer about water, the other threads draw windows ahead of
// the walk; the tiles then find their flips in any window kept.
TEST(KernelMatchesReferenceOnRandomCases, NoiseWhileTheWaterIsSlowToCome) {
  const SmallBands bands;
  const GridSize size{200, 150};
  const auto source = RandomGrid(size, Content::kTerrain, 6);
  terrain::NoiseParameters p;
  p.ignoreWater = true;
  p.coveragePercent = 45;
  auto water = [](int32_t x, int32_t y) { return (x + y) % 7 == 0; };
  const reference::Output expected = reference::Noise(size, source, p, water);
  std::vector<float> result(size.Count());
  for (const int threads : {2, 8}) {
    SCOPED_TRACE(threads);
    size_t asked = 0;
    auto slow = [&](int32_t x, int32_t y) {
      if (asked++ == 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
      return water(x, y);
    };
    HeightRange range;
    tbb::task_arena(threads).execute(
        [&] { range = terrain::AddNoise(size, source, result, p, slow); });
    ExpectSameBits(expected, result, range);
  }
}

// The kernels that need exp per point approximate it where the stored height cannot
// change; a million points cover the hand-over to std::exp: changes near a height's last
// bit, exponents out to where exp runs out, heights beyond the recorded range.
TEST(KernelMatchesReferenceOnALargeGrid, ApproximatedExp) {
  const GridSize size{1031, 1024};
  const auto source = RandomGrid(size, Content::kTerrain, 99);
  std::vector<float> result(size.Count());
  for (const terrain::HillParameters p :
       {terrain::HillParameters{0.3, 0.7, 5000.0, 0.05},
        terrain::HillParameters{0.5, 0.5, 2e-4, 0.4}, terrain::HillParameters{0.1, 0.2, -1e6, 0.02},
        terrain::HillParameters{0.6, 0.4, 0.37, 3.0}}) {
    SCOPED_TRACE(p.heightChange);
    ExpectSameBits(reference::Hill(size, source, p), result,
                   terrain::AddHill(size, source, result, p));
  }
  for (const terrain::ProfileParameters p : {terrain::ProfileParameters{30, -500.0, 3000.0},
                                             terrain::ProfileParameters{100, 0.0, 1000.0},
                                             terrain::ProfileParameters{1, -500.0, 3000.0}}) {
    SCOPED_TRACE(p.severityPercent);
    ExpectSameBits(reference::Profile(size, source, p, false), result,
                   terrain::Glaciate(size, source, result, p));
    ExpectSameBits(reference::Profile(size, source, p, true), result,
                   terrain::Canyonize(size, source, result, p));
  }
  // Noise at its own window sizes: more than one window, in as many parts as threads.
  terrain::NoiseParameters p;
  p.coveragePercent = 64;
  p.ignoreWater = false;
  ExpectAtEveryThreadCount(reference::Noise(size, source, p, nullptr), result,
                           [&] { return terrain::AddNoise(size, source, result, p, nullptr); });
}

// The checks that keep a fast exp's value rely on its stated error bound; measured here
// in extended precision over its whole domain, ends and multiples of ln 2 included.
TEST(FastExp, StaysWithinItsErrorBound) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> anywhere(terrain::simd::kFastExpLow,
                                                  terrain::simd::kFastExpHigh);
  std::uniform_real_distribution<double> nearZero(-1.0, 1.0);
  std::vector<double> xs = {terrain::simd::kFastExpLow, terrain::simd::kFastExpHigh, 0.0, -0.0};
  for (int k = -1021; k <= 1022; ++k) {
    const double x = k * 0.6931471805599453;
    if (x < terrain::simd::kFastExpLow || x > terrain::simd::kFastExpHigh) continue;
    for (double d : {-0.34657, -1e-9, 0.0, 1e-9, 0.34657}) xs.push_back(x + d);
  }
  for (int i = 0; i < 200000; ++i) xs.push_back(i % 2 ? anywhere(rng) : nearZero(rng));
  double worst = 0.0;
  for (size_t i = 0; i + 4 <= xs.size(); i += 4) {
    const terrain::simd::Doubles x = {xs[i], xs[i + 1], xs[i + 2], xs[i + 3]};
    const terrain::simd::Doubles e = terrain::simd::ExpLanes(x);
    for (int lane = 0; lane < 4; ++lane) {
      const long double exact = std::exp(static_cast<long double>(x[lane]));
      worst = std::max(worst, static_cast<double>(std::fabs(e[lane] / exact - 1.0L)));
    }
  }
  EXPECT_LT(worst, 0x1p-39);
  EXPECT_EQ(terrain::simd::ExpLanes(terrain::simd::Doubles{})[0], 1.0);
}

// Invariants that hold for any correct smoothing, whatever the walk.
TEST(Soften, ConstantLandscapeStaysConstantIncludingTheBorder) {
  const GridSize size{13, 7};
  const std::vector<float> source(size.Count(), 421.0f);
  std::vector<float> result(size.Count());
  for (auto kernel : {terrain::Soften, terrain::SoftenMore}) {
    const HeightRange range = kernel(size, source, result);
    for (float v : result) EXPECT_FLOAT_EQ(v, 421.0f);
    EXPECT_FLOAT_EQ(range.minimum, 421.0f);
    EXPECT_FLOAT_EQ(range.maximum, 421.0f);
  }
}

TEST(Soften, HeightsNearTheFloatLimitStayFinite) {
  const GridSize size{9, 6};
  const std::vector<float> source(size.Count(), 3.0e38f);
  std::vector<float> result(size.Count());
  for (auto kernel : {terrain::Soften, terrain::SoftenMore}) {
    const HeightRange range = kernel(size, source, result);
    for (float v : result) EXPECT_FLOAT_EQ(v, 3.0e38f);
    EXPECT_FLOAT_EQ(range.maximum, 3.0e38f);
  }
}

TEST(Kernels, RejectBuffersThatDoNotMatchTheGrid) {
  std::vector<float> source(12), result(11);
  EXPECT_THROW(terrain::Soften({4, 3}, source, result), std::invalid_argument);
  EXPECT_THROW(terrain::Flatten({-4, -3}, source, source, {}), std::invalid_argument);
}

TEST(Kernels, EmptyGridKeepsTheResetRange) {
  std::vector<float> none;
  const HeightRange range = terrain::Glaciate({0, 5}, none, none, {10, 0.0, 1.0});
  EXPECT_EQ(range.minimum, 2147483648.0f);
  EXPECT_EQ(range.maximum, -2147483648.0f);
  EXPECT_FALSE(range.IsUsable());
  // Flatten widens only a range with equal ends; the reset ends differ.
  const HeightRange flat = terrain::Flatten({5, 0}, none, none, {0.0, 100});
  EXPECT_EQ(flat.maximum, -2147483648.0f);
}

// The mended faults: nothing that is not a number or infinite comes out of finite input.
TEST(Kernels, FiniteInputGivesFiniteOutputInDegenerateCases) {
  const GridSize size{6, 5};
  std::vector<float> source(size.Count());
  for (size_t i = 0; i < source.size(); ++i)
    source[i] = static_cast<float>(static_cast<double>(i) * 2.0e37 - 3.0e38);
  source[3] = 0.0f;
  std::vector<float> result(size.Count());
  auto expectFinite = [&](HeightRange range) {
    for (float v : result) EXPECT_TRUE(std::isfinite(v)) << v;
    EXPECT_TRUE(std::isfinite(range.minimum));
    EXPECT_TRUE(std::isfinite(range.maximum));
  };
  // A zero recorded range keeps the heights.
  expectFinite(terrain::Glaciate(size, source, result, {100, 7.0, 7.0}));
  EXPECT_EQ(result, source);
  expectFinite(terrain::Canyonize(size, source, result, {100, 7.0, 7.0}));
  EXPECT_EQ(result, source);
  // A hair-thin range sends the factor to infinity.
  expectFinite(terrain::Glaciate(size, source, result, {100, 0.0, 1e-300}));
  expectFinite(terrain::Canyonize(size, source, result, {100, 0.0, 1e-300}));
  // Zero width changes nothing; a huge change saturates.
  expectFinite(terrain::AddHill(size, source, result, {0.5, 0.5, 50.0, 0.0}));
  for (size_t i = 0; i < source.size(); ++i)
    EXPECT_EQ(result[i], source[i] > -1001.0f ? source[i] : -1000.0f);
  expectFinite(terrain::AddHill(size, source, result, {0.5, 0.5, 1e300, 10.0}));
  EXPECT_EQ(result[0], FLT_MAX);
}

}  // namespace
