#include "terrain/action.h"

namespace terrain {

HeightRange Run(const Action& action, GridSize size, std::span<const float> source,
                std::span<float> result, const WaterTest& isWater) {
  struct Kernel {
    GridSize size;
    std::span<const float> source;
    std::span<float> result;
    const WaterTest& isWater;
    HeightRange operator()(SoftenAction) const { return Soften(size, source, result); }
    HeightRange operator()(SoftenMoreAction) const { return SoftenMore(size, source, result); }
    HeightRange operator()(const NoiseParameters& p) const {
      return AddNoise(size, source, result, p, isWater);
    }
    HeightRange operator()(const HillParameters& p) const {
      return AddHill(size, source, result, p);
    }
    HeightRange operator()(const FlattenParameters& p) const {
      return Flatten(size, source, result, p);
    }
    HeightRange operator()(const GlaciateAction& a) const {
      return Glaciate(size, source, result, a.profile);
    }
    HeightRange operator()(const CanyonizeAction& a) const {
      return Canyonize(size, source, result, a.profile);
    }
  };
  return std::visit(Kernel{size, source, result, isWater}, action);
}

}  // namespace terrain
