// NoData cells get stand-in heights. Those an operation can read from a valid cell take
// a fixed mean of the valid cells near them (see voids.h); the deeper ones are filled by
// push-pull on an image pyramid: each coarser level holds the mean of the known cells
// beneath it, and from the coarsest level down every unknown cell takes the bilinear
// blend of the level above, in time linear in the grid.
#include <tbb/blocked_range.h>
#include <tbb/parallel_reduce.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <span>
#include <vector>

#include "base/parallel_copy.h"
#include "host/common/error.h"
#include "host/io/gdal_internal.h"
#include "host/io/reading_internal.h"
#include "host/io/voids.h"

namespace host::io_internal {
namespace {

struct Level {
  int64_t width = 0, height = 0;
  Heights value;
  std::vector<uint8_t> known;  // 1 where the value stands for valid heights beneath it

  size_t At(int64_t x, int64_t y) const { return static_cast<size_t>(y * width + x); }
};

// The mean of the known cells of each 2 x 2 block of `fine`.
Level Coarser(const Level& fine) {
  Level coarse;
  coarse.width = (fine.width + 1) / 2;
  coarse.height = (fine.height + 1) / 2;
  coarse.value.assign(static_cast<size_t>(coarse.width * coarse.height), 0.0f);
  coarse.known.assign(coarse.value.size(), 0);
  for (int64_t y = 0; y < coarse.height; ++y)
    for (int64_t x = 0; x < coarse.width; ++x) {
      double sum = 0.0;
      int count = 0;
      for (int64_t dy = 0; dy < 2; ++dy)
        for (int64_t dx = 0; dx < 2; ++dx) {
          const int64_t fx = 2 * x + dx, fy = 2 * y + dy;
          if (fx >= fine.width || fy >= fine.height || !fine.known[fine.At(fx, fy)]) continue;
          sum += fine.value[fine.At(fx, fy)];
          ++count;
        }
      if (count == 0) continue;
      coarse.value[coarse.At(x, y)] = static_cast<float>(sum / count);
      coarse.known[coarse.At(x, y)] = 1;
    }
  return coarse;
}

// Fills the unknown cells of `fine` from `coarse`, whose every cell is known, sampled
// bilinearly at the fine cell's centre.
void FillFrom(Level& fine, const Level& coarse) {
  for (int64_t y = 0; y < fine.height; ++y) {
    const double cy =
        std::clamp((y + 0.5) / 2.0 - 0.5, 0.0, static_cast<double>(coarse.height - 1));
    const int64_t y0 = static_cast<int64_t>(cy), y1 = std::min(y0 + 1, coarse.height - 1);
    const double fy = cy - y0;
    for (int64_t x = 0; x < fine.width; ++x) {
      const size_t i = fine.At(x, y);
      if (fine.known[i]) continue;
      const double cx =
          std::clamp((x + 0.5) / 2.0 - 0.5, 0.0, static_cast<double>(coarse.width - 1));
      const int64_t x0 = static_cast<int64_t>(cx), x1 = std::min(x0 + 1, coarse.width - 1);
      const double fx = cx - x0;
      const double top =
          coarse.value[coarse.At(x0, y0)] * (1 - fx) + coarse.value[coarse.At(x1, y0)] * fx;
      const double bottom =
          coarse.value[coarse.At(x0, y1)] * (1 - fx) + coarse.value[coarse.At(x1, y1)] * fx;
      fine.value[i] = static_cast<float>(top * (1 - fy) + bottom * fy);
      fine.known[i] = 1;
    }
  }
}

// Whether every cell of the level is known.
bool Complete(const Level& level) {
  return std::all_of(level.known.begin(), level.known.end(), [](uint8_t k) { return k != 0; });
}

// Fills every unknown cell of `base` by push-pull; false when no cell is known.
bool PushPull(Level& base, const ProgressFn& progress) {
  if (std::none_of(base.known.begin(), base.known.end(), [](uint8_t k) { return k != 0; }))
    return false;
  std::vector<Level> levels;
  levels.push_back(std::move(base));
  // Up until a level has no void (at the latest the single cell at the top).
  while (!Complete(levels.back())) levels.push_back(Coarser(levels.back()));
  Report(progress, 0.5);
  for (size_t l = levels.size() - 1; l-- > 0;) FillFrom(levels[l], levels[l + 1]);
  base = std::move(levels[0]);
  return true;
}

// The weight of a valid cell dx, dy away in the mean a void cell near it takes:
// 40 / (dx² + dy²), whole numbers so that every product with a height is exact in
// double and the sum is the same with or without fused multiply-add.
constexpr int32_t kSpan = 2 * kVoidFillReach + 1;
constexpr auto kNearWeights = [] {
  std::array<double, kSpan * kSpan> w{};
  for (int32_t dy = -kVoidFillReach; dy <= kVoidFillReach; ++dy)
    for (int32_t dx = -kVoidFillReach; dx <= kVoidFillReach; ++dx)
      if (dx != 0 || dy != 0)
        w[(dy + kVoidFillReach) * kSpan + dx + kVoidFillReach] = 40.0 / (dx * dx + dy * dy);
  return w;
}();
static_assert(kVoidFillReach == 2, "the weights are whole numbers for reaches up to 2");

// Fills each void of rows [y0, y1) that has a valid cell within the reach; a deeper one
// becomes NaN. Reads valid cells only, so rows may be filled in any order, at once.
// How many cells were too deep.
size_t FillNearRows(std::span<float> heights, int64_t w, int64_t h, std::span<const uint8_t> voids,
                    int64_t y0, int64_t y1) {
  size_t deep = 0;
  for (int64_t y = y0; y < y1; ++y)
    for (int64_t x = 0; x < w; ++x) {
      const size_t i = static_cast<size_t>(y * w + x);
      if (!voids[i]) continue;
      double sum = 0.0, weights = 0.0;
      for (int64_t ny = std::max<int64_t>(0, y - kVoidFillReach);
           ny <= std::min(h - 1, y + kVoidFillReach); ++ny)
        for (int64_t nx = std::max<int64_t>(0, x - kVoidFillReach);
             nx <= std::min(w - 1, x + kVoidFillReach); ++nx) {
          const size_t j = static_cast<size_t>(ny * w + nx);
          if (voids[j]) continue;
          const double weight =
              kNearWeights[(ny - y + kVoidFillReach) * kSpan + nx - x + kVoidFillReach];
          sum += weight * heights[j];
          weights += weight;
        }
      if (weights > 0.0) {
        heights[i] = static_cast<float>(sum / weights);
      } else {
        heights[i] = std::numeric_limits<float>::quiet_NaN();
        ++deep;
      }
    }
  return deep;
}

}  // namespace

void FillNoData(Landscape& land, const std::string& path, const ProgressFn& progress) {
  // Most grids have no void: that is found on every core before any is marked.
  const size_t voids = tbb::parallel_reduce(
      tbb::blocked_range<size_t>(0, land.Count(), base::kCopyGrain), size_t{0},
      [&](const tbb::blocked_range<size_t>& r, size_t found) {
        for (size_t i = r.begin(); i < r.end(); ++i) found += !std::isfinite(land.heights[i]);
        return found;
      },
      std::plus<>());
  for (size_t i = 0; voids > 0 && i < land.Count(); ++i) {
    if (std::isfinite(land.heights[i])) continue;
    if (land.noData.empty()) land.noData.resize(land.Count());
    land.noData[i] = 1;
  }
  if (land.noData.empty()) return;
  const size_t missing = static_cast<size_t>(std::count(land.noData.begin(), land.noData.end(), 1));
  if (missing == 0) {
    land.noData.clear();
    return;
  }
  if (missing == land.Count()) throw Error(path, "holds no height: every cell is NoData");
  try {
    FillVoids(land.heights, land.width, land.height, land.noData);
  } catch (const std::bad_alloc&) {
    throw Error(path, "not enough memory to fill its NoData cells");
  }
  Report(progress, 1.0);
}

}  // namespace host::io_internal

namespace host {

std::vector<uint8_t> FindVoids(std::span<const float> heights, std::optional<double> noDataValue) {
  const bool hasSentinel = noDataValue.has_value();
  const float sentinel = hasSentinel ? static_cast<float>(*noDataValue) : 0.0f;
  auto isVoid = [&](float v) { return !std::isfinite(v) || (hasSentinel && v == sentinel); };
  std::vector<uint8_t> voids;
  if (std::none_of(heights.begin(), heights.end(), isVoid)) return voids;
  voids.resize(heights.size());
  for (size_t i = 0; i < heights.size(); ++i) voids[i] = isVoid(heights[i]) ? 1 : 0;
  return voids;
}

bool FillVoids(std::span<float> heights, int32_t width, int32_t height,
               std::span<const uint8_t> voids) {
  if (voids.empty()) return true;
  if (std::find(voids.begin(), voids.end(), 0) == voids.end()) return false;
  const int64_t w = width, h = height;
  const size_t rowGrain = std::max<size_t>(1, base::kCopyGrain / static_cast<size_t>(w));
  const size_t deep = tbb::parallel_reduce(
      tbb::blocked_range<int64_t>(0, h, static_cast<int64_t>(rowGrain)), size_t{0},
      [&](const tbb::blocked_range<int64_t>& r, size_t found) {
        return found + io_internal::FillNearRows(heights, w, h, voids, r.begin(), r.end());
      },
      std::plus<>());
  if (deep == 0) return true;
  io_internal::Level base;
  base.width = w;
  base.height = h;
  base.value.assign(heights.begin(), heights.end());
  base.known.resize(heights.size());
  for (size_t i = 0; i < heights.size(); ++i) base.known[i] = std::isnan(heights[i]) ? 0 : 1;
  io_internal::PushPull(base, {});
  std::copy(base.value.begin(), base.value.end(), heights.begin());
  return true;
}

}  // namespace host
