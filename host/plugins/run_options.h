// What kelvamor-host's command line asks for, once it has been checked.
#pragma once

#include <optional>
#include <string>

#include "host/io/heightmap_io.h"
#include "host/plugins/private_settings.h"

namespace host {

struct Options {
  std::optional<std::string> input;    // heightmap to open; the default landscape when unset
  RawOptions raw;                      // --size, --range for RAW files, --band
  std::optional<double> waterLevel;    // --water-level
  std::string pluginPath;              // --plugin, or the module built with the host
  bool batch = false;                  // --batch, or no display
  std::optional<std::string> output;   // -o
  std::optional<std::string> picture;  // --picture
  WriteOptions write;                  // --co NAME=VALUE and --ot for GeoTIFF output
  PluginValues plugin;                 // --set NAME=VALUE and --action NAME
  bool saveSettings = false;           // --save-settings: keep the run's values as the user's
  std::optional<std::string> mask;     // --mask: the plug-in changes only what it selects
  int verbosity = 1;                   // 0 with --quiet, 2 with --verbose
  bool progress = false;               // progress on stderr (a terminal, or --progress)
  bool allowNetwork = false;           // --allow-network
  bool json = false;                   // --json: the report as one JSON object
};

// The landscape the options name: the input file, or the default landscape.
Landscape OpenInput(const Options& options, const ProgressFn& progress = {});
// The water level of a run: --water-level, else the default landscape's sea level when
// there is no input, else none. (The window adds sea level for terrain below 0.)
std::optional<double> WaterLevelOf(const Options& options);

}  // namespace host
