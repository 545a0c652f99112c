// The host's landscape: a grid of heights, the height range recorded with it, which of
// its cells are NoData, and what the file it came from says about where it lies.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/uninitialized.h"
#include "rovandel/contract.h"

namespace host {

using ::kMaxGridPoints;

// What a heightmap file carries besides its heights. It travels to every output that
// can hold it; a landscape made here or read from a RAW grid has none of it.
struct Georeference {
  std::string projection;                             // coordinate system as WKT; empty: none
  std::optional<std::array<double, 6>> geoTransform;  // GDAL's origin, pixel size and rotation
  std::optional<double> noDataValue;                  // the band's NoData value as the file said
  std::string description;                            // the band's description
  std::string unit;                                   // the band's unit ("m", "ft"); empty: unset
  std::vector<std::string> metadata;                  // the dataset's NAME=VALUE items
  // How the file's stored values become heights (height = value * scale + offset), when
  // it said so; a 16-bit save keeps it while the heights fit.
  std::optional<std::pair<double, double>> scaleOffset;
  // The opened file's overviews, as factors of its size (2, 4, ...): a GeoTIFF save
  // builds them again from the new heights.
  std::vector<int> overviews;
  // The band's data type as GDAL names it ("Int16", "Float32"); empty when unknown. The
  // window saves a GeoTIFF of 16-bit whole numbers as such again.
  std::string dataType;
};

// Cells [x0, x1) × [y0, y1) of a grid.
struct CellBox {
  int32_t x0 = 0, y0 = 0, x1 = 0, y1 = 0;
  bool Empty() const { return x0 >= x1 || y0 >= y1; }
  // The smallest box holding both.
  CellBox Union(const CellBox& o) const {
    if (Empty()) return o;
    if (o.Empty()) return *this;
    return {std::min(x0, o.x0), std::min(y0, o.y0), std::max(x1, o.x1), std::max(y1, o.y1)};
  }
};

// A grid's heights. Growing it leaves the new heights unset: every grid is written in
// full right after it is sized (a file read into it, a copy, a fill).
using Heights = std::vector<float, base::Uninitialized<float>>;
// A grid of weights that starts at zero and costs only the pages written: a brush
// stroke's, of which the brush reaches a small part.
using ZeroedWeights = std::vector<float, base::Zeroed<float>>;

// A selection's rule: inside (weight 1) the edited height, outside (0) the height
// before, blended across a feathered edge. Weights of exactly 0 or 1 keep one side's bits.
inline float BlendHeight(float edited, float before, float weight) {
  return weight >= 1.0f   ? edited
         : weight <= 0.0f ? before
                          : static_cast<float>(static_cast<double>(edited) * weight +
                                               static_cast<double>(before) * (1.0 - weight));
}

struct Landscape {
  int32_t width = 0;
  int32_t height = 0;
  // Row by row. A NoData cell holds a stand-in height filled in from its valid
  // surroundings, so that no operation sees a sentinel; it is never written as a height.
  Heights heights;
  std::vector<uint8_t> noData;  // 1 where a cell is NoData; empty when none is
  double minHeight = 0.0;       // the recorded range
  double maxHeight = 0.0;
  Georeference geo;

  size_t Count() const { return static_cast<size_t>(width) * static_cast<size_t>(height); }
  bool IsNoData(size_t i) const { return !noData.empty() && noData[i] != 0; }
  // The smallest and largest finite height of the valid cells (0..0 when there is
  // none): what a save writes, whatever range the landscape records.
  std::pair<double, double> ValidRange() const;
  // The same over cells [begin, end): lowest above highest when none is valid.
  std::pair<float, float> ValidEnds(size_t begin, size_t end) const;
  // Records the valid range as the landscape's range.
  void RecordRange();
  // A copy, its heights copied on every core: a large one is mostly fresh memory's first
  // touch, which goes as fast as the cores allow.
  Landscape Copy() const;
};

}  // namespace host
