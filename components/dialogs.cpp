#include "components/dialogs.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMainWindow>
#include <QMessageBox>
#include <QPushButton>
#include <cstdlib>
#include <exception>

#include "rovandel/settings_schema.h"

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

void ShowMessage(const QString& text) {
  QMessageBox box(QMessageBox::NoIcon, QString::fromLatin1(settings_schema::kDisplayName), text,
                  QMessageBox::Ok, QApplication::activeWindow());
  box.setObjectName(QStringLiteral("ShowMessage"));
  box.exec();
}

TForm::TForm(QWidget* owner) : QDialog(owner) {}

int TForm::ShowModal() {
  setResult(mrNone);
  return exec();
}

bool TForm::CanClose() {
  bool canClose = true;
  if (OnCloseQuery) Dispatch([&] { OnCloseQuery(canClose); });
  return canClose;
}

void TForm::CloseWith(int modalResult) {
  if (CanClose()) done(modalResult);
}

void TForm::keyPressEvent(QKeyEvent* event) {
  // Escape is bound to no button. Enter presses the push button that has the focus, as
  // a user who tabbed to Cancel expects; elsewhere it is the dialog's usual handling
  // (the default button).
  if (event->key() == Qt::Key_Escape) {
    event->accept();
    return;
  }
  const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  auto* focused = qobject_cast<QPushButton*>(focusWidget());
  if (enter && focused && focused->isEnabled() && focused->isVisible()) {
    event->accept();
    focused->click();
    return;
  }
  QDialog::keyPressEvent(event);
}

// The close box and the window manager's close command end here too.
void TForm::reject() { CloseWith(mrCancel); }

void TScreen::SetCursor(TCursor cursor) {
  if (cursor == cursor_ || !qApp) return;
  if (cursor == crHourGlass) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
  } else {
    QApplication::restoreOverrideCursor();
  }
  cursor_ = cursor;
}

TScreen& Screen() {
  static TScreen screen;
  return screen;
}

namespace Application {

bool EnsureInstance(QString* whyNot) {
  if (QCoreApplication::instance()) {
    if (qobject_cast<QApplication*>(QCoreApplication::instance())) return true;
    *whyNot = QStringLiteral("the host runs a Qt application without widgets");
    return false;
  }
  const bool hasDisplay =
      std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY") || std::getenv("QT_QPA_PLATFORM");
  if (!hasDisplay) {
    *whyNot = QStringLiteral("there is no display to show the dialog on");
    return false;
  }
  // A host that is not a Qt program: one application for the rest of the process.
  static int argc = 1;
  static char name[] = "rovandel";
  static char* argv[] = {name, nullptr};
  new QApplication(argc, argv);
  return true;
}

QWidget* HostWindow() {
  if (QWidget* active = QApplication::activeWindow()) return active;
  for (QWidget* top : QApplication::topLevelWidgets())
    if (top->isVisible() && qobject_cast<QMainWindow*>(top)) return top;
  return nullptr;
}

}  // namespace Application
