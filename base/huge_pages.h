// Grid-sized buffers backed by 2 MiB pages where the kernel offers them (transparent
// huge pages in "madvise" mode): a first touch then maps 2 MiB per fault instead of
// 4 KiB, which is most of the cost of a fresh 64-256 MB buffer.
#pragma once

#include <sys/mman.h>

#include <cstddef>
#include <cstdint>

namespace base {

// Advises the whole 2 MiB pages within [data, data + bytes); call before the buffer is
// first written. Buffers under 4 MiB are left alone. Advice only: nothing changes when
// the kernel declines.
inline void AdviseHugePages(void* data, size_t bytes) {
  constexpr uintptr_t kHuge = uintptr_t{2} << 20;
  if (!data || bytes < 2 * kHuge) return;
  const uintptr_t start = reinterpret_cast<uintptr_t>(data);
  const uintptr_t begin = (start + kHuge - 1) & ~(kHuge - 1);
  const uintptr_t end = (start + bytes) & ~(kHuge - 1);
  if (end > begin) (void)::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

}  // namespace base
