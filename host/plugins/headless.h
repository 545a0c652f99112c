// A module run with no one at the screen, as batch mode and scripts run it: the one way
// every headless door hands a landscape to a plug-in.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "host/model/landscape.h"
#include "host/plugins/module.h"

namespace host {

struct HeadlessRun {
  bool applied = false;               // the module applied its action
  std::vector<std::string> messages;  // the texts of its message boxes, in order
};

// Runs `module` on `land` as a user pressing Enter would: the water level and the
// selection's weights (empty: none; one per cell) served, the dialog answered with OK and
// every message box with OK. The settings are whatever store the caller has set up.
// unseen: its windows never show (see AutoAnswer).
HeadlessRun RunHeadless(PluginModule& module, Landscape& land, std::optional<double> waterLevel,
                        ZeroedWeights weights, bool unseen = false);

}  // namespace host
