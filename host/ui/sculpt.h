// Sculpting: a plug-in's action painted on with the brush.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "host/model/landscape.h"

namespace host {

// What a sculpting stroke paints from: the landscape as the stroke found it and the
// action applied to it, and the stroke's weights so far. A cell the stroke has reached
// holds BlendHeight(source, before, weight), as a plug-in run confined to those weights
// would leave it.
//
// An action whose result at a cell reads only the cells within a halo around it (and
// the landscape's recorded range, reported whole) is run on windows of the grid as the
// brush reaches them: `before` and `source` then hold only the tiles marked in `saved`
// and `made`. Any other action is run on the whole grid once a stroke.
struct SculptStroke {
  static constexpr int32_t kTile = 128;  // cells a side of the tiles made as reached
  static constexpr int kWhole = -1;      // the halo of an action run on the whole grid

  Landscape before;
  Landscape source;
  uint64_t madeAt = 0;    // the window's count of edits when source was made
  ZeroedWeights weights;  // empty between strokes
  CellBox reach;          // the cells the stroke has changed
  int halo = kWhole;
  std::vector<uint8_t> saved, made;  // a byte a tile, while windowed
};

// Runs the action on a landscape (a window of the grid, or all of it).
using SculptRun = std::function<void(Landscape& land)>;

// Starts a stroke on `land` by windows: nothing read yet, the range and what the file
// says of the grid kept.
void StartWindowed(SculptStroke& stroke, const Landscape& land, int halo);
// Makes `source` over `box` (and `before` around it), running the action on one window
// of the tiles not made yet and the halo around them, cut off at the grid's edge. `land`
// is the landscape being painted: cells of tiles not saved are still as the stroke
// found them.
void MakeSourceOver(SculptStroke& stroke, const Landscape& land, const CellBox& box,
                    const SculptRun& run);
// Saves the tiles over `box` not saved yet (so that `before` holds every cell there).
void SaveBefore(SculptStroke& stroke, const Landscape& land, const CellBox& box);

}  // namespace host
