#include "tests/support/ui.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <cstdlib>

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

QString PictureDifference(const QImage& shown, const QString& name) {
  const QString path = QStringLiteral(ROVANDEL_TEST_PICTURES "/") + name + ".png";
  const QImage picture = shown.convertToFormat(QImage::Format_RGB32);
  if (qEnvironmentVariableIntValue("ROVANDEL_STORE_PICTURES") == 1)
    return picture.save(path) ? QString() : "could not store " + path;
  const QImage stored = QImage(path).convertToFormat(QImage::Format_RGB32);
  if (stored.isNull()) return "no stored picture " + path;
  if (stored.size() != picture.size())
    return QString("%1 is %2 x %3, the stored one %4 x %5")
        .arg(name)
        .arg(picture.width())
        .arg(picture.height())
        .arg(stored.width())
        .arg(stored.height());
  // Off by a little anywhere (the renderer's rounding), or by much at a few pixels (an
  // edge drawn a pixel over); more than that is a different picture.
  double total = 0.0;
  qint64 far = 0;
  for (int y = 0; y < picture.height(); ++y) {
    const auto* a = reinterpret_cast<const QRgb*>(picture.constScanLine(y));
    const auto* b = reinterpret_cast<const QRgb*>(stored.constScanLine(y));
    for (int x = 0; x < picture.width(); ++x) {
      const int off =
          std::max({std::abs(qRed(a[x]) - qRed(b[x])), std::abs(qGreen(a[x]) - qGreen(b[x])),
                    std::abs(qBlue(a[x]) - qBlue(b[x]))});
      total += off;
      if (off > 48) ++far;
    }
  }
  const double pixels = static_cast<double>(picture.width()) * picture.height();
  const double mean = total / pixels;
  if (mean <= 2.0 && far <= pixels / 100) return {};
  picture.save(QDir::temp().filePath(name + "-shown.png"));
  return QString(
             "%1 differs from the stored picture: mean %2 levels, %3 pixels far off (shown "
             "in %4)")
      .arg(name)
      .arg(mean)
      .arg(far)
      .arg(QDir::temp().filePath(name + "-shown.png"));
}
