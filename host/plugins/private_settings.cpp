#include "host/plugins/private_settings.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QSettings>
#include <QStandardPaths>
#include <QString>
#include <cmath>
#include <ostream>

#include "host/common/error.h"
#include "host/common/replace_file.h"
#include "host/common/signal_cleanup.h"
#include "rovandel/settings_schema.h"

namespace host {
namespace {

namespace schema = settings_schema;
using Texts = std::array<QString, schema::kSettings.size()>;

QString Key(const schema::Setting& s) {
  return QString::fromLatin1(schema::kSection) + '/' + QString::fromLatin1(s.key);
}

QSettings UserStore() {
  return QSettings(QSettings::NativeFormat, QSettings::UserScope, schema::kCompany,
                   schema::kProduct);
}

// The user's own settings file, as QSettings names it, found without opening it.
QString UserFileName() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + '/' +
         schema::kCompany + '/' + schema::kProduct + ".conf";
}

// Empty when the user's settings file is missing or a regular file; else what it is.
std::string UserFileProblem(const QString& file) {
  return NotRegularFile(QFile::encodeName(file).toStdString());
}

std::string Number(double value) {
  return QString::number(value, 'g', QLocale::FloatingPointShortest).toStdString();
}

// The values a setting takes, in words.
std::string Allowed(const schema::Setting& s) {
  if (s.kind == schema::Kind::kBool) return "true or false";
  std::string text = s.kind == schema::Kind::kInteger ? "a whole number" : "a number";
  if (s.aboveMinimum) return text + " above " + Number(s.minimum);
  if (s.maximum == schema::kAnyFinite) return text;
  return text + " from " + Number(s.minimum) + " to " + Number(s.maximum);
}

// The setting's value in `text`, when it is one the dialog would accept.
std::optional<double> Parse(const schema::Setting& s, const QString& input) {
  const QString text = input.trimmed();
  bool ok = false;
  double value = 0.0;
  switch (s.kind) {
    case schema::Kind::kInteger:
      value = text.toInt(&ok);
      break;
    case schema::Kind::kFloat:
      value = text.toDouble(&ok);
      ok = ok && std::isfinite(value);
      break;
    case schema::Kind::kBool: {
      const QString word = text.toLower();
      ok = word == "true" || word == "false" || word == "1" || word == "0";
      value = word == "true" || word == "1" ? 1.0 : 0.0;
      break;
    }
  }
  if (!ok || !schema::InRange(s, value)) return std::nullopt;
  return value;
}

// The text the plug-in's store keeps for a value.
QString Text(const schema::Setting& s, double value) {
  switch (s.kind) {
    case schema::Kind::kInteger:
      return QString::number(static_cast<int32_t>(value));
    case schema::Kind::kFloat:
      return QString::number(value, 'g', QLocale::FloatingPointShortest);
    case schema::Kind::kBool:
      break;
  }
  return value != 0.0 ? QStringLiteral("true") : QStringLiteral("false");
}

// The values the command line sets, by index (checked before).
std::vector<std::pair<size_t, QString>> CommandLineValues(const PluginValues& options) {
  std::vector<std::pair<size_t, QString>> values;
  for (const auto& [name, value] : options.settings) {
    const auto index = schema::FindSetting(name);
    const schema::Setting& s = schema::kSettings[static_cast<size_t>(*index)];
    values.emplace_back(*index, Text(s, *Parse(s, QString::fromStdString(value))));
  }
  if (options.action)
    values.emplace_back(schema::kAction, QString::number(*schema::FindAction(*options.action)));
  return values;
}

std::string ActionList() {
  std::string list;
  for (const char* name : schema::kActionNames)
    list += std::string(list.empty() ? "" : ", ") + name;
  return list;
}

void Sync(QSettings& store) {
  store.sync();
  if (store.status() != QSettings::NoError)
    throw Error::Worded(
        store.fileName().toStdString(),
        "the plug-in settings could not be written to " + store.fileName().toStdString());
}

}  // namespace

std::string CheckPluginSettings(const PluginValues& options) {
  for (const auto& [name, value] : options.settings) {
    const auto index = schema::FindSetting(name);
    if (!index) {
      std::string known;
      for (const schema::Setting& s : schema::kSettings)
        known += std::string(known.empty() ? "" : ", ") + s.key;
      return "--set: unknown setting '" + name + "' (known: " + known + ")";
    }
    const schema::Setting& s = schema::kSettings[static_cast<size_t>(*index)];
    if (!Parse(s, QString::fromStdString(value)))
      return "--set " + name + "=" + value + ": " + name + " takes " + Allowed(s) + " (" +
             s.meaning + ")";
  }
  if (options.action && !schema::FindAction(*options.action))
    return "--action: unknown action '" + *options.action + "' (" + ActionList() + ")";
  return {};
}

namespace {

// Removes a run's settings folder and points the stores back where they usually are.
void Release(const QString& folder) {
  if (!folder.isEmpty()) {
    QDir(folder).removeRecursively();
    KeepOnSignal(QFile::encodeName(folder).toStdString());
  }
  const QString usual = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, usual);
  QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, usual);
}

}  // namespace

PrivateSettings::PrivateSettings(const PluginValues& options, std::ostream& warnings, Base base) {
  Texts texts;
  std::string unreadable;
  userFile_ = UserFileName();
  if (base == Base::kDefaults) {
    for (size_t i = 0; i < texts.size(); ++i)
      texts[i] = Text(schema::kSettings[i], schema::kSettings[i].defaultValue);
  } else if (const std::string problem = UserFileProblem(userFile_); !problem.empty()) {
    warnings << "kelvamor-host: warning: " << userFile_.toStdString() << " " << problem
             << "; the plug-in's values take their defaults\n";
    for (size_t i = 0; i < texts.size(); ++i)
      texts[i] = Text(schema::kSettings[i], schema::kSettings[i].defaultValue);
  } else {
    const QSettings user = UserStore();
    userFile_ = user.fileName();
    for (size_t i = 0; i < texts.size(); ++i) {
      const schema::Setting& s = schema::kSettings[i];
      std::optional<double> value;
      if (user.contains(Key(s))) {
        value = Parse(s, user.value(Key(s)).toString());
        if (!value) unreadable += std::string(unreadable.empty() ? "" : ", ") + s.key;
      }
      texts[i] = Text(s, value.value_or(s.defaultValue));
    }
    if (user.status() != QSettings::NoError)
      warnings << "kelvamor-host: warning: " << userFile_.toStdString()
               << " cannot be read whole; the plug-in's values that it loses take their "
                  "defaults\n";
    else if (!unreadable.empty())
      warnings << "kelvamor-host: warning: " << userFile_.toStdString() << ": " << unreadable
               << " cannot be used; taking the defaults instead\n";
  }
  for (const auto& [index, text] : CommandLineValues(options)) texts[index] = text;

  // Made and named for removal at once: a signal never leaves it behind.
  folder_ = QFile::decodeName(
      MakeCleanedFolder(QFile::encodeName(QDir::tempPath() + "/kelvamor-settings-").toStdString())
          .c_str());
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder_);
  QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, folder_);
  try {
    QSettings store = UserStore();
    for (size_t i = 0; i < texts.size(); ++i) store.setValue(Key(schema::kSettings[i]), texts[i]);
    Sync(store);
  } catch (...) {
    Release(folder_);
    throw;
  }
}

PrivateSettings::~PrivateSettings() { Release(folder_); }

std::string PrivateSettings::ActionName() const { return StoredActionName(); }

std::string StoredActionName() {
  bool ok = false;
  const int index =
      UserStore().value(Key(schema::kSettings[schema::kAction])).toString().toInt(&ok);
  return ok && index >= 0 && index < static_cast<int>(schema::kActionNames.size())
             ? schema::kActionNames[static_cast<size_t>(index)]
             : schema::kActionNames[0];
}

void PrivateSettings::SaveToUser() const {
  if (const std::string problem = UserFileProblem(userFile_); !problem.empty())
    throw Error(userFile_.toStdString(), problem + "; the settings are not kept");
  const QSettings run = UserStore();
  QSettings user(userFile_, QSettings::IniFormat);
  for (const schema::Setting& s : schema::kSettings)
    if (run.contains(Key(s))) user.setValue(Key(s), run.value(Key(s)));
  Sync(user);
}

std::vector<std::pair<std::string, std::string>> StoredPluginValues() {
  std::vector<std::pair<std::string, std::string>> values;
  const QSettings user = UserStore();
  for (const schema::Setting& s : schema::kSettings) {
    const QString text = user.value(Key(s)).toString();
    if (user.contains(Key(s)) && Parse(s, text)) values.emplace_back(s.key, text.toStdString());
  }
  return values;
}

void StorePluginSettings(const PluginValues& options) {
  const std::vector<std::pair<size_t, QString>> values = CommandLineValues(options);
  if (values.empty()) return;
  QSettings store = UserStore();
  for (const auto& [index, text] : values) store.setValue(Key(schema::kSettings[index]), text);
  Sync(store);
}

std::string SettingsTable() {
  std::string table = "| setting | default | values | what |\n|---|---|---|---|\n";
  for (const schema::Setting& s : schema::kSettings) {
    const std::string value = s.kind == schema::Kind::kBool
                                  ? (s.defaultValue != 0 ? "true" : "false")
                                  : Number(s.defaultValue);
    table += std::string("| `") + s.key + "` | " + value + " | " + Allowed(s) + " | " + s.meaning +
             " |\n";
  }
  return table;
}

}  // namespace host
