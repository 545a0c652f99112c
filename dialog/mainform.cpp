#include "dialog/mainform.h"

#include <QFont>

#include "components/conversions.h"
#include "rovandel/settings_schema.h"

namespace {

// Layout grid of the parameter pages: labels at the left, inputs right-aligned.
constexpr int kRowTop = 8;
constexpr int kRowStep = 24;
constexpr int kLabelLeft = 8;
constexpr int kInputRight = 233;
constexpr int kInputWidth = 81;
constexpr int kRowHeight = 21;
constexpr int kRadioStep = 16;
constexpr int kTypingLimitOfSeed = 5;

const QString kPositionMessage =
    QStringLiteral("Position value must be a valid number between 0.0 and 100.0");
const QString kHeightMessage = QStringLiteral("Height value must be a valid number");

int RowTop(int row) { return kRowTop + row * kRowStep; }

// What a field's change handler checks, says and puts back.
struct FieldCheck {
  bool integer;
  bool percentRange;
  QString message;
  double resetValue;
};

double ResetValue(settings_schema::Index index) {
  return settings_schema::kSettings[static_cast<size_t>(index)].resetValue;
}

const FieldCheck kSeedCheck{true, false, QStringLiteral("Seed value must be a valid integer"),
                            ResetValue(settings_schema::kSeed)};
const FieldCheck kPositionCheck{false, true, kPositionMessage, ResetValue(settings_schema::kXpos)};
const FieldCheck kHeightCheck{false, false, kHeightMessage, ResetValue(settings_schema::kHeight)};
const FieldCheck kWidthCheck{false, false, QStringLiteral("Width value must be a valid number"),
                             ResetValue(settings_schema::kRadius)};
const FieldCheck kFlattenHeightCheck{false, false, kHeightMessage,
                                     ResetValue(settings_schema::kFlattenHeight)};

// Tests the field's text as it stands. Setting the reset text runs the handler once
// more, nested, on a text that converts.
void CheckField(TEdit* field, const FieldCheck& check) {
  const QString text = field->GetText();
  if (text.isEmpty()) return;
  bool converted = true;
  try {
    if (check.integer) {
      StrToInt(text);
    } else {
      const double value = StrToFloat(text);
      if (check.percentRange && (value < 0.0 || value > 100.0)) {
        ShowMessage(check.message);
        return;
      }
    }
  } catch (...) {
    converted = false;
  }
  if (converted) return;
  ShowMessage(check.message);
  field->SetText(check.integer ? IntToStr(static_cast<int32_t>(check.resetValue))
                               : FloatToStr(check.resetValue));
}

}  // namespace

TRovandelParamsForm::TRovandelParamsForm(QWidget* owner) : TForm(owner) {
  BuildLayout();
  BindHandlers();
  PreviewShown = false;
  PushingPreview = false;
}

TRovandelParamsForm::~TRovandelParamsForm() = default;

void TRovandelParamsForm::BuildLayout() {
  setObjectName(QStringLiteral("RovandelParamsForm"));
  setWindowTitle(QStringLiteral("Rovandel Plugin"));
  QFont formFont = font();
  formFont.setPixelSize(11);
  setFont(formFont);
  // Over the window that opened it (the dialog centres itself on its parent when first
  // shown); with no window to open over, at its designed place on the screen.
  if (!parentWidget()) move(295, 110);
  setFixedSize(401, 185);

  GroupBox2 = Place(new TGroupBox(QStringLiteral("Actions"), this), "GroupBox2", 0, 0, 145, 153);
  auto radio = [&](const char* name, const char* caption, int index) {
    return Place(new TRadioButton(QString::fromLatin1(caption), GroupBox2), name, 8,
                 16 + index * kRadioStep, 134, 17);
  };
  FlattenRadio = radio("FlattenRadio", "Flatten", 0);
  GlaciateRadio = radio("GlaciateRadio", "Glaciate", 1);
  CanyonRadio = radio("CanyonRadio", "Canyonize", 2);
  SoftenRadio = radio("SoftenRadio", "Soften", 3);
  SoftenMoreRadio = radio("SoftenMoreRadio", "Soften more", 4);
  NoiseRadio = radio("NoiseRadio", "Add Noise", 5);
  HillRadio = radio("HillRadio", "Add Hill / Depression", 6);

  PageControl = Place(new TPageControl(this), "PageControl", 152, 0, 249, 153);
  // Compact tabs, so all five fit the page control's width.
  PageControl->setStyleSheet(QStringLiteral("QTabBar::tab { padding: 3px 4px; }"));
  auto page = [&](const char* name, const char* caption) {
    auto* sheet = new TTabSheet;
    sheet->setObjectName(QString::fromLatin1(name));
    PageControl->AddPage(sheet, QString::fromLatin1(caption));
    return sheet;
  };
  Flatten = page("Flatten", "Flatten");
  Glaciate = page("Glaciate", "Glaciate");
  Canyonize = page("Canyonize", "Canyonize");
  Noise = page("Noise", "Noise");
  Hills = page("Hills", "Hills");

  auto label = [&](TTabSheet* sheet, const char* name, const char* caption, int row) {
    return Place(new TLabel(QString::fromLatin1(caption), sheet), name, kLabelLeft, RowTop(row) + 3,
                 kInputRight - kInputWidth - kLabelLeft, 16);
  };
  auto input = [&](auto* control, const char* name, int row) {
    return Place(control, name, kInputRight - kInputWidth, RowTop(row), kInputWidth, kRowHeight);
  };

  Label9 = label(Flatten, "Label9", "Flatten Height", 0);
  FlattenHeightEdit = input(new TEdit(Flatten), "FlattenHeightEdit", 0);
  Label8 = label(Flatten, "Label8", "Severity %", 1);
  FlattenSpin = input(new TCSpinEdit(Flatten), "FlattenSpin", 1);

  Label10 = label(Glaciate, "Label10", "Severity %", 0);
  GlaciateSpin = input(new TCSpinEdit(Glaciate), "GlaciateSpin", 0);
  Label11 = label(Canyonize, "Label11", "Severity %", 0);
  CanyonizeSpin = input(new TCSpinEdit(Canyonize), "CanyonizeSpin", 0);

  Label1 = label(Noise, "Label1", "Noise", 0);
  NoiseTypeCombo = input(new TComboBox(Noise), "NoiseTypeCombo", 0);
  NoiseTypeCombo->addItems({QStringLiteral("Random"), QStringLiteral("Gaussian")});
  NoiseTypeCombo->SetItemIndex(-1);
  Label2 = label(Noise, "Label2", "Amplitude", 1);
  AmpSpin = input(new TCSpinEdit(Noise), "AmpSpin", 1);
  AmpSpin->SetValue(50);
  Label3 = label(Noise, "Label3", "Coverage", 2);
  CoverSpin = input(new TCSpinEdit(Noise), "CoverSpin", 2);
  CoverSpin->SetValue(50);
  Label4 = label(Noise, "Label4", "Seed", 3);
  SeedEdit = input(new TEdit(Noise), "SeedEdit", 3);
  SeedEdit->SetTypingLimit(kTypingLimitOfSeed);
  SeedEdit->SetText(IntToStr(static_cast<int32_t>(ResetValue(settings_schema::kSeed))));
  WaterCheck = Place(new TCheckBox(QStringLiteral("Ignore Water"), Noise), "WaterCheck", kLabelLeft,
                     RowTop(4), kInputRight - kLabelLeft, kRowHeight);
  WaterCheck->setLayoutDirection(Qt::RightToLeft);  // caption to the left of the box

  Label5 = label(Hills, "Label5", "Position (% x,y)", 0);
  const int half = (kInputWidth - 4) / 2;
  XGeoEdit =
      Place(new TEdit(Hills), "XGeoEdit", kInputRight - kInputWidth, RowTop(0), half, kRowHeight);
  YGeoEdit = Place(new TEdit(Hills), "YGeoEdit", kInputRight - half, RowTop(0), half, kRowHeight);
  Label6 = label(Hills, "Label6", "Height Change", 1);
  HeightEdit = input(new TEdit(Hills), "HeightEdit", 1);
  Label7 = label(Hills, "Label7", "Width", 2);
  WidthEdit = input(new TEdit(Hills), "WidthEdit", 2);

  PreviewButton =
      Place(new TButton(QStringLiteral("Preview"), this), "PreviewButton", 82, 160, 75, 25);
  OKButton = Place(new TButton(QStringLiteral("OK"), this), "OKButton", 164, 160, 75, 25);
  OKButton->ModalResult = mrOk;
  OKButton->setDefault(true);
  CancelButton =
      Place(new TButton(QStringLiteral("Cancel"), this), "CancelButton", 245, 160, 75, 25);
  CancelButton->ModalResult = mrCancel;

  FlattenRadio->SetChecked(true);
  PageControl->SetActivePage(Flatten);

  const QWidget* order[] = {OKButton,        CancelButton, HillRadio,    NoiseRadio,
                            SoftenMoreRadio, SoftenRadio,  FlattenRadio, GlaciateRadio,
                            CanyonRadio,     PageControl,  PreviewButton};
  for (size_t i = 0; i + 1 < std::size(order); ++i)
    setTabOrder(const_cast<QWidget*>(order[i]), const_cast<QWidget*>(order[i + 1]));
}

void TRovandelParamsForm::BindHandlers() {
  SeedEdit->OnChange = [this] { SeedEditChange(); };
  XGeoEdit->OnChange = [this] { XGeoEditChange(); };
  YGeoEdit->OnChange = [this] { YGeoEditChange(); };
  HeightEdit->OnChange = [this] { HeightEditChange(); };
  WidthEdit->OnChange = [this] { WidthEditChange(); };
  FlattenHeightEdit->OnChange = [this] { FlattenHeightEditChange(); };
  NoiseRadio->OnClick = [this] { NoiseRadioClick(); };
  HillRadio->OnClick = [this] { HillRadioClick(); };
  FlattenRadio->OnClick = [this] { FlattenRadioClick(); };
  GlaciateRadio->OnClick = [this] { GlaciateRadioClick(); };
  CanyonRadio->OnClick = [this] { CanyonRadioClick(); };
  PreviewButton->OnClick = [this] { PreviewButtonClick(); };
  OnCloseQuery = [this](bool& canClose) { FormCloseQuery(canClose); };
}

void TRovandelParamsForm::SeedEditChange() { CheckField(SeedEdit, kSeedCheck); }
void TRovandelParamsForm::XGeoEditChange() { CheckField(XGeoEdit, kPositionCheck); }
void TRovandelParamsForm::YGeoEditChange() { CheckField(YGeoEdit, kPositionCheck); }
void TRovandelParamsForm::HeightEditChange() { CheckField(HeightEdit, kHeightCheck); }
void TRovandelParamsForm::WidthEditChange() { CheckField(WidthEdit, kWidthCheck); }
void TRovandelParamsForm::FlattenHeightEditChange() {
  CheckField(FlattenHeightEdit, kFlattenHeightCheck);
}

void TRovandelParamsForm::NoiseRadioClick() { PageControl->SetActivePage(Noise); }
void TRovandelParamsForm::HillRadioClick() { PageControl->SetActivePage(Hills); }
void TRovandelParamsForm::FlattenRadioClick() { PageControl->SetActivePage(Flatten); }
void TRovandelParamsForm::GlaciateRadioClick() { PageControl->SetActivePage(Glaciate); }
void TRovandelParamsForm::CanyonRadioClick() { PageControl->SetActivePage(Canyonize); }

void TRovandelParamsForm::PreviewButtonClick() {
  PreviewButton->SetEnabled(false);
  // Enabled again even when the operation fails, so the dialog stays usable.
  struct EnableAgain {
    TButton* button;
    ~EnableAgain() { button->SetEnabled(true); }
  } enableAgain{PreviewButton};
  const int actionIndex = previewBackend.getActionIndex();
  previewBackend.runOperation(actionIndex);
  PreviewShown = true;
  previewBackend.pushPreview();
}

void TRovandelParamsForm::FormCloseQuery(bool& canClose) { canClose = !PushingPreview; }
