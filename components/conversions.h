// Number <-> text conversions of the component layer. What they write is the same in
// every locale but for the decimal separator, which is the user's: ASCII digits and minus,
// no group separators, no bidi or other invisible marks. What they read is that, or the
// same number as the user's locale writes it (its own digits, a typographic minus, bidi
// marks); never a group separator.
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
