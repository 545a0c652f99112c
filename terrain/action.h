// An action with its parameters as one value, and the one entry that runs it: every
// caller of the kernels (the module's operations, the Python extension) goes through
// Run, so an action cannot reach a different kernel by a different path.
#pragma once

#include <span>
#include <variant>

#include "terrain/operations.h"

namespace terrain {

struct SoftenAction {};
struct SoftenMoreAction {};
struct GlaciateAction {
  ProfileParameters profile;
};
struct CanyonizeAction {
  ProfileParameters profile;
};

// In the order of the actions' indexes (soften, soften-more, noise, hill, flatten,
// glaciate, canyonize), so that index() is the action's number.
using Action = std::variant<SoftenAction, SoftenMoreAction, NoiseParameters, HillParameters,
                            FlattenParameters, GlaciateAction, CanyonizeAction>;

// The action's kernel on the grid. isWater is asked by Add Noise only.
HeightRange Run(const Action& action, GridSize size, std::span<const float> source,
                std::span<float> result, const WaterTest& isWater = {});

}  // namespace terrain
