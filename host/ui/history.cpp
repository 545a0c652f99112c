#include "host/ui/history.h"

#include <algorithm>

namespace host {

int HistoryLimit(const Landscape& land, size_t bytes) {
  const size_t step = std::max<size_t>(1, land.Count() * (sizeof(float) + 1));
  return static_cast<int>(std::clamp<size_t>(bytes / step, 2, 1000));
}

bool UnsavedHeights(const QUndoStack& history) {
  const int clean = history.cleanIndex(), now = history.index();
  if (clean < 0) return true;
  for (int i = std::min(clean, now); i < std::max(clean, now); ++i)
    if (dynamic_cast<const LandscapeStep*>(history.command(i))) return true;
  return false;
}

}  // namespace host
