#include "components/conversions.h"

#include <gtest/gtest.h>

#include <QLocale>
#include <cmath>
#include <limits>
#include <vector>

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

// The locales named for their number forms (bidi marks before the minus, a typographic
// minus, native digits, a comma or a momayyez for the separator), then every locale Qt
// knows.
std::vector<QLocale> Locales() {
  std::vector<QLocale> locales;
  for (const char* name : {"en_US", "de_DE", "fr_FR", "sv_SE", "fi_FI", "nb_NO", "ru_RU", "he_IL",
                           "ar_EG", "fa_IR", "ur_PK", "ps_AF", "hi_IN", "ja_JP", "zh_CN"})
    locales.emplace_back(QString::fromLatin1(name));
  for (const QLocale& locale :
       QLocale::matchingLocales(QLocale::AnyLanguage, QLocale::AnyScript, QLocale::AnyTerritory))
    locales.push_back(locale);
  return locales;
}

// In every locale a value's text is ASCII but for the decimal separator, reads back to
// the same value, and so does the same value as that locale writes it.
TEST(Conversions, EveryLocaleReadsBackWhatItWrites) {
  const QLocale before;
  const double kValues[] = {0.0,
                            50.0,
                            -40.5,
                            -12.75,
                            0.1,
                            1e-300,
                            -1.5e300,
                            123456789012345.0,
                            -0.000123456789012345,
                            3.40282346638529e38,
                            987.654321};
  int checked = 0;
  for (const QLocale& locale : Locales()) {
    QLocale::setDefault(locale);
    const QString separator = locale.decimalPoint();
    QLocale typed = locale;
    typed.setNumberOptions(QLocale::OmitGroupSeparator);
    for (const double v : kValues) {
      const QString text = FloatToStr(v);
      for (const QChar c : text)
        ASSERT_TRUE((c >= '0' && c <= '9') || c == '-' || c == '+' || c == 'e' ||
                    separator.contains(c))
            << locale.name().toStdString() << ": " << text.toStdString();
      ASSERT_EQ(StrToFloat(text), v) << locale.name().toStdString() << ": " << text.toStdString();
      if (std::abs(v) < 1e15 && (v == 0 || std::abs(v) >= 1e-3)) {
        const QString native = typed.toString(v, 'f', 6);
        ASSERT_NEAR(StrToFloat(native), v, 1e-6)
            << locale.name().toStdString() << ": " << native.toStdString();
      }
      ++checked;
    }
    for (const int32_t v : {0, 12345, -12345, std::numeric_limits<int32_t>::min()}) {
      ASSERT_EQ(StrToInt(IntToStr(v)), v);
      ASSERT_EQ(StrToInt(typed.toString(v)), v) << locale.name().toStdString();
    }
  }
  QLocale::setDefault(before);
  EXPECT_GT(checked, 1000);
}

}  // namespace
