// The built module as a host sees it: loaded with dlopen, driven through the three
// entry points, its dialog operated by name as a user would.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QRadioButton>
#include <QSettings>
#include <QSpinBox>
#include <QTest>
#include <cstring>
#include <functional>
#include <random>
#include <thread>

#include "rovandel/settings_schema.h"
#include "terrain/operations.h"
#include "tests/plugin/test_host.h"
#include "tests/support/ui.h"

namespace {

using Calls = std::vector<std::string>;

template <typename W>
W* Find(QDialog* dialog, const char* name) {
  W* w = dialog->findChild<W*>(name);
  EXPECT_NE(w, nullptr) << name;
  return w;
}

// Clicks the radio button's indicator, where a user would.
void Choose(QDialog* dialog, const char* name) {
  auto* radio = Find<QRadioButton>(dialog, name);
  QTest::mouseClick(radio, Qt::LeftButton, {}, QPoint(6, radio->height() / 2));
  EXPECT_TRUE(radio->isChecked()) << name;
}

class ModuleTest : public testing::Test {
 protected:
  void SetUp() override {
    ClearStoredSettings();
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> h(0.0f, 100.0f);
    for (float& v : host.heights) v = h(rng);
    fetched = host.heights;
    host.Install();
  }
  TestHost host{9, 7};
  std::vector<float> fetched;
  MessageBoxAnswerer messages;
};

TEST_F(ModuleTest, DescribeWritesTheNameAndKindAndNothingElse) {
  char name[64];
  std::memset(name, 0xAB, sizeof name);
  int32_t kind[2] = {0, 77};
  TestHost::Describe()(name, kind);
  EXPECT_STREQ(name, "Landscape Rovandel");
  for (size_t i = sizeof "Landscape Rovandel"; i < sizeof name; ++i)
    EXPECT_EQ(static_cast<unsigned char>(name[i]), 0xAB);
  EXPECT_EQ(kind[0], 2);
  EXPECT_EQ(kind[1], 77);
}

TEST_F(ModuleTest, OkAppliesTheActionAndUpdatesTheRange) {
  WhenModalShown("RovandelParamsForm", [](QDialog* d) {
    Choose(d, "SoftenRadio");
    ClickButton(d, "OKButton");
  });
  const LandscapeInfoRecord before = host.info;
  EXPECT_EQ(TestHost::Run(), 1);
  EXPECT_EQ(host.calls, (Calls{"GetLandscapeInfo", "GetHeights", "SetHeights", "GetLandscapeInfo",
                               "SetLandscapeInfo", "Redraw"}));
  std::vector<float> expected(fetched.size());
  const auto range = terrain::Soften({9, 7}, fetched, expected);
  EXPECT_EQ(host.heights, expected);
  EXPECT_EQ(host.info.MaxHeight, static_cast<double>(range.maximum));
  EXPECT_EQ(host.info.MinHeight, static_cast<double>(range.minimum));
  // Every byte but the range is the host's own.
  EXPECT_EQ(std::memcmp(&before, &host.info, 24), 0);
  EXPECT_EQ(std::memcmp(reinterpret_cast<const char*>(&before) + 40,
                        reinterpret_cast<const char*>(&host.info) + 40, sizeof before - 40),
            0);
  EXPECT_EQ(TestHost::FormPointer(), nullptr);
  EXPECT_EQ(QSettings(QSettings::NativeFormat, QSettings::UserScope, settings_schema::kCompany,
                      settings_schema::kProduct)
                .value(QString(settings_schema::kSection) + "/Action")
                .toInt(),
            0);
}

TEST_F(ModuleTest, CancelWithoutPreviewSendsNothing) {
  WhenModalShown("RovandelParamsForm", [](QDialog* d) { ClickButton(d, "CancelButton"); });
  EXPECT_EQ(TestHost::Run(), 0);
  EXPECT_EQ(host.calls, (Calls{"GetLandscapeInfo", "GetHeights"}));
  EXPECT_FALSE(QSettings(QSettings::NativeFormat, QSettings::UserScope, settings_schema::kCompany,
                         settings_schema::kProduct)
                   .contains(QString(settings_schema::kSection) + "/Action"));
}

TEST_F(ModuleTest, CancelAfterPreviewsPutsTheFetchedHeightsBack) {
  WhenModalShown("RovandelParamsForm", [](QDialog* d) {
    Choose(d, "FlattenRadio");
    Find<QSpinBox>(d, "FlattenSpin")->setValue(100);
    ClickButton(d, "PreviewButton");
    ClickButton(d, "PreviewButton");
    ClickButton(d, "CancelButton");
  });
  EXPECT_EQ(TestHost::Run(), 0);
  EXPECT_EQ(host.calls, (Calls{"GetLandscapeInfo", "GetHeights", "SetHeights", "Redraw",
                               "SetHeights", "Redraw", "SetHeights", "Redraw"}));
  // Both previews computed from the fetched heights: a plane at 0.
  EXPECT_EQ(host.sentHeights[0], std::vector<float>(fetched.size(), 0.0f));
  EXPECT_EQ(host.sentHeights[1], host.sentHeights[0]);
  EXPECT_EQ(host.heights, fetched);
  EXPECT_EQ(host.info.MaxHeight, 100.0);
}

TEST_F(ModuleTest, RangeIsLeftAloneWhenTheResultHasOneHeightOrNone) {
  WhenModalShown("RovandelParamsForm", [](QDialog* d) {
    Choose(d, "CanyonRadio");
    Find<QSpinBox>(d, "CanyonizeSpin")->setValue(0);  // every height becomes 0
    ClickButton(d, "OKButton");
  });
  EXPECT_EQ(TestHost::Run(), 1);
  EXPECT_EQ(host.calls, (Calls{"GetLandscapeInfo", "GetHeights", "SetHeights", "Redraw"}));
  EXPECT_EQ(host.heights, std::vector<float>(fetched.size(), 0.0f));

  // Noise ignoring water where everything is water records no height at all.
  host.calls.clear();
  host.water = [](int32_t, int32_t) { return true; };
  WhenModalShown("RovandelParamsForm", [](QDialog* d) {
    Choose(d, "NoiseRadio");
    Find<QCheckBox>(d, "WaterCheck")->setChecked(true);
    ClickButton(d, "OKButton");
  });
  EXPECT_EQ(TestHost::Run(), 1);
  EXPECT_EQ(host.calls, (Calls{"GetLandscapeInfo", "GetHeights", "SetHeights", "Redraw"}));
}

TEST_F(ModuleTest, FlatResultOfFlattenStillGetsARange) {
  WhenModalShown("RovandelParamsForm", [](QDialog* d) {
    Choose(d, "FlattenRadio");
    Find<QLineEdit>(d, "FlattenHeightEdit")->setText("12.5");
    Find<QSpinBox>(d, "FlattenSpin")->setValue(100);
    ClickButton(d, "OKButton");
  });
  EXPECT_EQ(TestHost::Run(), 1);
  EXPECT_EQ(host.info.MinHeight, 12.5);
  EXPECT_EQ(host.info.MaxHeight, 1012.5);
}

TEST_F(ModuleTest, WaterIsAskedOnlyWhenIgnoreWaterIsChecked) {
  int asked = 0;
  host.water = [&](int32_t x, int32_t y) {
    ++asked;
    return x < 3 && y < 7;  // the three left columns are a lake
  };
  WhenModalShown("RovandelParamsForm", [](QDialog* d) {
    Choose(d, "NoiseRadio");
    Find<QCheckBox>(d, "WaterCheck")->setChecked(false);
    Find<QSpinBox>(d, "CoverSpin")->setValue(100);
    ClickButton(d, "OKButton");
  });
  EXPECT_EQ(TestHost::Run(), 1);
  EXPECT_EQ(asked, 0);

  host.heights = fetched;
  WhenModalShown("RovandelParamsForm", [](QDialog* d) {
    Find<QCheckBox>(d, "WaterCheck")->setChecked(true);
    ClickButton(d, "OKButton");
  });
  EXPECT_EQ(TestHost::Run(), 1);
  EXPECT_EQ(asked, 9 * 7);
  for (int y = 0; y < 7; ++y) {
    for (int x = 0; x < 3; ++x) EXPECT_EQ(host.heights[y * 9 + x], fetched[y * 9 + x]);
  }
}

// The services are the host's, called on its own thread, however many threads the
// operations use: a host that checks its thread sees every water question there, in
// walk order.
TEST(ModuleThreads, WaterIsAskedOnTheHostsThreadInWalkOrder) {
  ClearStoredSettings();
  TestHost host(400, 300);  // large enough to be shared out
  host.Install();
  const std::thread::id hostThread = std::this_thread::get_id();
  int asked = 0, elsewhere = 0, outOfOrder = 0;
  host.water = [&](int32_t x, int32_t y) {
    if (std::this_thread::get_id() != hostThread) ++elsewhere;
    if (x * 300 + y != asked) ++outOfOrder;
    ++asked;
    return x < 40;
  };
  qputenv("ROVANDEL_THREADS", "4");
  MessageBoxAnswerer messages;
  WhenModalShown("RovandelParamsForm", [](QDialog* d) {
    Choose(d, "NoiseRadio");
    Find<QCheckBox>(d, "WaterCheck")->setChecked(true);
    ClickButton(d, "OKButton");
  });
  EXPECT_EQ(TestHost::Run(), 1);
  qunsetenv("ROVANDEL_THREADS");
  EXPECT_EQ(asked, 400 * 300);
  EXPECT_EQ(elsewhere, 0);
  EXPECT_EQ(outOfOrder, 0);
}

TEST_F(ModuleTest, NoiseWithAnEmptySeedShowsTheSeedItUsed) {
  QString seedAfterPreview;
  WhenModalShown("RovandelParamsForm", [&](QDialog* d) {
    Choose(d, "NoiseRadio");
    Find<QLineEdit>(d, "SeedEdit")->clear();
    ClickButton(d, "PreviewButton");
    seedAfterPreview = Find<QLineEdit>(d, "SeedEdit")->text();
    ClickButton(d, "OKButton");
  });
  EXPECT_EQ(TestHost::Run(), 1);
  EXPECT_FALSE(seedAfterPreview.isEmpty());
  // The OK run used the same seed as the preview, so it sent the same heights.
  EXPECT_EQ(host.sentHeights[0], host.sentHeights[1]);
  EXPECT_TRUE(messages.texts.isEmpty());
}

TEST_F(ModuleTest, SettingsSurviveBetweenRuns) {
  WhenModalShown("RovandelParamsForm", [](QDialog* d) {
    Choose(d, "GlaciateRadio");
    Find<QSpinBox>(d, "GlaciateSpin")->setValue(42);
    ClickButton(d, "OKButton");
  });
  EXPECT_EQ(TestHost::Run(), 1);
  bool glaciate = false;
  int severity = -1;
  WhenModalShown("RovandelParamsForm", [&](QDialog* d) {
    glaciate = Find<QRadioButton>(d, "GlaciateRadio")->isChecked();
    severity = Find<QSpinBox>(d, "GlaciateSpin")->value();
    ClickButton(d, "CancelButton");
  });
  EXPECT_EQ(TestHost::Run(), 0);
  EXPECT_TRUE(glaciate);
  EXPECT_EQ(severity, 42);
}

// An operation that fails (through the module's fault hook) sends no result, puts back
// what a preview showed, returns 0 and says why; a failing Preview leaves the dialog
// usable. Add Noise and Add Hill catch their own failures: the run must not take that
// for success.
struct Failing {
  const char* radio;
  const char* fault;
  const char* says;
  friend void PrintTo(const Failing& f, std::ostream* os) { *os << f.radio; }
};

class FailingOperation : public ModuleTest, public testing::WithParamInterface<Failing> {
 protected:
  void TearDown() override { qunsetenv("ROVANDEL_FAULT_INJECTION"); }
};

TEST_P(FailingOperation, SendsNothingAndTellsTheUser) {
  const Failing failing = GetParam();
  WhenModalShown("RovandelParamsForm", [failing](QDialog* d) {
    Choose(d, failing.radio);
    ClickButton(d, "PreviewButton");
    qputenv("ROVANDEL_FAULT_INJECTION", failing.fault);
    ClickButton(d, "OKButton");
  });
  EXPECT_EQ(TestHost::Run(), 0);
  EXPECT_EQ(host.calls, (Calls{"GetLandscapeInfo", "GetHeights", "SetHeights", "Redraw",
                               "SetHeights", "Redraw"}));
  EXPECT_EQ(host.heights, fetched);
  ASSERT_EQ(messages.texts.size(), 1);
  EXPECT_TRUE(messages.texts[0].contains(failing.says)) << messages.texts[0].toStdString();
}

TEST_P(FailingOperation, AFailedPreviewKeepsTheDialogUsable) {
  const Failing failing = GetParam();
  bool previewEnabled = false;
  qputenv("ROVANDEL_FAULT_INJECTION", failing.fault);
  WhenModalShown("RovandelParamsForm", [&](QDialog* d) {
    Choose(d, failing.radio);
    ClickButton(d, "PreviewButton");
    previewEnabled = Find<QWidget>(d, "PreviewButton")->isEnabled();
    ClickButton(d, "CancelButton");
  });
  EXPECT_EQ(TestHost::Run(), 0);
  EXPECT_TRUE(previewEnabled);
  EXPECT_EQ(host.calls, (Calls{"GetLandscapeInfo", "GetHeights"}));
  ASSERT_EQ(messages.texts.size(), 1);
  EXPECT_TRUE(messages.texts[0].contains(failing.says)) << messages.texts[0].toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Operations, FailingOperation,
    testing::Values(Failing{"FlattenRadio", "flatten", "injected fault in flatten"},
                    Failing{"HillRadio", "hill", "Add Hill / Depression could not be applied"},
                    Failing{"NoiseRadio", "noise", "Add Noise could not be applied"}),
    [](const auto& info) { return std::string(info.param.radio); });

TEST_F(ModuleTest, UnwritableSettingsStillApplyAndTellTheUser) {
  const QString file = QSettings(QSettings::NativeFormat, QSettings::UserScope,
                                 settings_schema::kCompany, settings_schema::kProduct)
                           .fileName();
  QFile::remove(file);
  ASSERT_TRUE(QDir().mkpath(file));  // a folder where the file should be
  WhenModalShown("RovandelParamsForm", [](QDialog* d) {
    Choose(d, "SoftenMoreRadio");
    ClickButton(d, "OKButton");
  });
  EXPECT_EQ(TestHost::Run(), 1);
  QDir(file).removeRecursively();
  std::vector<float> expected(fetched.size());
  terrain::SoftenMore({9, 7}, fetched, expected);
  EXPECT_EQ(host.heights, expected);
  ASSERT_EQ(messages.texts.size(), 1);
  EXPECT_TRUE(messages.texts[0].contains("settings were not saved"));
}

// A table whose every service only notes that it was called.
bool foreignCalled = false;
int32_t ROVANDEL_STDCALL ForeignService() {
  foreignCalled = true;
  return 0;
}
const HostServiceEntry* ForeignTable() {
  static HostServiceEntry table[kHostServiceCount];
  for (auto& entry : table) entry.function = reinterpret_cast<HostFunction>(&ForeignService);
  return table;
}

// A host that calls back into the module from one of its services, during a run: a
// nested run is refused, and a new table (or none) waits until the run is over, so the
// run finishes with the host it started with and nothing crashes; the next run has the
// new table.
struct ReentrantCall {
  const char* name;
  std::function<int32_t()> call;  // what the host does from its SetHeights service
};

class Reentrant : public ModuleTest, public testing::WithParamInterface<ReentrantCall> {};

TEST_P(Reentrant, LeavesTheRunWithTheTableItStartedWith) {
  foreignCalled = false;
  int32_t nested = -1;
  host.onCall = [&](const std::string& call) {
    if (call == "SetHeights" && nested < 0) nested = GetParam().call();
  };
  WhenModalShown("RovandelParamsForm", [](QDialog* d) {
    Choose(d, "SoftenRadio");
    ClickButton(d, "PreviewButton");
    ClickButton(d, "OKButton");
  });
  EXPECT_EQ(TestHost::Run(), 1);
  EXPECT_EQ(nested, 0);
  EXPECT_FALSE(foreignCalled);
  EXPECT_EQ(host.calls.back(), "Redraw");
  EXPECT_EQ(host.sentHeights.size(), 2u);  // the preview and OK, both to this host
  // The last table handed over takes effect once the run is over.
  if (std::string(GetParam().name) == "InitWithAnotherTable") {
    WhenModalShown("RovandelParamsForm", [](QDialog* d) { ClickButton(d, "CancelButton"); });
    EXPECT_EQ(TestHost::Run(), 0);
    EXPECT_TRUE(foreignCalled);
    host.Install();
  }
}

INSTANTIATE_TEST_SUITE_P(Calls, Reentrant,
                         testing::Values(ReentrantCall{"NestedRun", [] { return TestHost::Run(); }},
                                         ReentrantCall{"InitWithoutTable",
                                                       [] {
                                                         TestHost::Init(nullptr);
                                                         return 0;
                                                       }},
                                         ReentrantCall{"InitWithAnotherTable",
                                                       [] {
                                                         TestHost::Init(ForeignTable());
                                                         return 0;
                                                       }}),
                         [](const auto& info) { return std::string(info.param.name); });

// A host whose service throws (a C++ host's exception through the table) at any call of
// a Preview and Cancel or a Preview and OK run: the process lives, a failed run returns
// 0 with the landscape as it was fetched, and the next run works.
class ThrowingHost : public ModuleTest, public testing::WithParamInterface<const char*> {};

TEST_P(ThrowingHost, FailsTheRunAtAnyCallAndLeavesTheLandscape) {
  const std::string service = GetParam();
  auto script = [](const char* last) {
    WhenModalShown("RovandelParamsForm", [last](QDialog* d) {
      Choose(d, "SoftenRadio");
      ClickButton(d, "PreviewButton");
      ClickButton(d, last);
    });
  };
  for (const char* last : {"CancelButton", "OKButton"}) {
    int calls = 0;  // in a run where nothing throws
    host.onCall = [&](const std::string& call) { calls += call == service; };
    script(last);
    TestHost::Run();
    host.heights = fetched;
    for (int k = 1; k <= calls; ++k) {
      SCOPED_TRACE(service + " throwing at call " + std::to_string(k) + ", then " + last);
      int seen = 0;
      host.onCall = [&](const std::string& call) {
        if (call == service && ++seen == k) throw std::runtime_error("the host failed");
      };
      // The landscape and the heights are fetched before the dialog shows.
      const bool beforeDialog =
          k == 1 && (service == "GetLandscapeInfo" || service == "GetHeights");
      if (!beforeDialog) script(last);
      if (TestHost::Run() == 0) {
        EXPECT_EQ(host.heights, fetched);
      }
      host.heights = fetched;
    }
  }
  host.onCall = nullptr;
  script("OKButton");
  EXPECT_EQ(TestHost::Run(), 1);
}

INSTANTIATE_TEST_SUITE_P(Services, ThrowingHost,
                         testing::Values("GetLandscapeInfo", "SetLandscapeInfo", "GetHeights",
                                         "SetHeights", "Redraw"));

struct BadSize {
  int32_t width, height;
  friend void PrintTo(const BadSize& b, std::ostream* os) { *os << b.width << " x " << b.height; }
};
class UnsupportedGrid : public testing::TestWithParam<BadSize> {};

TEST_P(UnsupportedGrid, EndsTheRunBeforeFetchingHeights) {
  ClearStoredSettings();
  MessageBoxAnswerer messages;
  TestHost host(GetParam().width, GetParam().height);
  host.Install();
  EXPECT_EQ(TestHost::Run(), 0);
  EXPECT_EQ(host.calls, (Calls{"GetLandscapeInfo"}));
  EXPECT_EQ(messages.texts.size(), 1);
}

INSTANTIATE_TEST_SUITE_P(Sizes, UnsupportedGrid,
                         testing::Values(BadSize{-5, 10}, BadSize{32768, 32768},
                                         BadSize{65536, 65537}, BadSize{-65536, -65536}),
                         [](const auto& info) {
                           auto side = [](int32_t v) {
                             return (v < 0 ? "minus" : "") + std::to_string(v < 0 ? -v : v);
                           };
                           return side(info.param.width) + "x" + side(info.param.height);
                         });

}  // namespace
