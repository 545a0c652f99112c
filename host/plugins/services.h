// Serves a landscape to plug-in modules through the contract's service table: the
// recorded range, the heights, water and redraws, and the selection that confines them.
#pragma once

#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "host/model/landscape.h"
#include "rovandel/contract.h"

namespace host {

// The landscape a plug-in works on while it runs. One session serves at a time.
class HostSession {
 public:
  explicit HostSession(Landscape& land);
  ~HostSession();
  HostSession(const HostSession&) = delete;
  HostSession& operator=(const HostSession&) = delete;

  // Points at or below this height are water; none when unset.
  std::optional<double> waterLevel;
  // Called when the plug-in asks for a redraw, with the box of the cells its heights
  // changed since the last one (empty when they came back the same, bit for bit).
  std::function<void(const CellBox& changed)> onRedraw;
  // Called by SetHeights on its copying threads, several at once, for each stretch of
  // rows it wrote, with the box of the cells that changed there, while they are still
  // in the core's caches. A stretch begins at a multiple of kRowsTogether rows and ends
  // at one or at the grid's last row: reductions of up to that many rows need no row of
  // another stretch.
  std::function<void(const CellBox& changed)> onWritten;
  static constexpr int32_t kRowsTogether = 16;
  // The cells changed since the last redraw, and none from now on.
  CellBox TakeChanged() { return std::exchange(changed, CellBox{}); }

  // Confines what the plug-in sends to a selection: per cell a weight 0..1 (row by
  // row, one per cell), and heights sent become result x w + original x (1 - w), the
  // original being the heights when the session began. Every plug-in gets it through
  // the SetHeights service. Empty: no selection.
  void Select(ZeroedWeights weights);

  Landscape& land;
  ZeroedWeights weights;  // empty, or one per cell
  Heights original;       // the heights the session began with, when selecting
  CellBox changed;        // the cells SetHeights changed since the last redraw
};

// The service table every module is handed; its services serve the active session.
const HostServiceEntry* ServiceTable();

// Makes a session the one the services serve, for as long as the scope lives.
class ServingScope {
 public:
  explicit ServingScope(HostSession& session);
  ~ServingScope();
  ServingScope(const ServingScope&) = delete;
  ServingScope& operator=(const ServingScope&) = delete;

 private:
  HostSession* outer_;
};

}  // namespace host
