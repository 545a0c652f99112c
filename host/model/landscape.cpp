#include "host/model/landscape.h"

#include <tbb/blocked_range.h>
#include <tbb/parallel_reduce.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <tuple>

#include "base/parallel_copy.h"

namespace host {

namespace {

// A finite height's bits as an integer that orders as the heights do, -0 just before +0.
// It is its own inverse.
int32_t OrderKey(int32_t bits) { return bits ^ ((bits >> 31) & 0x7fffffff); }

using Keys = std::pair<int32_t, int32_t>;  // least, greatest; the first above the second: none

// The keys of the finite heights of [begin, end) not void there: integer work on masks,
// several cells to an instruction.
template <typename Void>
Keys KeyEnds(const float* heights, size_t begin, size_t end, Keys keys, Void isVoid) {
  constexpr int32_t kMost = std::numeric_limits<int32_t>::max();
  constexpr int32_t kLeast = std::numeric_limits<int32_t>::min();
  auto [lo, hi] = keys;
  for (size_t i = begin; i < end; ++i) {
    const auto bits = std::bit_cast<int32_t>(heights[i]);
    const int32_t key = OrderKey(bits);
    // All ones for a finite height of a valid cell, else none.
    const int32_t valid = -static_cast<int32_t>(((bits & 0x7fffffff) < 0x7f800000) & !isVoid(i));
    lo = std::min(lo, (key & valid) | (kMost & ~valid));
    hi = std::max(hi, (key & valid) | (kLeast & ~valid));
  }
  return {lo, hi};
}

// The same where every cell is valid and, as a grid's heights mostly are, finite: a
// stretch whose ends are finite has no other heights.
Keys FiniteKeyEnds(const float* heights, size_t begin, size_t end, Keys keys) {
  constexpr int32_t kHighest = 0x7f7fffff;  // FLT_MAX's key; -FLT_MAX's is its complement
  auto [lo, hi] = keys;
  for (size_t i = begin; i < end; ++i) {
    const int32_t key = OrderKey(std::bit_cast<int32_t>(heights[i]));
    lo = std::min(lo, key);
    hi = std::max(hi, key);
  }
  if (lo >= ~kHighest && hi <= kHighest) return {lo, hi};
  return KeyEnds(heights, begin, end, keys, [](size_t) { return false; });
}

}  // namespace

std::pair<float, float> Landscape::ValidEnds(size_t begin, size_t end) const {
  // Stretches on every core; least and greatest merge the same in any order.
  const Keys none{std::numeric_limits<int32_t>::max(), std::numeric_limits<int32_t>::min()};
  const Keys keys = tbb::parallel_reduce(
      tbb::blocked_range<size_t>(begin, end, base::kCopyGrain), none,
      [&](const tbb::blocked_range<size_t>& r, Keys k) {
        if (noData.empty()) return FiniteKeyEnds(heights.data(), r.begin(), r.end(), k);
        return KeyEnds(heights.data(), r.begin(), r.end(), k,
                       [&](size_t i) { return noData[i] != 0; });
      },
      [](const Keys& a, const Keys& b) {
        return Keys{std::min(a.first, b.first), std::max(a.second, b.second)};
      });
  if (keys.first > keys.second)
    return {std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity()};
  float lo = std::bit_cast<float>(OrderKey(keys.first));
  float hi = std::bit_cast<float>(OrderKey(keys.second));
  // Zeros of either sign are equal heights: an end at zero is the first zero of the cells,
  // whichever sign it has.
  if (lo == 0.0f || hi == 0.0f) {
    size_t i = begin;
    while (heights[i] != 0.0f || IsNoData(i)) ++i;
    if (lo == 0.0f) lo = heights[i];
    if (hi == 0.0f) hi = heights[i];
  }
  return {lo, hi};
}

std::pair<double, double> Landscape::ValidRange() const {
  const auto [lo, hi] = ValidEnds(0, heights.size());
  if (lo > hi) return {0.0, 0.0};
  return {lo, hi};
}

void Landscape::RecordRange() { std::tie(minHeight, maxHeight) = ValidRange(); }

Landscape Landscape::Copy() const {
  Landscape copy;
  copy.width = width;
  copy.height = height;
  copy.heights.resize(heights.size());
  base::CopyFloats(heights.data(), copy.heights.data(), heights.size());
  copy.noData = noData;
  copy.minHeight = minHeight;
  copy.maxHeight = maxHeight;
  copy.geo = geo;
  return copy;
}

}  // namespace host
