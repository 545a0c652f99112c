#include "components/controls.h"

#include <QValidator>
#include <algorithm>

#include "components/conversions.h"
#include "components/dialogs.h"

// Refuses a user's edit that would make the field longer than its limit or than it
// was. It must accept what code sets: QLineEdit reverts a refused edit only while the
// text before it was accepted.
class TypingLimit : public QValidator {
 public:
  explicit TypingLimit(TEdit* edit) : QValidator(edit), edit_(edit) {}
  State validate(QString& input, int&) const override {
    if (edit_->settingFromCode_) return Acceptable;
    const qsizetype allowed = std::max<qsizetype>(edit_->typingLimit_, edit_->shownLength_);
    return input.size() <= allowed ? Acceptable : Invalid;
  }

 private:
  TEdit* edit_;
};

TEdit::TEdit(QWidget* parent) : QLineEdit(parent) {
  connect(this, &QLineEdit::textChanged, this, [this](const QString& text) {
    shownLength_ = text.size();
    Dispatch(OnChange);
  });
}

void TEdit::SetText(const QString& value) {
  settingFromCode_ = true;
  setText(value);
  settingFromCode_ = false;
}

void TEdit::SetTypingLimit(int characters) {
  typingLimit_ = characters;
  shownLength_ = text().size();
  setValidator(new TypingLimit(this));
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
