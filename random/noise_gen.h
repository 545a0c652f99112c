// CNoiseGen: the seeded pseudo-random generator behind Add Noise.
//
// The core is a lagged Fibonacci sequence (lags 97 and 33, subtraction modulo 1 over
// 24-bit fractions) combined with an arithmetic sequence; every value is a multiple of
// 2^-24, so the sequence is the same on every machine that rounds to 32-bit floats.
#pragma once

#include <cstdint>

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
  float Uniform();
  // One draw in the current mode, transformed by type: 0 raw, 1 [-1, 1), 2 signed
  // +-FLT_MAX/2 scale, 3 [low, high), 4 non-negative, 5 non-positive; others raw.
  float Next(int8_t type);

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
  float u[98];  // indices 1..97 are used, as in the published algorithm
  float c;
  float cd;
  float cm;
  int32_t i97;
  int32_t j97;
};
