// A host that is not a Qt program: the module brings up its own application, once.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QPushButton>
#include <QTimer>

#include "tests/plugin/test_host.h"
#include "tests/support/ui.h"

namespace {

TEST(NonQtHost, ModuleCreatesOneApplicationAndRuns) {
  ASSERT_EQ(QCoreApplication::instance(), nullptr);
  TestHost host(4, 4);
  // By the time heights are fetched the module's application exists; the "user"
  // is a timer in its event loop.
  host.onCall = [](const std::string& call) {
    if (call != "GetHeights") return;
    QTimer::singleShot(10, [] {
      for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == "RovandelParamsForm" && w->isVisible())
          w->findChild<QPushButton*>("OKButton")->click();
    });
  };
  host.Install();
  EXPECT_EQ(TestHost::Run(), 1);
  QCoreApplication* first = QCoreApplication::instance();
  ASSERT_NE(first, nullptr);
  EXPECT_NE(qobject_cast<QApplication*>(first), nullptr);
  host.calls.clear();
  EXPECT_EQ(TestHost::Run(), 1);
  EXPECT_EQ(QCoreApplication::instance(), first);
  EXPECT_EQ(host.calls.back(), "Redraw");

  // The host lets the module go; the application the module made lives on, so the
  // module must stay: Qt still points into it.
  TestHost::Unload();
  EXPECT_NE(dlopen(ROVANDEL_MODULE, RTLD_NOW | RTLD_NOLOAD), nullptr);
  EXPECT_FALSE(QCoreApplication::arguments().isEmpty());
  QCoreApplication::processEvents();
}

}  // namespace
