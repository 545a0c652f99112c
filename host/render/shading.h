// The landscape as a picture: hillshade lit from the north-west over a colour ramp by
// height, with water drawn as water.
#pragma once

#include <QImage>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "host/io/heightmap_io.h"
#include "host/model/landscape.h"

namespace host {

// The colour of height h on a map coloured over lo .. hi, before shading: green lowland
// to white peaks; where lo is below 0 and hi above, sea level splits it, the sea floor
// in blues by depth and the land over 0 .. hi.
void HeightColour(double h, double lo, double hi, double& r, double& g, double& b);

// How a landscape is shaded: the heights its colours span, its water, and how much its
// relief is raised.
struct Shading {
  double lo = 0.0, hi = 0.0;
  std::optional<double> waterLevel;
  double zFactor = 1.0;
  bool operator==(const Shading&) const = default;
};
// Colours and relief follow `range` when given (so that pictures before and after an
// operation compare), else the landscape's recorded range.
Shading ShadingOf(const Landscape& land, std::optional<double> waterLevel,
                  std::optional<std::pair<double, double>> range = {});

// Heights to shade: the landscape's own, or a level of its pyramid whose cells are each
// `factor` cells of the landscape across.
struct HeightGrid {
  const float* heights = nullptr;
  const uint8_t* noData = nullptr;  // null: none
  int32_t width = 0, height = 0;
  int32_t factor = 1;
};

// Shades `area` (cells of `grid`) into `into` from its top-left pixel: NoData cells
// transparent, the others opaque.
void ShadeArea(const HeightGrid& grid, const Shading& shading, const CellBox& area, QImage& into);

// The whole landscape a pixel a cell. A null image when the grid is larger than a
// picture can be.
QImage ShadeLandscape(const Landscape& land, std::optional<double> waterLevel,
                      std::optional<std::pair<double, double>> range = {});

// A heightmap file's picture while it is read whole: its quick look (ReadQuickLook, the
// longer side within `longest`) shaded as the map shades it, water at sea level where
// it dips below; `cells` the whole grid's size. A null image for a grid of fewer than
// `worth` cells or a file that gives no quick look cheaply. Never throws: the whole
// read says what is wrong with a file.
QImage QuickLookPicture(const std::string& path, const RawOptions& raw, int32_t longest,
                        int64_t worth, QSize& cells);

}  // namespace host
