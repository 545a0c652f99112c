// The plug-in's settings as a script sets them: fourteen typed values in the per-user
// store the plug-in reads when its dialog opens.
#include <QSettings>
#include <QString>
#include <array>
#include <cmath>
#include <stdexcept>

#include "host/options.h"

namespace host {
namespace {

enum class Kind { kInteger, kFloat, kBool };

struct Setting {
  const char* name;
  Kind kind;
};

constexpr std::array<Setting, 14> kSettings{{{"Action", Kind::kInteger},
                                             {"Noise", Kind::kInteger},
                                             {"Amplitude", Kind::kInteger},
                                             {"Coverage", Kind::kInteger},
                                             {"Seed", Kind::kInteger},
                                             {"xpos", Kind::kFloat},
                                             {"ypos", Kind::kFloat},
                                             {"radius", Kind::kFloat},
                                             {"height", Kind::kFloat},
                                             {"water", Kind::kBool},
                                             {"FlattenHeight", Kind::kFloat},
                                             {"Flatten", Kind::kInteger},
                                             {"Glaciate", Kind::kInteger},
                                             {"Canyonize", Kind::kInteger}}};

constexpr std::array<const char*, 7> kActions{"soften",   "soften-more", "noise",    "hill",
                                              "flatten",  "glaciate",    "canyonize"};

QSettings Store() {
  return QSettings(QSettings::NativeFormat, QSettings::UserScope, "Quorvale", "Kelvamor");
}

QString Key(const char* name) { return QStringLiteral("RovandelPlugin/") + name; }

QString Checked(const Setting& setting, const std::string& value) {
  const QString text = QString::fromStdString(value).trimmed();
  bool ok = false;
  switch (setting.kind) {
    case Kind::kInteger:
      text.toInt(&ok);
      break;
    case Kind::kFloat:
      ok = std::isfinite(text.toDouble(&ok)) && ok;
      break;
    case Kind::kBool:
      ok = text == "true" || text == "false";
      break;
  }
  if (!ok)
    throw std::invalid_argument("--set " + std::string(setting.name) + ": '" + value +
                                "' is not a valid " +
                                (setting.kind == Kind::kBool ? "true/false" : "number"));
  return text;
}

}  // namespace

void StorePluginSettings(const Options& options) {
  QSettings store = Store();
  for (const auto& [name, value] : options.settings) {
    const Setting* found = nullptr;
    for (const Setting& s : kSettings)
      if (name == s.name) found = &s;
    if (!found) {
      std::string known;
      for (const Setting& s : kSettings) known += std::string(known.empty() ? "" : ", ") + s.name;
      throw std::invalid_argument("--set: unknown setting '" + name + "' (known: " + known + ")");
    }
    store.setValue(Key(found->name), Checked(*found, value));
  }
  if (options.action) {
    int index = -1;
    for (size_t i = 0; i < kActions.size(); ++i)
      if (*options.action == kActions[i]) index = static_cast<int>(i);
    if (index < 0)
      throw std::invalid_argument("--action: unknown action '" + *options.action +
                                  "' (soften, soften-more, noise, hill, flatten, glaciate, "
                                  "canyonize)");
    store.setValue(Key("Action"), QString::number(index));
  }
  store.sync();
  if (store.status() != QSettings::NoError)
    throw std::invalid_argument("the plug-in settings could not be written to " +
                                store.fileName().toStdString());
}

std::string StoredActionName() {
  bool ok = false;
  const int index = Store().value(Key("Action")).toString().toInt(&ok);
  return ok && index >= 0 && index < 7 ? kActions[static_cast<size_t>(index)] : "soften";
}

}  // namespace host
