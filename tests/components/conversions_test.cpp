#include "components/conversions.h"

#include <gtest/gtest.h>

#include <QLocale>
#include <cmath>
#include <limits>

namespace {

TEST(Conversions, IntegersInAndOut) {
  EXPECT_EQ(StrToInt("12345"), 12345);
  EXPECT_EQ(StrToInt("-123"), -123);
  EXPECT_EQ(StrToInt(" 7 "), 7);
  EXPECT_EQ(StrToInt("-2147483648"), std::numeric_limits<int32_t>::min());
  for (const char* bad : {"", "-", "12a", "1.5", "2147483648", "0x10", "1 2"})
    EXPECT_THROW(StrToInt(bad), EConvertError) << bad;
  EXPECT_EQ(IntToStr(-42), "-42");
}

TEST(Conversions, FloatsInAndOut) {
  EXPECT_DOUBLE_EQ(StrToFloat("50"), 50.0);
  EXPECT_DOUBLE_EQ(StrToFloat("-0.25"), -0.25);
  EXPECT_DOUBLE_EQ(StrToFloat("1e3"), 1000.0);
  for (const char* bad : {"", "-", "abc", "1,000", "inf", "nan", "1e999", "--1"})
    EXPECT_THROW(StrToFloat(bad), EConvertError) << bad;
  EXPECT_EQ(FloatToStr(50.0), "50");
  EXPECT_EQ(FloatToStr(0.0), "0");
  EXPECT_EQ(FloatToStr(-12.5), "-12.5");
  EXPECT_EQ(FloatToStr(0.1), "0.1");
  EXPECT_EQ(FloatToStr(1234567.0), "1234567");
  EXPECT_EQ(FloatToStr(1.0 / 3.0), "0.333333333333333");
  // What FloatToStr writes, StrToFloat reads back to 15 digits.
  for (double v : {87.9, -12.3, 1e-7, 123456789012.0})
    EXPECT_NEAR(StrToFloat(FloatToStr(v)), v, std::abs(v) * 1e-14);
}

// Under a comma locale only its own notation is a number: "1.000" typed for one
// thousand must not be read as one.
TEST(Conversions, ACommaLocaleTakesOnlyItsOwnNotation) {
  const QLocale before;
  QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
  EXPECT_DOUBLE_EQ(StrToFloat("12,5"), 12.5);
  EXPECT_DOUBLE_EQ(StrToFloat("-0,25"), -0.25);
  for (const char* bad : {"12.5", "1.000", "1.000,5"})
    EXPECT_THROW(StrToFloat(bad), EConvertError) << bad;
  EXPECT_EQ(FloatToStr(-12.5), "-12,5");
  for (double v : {87.9, -12.3, 1e-7, 123456789012.0})
    EXPECT_NEAR(StrToFloat(FloatToStr(v)), v, std::abs(v) * 1e-14);
  QLocale::setDefault(before);
}

}  // namespace
