// The module under abuse: a monkey at the dialog, landscapes full of non-finite
// heights, and many runs in one process.
#include <gtest/gtest.h>

#include <QAbstractSpinBox>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabBar>
#include <QTest>
#include <cmath>
#include <fstream>
#include <limits>
#include <random>

#include "components/conversions.h"
#include "tests/plugin/test_host.h"
#include "tests/support/ui.h"

namespace {

const char* const kNumericFields[] = {"SeedEdit",   "XGeoEdit",  "YGeoEdit",
                                      "HeightEdit", "WidthEdit", "FlattenHeightEdit"};
const char* const kRadios[] = {"SoftenRadio",  "SoftenMoreRadio", "NoiseRadio", "HillRadio",
                               "FlattenRadio", "GlaciateRadio",   "CanyonRadio"};

// One random thing a user might do to the dialog.
void RandomEvent(QDialog* d, std::mt19937& rng) {
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  static const QString kChars = "0123456789-+.,eE xa%\t";
  switch (pick(9)) {
    case 0:
    case 1: {  // type a few characters into a field
      auto* edit = d->findChild<QLineEdit*>(kNumericFields[pick(6)]);
      edit->setFocus();
      QString text;
      for (int i = pick(4) + 1; i > 0; --i) text += kChars[pick(static_cast<int>(kChars.size()))];
      QTest::keyClicks(edit, text);
      break;
    }
    case 2: {  // paste something whole
      auto* edit = d->findChild<QLineEdit*>(kNumericFields[pick(6)]);
      static const char* kPastes[] = {"",     "100",          "-1", "1e308", "nan",
                                      "50.5", "999999999999", "-0", "12345", " 7 "};
      QApplication::clipboard()->setText(kPastes[pick(10)]);
      edit->selectAll();
      QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
      break;
    }
    case 3:
      QTest::mouseClick(d->findChild<QRadioButton*>(kRadios[pick(7)]), Qt::LeftButton, {},
                        QPoint(6, 8));
      break;
    case 4: {
      auto* tabs = d->findChild<QTabBar*>();
      tabs->setCurrentIndex(pick(tabs->count()));
      break;
    }
    case 5: {
      static const char* kSpins[] = {"AmpSpin", "CoverSpin", "FlattenSpin", "GlaciateSpin",
                                     "CanyonizeSpin"};
      auto* spin = d->findChild<QSpinBox*>(kSpins[pick(5)]);
      spin->setFocus();
      QTest::keyClick(spin, pick(2) ? Qt::Key_Up : Qt::Key_PageDown);
      break;
    }
    case 6:
      QTest::mouseClick(d->findChild<QCheckBox*>("WaterCheck"), Qt::LeftButton);
      break;
    case 7:
      d->findChild<QComboBox*>("NoiseTypeCombo")->setCurrentIndex(pick(2));
      break;
    case 8:
      ClickButton(d, "PreviewButton");
      break;
  }
}

TEST(Monkey, ThousandsOfRandomEventsLeaveTheDialogSoundAndTheHeightsSafe) {
  ClearStoredSettings();
  MessageBoxAnswerer messages;
  std::mt19937 rng(2026);
  std::uniform_real_distribution<float> height(-50.0f, 450.0f);
  int events = 0;
  for (int run = 0; run < 16; ++run) {
    TestHost host(13, 11);
    for (float& h : host.heights) h = height(rng);
    host.water = [&](int32_t x, int32_t y) { return (x + y) % 5 == 0; };
    const std::vector<float> fetched = host.heights;
    host.Install();
    const bool ok = run % 2 == 0;
    bool fieldsSound = true;
    std::vector<float> preview;
    WhenModalShown("RovandelParamsForm", [&](QDialog* d) {
      for (int i = 0; i < 200; ++i, ++events) RandomEvent(d, rng);
      for (const char* name : kNumericFields) {
        const QString text = d->findChild<QLineEdit*>(name)->text();
        if (text.isEmpty()) continue;
        try {
          StrToFloat(text);
        } catch (const EConvertError&) {
          fieldsSound = false;
        }
      }
      if (ok) {
        ClickButton(d, "PreviewButton");
        preview = host.heights;
        ClickButton(d, "OKButton");
      } else {
        d->close();
      }
    });
    const int32_t result = TestHost::Run();
    EXPECT_TRUE(fieldsSound) << "run " << run;
    if (ok) {
      EXPECT_EQ(result, 1);
      // OK applies exactly what the last preview showed: the same controls, the same
      // fetched heights.
      ASSERT_EQ(host.heights.size(), preview.size());
      for (size_t i = 0; i < preview.size(); ++i)
        ASSERT_TRUE(host.heights[i] == preview[i] ||
                    (std::isnan(host.heights[i]) && std::isnan(preview[i])));
    } else {
      EXPECT_EQ(result, 0);
      EXPECT_EQ(host.heights, fetched);
    }
  }
  EXPECT_GE(events, 3000);
}

class NonFinite : public testing::TestWithParam<const char*> {};

TEST_P(NonFinite, EveryActionRunsAndKeepsFiniteHeightsFinite) {
  ClearStoredSettings();
  MessageBoxAnswerer messages;
  TestHost host(12, 9);
  const float kInf = std::numeric_limits<float>::infinity();
  const float kSpecial[] = {
      std::numeric_limits<float>::quiet_NaN(), kInf, -kInf, 3.4e38f, -3.4e38f, 1e-44f};
  for (size_t i = 0; i < host.heights.size(); ++i)
    host.heights[i] = i % 7 == 3 ? kSpecial[i % 6] : static_cast<float>(i % 13) * 25.0f;
  host.info.MinHeight = -std::numeric_limits<double>::infinity();  // a host's bad record
  host.info.MaxHeight = std::numeric_limits<double>::quiet_NaN();
  const std::vector<float> fetched = host.heights;
  host.Install();
  const std::string radio = GetParam();
  WhenModalShown("RovandelParamsForm", [&](QDialog* d) {
    QTest::mouseClick(d->findChild<QRadioButton*>(radio.c_str()), Qt::LeftButton, {}, QPoint(6, 8));
    d->findChild<QCheckBox*>("WaterCheck")->setChecked(false);
    ClickButton(d, "PreviewButton");
    ClickButton(d, "OKButton");
  });
  EXPECT_EQ(TestHost::Run(), 1);
  const bool smoothing = radio == "SoftenRadio" || radio == "SoftenMoreRadio";
  for (size_t i = 0; i < fetched.size(); ++i) {
    // Smoothing spreads a non-finite height to its neighbours; nothing else does.
    if (!smoothing && std::isfinite(fetched[i])) {
      EXPECT_TRUE(std::isfinite(host.heights[i])) << i;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Actions, NonFinite, testing::ValuesIn(kRadios),
                         [](const auto& info) { return std::string(info.param); });

// Resident memory of this process in kilobytes.
long ResidentKilobytes() {
  std::ifstream status("/proc/self/status");
  std::string key;
  long value = 0;
  while (status >> key) {
    if (key == "VmRSS:") {
      status >> value;
      return value;
    }
  }
  return 0;
}

TEST(ManyRuns, AThousandRunsDoNotGrow) {
  ClearStoredSettings();
  MessageBoxAnswerer messages;
  TestHost host(64, 48);
  host.Install();
  long afterWarmUp = 0;
  const int kRuns = qEnvironmentVariableIntValue("ROVANDEL_MANY_RUNS") > 0
                        ? qEnvironmentVariableIntValue("ROVANDEL_MANY_RUNS")
                        : 1000;
  for (int run = 0; run < kRuns; ++run) {
    const int kind = run % 3;
    WhenModalShown("RovandelParamsForm", [kind](QDialog* d) {
      if (kind == 2) ClickButton(d, "PreviewButton");
      ClickButton(d, kind == 0 ? "OKButton" : "CancelButton");
    });
    EXPECT_EQ(TestHost::Run(), kind == 0 ? 1 : 0);
    QApplication::processEvents();  // deleteLater of the helpers
    if (run == 50) afterWarmUp = ResidentKilobytes();
  }
  const long growth = ResidentKilobytes() - afterWarmUp;
#if defined(__SANITIZE_ADDRESS__)
  // AddressSanitizer holds freed memory back on purpose; LeakSanitizer checks at exit.
  (void)growth;
#else
  EXPECT_LT(growth, 16 * 1024) << "resident memory grew by " << growth << " kB";
#endif
}

}  // namespace
