// Portable short vectors (GCC/Clang vector extensions) for the kernels. Lanes compute
// exactly what the scalar code computes, element by element: no reassociation, no
// fused multiply-add.
#pragma once

#include <cstring>

namespace terrain::simd {

using Floats = float __attribute__((vector_size(16)));
using Doubles = double __attribute__((vector_size(32)));
inline constexpr int kLanes = 4;

inline Floats LoadFloats(const float* p) {
  Floats v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
inline Doubles LoadDoubles(const double* p) {
  Doubles v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
inline void StoreFloats(float* p, Floats v) { std::memcpy(p, &v, sizeof v); }
inline Doubles Widen(Floats v) { return __builtin_convertvector(v, Doubles); }
inline Floats Narrow(Doubles v) { return __builtin_convertvector(v, Floats); }
inline Doubles LoadWide(const float* p) { return Widen(LoadFloats(p)); }

// Running extremes per lane; a NaN lane never moves them (as Extremes::Add).
template <typename V>
struct LaneExtremes {
  V lowest = V{} + __builtin_inf();
  V highest = V{} - __builtin_inf();
  void Add(V v) {
    lowest = v < lowest ? v : lowest;
    highest = v > highest ? v : highest;
  }
  template <typename Sink>
  void MergeInto(Sink& extremes) const {
    for (int i = 0; i < kLanes; ++i) extremes.Add(lowest[i], highest[i]);
  }
};

}  // namespace terrain::simd
