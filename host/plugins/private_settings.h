// The plug-in's fourteen values as a script sets them: checked against the same rules as
// the plug-in's dialog before any work, and given to the plug-in through a store private
// to the run.
#pragma once

#include <QString>
#include <iosfwd>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace host {

// What a command line says of the plug-in's values.
struct PluginValues {
  std::vector<std::pair<std::string, std::string>> settings;  // --set NAME=VALUE
  std::optional<std::string> action;                          // --action NAME
};

// Checks --set and --action against the settings' kinds and ranges; empty when they
// are fine, else a usage message that names the option and the allowed values.
std::string CheckPluginSettings(const PluginValues& values);

// The plug-in's fourteen values as a batch run gives them: the user's stored values
// (defaults for any that are missing or cannot be read, with one warning), then --set
// and --action. While alive, this process's per-user settings store is a private
// folder holding them, so the user's file is never written and runs in parallel each
// see their own values.
class PrivateSettings {
 public:
  // What the values start from before --set and --action: the user's stored values (a
  // command line), or the defaults (a script that must not depend on who runs it).
  enum class Base { kUserValues, kDefaults };
  PrivateSettings(const PluginValues& values, std::ostream& warnings,
                  Base base = Base::kUserValues);
  ~PrivateSettings();
  PrivateSettings(const PrivateSettings&) = delete;
  PrivateSettings& operator=(const PrivateSettings&) = delete;

  // The action the plug-in will find, as a command-line name.
  std::string ActionName() const;
  // Copies the private values (as the plug-in left them) into the user's own store.
  // Throws Error naming the file when it cannot be written.
  void SaveToUser() const;

 private:
  QString folder_;  // the run's own folder, removed with the store
  QString userFile_;
};

// The action the plug-in will find in the store (the run's own while a PrivateSettings
// is alive, else the user's), as a command-line name.
std::string StoredActionName();

// The values in the user's own store that the plug-in can read, as --set gives them
// (those missing or unreadable left out).
std::vector<std::pair<std::string, std::string>> StoredPluginValues();

// Writes --set and --action into the user's own store, for the window. Throws
// Error naming the file when it cannot be written.
void StorePluginSettings(const PluginValues& values);

// The settings with kinds, defaults and ranges, a Markdown table row each.
std::string SettingsTable();

}  // namespace host
