// Kernels whose fast path holds only where a check says so: the fast values are stored
// a few at a time, and the points the check turned down are computed again, exactly,
// before their block leaves the cache.
#pragma once

#include <algorithm>
#include <cstddef>
#include <span>
#include <utility>

#include "terrain/grid.h"
#include "terrain/simd.h"

namespace terrain {

// Fills out[begin, end), N points at a time. fast(i, values) computes the N points from
// i on into values and returns which lanes hold (a comparison's result); exact(i) is
// the value of point i by the contract's own arithmetic. The stored heights go into
// stored.
template <int N, typename Fast, typename Exact>
ROVANDEL_VECTOR_INLINE void StoreChecked(std::span<float> out, size_t begin, size_t end,
                                         StoredExtremes& stored, Fast&& fast, Exact&& exact) {
  using L = simd::Lanes<N>;
  constexpr size_t kBlock = 64 / N;  // groups checked together
  simd::LaneExtremes<typename L::Floats> lanes;
  size_t i = begin;
  while (i + N <= end) {
    const size_t groups = std::min(kBlock, (end - i) / N);
    using Held = decltype(fast(i, std::declval<typename L::Doubles&>()));
    Held held[kBlock];
    Held allHeld = Held{} - 1;
    for (size_t g = 0; g < groups; ++g) {
      typename L::Doubles values;
      held[g] = fast(i + g * N, values);
      allHeld &= held[g];
      simd::StoreFloats(out.data() + i + g * N, simd::Narrow(values));
    }
    if (!simd::AllSet(allHeld)) {
      for (size_t g = 0; g < groups; ++g)
        for (int lane = 0; lane < N; ++lane)
          if (!held[g][lane]) {
            const size_t k = i + g * N + static_cast<size_t>(lane);
            out[k] = static_cast<float>(exact(k));
          }
    }
    for (size_t g = 0; g < groups; ++g, i += N)
      lanes.Add(simd::Load<typename L::Floats>(out.data() + i));
  }
  lanes.MergeInto(stored.extremes);
  const size_t tail = i;
  for (; i < end; ++i) out[i] = static_cast<float>(exact(i));
  stored.Add(out.subspan(tail, end - tail));
}

}  // namespace terrain
