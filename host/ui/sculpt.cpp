#include "host/ui/sculpt.h"

#include <algorithm>
#include <cstring>

namespace host {
namespace {

int32_t Tiles(int32_t cells) { return (cells + SculptStroke::kTile - 1) / SculptStroke::kTile; }

// The tiles over `box`, as a box of tile numbers.
CellBox TilesOver(const CellBox& box) {
  const int32_t t = SculptStroke::kTile;
  return {box.x0 / t, box.y0 / t, (box.x1 + t - 1) / t, (box.y1 + t - 1) / t};
}

// The cells of a box of tiles, cut at the grid's edge.
CellBox CellsOf(const CellBox& tiles, const Landscape& land) {
  const int32_t t = SculptStroke::kTile;
  return {tiles.x0 * t, tiles.y0 * t, std::min(tiles.x1 * t, land.width),
          std::min(tiles.y1 * t, land.height)};
}

void CopyBox(const float* from, float* to, int32_t width, const CellBox& box) {
  for (int32_t y = box.y0; y < box.y1; ++y) {
    const size_t at = static_cast<size_t>(y) * width + box.x0;
    std::memcpy(to + at, from + at, static_cast<size_t>(box.x1 - box.x0) * sizeof(float));
  }
}

}  // namespace

void StartWindowed(SculptStroke& stroke, const Landscape& land, int halo) {
  stroke.halo = halo;
  for (Landscape* side : {&stroke.before, &stroke.source}) {
    side->width = land.width;
    side->height = land.height;
    side->geo = land.geo;
    side->minHeight = land.minHeight;
    side->maxHeight = land.maxHeight;
    side->heights = Heights(land.Count());  // pages only where tiles are written
  }
  stroke.before.noData = land.noData;  // a stroke changes no cell's NoData
  const size_t tiles = static_cast<size_t>(Tiles(land.width)) * Tiles(land.height);
  stroke.saved.assign(tiles, 0);
  stroke.made.assign(tiles, 0);
}

void SaveBefore(SculptStroke& stroke, const Landscape& land, const CellBox& box) {
  const CellBox tiles = TilesOver(box);
  const int32_t across = Tiles(land.width);
  for (int32_t ty = tiles.y0; ty < tiles.y1; ++ty)
    for (int32_t tx = tiles.x0; tx < tiles.x1; ++tx) {
      uint8_t& saved = stroke.saved[static_cast<size_t>(ty) * across + tx];
      if (saved) continue;
      CopyBox(land.heights.data(), stroke.before.heights.data(), land.width,
              CellsOf({tx, ty, tx + 1, ty + 1}, land));
      saved = 1;
    }
}

void MakeSourceOver(SculptStroke& stroke, const Landscape& land, const CellBox& box,
                    const SculptRun& run) {
  // The tiles over the box not made yet, as one box of them.
  const CellBox tiles = TilesOver(box);
  const int32_t across = Tiles(land.width);
  CellBox wanted;
  for (int32_t ty = tiles.y0; ty < tiles.y1; ++ty)
    for (int32_t tx = tiles.x0; tx < tiles.x1; ++tx)
      if (!stroke.made[static_cast<size_t>(ty) * across + tx])
        wanted = wanted.Union({tx, ty, tx + 1, ty + 1});
  if (wanted.Empty()) return;
  const CellBox cells = CellsOf(wanted, land);
  const int32_t h = stroke.halo;
  const CellBox window{std::max(cells.x0 - h, 0), std::max(cells.y0 - h, 0),
                       std::min(cells.x1 + h, land.width), std::min(cells.y1 + h, land.height)};
  SaveBefore(stroke, land, window);
  // The window as a landscape of its own, with the whole grid's recorded range.
  Landscape part;
  part.width = window.x1 - window.x0;
  part.height = window.y1 - window.y0;
  part.minHeight = stroke.before.minHeight;
  part.maxHeight = stroke.before.maxHeight;
  part.heights = Heights(part.Count());
  if (!land.noData.empty()) part.noData.resize(part.Count());
  for (int32_t y = 0; y < part.height; ++y) {
    const size_t from = static_cast<size_t>(window.y0 + y) * land.width + window.x0;
    const size_t to = static_cast<size_t>(y) * part.width;
    std::memcpy(&part.heights[to], &stroke.before.heights[from], part.width * sizeof(float));
    if (!land.noData.empty())
      std::memcpy(&part.noData[to], &land.noData[from], static_cast<size_t>(part.width));
  }
  run(part);
  for (int32_t y = cells.y0; y < cells.y1; ++y)
    std::memcpy(
        &stroke.source.heights[static_cast<size_t>(y) * land.width + cells.x0],
        &part.heights[static_cast<size_t>(y - window.y0) * part.width + (cells.x0 - window.x0)],
        static_cast<size_t>(cells.x1 - cells.x0) * sizeof(float));
  for (int32_t ty = wanted.y0; ty < wanted.y1; ++ty)
    for (int32_t tx = wanted.x0; tx < wanted.x1; ++tx)
      stroke.made[static_cast<size_t>(ty) * across + tx] = 1;
}

}  // namespace host
