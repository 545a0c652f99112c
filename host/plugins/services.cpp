#include "host/plugins/services.h"

#include <tbb/blocked_range.h>
#include <tbb/parallel_reduce.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <stdexcept>

#include "base/parallel_copy.h"

namespace host {
namespace {

HostSession* serving = nullptr;

// The fixed part of the host's landscape record, filled from the landscape.
LandscapeInfoRecord Describe(const Landscape& land) {
  LandscapeInfoRecord info{};
  info.GridWidth = land.width;
  info.GridHeight = land.height;
  info.MaxHeight = land.maxHeight;
  info.MinHeight = land.minHeight;
  return info;
}

int32_t ROVANDEL_STDCALL GetLandscapeInfo(int32_t, LandscapeInfoRecord* info) {
  if (!serving || !info) return 0;
  *info = Describe(serving->land);
  return 1;
}

int32_t ROVANDEL_STDCALL SetLandscapeInfo(int32_t, LandscapeInfoRecord* info) {
  if (!serving || !info) return 0;
  // Only the recorded range may change; the grid size is the host's. Where cells are
  // NoData, the plug-in's range also spans their stand-ins: record the valid cells'.
  if (!serving->land.noData.empty()) {
    serving->land.RecordRange();
  } else if (std::isfinite(info->MinHeight) && std::isfinite(info->MaxHeight)) {
    serving->land.minHeight = info->MinHeight;
    serving->land.maxHeight = info->MaxHeight;
  }
  return 1;
}

// A NoData cell is water: what a plug-in leaves alone there can never depend on the
// stand-in height it was given.
int32_t ROVANDEL_STDCALL IsWater(int32_t, int32_t x, int32_t y) {
  if (!serving) return 0;
  const Landscape& land = serving->land;
  if (x < 0 || y < 0 || x >= land.width || y >= land.height) return 0;
  const size_t i = static_cast<size_t>(y) * land.width + x;
  if (land.IsNoData(i)) return 1;
  return serving->waterLevel && land.heights[i] <= *serving->waterLevel ? 1 : 0;
}

int32_t ROVANDEL_STDCALL GetHeights(int32_t, int32_t count, float* dest) {
  if (!serving || !dest || count < 0 || static_cast<size_t>(count) != serving->land.Count())
    return 0;
  base::CopyFloats(serving->land.heights.data(), dest, static_cast<size_t>(count));
  return 1;
}

// Row `to` takes `from`'s heights where their bits differ; the span of those, [first,
// last), or an empty one. A preview pressed again, or OK after it, sends what is shown.
std::pair<int32_t, int32_t> WriteChangedCells(const float* from, float* to, int32_t width) {
  const size_t bytes = static_cast<size_t>(width) * sizeof(float);
  if (std::memcmp(from, to, bytes) == 0) return {0, 0};
  auto same = [&](int32_t x) { return std::memcmp(from + x, to + x, sizeof(float)) == 0; };
  int32_t first = 0, last = width;
  while (same(first)) ++first;
  while (same(last - 1)) --last;
  std::memcpy(to + first, from + first, static_cast<size_t>(last - first) * sizeof(float));
  return {first, last};
}

int32_t ROVANDEL_STDCALL SetHeights(int32_t, int32_t count, const float* src) {
  if (!serving || !src || count < 0 || static_cast<size_t>(count) != serving->land.Count())
    return 0;
  const int32_t width = serving->land.width;
  float* heights = serving->land.heights.data();
  const ZeroedWeights& w = serving->weights;
  // Inside a selection the plug-in's heights, outside the original.
  const float* before = serving->original.data();
  const int32_t height = serving->land.height;
  const auto& written = serving->onWritten;
  // Groups of rows, so that each stretch begins at a multiple of kRowsTogether.
  constexpr int32_t together = HostSession::kRowsTogether;
  const size_t groups = std::max<size_t>(1, base::kCopyGrain / together / std::max(width, 1));
  const CellBox changed = tbb::parallel_reduce(
      tbb::blocked_range<int32_t>(0, (height + together - 1) / together,
                                  static_cast<int32_t>(groups)),
      CellBox{},
      [&](const tbb::blocked_range<int32_t>& r, CellBox box) {
        std::vector<float> blended(w.empty() ? 0 : static_cast<size_t>(width));
        // A task may take many stretches: each is told of while it is still in cache.
        const auto step = static_cast<int32_t>(groups);
        for (int32_t g = r.begin(); g < r.end(); g += step) {
          CellBox stretch;
          const int32_t end = std::min(together * std::min(r.end(), g + step), height);
          for (int32_t y = together * g; y < end; ++y) {
            const size_t at = static_cast<size_t>(y) * width;
            const float* row = src + at;
            if (!w.empty()) {
              for (int32_t x = 0; x < width; ++x)
                blended[x] = BlendHeight(row[x], before[at + x], w[at + x]);
              row = blended.data();
            }
            const auto [first, last] = WriteChangedCells(row, heights + at, width);
            if (first < last) stretch = stretch.Union({first, y, last, y + 1});
          }
          if (!stretch.Empty() && written) written(stretch);
          box = box.Union(stretch);
        }
        return box;
      },
      [](const CellBox& a, const CellBox& b) { return a.Union(b); });
  serving->changed = serving->changed.Union(changed);
  return 1;
}

int32_t ROVANDEL_STDCALL Redraw(int32_t) {
  if (serving && serving->onRedraw) serving->onRedraw(serving->TakeChanged());
  return 1;
}

int32_t ROVANDEL_STDCALL Unused() { return 0; }

template <typename Fn>
HostFunction AsEntry(Fn fn) {
  return reinterpret_cast<HostFunction>(fn);
}

}  // namespace

const HostServiceEntry* ServiceTable() {
  static const auto table = [] {
    std::array<HostServiceEntry, kHostServiceCount> t{};
    for (auto& entry : t) entry.function = AsEntry(&Unused);
    t[kGetLandscapeInfo].function = AsEntry(&GetLandscapeInfo);
    t[kSetLandscapeInfo].function = AsEntry(&SetLandscapeInfo);
    t[kIsWater].function = AsEntry(&IsWater);
    t[kGetHeights].function = AsEntry(&GetHeights);
    t[kSetHeights].function = AsEntry(&SetHeights);
    t[kRedraw].function = AsEntry(&Redraw);
    return t;
  }();
  return table.data();
}

HostSession::HostSession(Landscape& landscape) : land(landscape) {}

void HostSession::Select(ZeroedWeights cellWeights) {
  weights = std::move(cellWeights);
  if (weights.empty()) {
    original.clear();
    return;
  }
  if (weights.size() != land.Count())
    throw std::invalid_argument("the selection does not match the landscape's grid");
  original = land.heights;
}

HostSession::~HostSession() {
  if (serving == this) serving = nullptr;
}

ServingScope::ServingScope(HostSession& session) : outer_(serving) { serving = &session; }

ServingScope::~ServingScope() { serving = outer_; }

}  // namespace host
