#include "random/noise_gen.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

namespace {

std::vector<int> Draw(CNoiseGen& g, int n) {
  std::vector<int> out;
  for (int i = 0; i < n; ++i) out.push_back(static_cast<int>(g.Uniform() * 16777216.0f));
  return out;
}

TEST(CNoiseGen, KnownSequences) {
  CNoiseGen g;
  g.Seed(12345);
  EXPECT_EQ(Draw(g, 5), (std::vector<int>{13535638, 4590088, 4241695, 1058739, 4231879}));
  g.Seed(0);
  EXPECT_EQ(Draw(g, 5), (std::vector<int>{5790094, 1344571, 2990437, 11091400, 5494037}));
  g.Seed(-12345);
  EXPECT_EQ(Draw(g, 5), (std::vector<int>{13535638, 4590088, 4241695, 1058739, 4231879}));
  EXPECT_EQ(g.GetSeed(), -12345);
}

// The published check of the core: seeds ij = 1802, kl = 9373, 20000 draws discarded.
TEST(CNoiseGen, PublishedCheckValues) {
  CNoiseGen g;
  g.SeedPair(1802, 9373);
  Draw(g, 20000);
  EXPECT_EQ(Draw(g, 6), (std::vector<int>{6533892, 14220222, 7275067, 6172232, 8354498, 10633180}));
}

// Batches of any length, one after another, continue the single-draw sequence exactly,
// across the lag table's wrap and the batch's own chunks.
TEST(CNoiseGen, BatchesContinueTheSequence) {
  CNoiseGen single, batched;
  single.Seed(271828);
  batched.Seed(271828);
  for (size_t n : {size_t{0}, size_t{1}, size_t{7}, size_t{8}, size_t{33}, size_t{96}, size_t{97},
                   size_t{98}, size_t{1000}, size_t{1024}, size_t{2500}, size_t{3}}) {
    std::vector<float> batch(n);
    batched.UniformBatch(batch.data(), n);
    for (size_t k = 0; k < n; ++k) ASSERT_EQ(batch[k], single.Uniform()) << n << " " << k;
  }
  EXPECT_EQ(batched.Uniform(), single.Uniform());
}

// A jump lands where single draws would, from any place in the lag table and over
// distances on both sides of the lags and well past the arithmetic sequence's modulus.
TEST(CNoiseGen, JumpsLandWhereSingleDrawsWould) {
  CNoiseGen walked, jumped;
  walked.Seed(-31337);
  jumped.Seed(-31337);
  for (uint64_t n :
       {uint64_t{0}, uint64_t{1}, uint64_t{32}, uint64_t{33}, uint64_t{64}, uint64_t{96},
        uint64_t{97}, uint64_t{98}, uint64_t{1000}, uint64_t{20000011}}) {
    for (uint64_t k = 0; k < n; ++k) walked.Uniform();
    CNoiseGen::Jump(n).Apply(jumped);
    ASSERT_EQ(Draw(jumped, 200), Draw(walked, 200)) << n;
  }
  // One jump worked out once serves many generators.
  const CNoiseGen::Jump jump(5000);
  CNoiseGen a, b;
  a.Seed(8);
  b.Seed(8);
  jump.Apply(a);
  jump.Apply(a);
  CNoiseGen::Jump(10000).Apply(b);
  EXPECT_EQ(Draw(a, 50), Draw(b, 50));
}

TEST(CNoiseGen, NewInstanceHasAClockSeedAndDefaults) {
  CNoiseGen g;
  EXPECT_GE(g.GetSeed(), 0);
  EXPECT_LE(g.GetSeed(), 999999);
  EXPECT_EQ(g.Low(), -100.0f);
  EXPECT_EQ(g.High(), 100.0f);
  EXPECT_EQ(g.Span(), 200.0f);
}

TEST(CNoiseGen, RangeModeAndTypes) {
  CNoiseGen g;
  g.SetRange(5, -5);
  EXPECT_EQ(g.Low(), -5.0f);
  EXPECT_EQ(g.High(), 5.0f);
  EXPECT_EQ(g.Span(), 10.0f);
  g.SetRange(3, 3);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(g.Next(3), 3.0f);

  g.SetMode(7);
  g.SetRange(-2, 9);
  EXPECT_EQ(g.Next(3), -2.0f);
  EXPECT_EQ(g.Next(0), 0.0f);

  for (int mode : {0, 1, 2}) {
    g.SetMode(mode);
    g.Seed(777);
    for (int i = 0; i < 2000; ++i) {
      const float raw = g.Next(0);
      EXPECT_GE(raw, 0.0f);
      EXPECT_LE(raw, mode == 2 ? 1.0f : 0.99999995f);
      EXPECT_GE(g.Next(4), 0.0f);
      EXPECT_LE(g.Next(5), 0.0f);
      const float t1 = g.Next(1);
      EXPECT_GE(t1, -1.0f);
      EXPECT_LE(t1, 1.0f);
      const float t3 = g.Next(3);
      EXPECT_GE(t3, -2.0f);
      EXPECT_LE(t3, 9.0f);
    }
  }
  // Unknown types pass the raw value through.
  g.SetMode(0);
  g.Seed(5);
  const float raw = g.Next(0);
  g.Seed(5);
  EXPECT_EQ(g.Next(-3), raw);
}

// Seeds whose products wrap in 32 bits, INT_MIN among them, must run clean.
TEST(CNoiseGen, ExtremeSeedsAreDefined) {
  CNoiseGen g;
  for (int s : {INT_MIN, INT_MIN + 1, INT_MAX, 22139007, -22139007}) {
    g.Seed(s);
    for (int i = 0; i < 100; ++i) {
      const float v = g.Uniform();
      EXPECT_GE(v, 0.0f);
      EXPECT_LT(v, 1.0f);
    }
  }
}

}  // namespace
