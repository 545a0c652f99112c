// Number <-> text conversions of the component layer. They use the user's locale for
// the decimal separator and never accept or write group separators.
#pragma once

#include <QString>
#include <cstdint>
#include <stdexcept>

// Raised by StrToInt and StrToFloat on text that is not a number.
class EConvertError : public std::runtime_error {
 public:
  explicit EConvertError(const QString& text);
};

// A decimal 32-bit integer, optionally signed; surrounding blanks are allowed.
int32_t StrToInt(const QString& text);
// A finite floating-point number in the locale's notation (exponent allowed).
double StrToFloat(const QString& text);
QString IntToStr(int32_t value);
// General form with at most 15 significant digits and no trailing zeros (50.0 -> "50").
QString FloatToStr(double value);
