#include "plugin/settings.h"

#include "components/conversions.h"
#include "components/registry.h"
#include "dialog/mainform.h"

namespace {

const QString kKeyPath = QStringLiteral("software\\Quorvale\\Kelvamor");
const QString kSection = QStringLiteral("RovandelPlugin");

// The fourteen values; as constants, what a missing value loads as.
struct Values {
  int action = 0;
  int noise = 0;
  int amplitude = 20;
  int coverage = 20;
  int seed = 12345;
  double xpos = 50.0;
  double ypos = 50.0;
  double radius = 10.0;
  double height = 10.0;
  bool water = true;
  double flattenHeight = 0.0;
  int flatten = 50;
  int glaciate = 10;
  int canyonize = 10;
};
constexpr Values kLoadDefaults;
// Empty hill fields save as 50, the value the dialog resets an unreadable entry to.
constexpr double kEmptyHillFieldSavesAs = 50.0;

}  // namespace

void LoadSettings(TRovandelParamsForm& form) {
  Values v;
  {
    const TRegistryIniFile store(kKeyPath);
    const Values& d = kLoadDefaults;
    v.action = store.ReadInteger(kSection, "Action", d.action);
    v.noise = store.ReadInteger(kSection, "Noise", d.noise);
    v.amplitude = store.ReadInteger(kSection, "Amplitude", d.amplitude);
    v.coverage = store.ReadInteger(kSection, "Coverage", d.coverage);
    v.seed = store.ReadInteger(kSection, "Seed", d.seed);
    v.xpos = store.ReadFloat(kSection, "xpos", d.xpos);
    v.ypos = store.ReadFloat(kSection, "ypos", d.ypos);
    v.radius = store.ReadFloat(kSection, "radius", d.radius);
    v.height = store.ReadFloat(kSection, "height", d.height);
    v.water = store.ReadBool(kSection, "water", d.water);
    v.flattenHeight = store.ReadFloat(kSection, "FlattenHeight", d.flattenHeight);
    v.flatten = store.ReadInteger(kSection, "Flatten", d.flatten);
    v.glaciate = store.ReadInteger(kSection, "Glaciate", d.glaciate);
    v.canyonize = store.ReadInteger(kSection, "Canyonize", d.canyonize);
  }
  // An unknown action checks nothing, leaving the form's own choice.
  const auto radios = form.ActionRadios();
  if (v.action >= 0 && v.action < static_cast<int>(radios.size()))
    radios[static_cast<size_t>(v.action)]->SetChecked(true);
  form.NoiseTypeCombo->SetItemIndex(v.noise);
  form.AmpSpin->SetValue(v.amplitude);
  form.CoverSpin->SetValue(v.coverage);
  form.SeedEdit->SetText(IntToStr(v.seed));
  form.XGeoEdit->SetText(FloatToStr(v.xpos));
  form.YGeoEdit->SetText(FloatToStr(v.ypos));
  form.WidthEdit->SetText(FloatToStr(v.radius));
  form.HeightEdit->SetText(FloatToStr(v.height));
  form.WaterCheck->SetChecked(v.water);
  form.FlattenHeightEdit->SetText(FloatToStr(v.flattenHeight));
  form.FlattenSpin->SetValue(v.flatten);
  form.GlaciateSpin->SetValue(v.glaciate);
  form.CanyonizeSpin->SetValue(v.canyonize);
}

void SaveSettings(const TRovandelParamsForm& form, int32_t actionIndex) {
  const QString seedText = form.SeedEdit->GetText();
  Values v;
  v.action = actionIndex;
  v.noise = form.NoiseTypeCombo->GetItemIndex();
  v.amplitude = form.AmpSpin->GetValue();
  v.coverage = form.CoverSpin->GetValue();
  v.seed = seedText.isEmpty() ? kLoadDefaults.seed : StrToInt(seedText);
  v.xpos = FloatOrWhenEmpty(form.XGeoEdit, kEmptyHillFieldSavesAs);
  v.ypos = FloatOrWhenEmpty(form.YGeoEdit, kEmptyHillFieldSavesAs);
  v.height = FloatOrWhenEmpty(form.HeightEdit, kEmptyHillFieldSavesAs);
  v.radius = FloatOrWhenEmpty(form.WidthEdit, kEmptyHillFieldSavesAs);
  v.water = form.WaterCheck->Checked();
  v.flattenHeight = FloatOrWhenEmpty(form.FlattenHeightEdit, kLoadDefaults.flattenHeight);
  v.flatten = form.FlattenSpin->GetValue();
  v.glaciate = form.GlaciateSpin->GetValue();
  v.canyonize = form.CanyonizeSpin->GetValue();

  TRegistryIniFile store(kKeyPath);
  store.WriteInteger(kSection, "Action", v.action);
  store.WriteInteger(kSection, "Noise", v.noise);
  store.WriteInteger(kSection, "Amplitude", v.amplitude);
  store.WriteInteger(kSection, "Coverage", v.coverage);
  store.WriteInteger(kSection, "Seed", v.seed);
  store.WriteFloat(kSection, "xpos", v.xpos);
  store.WriteFloat(kSection, "ypos", v.ypos);
  store.WriteFloat(kSection, "radius", v.radius);
  store.WriteFloat(kSection, "height", v.height);
  store.WriteBool(kSection, "water", v.water);
  store.WriteFloat(kSection, "FlattenHeight", v.flattenHeight);
  store.WriteInteger(kSection, "Flatten", v.flatten);
  store.WriteInteger(kSection, "Glaciate", v.glaciate);
  store.WriteInteger(kSection, "Canyonize", v.canyonize);
  store.UpdateFile();
}
