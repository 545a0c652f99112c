// The landscape as a picture: hillshade lit from the north-west over a colour ramp by
// height, with water drawn as water.
#pragma once

#include <QImage>
#include <optional>
#include <string>
#include <utility>

#include "host/model/landscape.h"

namespace host {

// NoData cells are transparent. Colours and relief follow `range` when given (so that
// pictures before and after an operation compare), else the landscape's recorded range.
// A null image when the grid is larger than a picture can be.
// The colour of height h on a map coloured over lo .. hi, before shading: green lowland
// to white peaks; where lo is below 0 and hi above, sea level splits it, the sea floor
// in blues by depth and the land over 0 .. hi.
void HeightColour(double h, double lo, double hi, double& r, double& g, double& b);

QImage ShadeLandscape(const Landscape& land, std::optional<double> waterLevel,
                      std::optional<std::pair<double, double>> range = {});

}  // namespace host
