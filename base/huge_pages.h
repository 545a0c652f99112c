// Grid-sized buffers backed by 2 MiB pages where the kernel offers them (transparent
// huge pages in "madvise" mode): a first touch then maps 2 MiB per fault instead of
// 4 KiB, which is most of the cost of a fresh 64-256 MB buffer.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <utility>

namespace base {

// The whole pages of `page` bytes (a power of two) within [data, data + bytes), as
// addresses [begin, end); none when end <= begin.
inline std::pair<uintptr_t, uintptr_t> WholePages(void* data, size_t bytes, uintptr_t page) {
  const uintptr_t start = reinterpret_cast<uintptr_t>(data);
  return {(start + page - 1) & ~(page - 1), (start + bytes) & ~(page - 1)};
}

// Advises the whole 2 MiB pages within [data, data + bytes); call before the buffer is
// first written. Buffers under 4 MiB are left alone. Advice only: nothing changes when
// the kernel declines.
inline void AdviseHugePages(void* data, size_t bytes) {
  constexpr uintptr_t kHuge = uintptr_t{2} << 20;
  if (!data || bytes < 2 * kHuge) return;
  const auto [begin, end] = WholePages(data, bytes, kHuge);
  if (end > begin) (void)::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

// Makes the pages of [data, data + bytes) ready to be written without writing them (what
// their first touch would do), a part at a time until `stop` is set. Safe while others
// write there: nothing is written. False where the kernel cannot (before Linux 5.14).
inline bool PopulateForWriting(void* data, size_t bytes, const std::atomic<bool>& stop) {
#ifdef MADV_POPULATE_WRITE
  const auto [begin, end] =
      WholePages(data, bytes, static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE)));
  constexpr uintptr_t kPart = uintptr_t{32} << 20;
  for (uintptr_t at = begin; at < end && !stop.load(std::memory_order_relaxed); at += kPart)
    if (::madvise(reinterpret_cast<void*>(at), std::min(kPart, end - at), MADV_POPULATE_WRITE))
      return false;
  return true;
#else
  (void)data, (void)bytes, (void)stop;
  return false;
#endif
}

}  // namespace base
