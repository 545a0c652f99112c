#include "host/plugins/run_options.h"

#include "host/model/default_landscape.h"

namespace host {

Landscape OpenInput(const Options& options, const ProgressFn& progress) {
  return options.input ? ReadHeightmap(*options.input, options.raw, kMaxGridPoints - 1, progress)
                       : MakeDefaultLandscape();
}

std::optional<double> WaterLevelOf(const Options& options) {
  if (!options.input && !options.waterLevel) return kDefaultSeaLevel;
  return options.waterLevel;
}

}  // namespace host
