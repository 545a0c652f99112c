#include "components/conversions.h"

#include <QLocale>
#include <cmath>

namespace {

// The user's locale (Qt's default locale, the system's unless a program sets another).
QLocale NumberLocale() {
  QLocale locale;
  locale.setNumberOptions(QLocale::OmitGroupSeparator | QLocale::RejectGroupSeparator);
  return locale;
}

}  // namespace

EConvertError::EConvertError(const QString& text)
    : std::runtime_error(QStringLiteral("'%1' is not a valid number").arg(text).toStdString()) {}

int32_t StrToInt(const QString& text) {
  bool ok = false;
  const int value = text.trimmed().toInt(&ok, 10);
  if (!ok) throw EConvertError(text);
  return value;
}

double StrToFloat(const QString& text) {
  bool ok = false;
  const QString trimmed = text.trimmed();
  // The locale's own notation only: under a comma locale "1.000" is not one.
  const double value = NumberLocale().toDouble(trimmed, &ok);
  if (!ok || !std::isfinite(value)) throw EConvertError(text);
  return value;
}

QString IntToStr(int32_t value) { return QString::number(value); }

QString FloatToStr(double value) { return NumberLocale().toString(value, 'g', 15); }
