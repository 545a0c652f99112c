// Sculpting: a plug-in's action painted on with the brush.
#pragma once

#include <cstdint>
#include <vector>

#include "host/model/landscape.h"

namespace host {

// What a sculpting stroke paints from: the landscape as the stroke found it and the
// action applied to all of it, and the stroke's weights so far. A cell the stroke has
// reached holds BlendHeight(source, before, weight), as a plug-in run confined to those
// weights would leave it.
struct SculptStroke {
  Landscape before;
  Landscape source;
  uint64_t madeAt = 0;    // the window's count of edits when source was made
  ZeroedWeights weights;  // empty between strokes
  CellBox reach;          // the cells the stroke has changed
};

}  // namespace host
