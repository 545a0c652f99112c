// Grid-sized copies on every core. A copy into a fresh buffer is mostly the first touch
// of its pages, which the kernel serves one fault at a time per thread: spread over the
// threads of the caller's arena, both the faults and the copy go as fast as the cores
// allow.
#pragma once

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>

#include <cstddef>
#include <cstring>

namespace base {

// A task's share: large enough that a task's overhead is noise, small enough that two
// cores split an 8 MiB grid.
inline constexpr size_t kCopyGrain = size_t{1} << 18;

// body(begin, end) for consecutive stretches of [0, count), each of at least grain
// (elements, rows: whatever count counts), on the arena's threads.
template <typename Body>
void ForStretches(size_t count, size_t grain, Body&& body) {
  if (count <= grain) {
    body(size_t{0}, count);
    return;
  }
  tbb::parallel_for(tbb::blocked_range<size_t>(0, count, grain),
                    [&](const tbb::blocked_range<size_t>& r) { body(r.begin(), r.end()); });
}

inline void CopyFloats(const float* from, float* to, size_t count) {
  ForStretches(count, kCopyGrain, [&](size_t begin, size_t end) {
    std::memcpy(to + begin, from + begin, (end - begin) * sizeof(float));
  });
}

}  // namespace base
