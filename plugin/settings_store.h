// One setting of the schema read from or written to the per-user store, by its kind.
// Header-only, so that code linking only the component layer can use it too.
#pragma once

#include <QString>

#include "components/registry.h"
#include "rovandel/settings_schema.h"

namespace settings_schema {

// The store's section as the component layer takes it.
inline QString Section() { return QString::fromLatin1(kSection); }

// The setting's value (a bool as 0 or 1); `fallback` when missing or not convertible.
inline double ReadSetting(const TRegistryIniFile& store, const Setting& s, double fallback) {
  const QString key = QString::fromLatin1(s.key);
  switch (s.kind) {
    case Kind::kInteger:
      return store.ReadInteger(Section(), key, static_cast<int>(fallback));
    case Kind::kFloat:
      return store.ReadFloat(Section(), key, fallback);
    case Kind::kBool:
      break;
  }
  return store.ReadBool(Section(), key, fallback != 0.0) ? 1.0 : 0.0;
}

inline void WriteSetting(TRegistryIniFile& store, const Setting& s, double value) {
  const QString key = QString::fromLatin1(s.key);
  switch (s.kind) {
    case Kind::kInteger:
      return store.WriteInteger(Section(), key, static_cast<int>(value));
    case Kind::kFloat:
      return store.WriteFloat(Section(), key, value);
    case Kind::kBool:
      return store.WriteBool(Section(), key, value != 0.0);
  }
}

}  // namespace settings_schema
