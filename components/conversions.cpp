#include "components/conversions.h"

#include <QLocale>
#include <cmath>

namespace {

// The user's decimal separator (Qt's default locale, the system's unless a program sets
// another): the one part of a number's text that follows the locale.
QString DecimalSeparator() { return QLocale().decimalPoint(); }

// Marks that change how text is laid out but are no part of a number: the bidi marks
// and embeddings some locales put before a sign, and the invisible joiners.
bool IsLayoutMark(char32_t c) {
  return c == 0x200E || c == 0x200F || c == 0x061C || (c >= 0x202A && c <= 0x202E) ||
         (c >= 0x2066 && c <= 0x2069) || c == 0x200B || c == 0x200C || c == 0x200D || c == 0xFEFF;
}

// The text as plain C notation when it is a number as the user's locale writes it:
// ASCII or the locale's own digits, an ASCII or typographic minus, the locale's decimal
// separator, an exponent. Empty when it holds what no number of that locale holds (a
// group separator, a '.' where the separator is another).
QString ToCNotation(const QString& text) {
  const QList<uint> separator = DecimalSeparator().toUcs4();
  const QList<uint> chars = text.toUcs4();  // some locales' digits lie beyond 16 bits
  QString plain;
  for (qsizetype i = 0; i < chars.size(); ++i) {
    const char32_t c = chars[i];
    if (IsLayoutMark(c)) continue;
    if (chars.mid(i, separator.size()) == separator) {
      plain += '.';
      i += separator.size() - 1;
    } else if (c == 0x2212) {
      plain += '-';
    } else if (QChar::isDigit(c)) {
      plain += QChar(u'0' + QChar::digitValue(c));
    } else if (c == '+' || c == '-' || c == 'e' || c == 'E') {
      plain += QChar(c);
    } else {
      return {};  // '.' in a comma locale, group separators, letters, spaces inside
    }
  }
  return plain;
}

}  // namespace

EConvertError::EConvertError(const QString& text)
    : std::runtime_error(QStringLiteral("'%1' is not a valid number").arg(text).toStdString()) {}

int32_t StrToInt(const QString& text) {
  bool ok = false;
  const int value = QLocale::c().toInt(ToCNotation(text.trimmed()), &ok);
  if (!ok) throw EConvertError(text);
  return value;
}

double StrToFloat(const QString& text) {
  bool ok = false;
  const double value = QLocale::c().toDouble(ToCNotation(text.trimmed()), &ok);
  if (!ok || !std::isfinite(value)) throw EConvertError(text);
  return value;
}

QString IntToStr(int32_t value) { return QString::number(value); }

QString FloatToStr(double value) {
  QString text = QString::number(value, 'g', 15);
  return text.replace('.', DecimalSeparator());
}
