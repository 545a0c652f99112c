#include "components/controls.h"

#include <QRegularExpressionValidator>
#include <exception>

#include "components/conversions.h"
#include "components/dialogs.h"

void ReportError(const QString& what) { ShowMessage(what); }

void Dispatch(const TNotifyEvent& handler) {
  if (!handler) return;
  try {
    handler();
  } catch (const std::exception& e) {
    ReportError(QString::fromLocal8Bit(e.what()));
  } catch (...) {
    ReportError(QStringLiteral("An unexpected error occurred."));
  }
}

TEdit::TEdit(QWidget* parent) : QLineEdit(parent) {
  connect(this, &QLineEdit::textChanged, this, [this] { Dispatch(OnChange); });
}

void TEdit::SetTypingLimit(int characters) {
  const QRegularExpression pattern(QStringLiteral("^.{0,%1}$").arg(characters),
                                   QRegularExpression::DotMatchesEverythingOption);
  setValidator(new QRegularExpressionValidator(pattern, this));
}

double FloatOrWhenEmpty(const TEdit* field, double whenEmpty) {
  const QString text = field->GetText();
  return text.isEmpty() ? whenEmpty : StrToFloat(text);
}

TCSpinEdit::TCSpinEdit(QWidget* parent) : QSpinBox(parent) {
  setRange(0, 100);
  setSingleStep(1);
}

TComboBox::TComboBox(QWidget* parent) : QComboBox(parent) { setEditable(false); }

TRadioButton::TRadioButton(const QString& caption, QWidget* parent)
    : QRadioButton(caption, parent) {
  connect(this, &QRadioButton::toggled, this, [this](bool on) {
    if (on) Dispatch(OnClick);
  });
}

TButton::TButton(const QString& caption, QWidget* parent) : QPushButton(caption, parent) {
  setAutoDefault(false);
  connect(this, &QPushButton::clicked, this, [this] {
    Dispatch(OnClick);
    if (ModalResult == mrNone) return;
    if (auto* form = dynamic_cast<TForm*>(window())) form->CloseWith(ModalResult);
  });
}
