// The one rule for the cells of a grid that hold no height (voids): which cells they are
// and the stand-in heights an operation sees there. The host's reader, its plug-in
// services, the Python functions, Plugin.run, rovandel.dask and the tiles command all
// call these, so every path gives the same heights.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace host {

// How far (in x and in y) a valid cell may read the grid: the deepest reach of an
// action of this module (Soften more's 5 x 5). A void cell this near a valid cell is
// filled from the valid cells this near to it, and from nothing else.
inline constexpr int32_t kVoidFillReach = 2;

// 1 for each void cell, a NaN or infinite value or one equal to noDataValue (compared as
// float); empty when no cell is a void.
std::vector<uint8_t> FindVoids(std::span<const float> heights,
                               std::optional<double> noDataValue = std::nullopt);

// Gives every void cell (voids[i] != 0; empty: none) a stand-in height so that no
// operation meets a void. A void within kVoidFillReach of a valid cell takes the mean of
// the valid cells within kVoidFillReach of it, weighted by 1 / distance², summed in row
// order: it depends on those cells alone, so a tile with a halo of an action's reach +
// kVoidFillReach gives its valid cells the whole grid's results whatever the size of the
// voids. Deeper void cells, which no valid result of this module reads, are filled
// smoothly by push-pull on an image pyramid. False (heights untouched) when every cell
// is a void. Throws std::bad_alloc when the pyramid does not fit.
bool FillVoids(std::span<float> heights, int32_t width, int32_t height,
               std::span<const uint8_t> voids);

}  // namespace host
