// The operations as the dialog drives them: each reads its parameters from the
// controls at the moment it runs, an empty field standing for the parameter's default.
#include <algorithm>
#include <span>

#include "components/conversions.h"
#include "dialog/mainform.h"
#include "plugin/core.h"
#include "random/noise_gen.h"
#include "terrain/operations.h"

namespace {

terrain::GridSize Grid() { return {LandscapeInfo.GridWidth, LandscapeInfo.GridHeight}; }
std::span<const float> Source() { return {SourceHeights, Grid().Count()}; }
std::span<float> Result() { return {ResultHeights, Grid().Count()}; }

void Record(terrain::HeightRange range) {
  RunningMinimum = range.minimum;
  RunningMaximum = range.maximum;
}

double PercentOr(const TEdit* field, double whenEmpty) {
  return field->GetText().isEmpty() ? whenEmpty
                                    : terrain::PercentToFraction(FloatOrWhenEmpty(field, 0.0));
}

// An operation that stopped before writing every height leaves the fetched ones.
void KeepSourceHeights() { std::copy_n(SourceHeights, Grid().Count(), ResultHeights); }

terrain::ProfileParameters Profile(const TCSpinEdit* spin) {
  terrain::ProfileParameters p;
  p.severityPercent = spin->GetValue();
  p.minHeight = LandscapeInfo.MinHeight;
  p.maxHeight = LandscapeInfo.MaxHeight;
  return p;
}

}  // namespace

void RunOperation(int32_t actionIndex) {
  RunningMinimum = terrain::kRangeResetMinimum;
  RunningMaximum = terrain::kRangeResetMaximum;
  switch (actionIndex) {
    case kSoften: ApplySoften(); break;
    case kSoftenMore: ApplySoftenMore(); break;
    case kNoise: ApplyNoise(); break;
    case kHill: ApplyHill(); break;
    case kFlatten: ApplyFlatten(); break;
    case kGlaciate: ApplyGlaciate(); break;
    case kCanyonize: ApplyCanyonize(); break;
    default: break;
  }
}

void ApplySoften() { Record(terrain::Soften(Grid(), Source(), Result())); }

void ApplySoftenMore() { Record(terrain::SoftenMore(Grid(), Source(), Result())); }

void ApplyFlatten() {
  const TRovandelParamsForm& form = *RovandelParamsForm;
  terrain::FlattenParameters p;
  p.targetHeight = FloatOrWhenEmpty(form.FlattenHeightEdit, p.targetHeight);
  p.severityPercent = form.FlattenSpin->GetValue();
  Record(terrain::Flatten(Grid(), Source(), Result(), p));
}

void ApplyGlaciate() {
  Record(terrain::Glaciate(Grid(), Source(), Result(), Profile(RovandelParamsForm->GlaciateSpin)));
}

void ApplyCanyonize() {
  Record(
      terrain::Canyonize(Grid(), Source(), Result(), Profile(RovandelParamsForm->CanyonizeSpin)));
}

bool ApplyNoise() {
  try {
    TRovandelParamsForm& form = *RovandelParamsForm;
    terrain::NoiseParameters p;
    const QString seedText = form.SeedEdit->GetText();
    if (seedText.isEmpty()) {
      // A seed from the clock, shown in the field so the user can repeat the run.
      p.seed = CNoiseGen().GetSeed();
      form.SeedEdit->SetText(IntToStr(p.seed));
    } else {
      p.seed = StrToInt(seedText);
    }
    p.noiseType = form.NoiseTypeCombo->GetItemIndex();
    p.amplitudePercent = form.AmpSpin->GetValue();
    p.coveragePercent = form.CoverSpin->GetValue();
    p.ignoreWater = form.WaterCheck->Checked();
    p.minHeight = LandscapeInfo.MinHeight;
    p.maxHeight = LandscapeInfo.MaxHeight;
    const auto isWater = reinterpret_cast<IsWaterFn>(HostServices[kIsWater]);
    Record(terrain::AddNoise(Grid(), Source(), Result(), p, [isWater](int32_t x, int32_t y) {
      return (isWater(0, x, y) & 0xFF) != 0;
    }));
    return true;
  } catch (...) {
    KeepSourceHeights();
    return false;
  }
}

bool ApplyHill() {
  try {
    const TRovandelParamsForm& form = *RovandelParamsForm;
    terrain::HillParameters p;
    p.centreX = PercentOr(form.XGeoEdit, p.centreX);
    p.centreY = PercentOr(form.YGeoEdit, p.centreY);
    p.heightChange = FloatOrWhenEmpty(form.HeightEdit, p.heightChange);
    p.width = PercentOr(form.WidthEdit, p.width);
    Record(terrain::AddHill(Grid(), Source(), Result(), p));
    return true;
  } catch (...) {
    KeepSourceHeights();
    return false;
  }
}
