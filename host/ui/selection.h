// A selection on the landscape: an outline in cell coordinates (x right, y down, a
// cell's centre at +0.5) and a feather width in cells. Its weights are 1 inside and 0
// outside, the edge fading over about the feather width.
#pragma once

#include <QImage>
#include <QPainterPath>
#include <QPointF>
#include <cstdint>
#include <vector>

#include "host/model/landscape.h"

namespace host {

// One weight per cell, row by row. A cell is inside when its centre is; with a feather,
// three box blurs (together about the feather wide) smooth the edge, so the weights fall
// monotonically across a straight edge.
ZeroedWeights SelectionWeights(const QPainterPath& outline, double feather, int32_t width,
                               int32_t height);

// A round soft brush: full weight within hardness x radius of its centre, falling
// smoothly to 0 at the radius.
struct Brush {
  double radius = 10.0;   // cells
  double hardness = 0.5;  // 0 all falloff .. 1 a hard edge
  double WeightAt(double distance) const;
};

// Paints (or, erasing, takes away) the brush along a stroke (cell coordinates, one
// point or more) into the weights: a cell takes the most any dab of the stroke gives
// it, painting w' = max(w, b), erasing w' = min(w, 1 - b). Empty weights stand for
// "nothing selected" when painting and "all selected" when erasing.
// Returns the box of the cells the brush reached.
CellBox PaintStroke(ZeroedWeights& weights, int32_t width, int32_t height,
                    const std::vector<QPointF>& stroke, const Brush& brush, bool erase);
// The same into weights one per cell, already there.
CellBox PaintStroke(float* weights, int32_t width, int32_t height,
                    const std::vector<QPointF>& stroke, const Brush& brush, bool erase);

// The box of the cells a stroke of the brush can reach.
CellBox StrokeBox(int32_t width, int32_t height, const std::vector<QPointF>& stroke,
                  const Brush& brush);

// The box of the cells a selection's weights reach (weight above 0); empty when none.
CellBox SelectedBox(const ZeroedWeights& weights, int32_t width, int32_t height);

}  // namespace host
