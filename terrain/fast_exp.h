// exp on four lanes, for the verified fast path of the kernels that call exp per
// point. It is not the C library's exp: its results may differ from it in the last
// bits. Callers use it only where the difference provably cannot change the float they
// store (RoundsSafely), and call std::exp for the rest.
#pragma once

#include "terrain/simd.h"

namespace terrain::simd {

// Arguments for which ExpLanes is accurate; outside it, callers use std::exp.
inline constexpr double kFastExpLow = -708.0;
inline constexpr double kFastExpHigh = 709.0;
// Below this, exp is exactly +0.0 in double (the C library's too).
inline constexpr double kExpIsZeroBelow = -746.0;

// Relative error below 2^-50 for arguments in [kFastExpLow, kFastExpHigh].
ROVANDEL_VECTOR_INLINE Doubles ExpLanes(Doubles x) {
  constexpr double kLog2e = 1.4426950408889634;
  constexpr double kLn2Hi = 6.93147180369123816490e-01;  // low bits zero: k * kLn2Hi is exact
  constexpr double kLn2Lo = 1.90821492927058770002e-10;
  constexpr double kShifter = 0x1.8p52;  // adding and subtracting it rounds to an integer
  const Doubles shifted = x * kLog2e + kShifter;
  const Doubles k = shifted - kShifter;
  const Doubles r = (x - k * kLn2Hi) - k * kLn2Lo;  // |r| <= 0.35
  // Taylor series to r^13 / 13! (truncation far below the double's last bit), in
  // Estrin's scheme: a shallow tree of products instead of a long chain.
  constexpr double kA[14] = {1.0,           1.0,          0.5,           1.0 / 6.0,
                             1.0 / 24.0,    1.0 / 120.0,  1.0 / 720.0,   1.0 / 5040.0,
                             1.0 / 40320.0, 1.0 / 362880.0, 1.0 / 3628800.0, 1.0 / 39916800.0,
                             1.0 / 479001600.0, 1.0 / 6227020800.0};
  const Doubles r2 = r * r;
  const Doubles r4 = r2 * r2;
  const Doubles r8 = r4 * r4;
  const Doubles s0 = (kA[0] + kA[1] * r) + (kA[2] + kA[3] * r) * r2;
  const Doubles s1 = (kA[4] + kA[5] * r) + (kA[6] + kA[7] * r) * r2;
  const Doubles s2 = (kA[8] + kA[9] * r) + (kA[10] + kA[11] * r) * r2;
  const Doubles s3 = kA[12] + kA[13] * r;
  const Doubles p = (s0 + s1 * r4) + (s2 + s3 * r4) * r8;
  // The shifted sum holds k in its low mantissa bits; read it there rather than
  // converting, which few vector units can do for 64-bit integers.
  using Longs = long __attribute__((vector_size(32)));
  Longs kBits, shifterBits;
  __builtin_memcpy(&kBits, &shifted, sizeof kBits);
  const Doubles shifter = Doubles{} + kShifter;
  __builtin_memcpy(&shifterBits, &shifter, sizeof shifterBits);
  const Longs bits = (kBits - shifterBits + 1023) << 52;
  Doubles scale;
  __builtin_memcpy(&scale, &bits, sizeof scale);
  return p * scale;
}

// True in the lanes where every value within tolerance of v rounds to the same float
// as v, so an exact computation within that tolerance stores the same height.
ROVANDEL_VECTOR_INLINE auto RoundsSafely(Doubles v, Doubles tolerance) {
  const Floats low = Narrow(v - tolerance);
  const Floats high = Narrow(v + tolerance);
  using Ints = int __attribute__((vector_size(16)));
  Ints lowBits, highBits;
  __builtin_memcpy(&lowBits, &low, sizeof low);
  __builtin_memcpy(&highBits, &high, sizeof high);
  using Masks = long __attribute__((vector_size(32)));
  // Bitwise, so a zero's sign counts too; widened to match the lanes of a double test.
  return __builtin_convertvector(lowBits == highBits, Masks);
}

}  // namespace terrain::simd
