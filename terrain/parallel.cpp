#include "terrain/parallel.h"

#include <atomic>

namespace terrain {
namespace {

std::atomic<size_t> minimumBandPoints{size_t{1} << 16};

}  // namespace

size_t MinimumBandPoints() { return minimumBandPoints.load(std::memory_order_relaxed); }

void SetMinimumBandPoints(size_t points) {
  minimumBandPoints.store(std::max<size_t>(1, points), std::memory_order_relaxed);
}

}  // namespace terrain
