// Per-user settings, one store per key path: the registry on Windows, the user's
// configuration folder elsewhere ($XDG_CONFIG_HOME/<Company>/<Product>.conf).
#pragma once

#include <QSettings>
#include <QString>
#include <memory>
#include <stdexcept>

// Raised by UpdateFile when the store could not be written.
class ERegistryError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TRegistryIniFile {
 public:
  // keyPath as "software\\<Company>\\<Product>", relative to the current user.
  explicit TRegistryIniFile(const QString& keyPath);
  ~TRegistryIniFile();

  // Each read yields the default when the value is missing or does not convert.
  int ReadInteger(const QString& section, const QString& name, int defaultValue) const;
  bool ReadBool(const QString& section, const QString& name, bool defaultValue) const;
  double ReadFloat(const QString& section, const QString& name, double defaultValue) const;

  void WriteInteger(const QString& section, const QString& name, int value);
  void WriteBool(const QString& section, const QString& name, bool value);
  void WriteFloat(const QString& section, const QString& name, double value);

  // Writes what was changed to the store; throws ERegistryError when that fails.
  void UpdateFile();
  QString FileName() const { return settings_->fileName(); }

 private:
  QString Key(const QString& section, const QString& name) const;
  std::unique_ptr<QSettings> settings_;
};
