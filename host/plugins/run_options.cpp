#include "host/plugins/run_options.h"

#include <new>

#include "host/common/error.h"
#include "host/model/default_landscape.h"

namespace host {

Landscape OpenInput(const Options& options, const ProgressFn& progress) {
  if (options.input)
    return ReadHeightmap(*options.input, options.raw, kMaxGridPoints - 1, progress);
  try {
    return MakeDefaultLandscape();
  } catch (const std::bad_alloc&) {
    throw Error::Worded("", "not enough memory to make the default landscape");
  }
}

std::optional<double> WaterLevelOf(const Options& options) {
  if (!options.input && !options.waterLevel) return kDefaultSeaLevel;
  return options.waterLevel;
}

}  // namespace host
