// The worked examples that describe each operation, as numbers a user could check.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "terrain/operations.h"

namespace {

using terrain::GridSize;

TEST(Noise, ThreeByTwoExample) {
  const GridSize size{3, 2};
  const std::vector<float> source(6, 0.0f);
  std::vector<float> result(6);
  terrain::NoiseParameters p;
  p.seed = 12345;
  p.noiseType = 0;
  p.amplitudePercent = 50;
  p.coveragePercent = 50;
  p.ignoreWater = false;
  p.minHeight = 0.0;
  p.maxHeight = 10.0;
  const auto range = terrain::AddNoise(size, source, result, p, nullptr);
  EXPECT_EQ(result, (std::vector<float>{0.0f, -2.4776034f, 0.0f, -2.4717526f, 0.0f, -4.3834543f}));
  EXPECT_EQ(range.minimum, -4.3834543f);
  EXPECT_EQ(range.maximum, 0.0f);
}

TEST(Noise, WaterIsAskedOncePerPointInWalkOrderOnlyWhenIgnored) {
  const GridSize size{3, 2};
  const std::vector<float> source{1, 2, 3, 4, 5, 6};
  std::vector<float> result(6);
  terrain::NoiseParameters p;
  p.coveragePercent = 100;
  std::vector<std::pair<int, int>> asked;
  auto everywhere = [&](int x, int y) {
    asked.emplace_back(x, y);
    return true;
  };
  const auto range = terrain::AddNoise(size, source, result, p, everywhere);
  EXPECT_EQ(asked,
            (std::vector<std::pair<int, int>>{{0, 0}, {0, 1}, {1, 0}, {1, 1}, {2, 0}, {2, 1}}));
  EXPECT_EQ(result, source);
  EXPECT_FALSE(range.IsUsable());
  EXPECT_EQ(range.maximum, -2147483648.0f);

  asked.clear();
  p.ignoreWater = false;
  terrain::AddNoise(size, source, result, p, everywhere);
  EXPECT_TRUE(asked.empty());
}

TEST(Noise, AmplitudeFollowsTheRecordedRange) {
  const GridSize size{256, 256};
  const std::vector<float> source(size.Count(), 0.0f);
  std::vector<float> result(size.Count());
  auto spread = [&](terrain::NoiseParameters p) {
    p.coveragePercent = 100;
    p.ignoreWater = false;
    const auto r = terrain::AddNoise(size, source, result, p, nullptr);
    return std::pair{r.minimum, r.maximum};
  };
  terrain::NoiseParameters p;
  p.amplitudePercent = 50;
  p.minHeight = -12.3;
  p.maxHeight = 87.9;  // range 88 - (-13) = 101
  auto [lo, hi] = spread(p);
  EXPECT_GE(lo, -50.5f);
  EXPECT_LT(hi, 50.5f);
  EXPECT_LT(lo, -50.0f);
  p.minHeight = p.maxHeight = 4.0;  // flat: range (256 + 256) / 2
  std::tie(lo, hi) = spread(p);
  EXPECT_GE(lo, -128.0f);
  EXPECT_LT(lo, -127.0f);
  EXPECT_LT(hi, 128.0f);
  p.noiseType = 1;  // Gaussian: always +-10
  std::tie(lo, hi) = spread(p);
  EXPECT_GE(lo, -10.0f);
  EXPECT_LT(hi, 10.0f);
  EXPECT_GT(hi, 9.9f);
  // Seeds that differ only in sign give the same noise.
  p.seed = 123;
  spread(p);
  const auto first = result;
  p.seed = -123;
  spread(p);
  EXPECT_EQ(first, result);
}

TEST(Noise, ExtremeRecordedRangeIsDefined) {
  const GridSize size{4, 4};
  const std::vector<float> source(size.Count(), 1.0f);
  std::vector<float> result(size.Count());
  terrain::NoiseParameters p;
  p.amplitudePercent = 100;
  p.coveragePercent = 100;
  p.ignoreWater = false;
  for (auto [lo, hi] :
       {std::pair{-1e300, 1e300}, std::pair{double(NAN), double(NAN)}, std::pair{-3e9, 3e9}}) {
    p.minHeight = lo;
    p.maxHeight = hi;
    terrain::AddNoise(size, source, result, p, nullptr);
    for (float v : result) EXPECT_TRUE(std::isfinite(v));
  }
}

TEST(Hill, AllFieldsEmptyOnThreeByThree) {
  const GridSize size{3, 3};
  const std::vector<float> source(9, 0.0f);
  std::vector<float> result(9);
  const auto range = terrain::AddHill(size, source, result, {});
  EXPECT_FLOAT_EQ(result[4], 10.0f);
  for (int i : {1, 3, 5, 7}) EXPECT_FLOAT_EQ(result[i], 1.4945338e-4f);
  for (int i : {0, 2, 6, 8}) EXPECT_FLOAT_EQ(result[i], 2.2336315e-9f);
  EXPECT_FLOAT_EQ(range.maximum, 10.0f);
  EXPECT_FLOAT_EQ(range.minimum, 2.2336315e-9f);
}

TEST(Hill, DepressionIsFlooredAtMinusThousand) {
  const GridSize size{1, 3};
  const std::vector<float> source{-1000.5f, -995.0f, -2000.0f};
  std::vector<float> result(3);
  terrain::AddHill(size, source, result, {0.5, 0.5, -10.0, 1e-9});
  // Only the middle row sits under the narrow bump.
  EXPECT_EQ(result, (std::vector<float>{-1000.5f, -1000.0f, -1000.0f}));
  EXPECT_DOUBLE_EQ(terrain::PercentToFraction(50.0), 0.5);
}

TEST(Soften, SpikeCornerAndOneRow) {
  const GridSize size{9, 9};
  std::vector<float> source(size.Count(), 0.0f);
  source[4 * 9 + 4] = 65.0f * 15.0f;
  std::vector<float> result(size.Count());
  terrain::Soften(size, source, result);
  EXPECT_FLOAT_EQ(result[4 * 9 + 4], 65.0f * 3.0f);
  EXPECT_FLOAT_EQ(result[3 * 9 + 4], 65.0f * 2.0f);
  EXPECT_FLOAT_EQ(result[3 * 9 + 3], 65.0f);
  terrain::SoftenMore(size, source, result);
  EXPECT_FLOAT_EQ(result[4 * 9 + 4], 15.0f * 5.0f);
  EXPECT_FLOAT_EQ(result[2 * 9 + 2], 15.0f);
  EXPECT_FLOAT_EQ(result[2 * 9 + 4], 15.0f * 3.0f);

  // Corner: centre 3, two edge cells 2, one diagonal 1, divisor 8.
  const std::vector<float> corner{8.0f, 0.0f, 0.0f, 0.0f};
  std::vector<float> out(4);
  terrain::Soften({2, 2}, corner, out);
  EXPECT_FLOAT_EQ(out[0], 3.0f);
  EXPECT_FLOAT_EQ(out[3], 1.0f);

  // One row: weights 2-3-2 inside (divisor 7), 3-2 at the ends (divisor 5).
  const std::vector<float> row{0.0f, 7.0f, 0.0f, 0.0f};
  std::vector<float> rowOut(4);
  terrain::Soften({4, 1}, row, rowOut);
  EXPECT_FLOAT_EQ(rowOut[0], 14.0f / 5.0f);
  EXPECT_FLOAT_EQ(rowOut[1], 3.0f);
  EXPECT_FLOAT_EQ(rowOut[2], 2.0f);
  EXPECT_FLOAT_EQ(rowOut[3], 0.0f);
  const std::vector<float> five{0, 0, 19, 0, 0};
  std::vector<float> fiveOut(5);
  terrain::SoftenMore({5, 1}, five, fiveOut);
  EXPECT_FLOAT_EQ(fiveOut[2], 5.0f);
}

TEST(Profile, ValuesAtSeverityHundred) {
  const GridSize size{4, 1};
  const std::vector<float> source{0.0f, 50.0f, 100.0f, -20.0f};
  std::vector<float> result(4);
  terrain::Glaciate(size, source, result, {100, 0.0, 100.0});
  EXPECT_NEAR(result[1], 50.0 * std::exp(-5.0), 1e-5);
  EXPECT_EQ(result[2], 100.0f);
  EXPECT_LT(result[3], 0.0f);
  terrain::Canyonize(size, source, result, {100, 0.0, 100.0});
  EXPECT_EQ(result[0], 0.0f);
  EXPECT_NEAR(result[1], 50.0 * (1.0 - std::exp(-5.0)), 1e-4);
  // Severity 0: Glaciate keeps every height, Canyonize levels everything to zero.
  terrain::Glaciate(size, source, result, {0, 0.0, 100.0});
  EXPECT_EQ(result, source);
  const auto range = terrain::Canyonize(size, source, result, {0, 0.0, 100.0});
  EXPECT_EQ(result, std::vector<float>(4, 0.0f));
  EXPECT_FALSE(range.IsUsable());
}

TEST(Flatten, SeverityEnds) {
  const GridSize size{3, 1};
  const std::vector<float> source{10.0f, -4.0f, 7.0f};
  std::vector<float> result(3);
  auto range = terrain::Flatten(size, source, result, {0.0, 50});
  EXPECT_EQ(result, (std::vector<float>{5.0f, -2.0f, 3.5f}));
  range = terrain::Flatten(size, source, result, {2.5, 100});
  EXPECT_EQ(result, std::vector<float>(3, 2.5f));
  EXPECT_EQ(range.minimum, 2.5f);
  EXPECT_EQ(range.maximum, 1002.5f);
  range = terrain::Flatten(size, source, result, {2.5, 0});
  EXPECT_EQ(result, source);
  EXPECT_EQ(range.minimum, -4.0f);
  EXPECT_EQ(range.maximum, 10.0f);
}

}  // namespace
