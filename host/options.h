// kelvamor-host's command line.
#pragma once

#include <QTemporaryDir>
#include <iosfwd>
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
  std::optional<std::string> action;                          // --action NAME
  bool saveSettings = false;        // --save-settings: keep the run's values as the user's
  std::optional<std::string> mask;  // --mask: the plug-in changes only what it selects
  int verbosity = 1;                // 0 with --quiet, 2 with --verbose
  bool progress = false;            // progress on stderr (a terminal, or --progress)
};

// Checks --set and --action against the settings' kinds and ranges; empty when they
// are fine, else a usage message that names the option and the allowed values.
std::string CheckPluginSettings(const Options& options);

// The plug-in's fourteen values as a batch run gives them: the user's stored values
// (defaults for any that are missing or cannot be read, with one warning), then --set
// and --action. While alive, this process's per-user settings store is a private
// folder holding them, so the user's file is never written and runs in parallel each
// see their own values.
class PrivateSettings {
 public:
  PrivateSettings(const Options& options, std::ostream& warnings);
  ~PrivateSettings();
  PrivateSettings(const PrivateSettings&) = delete;
  PrivateSettings& operator=(const PrivateSettings&) = delete;

  // The action the plug-in will find, as a command-line name.
  std::string ActionName() const;
  // Copies the private values (as the plug-in left them) into the user's own store.
  // Throws std::runtime_error naming the file when it cannot be written.
  void SaveToUser() const;

 private:
  QTemporaryDir folder_;
  QString userFile_;
};

// Writes --set and --action into the user's own store, for the window. Throws
// std::runtime_error naming the file when it cannot be written.
void StorePluginSettings(const Options& options);

// The settings with kinds, defaults and ranges, a Markdown table row each.
std::string SettingsTable();

}  // namespace host
