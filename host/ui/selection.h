// A selection on the landscape: an outline in cell coordinates (x right, y down, a
// cell's centre at +0.5) and a feather width in cells. Its weights are 1 inside and 0
// outside, the edge fading over about the feather width.
#pragma once

#include <QPainterPath>
#include <cstdint>
#include <vector>

namespace host {

// One weight per cell, row by row. A cell is inside when its centre is; with a feather,
// three box blurs (together about the feather wide) smooth the edge, so the weights fall
// monotonically across a straight edge.
std::vector<float> SelectionWeights(const QPainterPath& outline, double feather, int32_t width,
                                    int32_t height);

}  // namespace host
