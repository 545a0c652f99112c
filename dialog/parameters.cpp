// The mapping from the dialog's controls to the operations' parameters: the one place
// that knows which control feeds which parameter.
#include "components/conversions.h"
#include "dialog/mainform.h"
#include "random/noise_gen.h"
#include "terrain/operations.h"

namespace {

double PercentOr(const TEdit* field, double whenEmpty) {
  return field->GetText().isEmpty() ? whenEmpty
                                    : terrain::PercentToFraction(FloatOrWhenEmpty(field, 0.0));
}

}  // namespace

terrain::FlattenParameters TRovandelParamsForm::ReadFlatten() const {
  terrain::FlattenParameters p;
  p.targetHeight = FloatOrWhenEmpty(FlattenHeightEdit, p.targetHeight);
  p.severityPercent = FlattenSpin->GetValue();
  return p;
}

terrain::ProfileParameters TRovandelParamsForm::ReadProfile(const TCSpinEdit* severity,
                                                            double minHeight,
                                                            double maxHeight) const {
  terrain::ProfileParameters p;
  p.severityPercent = severity->GetValue();
  p.minHeight = minHeight;
  p.maxHeight = maxHeight;
  return p;
}

terrain::HillParameters TRovandelParamsForm::ReadHill() const {
  terrain::HillParameters p;
  p.centreX = PercentOr(XGeoEdit, p.centreX);
  p.centreY = PercentOr(YGeoEdit, p.centreY);
  p.heightChange = FloatOrWhenEmpty(HeightEdit, p.heightChange);
  p.width = PercentOr(WidthEdit, p.width);
  return p;
}

terrain::NoiseParameters TRovandelParamsForm::ReadNoise(double minHeight, double maxHeight) {
  terrain::NoiseParameters p;
  const QString seedText = SeedEdit->GetText();
  if (seedText.isEmpty()) {
    p.seed = CNoiseGen().GetSeed();
    SeedEdit->SetText(IntToStr(p.seed));
  } else {
    p.seed = StrToInt(seedText);
  }
  p.noiseType = NoiseTypeCombo->GetItemIndex();
  p.amplitudePercent = AmpSpin->GetValue();
  p.coveragePercent = CoverSpin->GetValue();
  p.ignoreWater = WaterCheck->Checked();
  p.minHeight = minHeight;
  p.maxHeight = maxHeight;
  return p;
}
