#include "host/plugins/auto_answer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <cstdio>

namespace host {

AutoAnswer::AutoAnswer(bool unseen) : unseen_(unseen) {
  qApp->installEventFilter(this);
  QObject::connect(&timer_, &QTimer::timeout, [this] { Answer(); });
  timer_.start(20);
}

AutoAnswer::~AutoAnswer() { qApp->removeEventFilter(this); }

void AutoAnswer::Answer() {
  QWidget* modal = QApplication::activeModalWidget();
  if (!modal || !modal->isVisible()) return;
  if (auto* box = qobject_cast<QMessageBox*>(modal)) {
    std::fprintf(stderr, "message: %s\n", qPrintable(box->text()));
    messages_.push_back(box->text().toStdString());
    QAbstractButton* ok = box->button(QMessageBox::Ok);
    if (!ok && !box->buttons().isEmpty()) ok = box->buttons().first();
    if (ok) ok->click();
    return;
  }
  if (qobject_cast<QDialog*>(modal)) {
    // The dialog's default button, as Enter from a field presses it; Enter itself for
    // a dialog that has none.
    for (auto* button : modal->findChildren<QPushButton*>())
      if (button->isDefault() && button->isEnabled()) {
        button->click();
        return;
      }
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_Return, Qt::NoModifier);
    QWidget* target = modal->focusWidget() ? modal->focusWidget() : modal;
    QApplication::sendEvent(target, &press);
    QApplication::sendEvent(target, &release);
  }
}

bool AutoAnswer::eventFilter(QObject* watched, QEvent* event) {
  auto* dialog = qobject_cast<QDialog*>(watched);
  if (!dialog || !dialog->isWindow()) return QObject::eventFilter(watched, event);
  // Polished just before it is first shown: kept off the screen from then on.
  if (event->type() == QEvent::Polish && unseen_) dialog->setAttribute(Qt::WA_DontShowOnScreen);
  // Answered as soon as its loop runs, not at the timer's next look: a sculpting dab that
  // runs the plug-in waits for it.
  if (event->type() == QEvent::Show)
    QMetaObject::invokeMethod(
        this, [this] { Answer(); }, Qt::QueuedConnection);
  return QObject::eventFilter(watched, event);
}

}  // namespace host
