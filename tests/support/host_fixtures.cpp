#include "tests/support/host_fixtures.h"

#include <sys/resource.h>

#include <QDir>
#include <QProcessEnvironment>
#include <QRadioButton>
#include <QTest>
#include <algorithm>
#include <bit>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <random>

#include "tests/support/ui.h"

namespace host_test {

host::Landscape Sample(int32_t w, int32_t h, unsigned seed) {
  host::Landscape land;
  land.width = w;
  land.height = h;
  land.heights.resize(land.Count());
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> d(-120.0f, 880.0f);
  for (float& v : land.heights) v = d(rng);
  land.RecordRange();
  return land;
}

host::Landscape Relief(int32_t w, int32_t h) {
  host::Landscape land;
  land.width = w;
  land.height = h;
  land.heights.resize(land.Count());
  land.noData.assign(land.Count(), 0);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      const double u = (x - 0.6 * w) / (0.25 * w), v = (y - 0.45 * h) / (0.25 * h);
      const double hill = 400.0 * std::exp(-(u * u + v * v));
      const double ripples = 30.0 * std::sin(x * 0.3) * std::cos(y * 0.2);
      const double basin = -150.0 * std::exp(-(x * x + (h - y) * (h - y)) / (0.1 * w * h));
      const size_t i = static_cast<size_t>(y) * w + x;
      land.heights[i] = static_cast<float>(hill + ripples + basin + 20.0);
      if (std::abs(x - w / 4) < w / 16 + 1 && std::abs(y - h / 4) < h / 16 + 1) land.noData[i] = 1;
    }
  land.RecordRange();
  return land;
}

void ApplyPlugIn(host::MainWindow& window, const char* radio, std::function<void(QDialog*)> more) {
  WhenModalShown("RovandelParamsForm", [radio, more](QDialog* d) {
    QTest::mouseClick(d->findChild<QRadioButton*>(radio), Qt::LeftButton, {}, QPoint(6, 8));
    if (more) more(d);
    ClickButton(d, "OKButton");
  });
  window.RunPlugin(*window.Plugin());
}

std::vector<uint32_t> Bits(const host::Landscape& land) {
  std::vector<uint32_t> bits;
  for (const float h : land.heights) bits.push_back(std::bit_cast<uint32_t>(h));
  return bits;
}

std::string Bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

std::vector<std::string> Listing(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

void Files::WriteBytes(const char* name, const std::string& bytes) const {
  std::ofstream(Path(name), std::ios::binary) << bytes;
}

void Batch::Start(QProcess& process, const QStringList& args) {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("XDG_CONFIG_HOME", dir.path());
  env.insert("QT_QPA_PLATFORM", "offscreen");
  if (!tmpDir.isEmpty()) env.insert("TMPDIR", tmpDir);
  process.setProcessEnvironment(env);
  if (fileSizeLimit > 0)
    process.setChildProcessModifier([limit = fileSizeLimit] {
      const rlimit size{static_cast<rlim_t>(limit), static_cast<rlim_t>(limit)};
      ::setrlimit(RLIMIT_FSIZE, &size);
    });
  process.start(KELVAMOR_HOST, QStringList{"--batch", "--plugin", ROVANDEL_MODULE} + args);
  EXPECT_TRUE(process.waitForStarted());
}

int Batch::Run(const QStringList& args, QString* output) {
  QProcess process;
  Start(process, args);
  EXPECT_TRUE(process.waitForFinished(60000));
  if (output) *output = process.readAllStandardOutput() + process.readAllStandardError();
  return process.exitCode();
}

}  // namespace host_test
