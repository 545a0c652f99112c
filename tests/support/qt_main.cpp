// Test main for suites that need a widget application: offscreen, with a private
// settings folder.
#include <gtest/gtest.h>

#include <QApplication>

#include "tests/support/ui.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  UseTemporarySettingsFolder();
  QApplication app(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
