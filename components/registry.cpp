#include "components/registry.h"

#include <QLocale>
#include <QStringList>
#include <cmath>

TRegistryIniFile::TRegistryIniFile(const QString& keyPath) {
  QStringList parts = keyPath.split(QLatin1Char('\\'), Qt::SkipEmptyParts);
  const QString product = parts.isEmpty() ? QStringLiteral("Settings") : parts.takeLast();
  const QString company = parts.isEmpty() ? product : parts.takeLast();
  settings_ =
      std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, company, product);
}

TRegistryIniFile::~TRegistryIniFile() = default;

QString TRegistryIniFile::Key(const QString& section, const QString& name) const {
  return section + QLatin1Char('/') + name;
}

// Values are stored as text, so a file edited by hand reads the same way.
int TRegistryIniFile::ReadInteger(const QString& section, const QString& name,
                                  int defaultValue) const {
  bool ok = false;
  const int value = settings_->value(Key(section, name)).toString().trimmed().toInt(&ok);
  return ok ? value : defaultValue;
}

bool TRegistryIniFile::ReadBool(const QString& section, const QString& name,
                                bool defaultValue) const {
  const QString text = settings_->value(Key(section, name)).toString().trimmed().toLower();
  if (text == QLatin1String("true") || text == QLatin1String("1")) return true;
  if (text == QLatin1String("false") || text == QLatin1String("0")) return false;
  return defaultValue;
}

double TRegistryIniFile::ReadFloat(const QString& section, const QString& name,
                                   double defaultValue) const {
  bool ok = false;
  const double value = settings_->value(Key(section, name)).toString().trimmed().toDouble(&ok);
  return ok && std::isfinite(value) ? value : defaultValue;
}

void TRegistryIniFile::WriteInteger(const QString& section, const QString& name, int value) {
  settings_->setValue(Key(section, name), QString::number(value));
}

void TRegistryIniFile::WriteBool(const QString& section, const QString& name, bool value) {
  settings_->setValue(Key(section, name), value ? QStringLiteral("true") : QStringLiteral("false"));
}

void TRegistryIniFile::WriteFloat(const QString& section, const QString& name, double value) {
  // Shortest text that reads back as the same double.
  settings_->setValue(Key(section, name),
                      QString::number(value, 'g', QLocale::FloatingPointShortest));
}

void TRegistryIniFile::UpdateFile() {
  settings_->sync();
  if (settings_->status() != QSettings::NoError)
    throw ERegistryError("the settings could not be written to " +
                         settings_->fileName().toStdString());
}
