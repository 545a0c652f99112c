// Short literal walks of each operation, column by column (the hill row by row) with
// running trackers, exactly as the plug-in contract describes them. The optimised
// kernels must match them bit for bit.
#pragma once

#include <vector>

#include "terrain/operations.h"

namespace reference {

struct Output {
  std::vector<float> heights;
  terrain::HeightRange range;
};

Output Soften(terrain::GridSize size, const std::vector<float>& source, int radius);
Output Flatten(terrain::GridSize size, const std::vector<float>& source,
               const terrain::FlattenParameters& p);
Output Profile(terrain::GridSize size, const std::vector<float>& source,
               const terrain::ProfileParameters& p, bool canyonize);
Output Hill(terrain::GridSize size, const std::vector<float>& source,
            const terrain::HillParameters& p);

Output Noise(terrain::GridSize size, const std::vector<float>& source,
             const terrain::NoiseParameters& p, const terrain::WaterTest& isWater);

}  // namespace reference
