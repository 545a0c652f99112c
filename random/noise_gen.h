// CNoiseGen: the seeded pseudo-random generator behind Add Noise.
//
// The core is a lagged Fibonacci sequence (lags 97 and 33, subtraction modulo 1 over
// 24-bit fractions) combined with an arithmetic sequence; every value is a multiple of
// 2^-24, so the sequence is the same on every machine that rounds to 32-bit floats.
#pragma once

#include <array>
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

class CNoiseGen {
 public:
  // Ready to use: range -100..100, mode 0, seeded from the clock.
  CNoiseGen();
  virtual ~CNoiseGen();

  // Range back to -100..100, then a fresh clock seed. Leaves the mode alone.
  void Reset();
  // Seeds from (time XOR 0xF37C) mod 1000000, a value in 0..999999.
  void SeedFromClock();
  // Restarts the sequence from s; s and -s give the same sequence.
  void Seed(int32_t s);
  // The core's own two seeds, ij in 0..31328 and kl in 0..30081; Seed(s) derives them
  // as |97 s| mod 31329 and |33 s| mod 30082. Leaves the stored seed alone.
  void SeedPair(int32_t ij, int32_t kl);
  int32_t GetSeed() const { return seed; }
  // 0 uniform, 1 mean of four uniforms, 2 the C runtime's rand(); others draw 0.0.
  void SetMode(int m) { mode = static_cast<uint8_t>(m); }
  // Bounds of output type 3, swapped when given the wrong way round.
  void SetRange(float a, float b);
  // The next value of the core, a multiple of 2^-24 in [0, 1).
  inline float Uniform();
  // One draw in the current mode, transformed by type: 0 raw, 1 [-1, 1), 2 signed
  // +-FLT_MAX/2 scale, 3 [low, high), 4 non-negative, 5 non-positive; others raw.
  inline float Next(int8_t type);
  // The output transform of Next applied to a value already drawn.
  inline float Transform(float v, int8_t type) const;
  // The next n values of the core, exactly as n calls of Uniform would return them;
  // much faster, since the state stays in registers.
  void UniformBatch(float* out, size_t n);

  // A distance along the core's sequence: worked out once, in time that grows with the
  // log of the distance, then applied to any generator at the cost of a few thousand
  // multiplications, so that a generator moves on by millions of draws at once.
  class Jump {
   public:
    explicit Jump(uint64_t draws);
    // Leaves the generator where draws calls of Uniform would have left it.
    void Apply(CNoiseGen& generator) const;

   private:
    uint64_t draws_;
    // t^draws modulo the lagged sequence's characteristic polynomial t^97 + t^64 - 1,
    // with coefficients modulo 2^32 (the values are taken modulo 2^24 at the end).
    std::array<uint32_t, 97> power_;
  };

  float Low() const { return low; }
  float High() const { return high; }
  float Span() const { return span; }

 private:
  float randScale;
  uint8_t mode;
  float low;
  float high;
  float span;
  int32_t seed;
  // The core's fractions are multiples of 2^-24 in [0, 1), so they are kept as whole
  // numbers of 2^-24: the same values and steps as 32-bit float arithmetic, exactly,
  // with integer latencies on the draw's dependency chain.
  int32_t u[98];  // indices 1..97 are used, as in the published algorithm
  int32_t c;
  int32_t cd;
  int32_t cm;
  int32_t i97;
  int32_t j97;
};

inline float CNoiseGen::Uniform() {
  // Selections rather than branches: the steps are coin flips no predictor learns.
  constexpr int32_t kOne = 1 << 24;
  const int32_t i = i97;
  const int32_t j = j97;
  int32_t next = c - cd;
  next += (next >> 31) & cm;
  i97 = i == 1 ? 97 : i - 1;
  j97 = j == 1 ? 97 : j - 1;
  c = next;
  int32_t x = u[i] - u[j];
  x += (x >> 31) & kOne;
  u[i] = x;
  x -= next;
  x += (x >> 31) & kOne;
  return static_cast<float>(x) * 0x1p-24f;
}

inline float CNoiseGen::Next(int8_t type) {
  float v;
  switch (mode) {
    case 0:
      v = Uniform();
      break;
    case 1: {
      double sum = Uniform();
      sum += Uniform();
      sum += Uniform();
      sum += Uniform();
      v = static_cast<float>(sum * 0.25);
      break;
    }
    case 2:
      // The contract's rand() yields 0..32767; glibc's reaches RAND_MAX, so keep 15 bits.
      v = static_cast<float>(static_cast<double>(std::rand() % 32768) * randScale);
      break;
    default:
      v = 0.0f;
      break;
  }
  return Transform(v, type);
}

inline float CNoiseGen::Transform(float v, int8_t type) const {
  // Each transform is evaluated in double and rounded to float once.
  const double dv = v;
  switch (type) {
    case 1:
      return static_cast<float>((dv - 0.5) * 2.0);
    case 2:
      return static_cast<float>((dv - 0.5) * FLT_MAX);
    case 3:
      return static_cast<float>(dv * span + low);
    case 4:
      return static_cast<float>(std::fabs((dv - 0.5) * FLT_MAX));
    case 5: {
      const double r = (dv - 0.5) * FLT_MAX;
      return static_cast<float>(r > 0.0 ? -r : r);
    }
    default:
      return v;
  }
}
