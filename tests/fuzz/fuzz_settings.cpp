// The per-user settings store read from any file: every value comes back as the
// default or as a valid value, and the next save writes a file that reads back clean.
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QSettings>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "components/registry.h"
#include "plugin/settings_store.h"

namespace {

namespace schema = settings_schema;
const QString kKeyPath = QString::fromLatin1(schema::kKeyPath);

QString Folder() {
  static const QString folder = QStringLiteral("/tmp/rovandel-fuzz-settings-%1").arg(::getpid());
  return folder;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  QDir().mkpath(Folder() + "/" + schema::kCompany);
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, Folder());
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QString file = Folder() + "/" + schema::kCompany + "/" + schema::kProduct + ".conf";
  {
    QFile out(file);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate)) std::abort();
    out.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
  }
  std::array<double, schema::kSettings.size()> values;
  {
    TRegistryIniFile store(kKeyPath);
    for (size_t i = 0; i < values.size(); ++i) {
      values[i] =
          schema::ReadSetting(store, schema::kSettings[i], schema::kSettings[i].defaultValue);
      if (!std::isfinite(values[i])) std::abort();
      schema::WriteSetting(store, schema::kSettings[i], values[i]);
    }
    try {
      store.UpdateFile();
    } catch (const ERegistryError&) {
      return 0;  // a file the store cannot rewrite is reported, not lost silently
    }
  }
  // What was saved reads back exactly, whatever the fallback.
  const TRegistryIniFile again(kKeyPath);
  for (size_t i = 0; i < values.size(); ++i)
    if (schema::ReadSetting(again, schema::kSettings[i], values[i] + 1.0) != values[i])
      std::abort();
  return 0;
}
