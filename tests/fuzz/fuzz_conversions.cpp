// The component layer's number conversions on any text: no crash, no undefined
// behaviour, and whatever is accepted is a finite number that survives a round trip.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "components/conversions.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QString text =
      QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  try {
    const int32_t v = StrToInt(text);
    if (StrToInt(IntToStr(v)) != v) std::abort();
  } catch (const EConvertError&) {
  }
  try {
    const double v = StrToFloat(text);
    if (!std::isfinite(v)) std::abort();
    const double back = StrToFloat(FloatToStr(v));  // 15 digits: close, not always equal
    if (std::fabs(back - v) > std::fabs(v) * 1e-14) std::abort();
  } catch (const EConvertError&) {
  }
  if (size >= sizeof(double)) {
    double bits;
    std::memcpy(&bits, data, sizeof bits);
    (void)FloatToStr(bits);  // any double, NaN and infinities included
  }
  return 0;
}
