#include "host/render/map_tiles.h"

#include <algorithm>
#include <cmath>

#include "base/parallel_copy.h"
#include "base/simd.h"

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
void Tint(QImage& tile, const ZeroedWeights& weights, int32_t width, int32_t x0, int32_t y0,
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

// Cells [x0, x1) of a level's row from the two rows `a` and `b` of the level below, all
// valid: the mean of the four, summed in the order the general rule sums them.
ROVANDEL_CLONES_AVX2 void ReduceValid(const float* a, const float* b, float* o, int32_t x0,
                                      int32_t x1) {
  for (int32_t x = x0; x < x1; ++x)
    o[x] = (((a[2 * x] + a[2 * x + 1]) + b[2 * x]) + b[2 * x + 1]) / 4.0f;
}

// Cells [x0, x1) of row y of the level above `from`, into `heights` and `voids` (null
// when `from` has no NoData), each indexed by the cell's column.
void ReduceRow(const HeightGrid& from, int32_t y, int32_t x0, int32_t x1, float* heights,
               uint8_t* voids) {
  const float* a = from.heights + static_cast<size_t>(2 * y) * from.width;
  if (!from.noData && 2 * y + 1 < from.height) {
    const int32_t whole = std::min(x1, from.width / 2);
    ReduceValid(a, a + from.width, heights, x0, whole);
    x0 = std::max(whole, x0);
  }
  // The general rule: the mean of the valid cells of the (up to) four, NoData when none.
  for (int32_t x = x0; x < x1; ++x) {
    float valid = 0.0f, any = 0.0f;
    int nValid = 0, nAny = 0;
    for (int32_t sy = 2 * y; sy < std::min(2 * y + 2, from.height); ++sy)
      for (int32_t sx = 2 * x; sx < std::min(2 * x + 2, from.width); ++sx) {
        const size_t i = static_cast<size_t>(sy) * from.width + sx;
        any += from.heights[i];
        ++nAny;
        if (!from.noData || !from.noData[i]) {
          valid += from.heights[i];
          ++nValid;
        }
      }
    heights[x] = nValid ? valid / static_cast<float>(nValid) : any / static_cast<float>(nAny);
    if (voids) voids[x] = nValid == 0;
  }
}

}  // namespace

HeightPyramid::HeightPyramid(const Landscape& land) {
  for (HeightGrid from = GridOf(land); std::max(from.width, from.height) > MapTiles::kTile;
       from = Level(land, Levels() - 1)) {
    Reduced& to = levels_.emplace_back();
    to.width = (from.width + 1) / 2;
    to.height = (from.height + 1) / 2;
    to.heights.resize(static_cast<size_t>(to.width) * to.height);
    if (from.noData) to.noData.resize(to.heights.size());
    Reduce(from, to, {0, 0, from.width, from.height});
  }
}

HeightGrid HeightPyramid::Level(const Landscape& land, int k) const {
  if (k == 0) return GridOf(land);
  const Reduced& r = levels_[static_cast<size_t>(k - 1)];
  return {r.heights.data(), r.noData.empty() ? nullptr : r.noData.data(), r.width, r.height,
          int32_t{1} << k};
}

void HeightPyramid::Update(const Landscape& land, const CellBox& box, int from, int until) {
  CellBox at = box;
  for (int k = from; k + 1 < std::min(Levels(), until + 1); ++k) {
    Reduce(Level(land, k), levels_[static_cast<size_t>(k)], at);
    at = Halved(at);
  }
}

void HeightPyramid::UpdatePast1(const Landscape& land, const CellBox& box, int until) {
  if (Levels() < 3) return Update(land, box, 0, until);
  ReduceTwice(GridOf(land), levels_[1], box);
  Update(land, Halved(Halved(box)), 2, until);
}

void HeightPyramid::Reduce(const HeightGrid& from, Reduced& to, const CellBox& box) {
  const CellBox out = Halved(box);
  const size_t grain = std::max<size_t>(1, base::kCopyGrain / 4 / std::max(to.width, 1));
  base::ForStretches(static_cast<size_t>(out.y1 - out.y0), grain, [&](size_t r0, size_t r1) {
    for (auto y = out.y0 + static_cast<int32_t>(r0); y < out.y0 + static_cast<int32_t>(r1); ++y) {
      const size_t row = static_cast<size_t>(y) * to.width;
      ReduceRow(from, y, out.x0, out.x1, to.heights.data() + row,
                to.noData.empty() ? nullptr : to.noData.data() + row);
    }
  });
}

void HeightPyramid::ReduceTwice(const HeightGrid& from, Reduced& to, const CellBox& box) {
  // The level between, two rows at a time: the same cells Reduce would keep there.
  const int32_t width = (from.width + 1) / 2, height = (from.height + 1) / 2;
  const CellBox out = Halved(Halved(box));
  const int32_t x0 = 2 * out.x0, x1 = std::min(2 * out.x1, width);
  const size_t grain = std::max<size_t>(1, base::kCopyGrain / 16 / std::max(to.width, 1));
  base::ForStretches(static_cast<size_t>(out.y1 - out.y0), grain, [&](size_t r0, size_t r1) {
    std::vector<float> between(2 * static_cast<size_t>(width));
    std::vector<uint8_t> voids(from.noData ? between.size() : 0);
    for (auto y = out.y0 + static_cast<int32_t>(r0); y < out.y0 + static_cast<int32_t>(r1); ++y) {
      const int32_t rows = std::min(2, height - 2 * y);
      for (int32_t i = 0; i < rows; ++i)
        ReduceRow(from, 2 * y + i, x0, x1, between.data() + i * width,
                  voids.empty() ? nullptr : voids.data() + i * width);
      const HeightGrid two{between.data(), voids.empty() ? nullptr : voids.data(), width, rows,
                           2 * from.factor};
      const size_t row = static_cast<size_t>(y) * to.width;
      ReduceRow(two, 0, out.x0, out.x1, to.heights.data() + row,
                to.noData.empty() ? nullptr : to.noData.data() + row);
    }
  });
}

void MapTiles::Reset(const Landscape* land) {
  land_ = land;
  pyramid_ = land && land->Count() ? HeightPyramid(*land) : HeightPyramid();
  stale_ = reduced_ = past1_ = {};
  cache_.clear();
  made = 0;
}

void MapTiles::SetLook(const Shading& shading, const ZeroedWeights* selection) {
  if (selection && selection->empty()) selection = nullptr;
  if (shading == shading_ && selection == selection_) return;
  shading_ = shading;
  selection_ = selection;
  cache_.clear();
}

void MapTiles::HeightsChanged(const CellBox& box, bool reduced) {
  if (box.Empty() || !land_) return;
  CellBox& remake = reduced ? reduced_ : stale_;
  remake = remake.Union(box);
  Drop(box);
}

void MapTiles::ReduceWritten(const CellBox& box) {
  if (!land_ || pyramid_.Levels() < 2) return;
  // Level 1 is the largest: while a coarser one is drawn it waits until it is.
  if (viewing_ < 2 || pyramid_.Levels() < 3)
    return pyramid_.Update(*land_, box, 0, kLevelsAsWritten);
  pyramid_.UpdatePast1(*land_, box, kLevelsAsWritten);
  const std::lock_guard<std::mutex> lock(past1Mutex_);
  past1_ = past1_.Union(box);
}

void MapTiles::SelectionChanged(const CellBox& box) { Drop(box); }

void MapTiles::Drop(const CellBox& box) {
  if (box.Empty()) return;
  for (int k = 0; k < pyramid_.Levels(); ++k) {
    // Shading reads a cell's neighbours: the tiles of the cells around the box go too.
    const int32_t cell = int32_t{1} << k, side = kTile << k;
    for (int32_t ty = std::max(0, box.y0 - cell) / side; ty <= (box.y1 + cell - 1) / side; ++ty)
      for (int32_t tx = std::max(0, box.x0 - cell) / side; tx <= (box.x1 + cell - 1) / side; ++tx)
        if (QImage* tile = cache_.take(Key(k, tx, ty))) {
          if (tile->width() == kTile && tile->height() == kTile && spare_.size() < 64)
            spare_.push_back(std::move(*tile));
          delete tile;
        }
  }
}

int MapTiles::LevelFor(double pixelsPerCell) const {
  const int level = static_cast<int>(std::floor(std::log2(1.0 / pixelsPerCell)));
  return std::clamp(level, 0, pyramid_.Levels() - 1);
}

int MapTiles::Prepare(int level, const CellBox& tiles, int most) {
  if (!land_) return 0;
  if (level == 1 || (level > 1 && !stale_.Empty())) {
    // Before what is made from it.
    pyramid_.Update(*land_, past1_, 0, 1);
    past1_ = {};
  }
  if (level > 0) {
    if (!stale_.Empty()) pyramid_.Update(*land_, stale_);
    if (!reduced_.Empty()) {
      CellBox above = reduced_;  // as cells of the last level made as written
      for (int k = 0; k < kLevelsAsWritten; ++k) above = Halved(above);
      pyramid_.Update(*land_, above, kLevelsAsWritten);
    }
    stale_ = reduced_ = {};
  }
  const HeightGrid grid = pyramid_.Level(*land_, level);
  struct Missing {
    int32_t tx, ty;
    CellBox area;
    QImage tile;
  };
  std::vector<Missing> missing;
  for (int32_t ty = tiles.y0; ty < tiles.y1; ++ty)
    for (int32_t tx = tiles.x0; tx < tiles.x1; ++tx) {
      const CellBox area{tx * kTile, ty * kTile, std::min(grid.width, (tx + 1) * kTile),
                         std::min(grid.height, (ty + 1) * kTile)};
      if (!area.Empty() && !cache_.contains(Key(level, tx, ty)))
        missing.push_back(Missing{tx, ty, area, {}});
    }
  // The middle of the view first: where the eye is.
  const double mx = (tiles.x0 + tiles.x1 - 1) / 2.0, my = (tiles.y0 + tiles.y1 - 1) / 2.0;
  std::stable_sort(missing.begin(), missing.end(), [&](const Missing& a, const Missing& b) {
    return std::hypot(a.tx - mx, a.ty - my) < std::hypot(b.tx - mx, b.ty - my);
  });
  const int left = std::max(0, static_cast<int>(missing.size()) - most);
  missing.resize(missing.size() - static_cast<size_t>(left));
  // Opaque where every cell is valid: drawn over the view without blending.
  const QImage::Format format =
      HasVoids() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32;
  for (Missing& m : missing) {
    const CellBox& area = m.area;
    if (area.x1 - area.x0 == kTile && area.y1 - area.y0 == kTile && !spare_.empty() &&
        spare_.back().format() == format) {
      m.tile = std::move(spare_.back());
      spare_.pop_back();
    } else {
      m.tile = QImage(area.x1 - area.x0, area.y1 - area.y0, format);
    }
  }
  // A tile a task: each is small enough for one core, and a view needs a dozen or more.
  base::ForStretches(missing.size(), 1, [&](size_t begin, size_t end) {
    for (size_t i = begin; i < end; ++i) {
      Missing& m = missing[i];
      ShadeArea(grid, shading_, m.area, m.tile);
      if (selection_) Tint(m.tile, *selection_, land_->width, m.area.x0, m.area.y0, grid.factor);
    }
  });
  for (Missing& m : missing) {
    ++made;
    const int cost = static_cast<int>(m.tile.sizeInBytes() / 1024);
    cache_.insert(Key(level, m.tx, m.ty), new QImage(std::move(m.tile)), cost);
  }
  return left;
}

const QImage* MapTiles::Made(int level, int32_t tx, int32_t ty) const {
  return cache_.object(Key(level, tx, ty));
}

QImage MapTiles::Tile(int level, int32_t tx, int32_t ty) {
  if (!cache_.contains(Key(level, tx, ty))) Prepare(level, {tx, ty, tx + 1, ty + 1});
  const QImage* tile = cache_.object(Key(level, tx, ty));
  return tile ? *tile : QImage();
}

}  // namespace host
