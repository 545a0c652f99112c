// Portable short vectors (GCC/Clang vector extensions) for the kernels. Lanes compute
// exactly what the scalar code computes, element by element: no reassociation, no
// fused multiply-add (except where a kernel checks its fast values afterwards).
//
// Four lanes fill one AVX register of doubles. Eight lanes suit plain arithmetic (the
// compiler issues two instructions per operation); their comparisons compile poorly.
#pragma once

#include <cstring>

// Helpers that take or return vectors are always inlined: kernels built for several
// instruction sets (target_clones) pass vectors differently, and an out-of-line call
// between two such builds would mix the conventions.
#define ROVANDEL_VECTOR_INLINE inline __attribute__((always_inline))

namespace terrain::simd {

template <int N>
struct Lanes {
  typedef float Floats __attribute__((vector_size(N * sizeof(float))));
  typedef double Doubles __attribute__((vector_size(N * sizeof(double))));
  typedef long Masks __attribute__((vector_size(N * sizeof(long))));  // comparing Doubles
  typedef int Ints __attribute__((vector_size(N * sizeof(int))));     // comparing Floats
};

inline constexpr int kLanes = 4;
using Floats = Lanes<kLanes>::Floats;
using Doubles = Lanes<kLanes>::Doubles;

// The number of lanes of a vector type.
template <typename V>
inline constexpr int kCount = static_cast<int>(sizeof(V) / sizeof(V{}[0]));

template <typename V, typename T>
ROVANDEL_VECTOR_INLINE V Load(const T* p) {
  V v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
ROVANDEL_VECTOR_INLINE Floats LoadFloats(const float* p) { return Load<Floats>(p); }
ROVANDEL_VECTOR_INLINE Doubles LoadDoubles(const double* p) { return Load<Doubles>(p); }
template <typename F>
ROVANDEL_VECTOR_INLINE void StoreFloats(float* p, F v) {
  std::memcpy(p, &v, sizeof v);
}
template <typename F>
ROVANDEL_VECTOR_INLINE auto Widen(F v) {
  return __builtin_convertvector(v, typename Lanes<kCount<F>>::Doubles);
}
template <typename D>
ROVANDEL_VECTOR_INLINE auto Narrow(D v) {
  return __builtin_convertvector(v, typename Lanes<kCount<D>>::Floats);
}
// N floats from p, widened to doubles.
template <int N = kLanes>
ROVANDEL_VECTOR_INLINE auto LoadWide(const float* p) {
  return Widen(Load<typename Lanes<N>::Floats>(p));
}

// The first (0) or second (1) four lanes of an eight-lane vector.
template <int kHalf>
ROVANDEL_VECTOR_INLINE Doubles Half(Lanes<8>::Doubles v) {
  return __builtin_shufflevector(v, v, 4 * kHalf, 4 * kHalf + 1, 4 * kHalf + 2, 4 * kHalf + 3);
}

// |v| by clearing the sign bit (NaN stays NaN).
template <typename D>
ROVANDEL_VECTOR_INLINE D Abs(D v) {
  typename Lanes<kCount<D>>::Masks bits;
  std::memcpy(&bits, &v, sizeof bits);
  bits &= 0x7fffffffffffffffL;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

// True when every lane of a comparison's result is set.
template <typename M>
ROVANDEL_VECTOR_INLINE bool AllSet(M mask) {
  long all = -1;
  for (int i = 0; i < kCount<M>; ++i) all &= mask[i];
  return all == -1;
}

// True in the lanes where usable holds and every value within tolerance of v rounds to
// the same float as v, so an exact computation within that tolerance stores the same
// height. The answer comes in 32-bit lanes, as comparing floats gives it.
template <typename D, typename M>
ROVANDEL_VECTOR_INLINE auto RoundsSafely(D v, D tolerance, M usable) {
  using L = Lanes<kCount<D>>;
  // A lane that is not usable is given the widest interval, which no float holds alone.
  const D infinity = D{} + __builtin_inf();
  const auto low = Narrow(usable ? v - tolerance : -infinity);
  const auto high = Narrow(usable ? v + tolerance : infinity);
  typename L::Ints lowBits, highBits;
  std::memcpy(&lowBits, &low, sizeof low);
  std::memcpy(&highBits, &high, sizeof high);
  return lowBits == highBits;  // bitwise, so a zero's sign counts too
}

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
    for (int i = 0; i < kCount<V>; ++i) extremes.Add(lowest[i], highest[i]);
  }
};

}  // namespace terrain::simd
