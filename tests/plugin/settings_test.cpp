// The settings as the run cycle loads them into the dialog and saves them from it.
#include "plugin/settings.h"

#include <gtest/gtest.h>

#include <QSettings>
#include <memory>

#include "dialog/mainform.h"
#include "tests/support/ui.h"

namespace {

class SettingsTest : public testing::Test {
 protected:
  void SetUp() override { ClearStoredSettings(); }
  static QSettings Store() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, "Quorvale", "Kelvamor");
  }
  static void Put(const char* name, const QVariant& value) {
    QSettings store = Store();
    store.setValue(QString("RovandelPlugin/") + name, value);
  }
  static QVariant Stored(const char* name) {
    return Store().value(QString("RovandelPlugin/") + name);
  }
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
  EXPECT_EQ(form->SeedEdit->GetText(), "12345");
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

TEST_F(SettingsTest, StoredValuesComeBackAndBadOnesFallBack) {
  Put("Noise", 1);
  Put("Amplitude", 250);  // the spin edit keeps 0..100
  Put("Seed", "not a number");
  Put("xpos", 150.0);  // out of range: the dialog says so while it is filled
  Put("FlattenHeight", -12.75);
  Put("water", "false");
  auto form = Loaded();
  EXPECT_EQ(form->NoiseTypeCombo->GetItemIndex(), 1);
  EXPECT_EQ(form->AmpSpin->GetValue(), 100);
  EXPECT_EQ(form->SeedEdit->GetText(), "12345");
  EXPECT_EQ(form->XGeoEdit->GetText(), "150");
  EXPECT_EQ(form->FlattenHeightEdit->GetText(), "-12.75");
  EXPECT_FALSE(form->WaterCheck->Checked());
  EXPECT_EQ(messages.texts,
            QStringList{"Position value must be a valid number between 0.0 and 100.0"});
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
  store.beginGroup("RovandelPlugin");
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
