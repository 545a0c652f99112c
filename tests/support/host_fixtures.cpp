#include "tests/support/host_fixtures.h"

#include <sys/resource.h>

#include <QDir>
#include <QProcessEnvironment>
#include <algorithm>
#include <bit>
#include <filesystem>
#include <fstream>
#include <random>

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
