// Stand-in heights for the cells of a grid that hold none (NaN or infinite), so that an
// operation never meets a void: the filling the host does for a heightmap it opens, for
// callers that hold plain grids.
#pragma once

#include <cstdint>
#include <span>

namespace host {

// Push-pull over the whole grid (row by row, width x height), as the host fills the
// NoData cells of a heightmap it opens. A grid without a valid cell is left as it is.
void FillVoids(std::span<float> heights, int32_t width, int32_t height);

// Each void (a 4-connected region of cells without a height) filled by push-pull from
// its rim alone, the valid cells among its cells' 8 neighbours: its stand-ins depend on
// nothing farther, so a tile that holds a void and its rim fills it as the whole grid
// would. A void without a rim (no valid cell at all) stays as it is.
void FillVoidsLocally(std::span<float> heights, int32_t width, int32_t height);

}  // namespace host
