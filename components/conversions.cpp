#include "components/conversions.h"

#include <QLocale>
#include <cmath>

namespace {

QLocale NumberLocale() {
  QLocale locale = QLocale::system();
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
  double value = NumberLocale().toDouble(trimmed, &ok);
  QLocale c = QLocale::c();
  c.setNumberOptions(QLocale::RejectGroupSeparator);
  // The C notation is understood too, so settings written under another locale load.
  if (!ok) value = c.toDouble(trimmed, &ok);
  if (!ok || !std::isfinite(value)) throw EConvertError(text);
  return value;
}

QString IntToStr(int32_t value) { return QString::number(value); }

QString FloatToStr(double value) { return NumberLocale().toString(value, 'g', 15); }
