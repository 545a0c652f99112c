#include "host/plugins/services.h"

#include <array>
#include <cmath>
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

int32_t ROVANDEL_STDCALL SetHeights(int32_t, int32_t count, const float* src) {
  if (!serving || !src || count < 0 || static_cast<size_t>(count) != serving->land.Count())
    return 0;
  float* heights = serving->land.heights.data();
  const ZeroedWeights& w = serving->weights;
  if (w.empty()) {
    base::CopyFloats(src, heights, static_cast<size_t>(count));
    return 1;
  }
  // Inside the selection the plug-in's heights, outside the original.
  const float* before = serving->original.data();
  base::ForStretches(static_cast<size_t>(count), base::kCopyGrain, [&](size_t begin, size_t end) {
    for (size_t i = begin; i < end; ++i) {
      heights[i] = BlendHeight(src[i], before[i], w[i]);
    }
  });
  return 1;
}

int32_t ROVANDEL_STDCALL Redraw(int32_t) {
  if (serving && serving->onRedraw) serving->onRedraw();
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
