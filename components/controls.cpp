#include "components/controls.h"

#include <QValidator>
#include <algorithm>

#include "components/conversions.h"
#include "components/dialogs.h"

// Refuses a user's edit that would make the field longer than its limit or than it
// was; of a pasted text it keeps the first characters that fit. It must accept what code
// sets: QLineEdit reverts a refused edit only while the text before it was accepted.
class TypingLimit : public QValidator {
 public:
  explicit TypingLimit(TEdit* edit) : QValidator(edit), edit_(edit) {}
  State validate(QString& input, int& cursor) const override {
    if (edit_->settingFromCode_) return Acceptable;
    const qsizetype allowed = std::max<qsizetype>(edit_->typingLimit_, edit_->shownLength_);
    const qsizetype excess = input.size() - allowed;
    if (excess <= 0) return Acceptable;
    // What the edit inserted ends at the cursor; drop its end, if some of it fits.
    const qsizetype inserted = input.size() - edit_->shownLength_;
    if (inserted <= excess || cursor < excess) return Invalid;
    input.remove(cursor - excess, excess);
    cursor -= static_cast<int>(excess);
    return Acceptable;
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
  setCursorPosition(0);  // a number longer than the field shows its leading digits
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
    if (!on) return;
    // Tab stops at the checked button of a group only, as in any radio group; a click
    // or an arrow key still reaches the others.
    if (parentWidget())
      for (auto* sibling : parentWidget()->findChildren<TRadioButton*>(Qt::FindDirectChildrenOnly))
        sibling->setFocusPolicy(sibling == this ? Qt::StrongFocus : Qt::ClickFocus);
    Dispatch(OnClick);
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
