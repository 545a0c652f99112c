// The landscape as a picture: hillshade lit from the north-west over a colour ramp by
// height, with water drawn as water.
#pragma once

#include <QImage>
#include <optional>

#include "host/landscape.h"

namespace host {

QImage ShadeLandscape(const Landscape& land, std::optional<double> waterLevel);

}  // namespace host
