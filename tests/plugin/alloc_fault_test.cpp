// Allocation failure of each working buffer, in a process whose address space is
// limited so that exactly that allocation fails: the run ends with 0, the host's
// heights and range are untouched, and the module works again afterwards.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <QApplication>
#include <QPushButton>
#include <QTimer>
#include <cstring>
#include <fstream>
#include <string>

#include "tests/plugin/test_host.h"
#include "tests/support/ui.h"

namespace {

long StatusKilobytes(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string key;
  long value = 0;
  while (status >> key)
    if (key == field) {
      status >> value;
      return value;
    }
  return 0;
}

// Presses a button of the dialog as soon as it shows, from the module's event loop.
void PressWhenShown(const char* button) {
  QTimer::singleShot(5, [button] {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (w->objectName() == "RovandelParamsForm" && w->isVisible())
        w->findChild<QPushButton*>(button)->click();
  });
}

int32_t RunCancelled(TestHost& host) {
  host.onCall = [](const std::string& call) {
    if (call == "GetHeights") PressWhenShown("CancelButton");
  };
  return TestHost::Run();
}

class AllocationFailure : public testing::TestWithParam<int> {};

TEST_P(AllocationFailure, EndsTheRunAndLeavesTheHostAlone) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer reserves more address space than any limit allows";
#endif
  {
    TestHost warmUp(4, 4);  // brings up the module's application and dialog once
    warmUp.Install();
    ASSERT_EQ(RunCancelled(warmUp), 0);
  }
  constexpr int32_t kSide = 4000;  // 61 MB a buffer
  TestHost host(kSide, kSide);
  for (size_t i = 0; i < host.heights.size(); ++i) host.heights[i] = static_cast<float>(i % 997);
  const std::vector<float> fetched = host.heights;
  const LandscapeInfoRecord record = host.info;
  host.Install();

  const int failing = GetParam();  // which buffer cannot be had: 1 or 2
  MessageBoxAnswerer messages;
  const long resident = StatusKilobytes("VmRSS:");
  rlimit original;
  getrlimit(RLIMIT_AS, &original);
  const rlim_t slackKb = failing == 1 ? 32 * 1024 : (64 + 32) * 1024;
  rlimit limited = original;
  limited.rlim_cur = static_cast<rlim_t>(StatusKilobytes("VmSize:") + slackKb) * 1024;
  ASSERT_EQ(setrlimit(RLIMIT_AS, &limited), 0);
  const int32_t result = TestHost::Run();
  ASSERT_EQ(setrlimit(RLIMIT_AS, &original), 0);

  EXPECT_EQ(result, 0);
  ASSERT_EQ(messages.texts.size(), 1);
  EXPECT_TRUE(messages.texts[0].startsWith("There is not enough memory"))
      << messages.texts[0].toStdString();
  std::vector<std::string> expected{"GetLandscapeInfo"};
  if (failing == 2) expected.push_back("GetHeights");
  EXPECT_EQ(host.calls, expected);
  EXPECT_EQ(host.heights, fetched);
  EXPECT_EQ(std::memcmp(&record, &host.info, sizeof record), 0);
  EXPECT_LT(StatusKilobytes("VmRSS:") - resident, 8 * 1024) << "memory kept after the failure";

  host.calls.clear();
  EXPECT_EQ(RunCancelled(host), 0);  // and the module still works
  EXPECT_EQ(host.calls, (std::vector<std::string>{"GetLandscapeInfo", "GetHeights"}));
}

INSTANTIATE_TEST_SUITE_P(Buffers, AllocationFailure, testing::Values(1, 2), [](const auto& info) {
  return std::string(info.param == 1 ? "SourceHeights" : "ResultHeights");
});

}  // namespace
