// NoData cells get stand-in heights by push-pull on an image pyramid: each coarser
// level holds the mean of the valid cells beneath it, and from the coarsest level down
// every void takes the bilinear blend of the level above. Far voids take the shape of
// wide surroundings, near ones of their neighbours, and the work is linear in the grid
// (about 4/3 of a pass over it, up and down).
#include <tbb/blocked_range.h>
#include <tbb/parallel_reduce.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "base/parallel_copy.h"
#include "host/io/error.h"
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
    Level base;
    base.width = land.width;
    base.height = land.height;
    base.value = std::move(land.heights);
    base.known.resize(base.value.size());
    for (size_t i = 0; i < base.known.size(); ++i) base.known[i] = land.noData[i] ? 0 : 1;
    PushPull(base, progress);
    land.heights = std::move(base.value);
  } catch (const std::bad_alloc&) {
    throw Error(path, "not enough memory to fill its NoData cells");
  }
  Report(progress, 1.0);
}

}  // namespace host::io_internal

namespace host {

using io_internal::Level;

void FillVoids(std::span<float> heights, int32_t width, int32_t height) {
  Level base;
  base.width = width;
  base.height = height;
  base.value.assign(heights.begin(), heights.end());
  base.known.resize(heights.size());
  for (size_t i = 0; i < heights.size(); ++i) base.known[i] = std::isfinite(heights[i]) ? 1 : 0;
  if (!io_internal::PushPull(base, {})) return;
  std::copy(base.value.begin(), base.value.end(), heights.begin());
}

void FillVoidsLocally(std::span<float> heights, int32_t width, int32_t height) {
  const int64_t w = width, h = height;
  std::vector<int32_t> component(heights.size(), -1);
  std::vector<size_t> stack, cells;
  int32_t label = 0;
  for (size_t start = 0; start < heights.size(); ++start) {
    if (std::isfinite(heights[start]) || component[start] >= 0) continue;
    // The void's cells (4-neighbours) and its box.
    cells.clear();
    stack.assign(1, start);
    component[start] = label;
    int64_t x0 = w, y0 = h, x1 = -1, y1 = -1;
    while (!stack.empty()) {
      const size_t i = stack.back();
      stack.pop_back();
      cells.push_back(i);
      const int64_t x = static_cast<int64_t>(i) % w, y = static_cast<int64_t>(i) / w;
      x0 = std::min(x0, x), x1 = std::max(x1, x), y0 = std::min(y0, y), y1 = std::max(y1, y);
      const int64_t next[4][2] = {{x - 1, y}, {x + 1, y}, {x, y - 1}, {x, y + 1}};
      for (const auto& [nx, ny] : next) {
        if (nx < 0 || ny < 0 || nx >= w || ny >= h) continue;
        const size_t j = static_cast<size_t>(ny * w + nx);
        if (!std::isfinite(heights[j]) && component[j] < 0) {
          component[j] = label;
          stack.push_back(j);
        }
      }
    }
    // Its rim: the valid cells among the 8 neighbours of its cells, the only heights
    // its stand-ins come from.
    x0 = std::max<int64_t>(0, x0 - 1), y0 = std::max<int64_t>(0, y0 - 1);
    x1 = std::min(w - 1, x1 + 1), y1 = std::min(h - 1, y1 + 1);
    Level box;
    box.width = x1 - x0 + 1;
    box.height = y1 - y0 + 1;
    box.value.assign(static_cast<size_t>(box.width * box.height), 0.0f);
    box.known.assign(box.value.size(), 0);
    for (const size_t i : cells) {
      const int64_t x = static_cast<int64_t>(i) % w, y = static_cast<int64_t>(i) / w;
      for (int64_t ny = std::max<int64_t>(0, y - 1); ny <= std::min(h - 1, y + 1); ++ny)
        for (int64_t nx = std::max<int64_t>(0, x - 1); nx <= std::min(w - 1, x + 1); ++nx) {
          const size_t j = static_cast<size_t>(ny * w + nx);
          if (!std::isfinite(heights[j])) continue;
          const size_t b = box.At(nx - x0, ny - y0);
          box.value[b] = heights[j];
          box.known[b] = 1;
        }
    }
    if (io_internal::PushPull(box, {}))
      for (const size_t i : cells) {
        const int64_t x = static_cast<int64_t>(i) % w, y = static_cast<int64_t>(i) / w;
        heights[i] = box.value[box.At(x - x0, y - y0)];
      }
    ++label;
  }
}

}  // namespace host
