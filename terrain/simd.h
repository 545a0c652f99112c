// Portable short vectors (GCC/Clang vector extensions) for the kernels. Lanes compute
// exactly what the scalar code computes, element by element: no reassociation, no
// fused multiply-add.
#pragma once

#include <cstring>

// Helpers that take or return vectors are always inlined: kernels built for several
// instruction sets (target_clones) pass vectors differently, and an out-of-line call
// between two such builds would mix the conventions.
#define ROVANDEL_VECTOR_INLINE inline __attribute__((always_inline))

namespace terrain::simd {

using Floats = float __attribute__((vector_size(16)));
using Doubles = double __attribute__((vector_size(32)));
inline constexpr int kLanes = 4;

ROVANDEL_VECTOR_INLINE Floats LoadFloats(const float* p) {
  Floats v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
ROVANDEL_VECTOR_INLINE Doubles LoadDoubles(const double* p) {
  Doubles v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
ROVANDEL_VECTOR_INLINE void StoreFloats(float* p, Floats v) { std::memcpy(p, &v, sizeof v); }
ROVANDEL_VECTOR_INLINE Doubles Widen(Floats v) { return __builtin_convertvector(v, Doubles); }
ROVANDEL_VECTOR_INLINE Floats Narrow(Doubles v) { return __builtin_convertvector(v, Floats); }
ROVANDEL_VECTOR_INLINE Doubles LoadWide(const float* p) { return Widen(LoadFloats(p)); }

// Running extremes per lane; a NaN lane never moves them (as Extremes::Add).
template <typename V>
struct LaneExtremes {
  V lowest = V{} + __builtin_inf();
  V highest = V{} - __builtin_inf();
  ROVANDEL_VECTOR_INLINE void Add(V v) {
    lowest = v < lowest ? v : lowest;
    highest = v > highest ? v : highest;
  }
  template <typename Sink>
  ROVANDEL_VECTOR_INLINE void MergeInto(Sink& extremes) const {
    for (int i = 0; i < kLanes; ++i) extremes.Add(lowest[i], highest[i]);
  }
};

}  // namespace terrain::simd
