// kelvamor-host's command line.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "host/heightmap_io.h"

namespace host {

struct Options {
  std::optional<std::string> input;    // heightmap to open; the default landscape when unset
  RawOptions raw;                      // --size, --range for RAW files
  std::optional<double> waterLevel;    // --water-level
  std::string pluginPath;              // --plugin, or the module built with the host
  bool batch = false;                  // --batch, or no display
  std::optional<std::string> output;   // -o
  std::optional<std::string> picture;  // --picture
  WriteOptions write;                  // --co NAME=VALUE for GeoTIFF output
  std::vector<std::pair<std::string, std::string>> settings;  // --set NAME=VALUE
  std::optional<std::string> action;   // --action NAME
};

// Writes the --set and --action values into the plug-in's per-user settings store.
// Throws std::invalid_argument naming an unknown setting, action or a bad value.
void StorePluginSettings(const Options& options);
// The stored action as a command-line name ("soften", ...).
std::string StoredActionName();

}  // namespace host
