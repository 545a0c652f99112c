// Helpers that act as the user of a modal Qt dialog: they answer message boxes and
// drive a dialog once it is shown, from timers that run inside its modal loop.
#pragma once

#include <QDialog>
#include <QImage>
#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <functional>

// While alive, answers every message box with the given button (OK unless told
// otherwise; the box's first button when it has not that one) and keeps its text.
class MessageBoxAnswerer {
 public:
  explicit MessageBoxAnswerer(QMessageBox::StandardButton answer = QMessageBox::Ok);
  ~MessageBoxAnswerer();
  QStringList texts;

 private:
  QTimer timer_;
};

// Runs step once the top-level widget with the given object name is the active modal
// widget (as it is during its exec()). A test fails when it is not shown within 20 s.
void WhenModalShown(const QString& objectName, std::function<void(QDialog*)> step);

// Clicks the named button of the dialog.
void ClickButton(QWidget* dialog, const char* name);

// Points the per-user settings store at a fresh temporary folder for this process.
void UseTemporarySettingsFolder();
// Removes every stored setting.
void ClearStoredSettings();

// Compares a picture with the stored one of that name (tests/pictures/<name>.png): empty
// when they match within a tolerance that absorbs rounding in a renderer, else what is
// off. With ROVANDEL_STORE_PICTURES=1 in the environment, stores the picture instead.
QString PictureDifference(const QImage& shown, const QString& name);
