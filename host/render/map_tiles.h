// The map as the window draws it: tiles of the shaded landscape at the resolution of the
// view, from a pyramid of the heights, made when first seen and made again only where
// cells changed. The readout and every file read the grid itself, never the pyramid.
#pragma once

#include <QCache>
#include <QImage>
#include <cstdint>
#include <mutex>
#include <vector>

#include "host/model/landscape.h"
#include "host/render/shading.h"

namespace host {

// Levels of 2 × 2 reductions of a landscape's heights, each half the one before, down to
// one tile. A level's cell is the mean of the valid cells it covers, NoData when none is.
class HeightPyramid {
 public:
  HeightPyramid() = default;
  explicit HeightPyramid(const Landscape& land);
  // Makes again the cells of levels from + 1 to `until` over `box` (cells of level
  // `from`).
  void Update(const Landscape& land, const CellBox& box, int from = 0, int until = 1 << 30);
  // The same from level 2, made from the landscape without keeping level 1: its cells
  // over `box` are left as they were.
  void UpdatePast1(const Landscape& land, const CellBox& box, int until);
  // Level 0 is the landscape itself; level k's cells are 2^k of its cells across.
  int Levels() const { return static_cast<int>(levels_.size()) + 1; }
  HeightGrid Level(const Landscape& land, int k) const;

 private:
  struct Reduced {
    int32_t width = 0, height = 0;
    Heights heights;
    std::vector<uint8_t> noData;  // empty when the landscape has none
  };
  // Level k + 1 over `box` (cells of level k).
  void Reduce(const HeightGrid& from, Reduced& to, const CellBox& box);
  // Level k + 2 over `box` (cells of level k), level k + 1 made on the way and let go.
  void ReduceTwice(const HeightGrid& from, Reduced& to, const CellBox& box);
  std::vector<Reduced> levels_;  // levels 1, 2, ...
};

class MapTiles {
 public:
  static constexpr int32_t kTile = 256;  // a tile's side in cells of its level

  // A new landscape, or one changed throughout: every level and tile anew.
  void Reset(const Landscape* land);
  // The colours, and the selection tinted over them (null or empty: none). Tiles are made
  // again when they differ from those drawn.
  void SetLook(const Shading& shading, const ZeroedWeights* selection);
  // The heights (and so the pyramid) or the selection changed over `box` only; with
  // `reduced`, levels 1 to kLevelsAsWritten are made already over what changed
  // (ReduceWritten).
  void HeightsChanged(const CellBox& box, bool reduced = false);
  // Makes levels 1 to kLevelsAsWritten again over `box` of heights just written, while
  // they are in cache; level 1 only while it is drawn, else when it next is. Safe from
  // several threads at once for boxes of rows apart, each beginning at a multiple of
  // 2^kLevelsAsWritten rows.
  static constexpr int kLevelsAsWritten = 4;
  void ReduceWritten(const CellBox& box);
  void SelectionChanged(const CellBox& box);

  // Lets every tile go (they are made again when drawn).
  void Forget() { cache_.clear(); }
  // The level whose cell is at most one pixel across at `pixelsPerCell`, or 0.
  int LevelFor(double pixelsPerCell) const;
  // The level the view draws now.
  void Viewing(int level) { viewing_ = level; }
  // Makes the tiles of level k not made yet among tiles [x0, x1) × [y0, y1), on every
  // core: at most `most` of them, those nearest the middle first. Returns how many are
  // left to make.
  int Prepare(int level, const CellBox& tiles, int most = 1 << 30);
  // A tile made already, else null.
  const QImage* Made(int level, int32_t tx, int32_t ty) const;
  // A tile of level k: its cells [tx, tx + 1) × [ty, ty + 1) tiles of kTile, fewer at the
  // level's edges; premultiplied, NoData transparent.
  QImage Tile(int level, int32_t tx, int32_t ty);
  int Levels() const { return pyramid_.Levels(); }
  int32_t Width() const { return land_ ? land_->width : 0; }
  int32_t Height() const { return land_ ? land_->height : 0; }
  // Whether a tile may have see-through (NoData) pixels.
  bool HasVoids() const { return land_ && !land_->noData.empty(); }
  // Tiles made since the last Reset, for the tests.
  int64_t made = 0;

 private:
  void Drop(const CellBox& box);
  const Landscape* land_ = nullptr;
  HeightPyramid pyramid_;
  CellBox stale_;    // cells whose levels are made again when a level is next drawn
  CellBox reduced_;  // the same, the levels ReduceWritten makes made already
  CellBox past1_;    // cells whose level 1 ReduceWritten left to make
  std::mutex past1Mutex_;
  int viewing_ = 0;
  std::vector<QImage> spare_;  // dropped tiles, drawn into again: no fresh pages
  Shading shading_;
  const ZeroedWeights* selection_ = nullptr;
  QCache<quint64, QImage> cache_{192 * 1024};  // KiB: 768 tiles
};

}  // namespace host
