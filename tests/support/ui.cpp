#include "tests/support/ui.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include "rovandel/settings_schema.h"

namespace {
constexpr qint64 kModalWaitMs = 20000;
}  // namespace

MessageBoxAnswerer::MessageBoxAnswerer(QMessageBox::StandardButton answer) {
  QObject::connect(&timer_, &QTimer::timeout, [this, answer] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box || !box->isVisible()) return;
    texts << box->text();
    QAbstractButton* button = box->button(answer);
    if (!button) button = box->buttons().first();
    button->click();
  });
  timer_.start(2);
}

MessageBoxAnswerer::~MessageBoxAnswerer() { timer_.stop(); }

void WhenModalShown(const QString& objectName, std::function<void(QDialog*)> step) {
  auto* timer = new QTimer;
  QElapsedTimer waited;
  waited.start();
  QObject::connect(timer, &QTimer::timeout, [timer, objectName, step, waited] {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (!dialog || dialog->objectName() != objectName || !dialog->isVisible()) {
      if (waited.elapsed() < kModalWaitMs) return;
      // Never shown: say so rather than wait for ever, and close whatever is in the way.
      timer->stop();
      timer->deleteLater();
      ADD_FAILURE() << objectName.toStdString() << " was not shown within " << kModalWaitMs
                    << " ms";
      if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
      return;
    }
    timer->stop();
    timer->deleteLater();
    step(dialog);
  });
  timer->start(2);
}

void ClickButton(QWidget* dialog, const char* name) {
  auto* button = dialog->findChild<QPushButton*>(QString::fromLatin1(name));
  Q_ASSERT(button);
  QTest::mouseClick(button, Qt::LeftButton);
}

void UseTemporarySettingsFolder() {
  static QTemporaryDir folder;
  qputenv("XDG_CONFIG_HOME", folder.path().toLocal8Bit());
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder.path());
}

void ClearStoredSettings() {
  QSettings store(QSettings::NativeFormat, QSettings::UserScope, settings_schema::kCompany,
                  settings_schema::kProduct);
  store.clear();
  store.sync();
}
