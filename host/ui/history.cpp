#include "host/ui/history.h"

#include <algorithm>

namespace host {

int HistoryLimit(const Landscape& land, size_t bytes) {
  const size_t step = std::max<size_t>(1, land.Count() * (sizeof(float) + 1));
  return static_cast<int>(std::clamp<size_t>(bytes / step, 2, 1000));
}

}  // namespace host
