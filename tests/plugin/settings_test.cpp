// The settings as the run cycle loads them into the dialog and saves them from it.
#include "plugin/settings.h"

#include <gtest/gtest.h>

#include <QLocale>
#include <QSettings>
#include <memory>

#include "dialog/mainform.h"
#include "plugin/core.h"
#include "rovandel/settings_schema.h"
#include "tests/support/ui.h"

namespace {

namespace schema = settings_schema;

class SettingsTest : public testing::Test {
 protected:
  void SetUp() override { ClearStoredSettings(); }
  static QSettings Store() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, schema::kCompany,
                     schema::kProduct);
  }
  static QString Key(const char* name) { return QString(schema::kSection) + "/" + name; }
  static void Put(const char* name, const QVariant& value) {
    QSettings store = Store();
    store.setValue(Key(name), value);
  }
  static QVariant Stored(const char* name) { return Store().value(Key(name)); }
  std::unique_ptr<TRovandelParamsForm> Loaded() {
    auto form = std::make_unique<TRovandelParamsForm>(nullptr);
    LoadSettings(*form);
    return form;
  }
  MessageBoxAnswerer messages;
};

TEST_F(SettingsTest, FirstUseLoadsTheDefaults) {
  auto form = Loaded();
  EXPECT_TRUE(form->SoftenRadio->Checked());
  EXPECT_EQ(form->NoiseTypeCombo->GetItemIndex(), 0);
  EXPECT_EQ(form->AmpSpin->GetValue(), 20);
  EXPECT_EQ(form->CoverSpin->GetValue(), 20);
  EXPECT_EQ(form->SeedEdit->GetText(),
            QString::number(schema::kSettings[schema::kSeed].defaultValue));
  EXPECT_EQ(form->XGeoEdit->GetText(), "50");
  EXPECT_EQ(form->YGeoEdit->GetText(), "50");
  EXPECT_EQ(form->WidthEdit->GetText(), "10");
  EXPECT_EQ(form->HeightEdit->GetText(), "10");
  EXPECT_TRUE(form->WaterCheck->Checked());
  EXPECT_EQ(form->FlattenHeightEdit->GetText(), "0");
  EXPECT_EQ(form->FlattenSpin->GetValue(), 50);
  EXPECT_EQ(form->GlaciateSpin->GetValue(), 10);
  EXPECT_EQ(form->CanyonizeSpin->GetValue(), 10);
  EXPECT_TRUE(messages.texts.isEmpty());
}

TEST_F(SettingsTest, StoredActionChecksItsRadioAndUnknownOnesCheckNone) {
  Put("Action", 5);
  auto form = Loaded();
  EXPECT_TRUE(form->GlaciateRadio->Checked());
  EXPECT_EQ(form->PageControl->ActivePage(), form->Glaciate);
  for (int unknown : {9, -1}) {
    Put("Action", unknown);
    EXPECT_TRUE(Loaded()->FlattenRadio->Checked());
  }
}

TEST_F(SettingsTest, ValuesBeyondTheControlsAreClampedOrQuestioned) {
  Put("Amplitude", 250);  // the spin edit keeps 0..100
  Put("xpos", 150.0);     // out of range: the dialog says so while it is filled
  auto form = Loaded();
  EXPECT_EQ(form->AmpSpin->GetValue(), 100);
  EXPECT_EQ(form->XGeoEdit->GetText(), "150");
  EXPECT_EQ(messages.texts,
            QStringList{"Position value must be a valid number between 0.0 and 100.0"});
}

// Each of the fourteen values, stored, loaded into the dialog and saved again, comes
// back as it was; text that is not a value loads as the default. In a comma locale too:
// the store keeps one notation whatever the dialog shows.
struct RoundTrip {
  const char* key;
  const char* stored;  // a value other than the default, as the store keeps it
  friend void PrintTo(const RoundTrip& r, std::ostream* os) { *os << r.key << "=" << r.stored; }
};

class SettingsRoundTrip : public SettingsTest,
                          public testing::WithParamInterface<std::tuple<RoundTrip, const char*>> {
 protected:
  void SetUp() override {
    SettingsTest::SetUp();
    QLocale::setDefault(QLocale(QString::fromLatin1(std::get<1>(GetParam()))));
  }
  void TearDown() override { QLocale::setDefault(before_); }
  const QLocale before_;
  // Loads the store into a dialog, empties the store and saves the dialog back: what
  // comes back went through the dialog's controls, not merely stayed in the file.
  void LoadAndSave() {
    auto form = Loaded();
    ClearStoredSettings();
    ASSERT_FALSE(Store().contains(Key("Action")));
    int32_t action = 0;
    const auto radios = form->ActionRadios();
    for (size_t i = 0; i < radios.size(); ++i)
      if (radios[i]->Checked()) action = static_cast<int32_t>(i);
    SaveSettings(*form, action);
  }
};

TEST_P(SettingsRoundTrip, StoredValueComesBackAndBadTextFallsBack) {
  const RoundTrip& trip = std::get<0>(GetParam());
  Put(trip.key, trip.stored);
  LoadAndSave();
  EXPECT_EQ(Stored(trip.key).toString(), trip.stored);
  EXPECT_TRUE(messages.texts.isEmpty()) << messages.texts.join("; ").toStdString();

  Put(trip.key, "x1");
  LoadAndSave();
  const schema::Setting& s = schema::kSettings[static_cast<size_t>(*schema::FindSetting(trip.key))];
  const QString fallback = s.kind == schema::Kind::kBool ? (s.defaultValue != 0 ? "true" : "false")
                                                         : QString::number(s.defaultValue);
  EXPECT_EQ(Stored(trip.key).toString(), fallback);
}

INSTANTIATE_TEST_SUITE_P(
    EveryKey, SettingsRoundTrip,
    testing::Combine(testing::Values(RoundTrip{"Action", "5"}, RoundTrip{"Noise", "1"},
                                     RoundTrip{"Amplitude", "33"}, RoundTrip{"Coverage", "7"},
                                     RoundTrip{"Seed", "987654"}, RoundTrip{"xpos", "12.5"},
                                     RoundTrip{"ypos", "99.75"}, RoundTrip{"radius", "3.25"},
                                     RoundTrip{"height", "-40.5"}, RoundTrip{"water", "false"},
                                     RoundTrip{"FlattenHeight", "-12.75"},
                                     RoundTrip{"Flatten", "80"}, RoundTrip{"Glaciate", "42"},
                                     RoundTrip{"Canyonize", "0"}),
                     // A point, a comma, a momayyez; bidi marks before the minus; a
                     // typographic minus; native digits.
                     testing::Values("C", "de_DE", "he_IL", "ar_EG", "fa_IR", "sv_SE", "hi_IN")),
    [](const auto& info) {
      return std::string(std::get<0>(info.param).key) + "_" + std::get<1>(info.param);
    });

TEST(SettingsSchema, CoversEveryKeyOnce) {
  // The round trip above names each key; the schema has no more.
  EXPECT_EQ(schema::kSettings.size(), 14u);
  for (size_t i = 0; i < schema::kSettings.size(); ++i)
    EXPECT_EQ(schema::FindSetting(schema::kSettings[i].key), static_cast<int>(i));
  EXPECT_EQ(schema::kActionNames.size(), static_cast<size_t>(kCanyonize + 1));
}

TEST_F(SettingsTest, SaveWritesAllFourteenWithTheEmptyFieldValues) {
  auto form = Loaded();
  form->SeedEdit->SetText("");
  form->WidthEdit->SetText("");
  form->HeightEdit->SetText("-3.5");
  form->FlattenHeightEdit->SetText("");
  form->GlaciateSpin->SetValue(42);
  SaveSettings(*form, 3);
  QSettings store = Store();
  store.beginGroup(schema::kSection);
  EXPECT_EQ(store.childKeys().size(), 14);
  EXPECT_EQ(Stored("Action").toInt(), 3);
  EXPECT_EQ(Stored("Seed").toInt(), 12345);
  EXPECT_DOUBLE_EQ(Stored("radius").toDouble(), 50.0);
  EXPECT_DOUBLE_EQ(Stored("height").toDouble(), -3.5);
  EXPECT_DOUBLE_EQ(Stored("FlattenHeight").toDouble(), 0.0);
  EXPECT_EQ(Stored("Glaciate").toInt(), 42);

  auto again = Loaded();
  EXPECT_TRUE(again->HillRadio->Checked());
  EXPECT_EQ(again->WidthEdit->GetText(), "50");
  EXPECT_EQ(again->HeightEdit->GetText(), "-3.5");
  EXPECT_EQ(again->GlaciateSpin->GetValue(), 42);
}

}  // namespace
