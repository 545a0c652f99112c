// The landscape the host makes when no file is given, so that it runs out of the box.
#pragma once

#include <cstdint>

#include "host/model/landscape.h"

namespace host {

// A fractal landscape from a fixed seed: hills, valleys and ground below sea level.
inline constexpr int32_t kDefaultLandscapeSide = 513;
Landscape MakeDefaultLandscape(int32_t side = kDefaultLandscapeSide, uint32_t seed = 20261208);
// The default landscape's sea level.
inline constexpr double kDefaultSeaLevel = 0.0;

}  // namespace host
