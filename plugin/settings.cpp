#include "plugin/settings.h"

#include <array>

#include "components/conversions.h"
#include "dialog/mainform.h"
#include "plugin/settings_store.h"

namespace {

namespace schema = settings_schema;
using Values = std::array<double, schema::kSettings.size()>;

const QString kKeyPath = QString::fromLatin1(schema::kKeyPath);

double Default(int index) { return schema::kSettings[static_cast<size_t>(index)].defaultValue; }
double Reset(int index) { return schema::kSettings[static_cast<size_t>(index)].resetValue; }

}  // namespace

void LoadSettings(TRovandelParamsForm& form) {
  Values v;
  {
    const TRegistryIniFile store(kKeyPath);
    for (size_t i = 0; i < v.size(); ++i)
      v[i] = schema::ReadSetting(store, schema::kSettings[i], schema::kSettings[i].defaultValue);
  }
  auto integer = [&](int index) { return static_cast<int32_t>(v[static_cast<size_t>(index)]); };
  auto number = [&](int index) { return FloatToStr(v[static_cast<size_t>(index)]); };
  // An unknown action checks nothing, leaving the form's own choice.
  const auto radios = form.ActionRadios();
  if (integer(schema::kAction) >= 0 && integer(schema::kAction) < static_cast<int>(radios.size()))
    radios[static_cast<size_t>(integer(schema::kAction))]->SetChecked(true);
  form.NoiseTypeCombo->SetItemIndex(integer(schema::kNoise));
  form.AmpSpin->SetValue(integer(schema::kAmplitude));
  form.CoverSpin->SetValue(integer(schema::kCoverage));
  form.SeedEdit->SetText(IntToStr(integer(schema::kSeed)));
  form.XGeoEdit->SetText(number(schema::kXpos));
  form.YGeoEdit->SetText(number(schema::kYpos));
  form.WidthEdit->SetText(number(schema::kRadius));
  form.HeightEdit->SetText(number(schema::kHeight));
  form.WaterCheck->SetChecked(v[schema::kWater] != 0.0);
  form.FlattenHeightEdit->SetText(number(schema::kFlattenHeight));
  form.FlattenSpin->SetValue(integer(schema::kFlatten));
  form.GlaciateSpin->SetValue(integer(schema::kGlaciate));
  form.CanyonizeSpin->SetValue(integer(schema::kCanyonize));
}

void SaveSettings(const TRovandelParamsForm& form, int32_t actionIndex) {
  const QString seedText = form.SeedEdit->GetText();
  Values v;
  v[schema::kAction] = actionIndex;
  v[schema::kNoise] = form.NoiseTypeCombo->GetItemIndex();
  v[schema::kAmplitude] = form.AmpSpin->GetValue();
  v[schema::kCoverage] = form.CoverSpin->GetValue();
  v[schema::kSeed] = seedText.isEmpty() ? Default(schema::kSeed) : StrToInt(seedText);
  // An empty field saves as the value the dialog resets an unreadable entry to.
  v[schema::kXpos] = FloatOrWhenEmpty(form.XGeoEdit, Reset(schema::kXpos));
  v[schema::kYpos] = FloatOrWhenEmpty(form.YGeoEdit, Reset(schema::kYpos));
  v[schema::kHeight] = FloatOrWhenEmpty(form.HeightEdit, Reset(schema::kHeight));
  v[schema::kRadius] = FloatOrWhenEmpty(form.WidthEdit, Reset(schema::kRadius));
  v[schema::kWater] = form.WaterCheck->Checked() ? 1.0 : 0.0;
  v[schema::kFlattenHeight] =
      FloatOrWhenEmpty(form.FlattenHeightEdit, Reset(schema::kFlattenHeight));
  v[schema::kFlatten] = form.FlattenSpin->GetValue();
  v[schema::kGlaciate] = form.GlaciateSpin->GetValue();
  v[schema::kCanyonize] = form.CanyonizeSpin->GetValue();

  TRegistryIniFile store(kKeyPath);
  for (size_t i = 0; i < v.size(); ++i) schema::WriteSetting(store, schema::kSettings[i], v[i]);
  store.UpdateFile();
}
