// What depends on the compiler and the instruction set, in one place: portable short
// vectors (GCC and Clang vector extensions) for the kernels and the generator, and the
// attributes that build a function for several instruction sets.
//
// Lanes compute exactly what the scalar code computes, element by element: no
// reassociation, no fused multiply-add (except where a kernel checks its fast values
// afterwards). Four lanes fill one AVX register of doubles. Eight lanes suit plain
// arithmetic (the compiler issues two instructions per operation); their comparisons
// compile poorly.
#pragma once

#include <cstdint>
#include <cstring>

// Helpers that take or return vectors are always inlined, and take them by reference:
// functions built for several instruction sets pass vectors in registers differently,
// and a call between two such builds would mix the conventions (Clang refuses to pass
// a wide vector by value where the instruction set lacks its registers).
#define ROVANDEL_VECTOR_INLINE inline __attribute__((always_inline))

// Hot functions are built twice on x86-64, for the baseline instruction set and for
// processors with AVX2, and the loader picks one per processor (target_clones). Off
// x86-64, or when the build asks for the baseline only (ROVANDEL_BASELINE_ISA, so that
// its tests run the code every processor gets), they are built once.
//   ROVANDEL_CLONES_AVX2: wider vectors only. The smoothing, Flatten, the hill and the
//     generator store what the scalar arithmetic stores, so any width gives the same bits.
//   ROVANDEL_CLONES_V3: AVX2 with fused multiply-add (x86-64-v3), for Glaciate and
//     Canyonize only: their fast exp is checked against the rounding of every stored
//     height and recomputed with the C library where it could differ, so a fused
//     multiply-add may shorten it (the file is built with -ffp-contract=fast).
// Clang 14 checks the vector conventions of each call before inlining it, and refuses
// the calls from an AVX2 clone to these (baseline) inline helpers: Clang builds take
// the baseline only. GCC builds, which the packages use, get both.
#if defined(__x86_64__) && !defined(ROVANDEL_BASELINE_ISA) && !defined(__clang__)
#define ROVANDEL_CLONES_AVX2 __attribute__((target_clones("avx2", "default")))
#define ROVANDEL_CLONES_V3 __attribute__((target_clones("arch=x86-64-v3", "default")))
#else
#define ROVANDEL_CLONES_AVX2
#define ROVANDEL_CLONES_V3
#endif

namespace rovandel::simd {

template <int N>
struct Lanes {
  typedef float Floats __attribute__((vector_size(N * sizeof(float))));
  typedef double Doubles __attribute__((vector_size(N * sizeof(double))));
  typedef int64_t Masks __attribute__((vector_size(N * sizeof(int64_t))));  // comparing Doubles
  typedef int32_t Ints __attribute__((vector_size(N * sizeof(int32_t))));   // comparing Floats
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
ROVANDEL_VECTOR_INLINE void StoreFloats(float* p, const F& v) {
  std::memcpy(p, &v, sizeof v);
}
template <typename F>
ROVANDEL_VECTOR_INLINE auto Widen(const F& v) {
  return __builtin_convertvector(v, typename Lanes<kCount<F>>::Doubles);
}
template <typename D>
ROVANDEL_VECTOR_INLINE auto Narrow(const D& v) {
  return __builtin_convertvector(v, typename Lanes<kCount<D>>::Floats);
}
// N floats from p, widened to doubles.
template <int N = kLanes>
ROVANDEL_VECTOR_INLINE auto LoadWide(const float* p) {
  return Widen(Load<typename Lanes<N>::Floats>(p));
}

// The first (0) or second (1) four lanes of an eight-lane vector.
template <int kHalf>
ROVANDEL_VECTOR_INLINE Doubles Half(const Lanes<8>::Doubles& v) {
  return __builtin_shufflevector(v, v, 4 * kHalf, 4 * kHalf + 1, 4 * kHalf + 2, 4 * kHalf + 3);
}

// |v| by clearing the sign bit (NaN stays NaN).
template <typename D>
ROVANDEL_VECTOR_INLINE D Abs(const D& value) {
  D v = value;
  typename Lanes<kCount<D>>::Masks bits;
  std::memcpy(&bits, &v, sizeof bits);
  bits &= INT64_MAX;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

// True when every lane of a comparison's result is set.
template <typename M>
ROVANDEL_VECTOR_INLINE bool AllSet(const M& mask) {
  int64_t all = -1;
  for (int i = 0; i < kCount<M>; ++i) all &= mask[i];
  return all == -1;
}

// True in the lanes where usable holds and every value within tolerance of v rounds to
// the same float as v, so an exact computation within that tolerance stores the same
// height. The answer comes in 32-bit lanes, as comparing floats gives it.
template <typename D, typename M>
ROVANDEL_VECTOR_INLINE auto RoundsSafely(const D& v, const D& tolerance, const M& usable) {
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
  ROVANDEL_VECTOR_INLINE void Add(const V& v) {
    lowest = v < lowest ? v : lowest;
    highest = v > highest ? v : highest;
  }
  template <typename Sink>
  ROVANDEL_VECTOR_INLINE void MergeInto(Sink& extremes) const {
    for (int i = 0; i < kCount<V>; ++i) extremes.Add(lowest[i], highest[i]);
  }
};

}  // namespace rovandel::simd
