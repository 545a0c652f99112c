#include "host/render/map_tiles.h"

#include <algorithm>
#include <cmath>

#include "base/parallel_copy.h"

namespace host {

namespace {

HeightGrid GridOf(const Landscape& land) {
  return {land.heights.data(), land.noData.empty() ? nullptr : land.noData.data(), land.width,
          land.height, 1};
}

// `box` of level k's cells as cells of level k + 1.
CellBox Halved(const CellBox& box) {
  return {box.x0 / 2, box.y0 / 2, (box.x1 + 1) / 2, (box.y1 + 1) / 2};
}

quint64 Key(int level, int32_t tx, int32_t ty) {
  return quint64(level) << 48 | quint64(uint32_t(ty)) << 24 | quint64(uint32_t(tx));
}

// Orange over the map, as strong as the cell's weight (at most 40 %).
void Tint(QImage& tile, const std::vector<float>& weights, int32_t width, int32_t x0, int32_t y0,
          int32_t factor) {
  for (int32_t row = 0; row < tile.height(); ++row) {
    auto* line = reinterpret_cast<QRgb*>(tile.scanLine(row));
    const size_t y = static_cast<size_t>(y0 + row) * factor;
    for (int32_t col = 0; col < tile.width(); ++col) {
      const float w = weights[y * width + static_cast<size_t>(x0 + col) * factor];
      if (w <= 0.0f) continue;
      const int a = static_cast<int>(w * 102.0f);
      const QRgb p = line[col];
      auto over = [a](int tint, int under) { return (tint * a + under * (255 - a)) / 255; };
      line[col] =
          qRgba(over(255, qRed(p)), over(160, qGreen(p)), over(0, qBlue(p)), over(255, qAlpha(p)));
    }
  }
}

}  // namespace

HeightPyramid::HeightPyramid(const Landscape& land) {
  HeightGrid from = GridOf(land);
  while (std::max(from.width, from.height) > MapTiles::kTile) {
    Reduced& to = levels_.emplace_back();
    to.width = (from.width + 1) / 2;
    to.height = (from.height + 1) / 2;
    to.heights.resize(static_cast<size_t>(to.width) * to.height);
    if (from.noData) to.noData.resize(to.heights.size());
    Reduce(from, to, {0, 0, from.width, from.height});
    from = {to.heights.data(), to.noData.empty() ? nullptr : to.noData.data(), to.width, to.height,
            from.factor * 2};
  }
}

HeightGrid HeightPyramid::Level(const Landscape& land, int k) const {
  if (k == 0) return GridOf(land);
  const Reduced& r = levels_[static_cast<size_t>(k - 1)];
  return {r.heights.data(), r.noData.empty() ? nullptr : r.noData.data(), r.width, r.height,
          int32_t{1} << k};
}

void HeightPyramid::Update(const Landscape& land, const CellBox& box) {
  CellBox at = box;
  for (int k = 0; k + 1 < Levels(); ++k) {
    Reduce(Level(land, k), levels_[static_cast<size_t>(k)], at);
    at = Halved(at);
  }
}

void HeightPyramid::Reduce(const HeightGrid& from, Reduced& to, const CellBox& box) {
  const CellBox out = Halved(box);
  const size_t grain = std::max<size_t>(1, base::kCopyGrain / 4 / std::max(to.width, 1));
  base::ForStretches(static_cast<size_t>(out.y1 - out.y0), grain, [&](size_t r0, size_t r1) {
    for (auto y = out.y0 + static_cast<int32_t>(r0); y < out.y0 + static_cast<int32_t>(r1); ++y)
      for (int32_t x = out.x0; x < out.x1; ++x) {
        double valid = 0.0, any = 0.0;
        int nValid = 0, nAny = 0;
        for (int32_t sy = 2 * y; sy < std::min(2 * y + 2, from.height); ++sy)
          for (int32_t sx = 2 * x; sx < std::min(2 * x + 2, from.width); ++sx) {
            const size_t i = static_cast<size_t>(sy) * from.width + sx;
            const double h = from.heights[i];
            any += h;
            ++nAny;
            if (!from.noData || !from.noData[i]) {
              valid += h;
              ++nValid;
            }
          }
        const size_t o = static_cast<size_t>(y) * to.width + x;
        to.heights[o] = static_cast<float>(nValid ? valid / nValid : any / nAny);
        if (!to.noData.empty()) to.noData[o] = nValid == 0;
      }
  });
}

void MapTiles::Reset(const Landscape* land) {
  land_ = land;
  pyramid_ = land && land->Count() ? HeightPyramid(*land) : HeightPyramid();
  cache_.clear();
  made = 0;
}

void MapTiles::SetLook(const Shading& shading, const std::vector<float>* selection) {
  if (selection && selection->empty()) selection = nullptr;
  if (shading == shading_ && selection == selection_) return;
  shading_ = shading;
  selection_ = selection;
  cache_.clear();
}

void MapTiles::HeightsChanged(const CellBox& box) {
  if (box.Empty() || !land_) return;
  pyramid_.Update(*land_, box);
  Drop(box);
}

void MapTiles::SelectionChanged(const CellBox& box) { Drop(box); }

void MapTiles::Drop(const CellBox& box) {
  if (box.Empty()) return;
  for (int k = 0; k < pyramid_.Levels(); ++k) {
    // Shading reads a cell's neighbours: the tiles of the cells around the box go too.
    const int32_t cell = int32_t{1} << k, side = kTile << k;
    for (int32_t ty = std::max(0, box.y0 - cell) / side; ty <= (box.y1 + cell - 1) / side; ++ty)
      for (int32_t tx = std::max(0, box.x0 - cell) / side; tx <= (box.x1 + cell - 1) / side; ++tx)
        cache_.remove(Key(k, tx, ty));
  }
}

int MapTiles::LevelFor(double pixelsPerCell) const {
  const int level = static_cast<int>(std::floor(std::log2(1.0 / pixelsPerCell)));
  return std::clamp(level, 0, pyramid_.Levels() - 1);
}

QImage MapTiles::Tile(int level, int32_t tx, int32_t ty) {
  if (const QImage* cached = cache_.object(Key(level, tx, ty))) return *cached;
  const HeightGrid grid = pyramid_.Level(*land_, level);
  const CellBox area{tx * kTile, ty * kTile, std::min(grid.width, (tx + 1) * kTile),
                     std::min(grid.height, (ty + 1) * kTile)};
  if (area.Empty()) return {};
  QImage tile(area.x1 - area.x0, area.y1 - area.y0, QImage::Format_ARGB32_Premultiplied);
  ShadeArea(grid, shading_, area, tile);
  if (selection_) Tint(tile, *selection_, land_->width, area.x0, area.y0, grid.factor);
  ++made;
  cache_.insert(Key(level, tx, ty), new QImage(tile), static_cast<int>(tile.sizeInBytes() / 1024));
  return tile;
}

}  // namespace host
