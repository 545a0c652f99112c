// Test main for suites that act as a host which is not a Qt program: no application
// of its own (the module brings one up), offscreen, with a private settings folder.
#include <gtest/gtest.h>

#include "tests/support/ui.h"

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  UseTemporarySettingsFolder();
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
