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
QImage ShadeLandscape(const Landscape& land, std::optional<double> waterLevel,
                      std::optional<std::pair<double, double>> range = {});

}  // namespace host
