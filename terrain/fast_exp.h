// exp on a vector of doubles, for the verified fast path of the kernels that call exp per
// point. It is not the C library's exp: its results may differ from it in the last
// bits. Callers use it only where the difference provably cannot change the float they
// store (RoundsSafely), and call std::exp for the rest.
#pragma once

#include "terrain/simd.h"

namespace rovandel::simd {

// Arguments for which ExpLanes is accurate; outside it, callers use std::exp.
inline constexpr double kFastExpLow = -708.0;
inline constexpr double kFastExpHigh = 709.0;

// Relative error below 2^-39 for arguments in [kFastExpLow, kFastExpHigh].
template <typename D>
ROVANDEL_VECTOR_INLINE D ExpLanes(const D& x) {
  constexpr double kLog2e = 1.4426950408889634;
  constexpr double kLn2 = 0.6931471805599453;
  constexpr double kShifter = 0x1.8p52;  // adding and subtracting it rounds to an integer
  const D shifted = x * kLog2e + kShifter;
  const D k = shifted - kShifter;
  // ln 2 rounded to double is off by 2^-53 of itself; with |k| <= 1023 that moves r by
  // less than 2^-43.5, small beside the polynomial's error.
  const D r = x - k * kLn2;  // |r| <= 0.35
  // A degree-8 polynomial through exp at the Chebyshev points of [-0.3466, 0.3466]:
  // within 2^-39.7 of exp there, relative, and exactly 1 at 0. Estrin's scheme: a
  // shallow tree of products instead of a long chain.
  constexpr double kC[9] = {1.0,
                            0.9999999999797674,
                            0.49999999999797207,
                            0.1666666689119418,
                            0.0416666668910201,
                            0.00833326606823613,
                            0.001388882166441063,
                            0.0001991588350460579,
                            2.4876175600990793e-05};
  const D r2 = r * r;
  const D r4 = r2 * r2;
  const D low = (kC[0] + kC[1] * r) + (kC[2] + kC[3] * r) * r2;
  const D high = (kC[4] + kC[5] * r) + (kC[6] + kC[7] * r) * r2;
  const D p = low + (high + kC[8] * r4) * r4;
  // The shifted sum holds k in its low mantissa bits; read it there rather than
  // converting, which few vector units can do for 64-bit integers.
  using Longs = typename Lanes<kCount<D>>::Masks;
  Longs kBits, shifterBits;
  __builtin_memcpy(&kBits, &shifted, sizeof kBits);
  const D shifter = D{} + kShifter;
  __builtin_memcpy(&shifterBits, &shifter, sizeof shifterBits);
  const Longs bits = (kBits - shifterBits + 1023) << 52;
  D scale;
  __builtin_memcpy(&scale, &bits, sizeof scale);
  return p * scale;
}

}  // namespace rovandel::simd
