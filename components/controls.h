// The controls of the component layer: thin Qt widgets with the accessor names the
// plug-in's code uses, and events as plain callbacks. Every event handler runs through
// Dispatch, so an error in a handler is reported and never crosses Qt's event loop.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <functional>

#include "components/dialogs.h"

// Names, parents and geometry are set the same way for every control.
template <typename Widget>
Widget* Place(Widget* widget, const char* name, int left, int top, int width, int height) {
  widget->setObjectName(QString::fromLatin1(name));
  widget->setGeometry(left, top, width, height);
  return widget;
}

class TLabel : public QLabel {
 public:
  TLabel(const QString& caption, QWidget* parent) : QLabel(caption, parent) {}
};

class TGroupBox : public QGroupBox {
 public:
  TGroupBox(const QString& caption, QWidget* parent) : QGroupBox(caption, parent) {}
};

class TEdit : public QLineEdit {
 public:
  explicit TEdit(QWidget* parent);
  QString GetText() const { return text(); }
  // Raises OnChange like typing does, also when the text is set from code.
  void SetText(const QString& value);
  // Limits what the user can type: no edit makes the text longer than `characters` or
  // than it already was. Text set from code may be longer.
  void SetTypingLimit(int characters);
  TNotifyEvent OnChange;

 private:
  friend class TypingLimit;
  int typingLimit_ = -1;  // none when negative
  bool settingFromCode_ = false;
  qsizetype shownLength_ = 0;  // the length of the text before the edit being checked
};

// The field's number (StrToFloat), or whenEmpty when the field holds no text.
double FloatOrWhenEmpty(const TEdit* field, double whenEmpty);

class TCSpinEdit : public QSpinBox {
 public:
  explicit TCSpinEdit(QWidget* parent);
  int GetValue() const { return value(); }
  // Clamped to 0..100, as a user's entry would be.
  void SetValue(int v) { setValue(v); }
};

class TComboBox : public QComboBox {
 public:
  explicit TComboBox(QWidget* parent);
  int GetItemIndex() const { return currentIndex(); }
  // An index outside the items selects none (-1).
  void SetItemIndex(int index) { setCurrentIndex(index >= 0 && index < count() ? index : -1); }
};

class TRadioButton : public QRadioButton {
 public:
  TRadioButton(const QString& caption, QWidget* parent);
  bool Checked() const { return isChecked(); }
  // Checking raises OnClick, also from code.
  void SetChecked(bool on) { setChecked(on); }
  TNotifyEvent OnClick;
};

class TCheckBox : public QCheckBox {
 public:
  TCheckBox(const QString& caption, QWidget* parent) : QCheckBox(caption, parent) {}
  bool Checked() const { return isChecked(); }
  void SetChecked(bool on) { setChecked(on); }
};

class TTabSheet : public QWidget {
 public:
  explicit TTabSheet(QWidget* parent = nullptr) : QWidget(parent) {}
};

class TPageControl : public QTabWidget {
 public:
  explicit TPageControl(QWidget* parent) : QTabWidget(parent) {}
  void AddPage(TTabSheet* sheet, const QString& caption) { addTab(sheet, caption); }
  void SetActivePage(TTabSheet* sheet) { setCurrentWidget(sheet); }
  TTabSheet* ActivePage() const { return static_cast<TTabSheet*>(currentWidget()); }
};

class TButton : public QPushButton {
 public:
  TButton(const QString& caption, QWidget* parent);
  void SetEnabled(bool on) { setEnabled(on); }
  // A non-zero modal result closes the form with that result when clicked.
  int ModalResult = mrNone;
  TNotifyEvent OnClick;
};
