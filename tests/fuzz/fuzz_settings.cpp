// The per-user settings store read from any file: every value comes back as the
// default or as a valid value, and the next save writes a file that reads back clean.
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QSettings>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "components/registry.h"

namespace {

const QString kKeyPath = QStringLiteral("software\\Quorvale\\Kelvamor");
const QString kSection = QStringLiteral("RovandelPlugin");

QString Folder() {
  static const QString folder = QStringLiteral("/tmp/rovandel-fuzz-settings-%1").arg(::getpid());
  return folder;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  QDir().mkpath(Folder() + "/Quorvale");
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, Folder());
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QString file = Folder() + "/Quorvale/Kelvamor.conf";
  {
    QFile out(file);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate)) std::abort();
    out.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
  }
  double x, y;
  int action;
  bool water;
  {
    TRegistryIniFile store(kKeyPath);
    action = store.ReadInteger(kSection, "Action", 0);
    water = store.ReadBool(kSection, "water", true);
    x = store.ReadFloat(kSection, "xpos", 50.0);
    y = store.ReadFloat(kSection, "FlattenHeight", 0.0);
    if (!std::isfinite(x) || !std::isfinite(y)) std::abort();
    store.WriteInteger(kSection, "Action", action);
    store.WriteBool(kSection, "water", water);
    store.WriteFloat(kSection, "xpos", x);
    store.WriteFloat(kSection, "FlattenHeight", y);
    try {
      store.UpdateFile();
    } catch (const ERegistryError&) {
      return 0;  // a file the store cannot rewrite is reported, not lost silently
    }
  }
  TRegistryIniFile again(kKeyPath);
  if (again.ReadInteger(kSection, "Action", action + 1) != action) std::abort();
  if (again.ReadBool(kSection, "water", !water) != water) std::abort();
  if (again.ReadFloat(kSection, "xpos", x + 1.0) != x) std::abort();
  if (again.ReadFloat(kSection, "FlattenHeight", y + 1.0) != y) std::abort();
  return 0;
}
