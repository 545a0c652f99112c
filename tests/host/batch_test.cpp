// Batch mode as scripts use it: each run with its own parameters, the user's settings
// left alone, and the conventions of command-line tools.
#include <gtest/gtest.h>

#include <QProcess>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "host/cli/options.h"
#include "host/io/heightmap_io.h"
#include "host/model/default_landscape.h"
#include "rovandel/settings_schema.h"
#include "tests/support/host_fixtures.h"

namespace {

using host_test::Batch;
using host_test::Bytes;
using host_test::Sample;

class Scripting : public Batch {
 protected:
  void SetUp() override { host::WriteHeightmap(Path("in.r32"), Sample(61, 61)); }
  std::string Settings() const { return Bytes(Path("Quorvale/Kelvamor.conf")); }
  void StoreSettings(const std::string& text) const {
    std::filesystem::create_directories(Path("Quorvale"));
    WriteBytes("Quorvale/Kelvamor.conf", text);
  }
  static QStringList Job(int i, const QString& out) {
    const auto& actions = settings_schema::kActionNames;
    return {"--action", actions[static_cast<size_t>(i) % actions.size()],
            "--set",    QString("Seed=%1").arg(100 + i),
            "--set",    QString("xpos=%1").arg(10 + 7 * i),
            "-o",       out};
  }
};

// Runs at once each do what their own command line says, as if run one after another,
// and leave the user's own settings as they were.
TEST_F(Scripting, ParallelRunsMatchRunsOneAfterAnother) {
  StoreSettings("[RovandelPlugin]\nAction=4\nFlatten=90\nSeed=1\n");
  const std::string before = Settings();
  constexpr int kJobs = 8;
  for (int i = 0; i < kJobs; ++i) {
    const QString out = QPath("seq") + QString::number(i) + ".r32";
    ASSERT_EQ(Run(QStringList{QPath("in.r32")} + Job(i, out)), 0);
  }
  std::vector<std::unique_ptr<QProcess>> running;
  for (int i = 0; i < kJobs; ++i) {
    running.push_back(std::make_unique<QProcess>());
    Start(*running.back(),
          QStringList{QPath("in.r32")} + Job(i, QPath("par") + QString::number(i) + ".r32"));
  }
  for (int i = 0; i < kJobs; ++i) {
    ASSERT_TRUE(running[i]->waitForFinished(60000));
    EXPECT_EQ(running[i]->exitCode(), 0) << running[i]->readAllStandardError().toStdString();
    const std::string seq = Bytes(Path(("seq" + std::to_string(i) + ".r32").c_str()));
    EXPECT_FALSE(seq.empty());
    EXPECT_EQ(Bytes(Path(("par" + std::to_string(i) + ".r32").c_str())), seq) << "job " << i;
  }
  EXPECT_EQ(Settings(), before);
  // Jobs with other actions made other maps: the comparison above has teeth.
  EXPECT_NE(Bytes(Path("seq0.r32")), Bytes(Path("seq1.r32")));
}

TEST_F(Scripting, SaveSettingsKeepsTheRunsValuesAsTheUsers) {
  StoreSettings("[RovandelPlugin]\nAction=4\n\n[Other]\nmine=kept\n");
  ASSERT_EQ(Run({QPath("in.r32"), "--action", "hill", "--set", "height=-25", "--save-settings"}),
            0);
  const std::string after = Settings();
  EXPECT_NE(after.find("Action=3"), std::string::npos) << after;
  EXPECT_NE(after.find("height=-25"), std::string::npos) << after;
  EXPECT_NE(after.find("mine=kept"), std::string::npos) << after;
}

// A damaged file costs the values it loses, with a warning, never the run.
TEST_F(Scripting, ADamagedSettingsFileIsNotFatal) {
  StoreSettings("[RovandelPlugin\nAction=zwei\nFlatten=300\nSeed=99\n");
  const std::string before = Settings();
  QString log;
  EXPECT_EQ(Run({QPath("in.r32"), "--set", "Glaciate=20", "-o", QPath("o.r32")}, &log), 0)
      << log.toStdString();
  EXPECT_EQ(log.count("warning"), 1) << log.toStdString();
  EXPECT_EQ(Settings(), before);
  StoreSettings("[RovandelPlugin]\nAction=zwei\nFlatten=300\nSeed=99\n");
  EXPECT_EQ(Run({QPath("in.r32"), "-o", QPath("o.r32")}, &log), 0) << log.toStdString();
  EXPECT_TRUE(log.contains("Action, Flatten cannot be used")) << log.toStdString();
  EXPECT_TRUE(log.contains("action soften,")) << log.toStdString();
}

TEST_F(Scripting, ConventionsOfCommandLineTools) {
  QString log;
  // A display that is not there does not stop a batch run.
  QProcess process;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("XDG_CONFIG_HOME", dir.path());
  env.insert("DISPLAY", ":97");
  env.remove("QT_QPA_PLATFORM");
  env.remove("XDG_RUNTIME_DIR");
  process.setProcessEnvironment(env);
  process.start(KELVAMOR_HOST,
                {"--batch", "--plugin", ROVANDEL_MODULE, QPath("in.r32"), "-o", QPath("o.tif")});
  ASSERT_TRUE(process.waitForFinished(60000));
  EXPECT_EQ(process.exitCode(), 0);
  // No chatter from the toolkit: stderr stays empty in a normal run.
  EXPECT_EQ(process.readAllStandardError().toStdString(), "");
  EXPECT_TRUE(process.readAllStandardOutput().contains("wrote"));

  EXPECT_EQ(Run({"--version"}, &log), 0);
  EXPECT_TRUE(log.startsWith("kelvamor-host " KELVAMOR_VERSION "\n")) << log.toStdString();
  EXPECT_EQ(Run({"-q", QPath("in.r32"), "-o", QPath("q.tif")}, &log), 0);
  EXPECT_EQ(log.toStdString(), "");
  EXPECT_EQ(Run({"--progress", QPath("in.r32"), "-o", QPath("p.tif")}, &log), 0);
  EXPECT_TRUE(log.contains("writing: 0...10...20")) << log.toStdString();
}

// README's table of settings is the one the program prints.
TEST(Readme, ListsTheSettingsAsTheProgramKnowsThem) {
  std::ifstream in(README_PATH);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_NE(text.str().find(host::SettingsTable()), std::string::npos)
      << "README's settings table differs from:\n"
      << host::SettingsTable();
}

}  // namespace

namespace {

// --threads caps the plug-in's threads and changes no bit of the result; a count that
// is not one is refused before any work.
TEST_F(Scripting, ThreadsChangeTheSpeedNotTheResult) {
  for (const char* action : {"noise", "glaciate"}) {
    QString log;
    ASSERT_EQ(
        Run({QPath("in.r32"), "--action", action, "--threads", "1", "-o", QPath("one.r32")}, &log),
        0)
        << log.toStdString();
    ASSERT_EQ(Run({QPath("in.r32"), "--action", action, "--threads", "2", "-o", QPath("two.r32")}),
              0);
    EXPECT_EQ(Bytes(Path("one.r32")), Bytes(Path("two.r32"))) << action;
  }
  for (const char* bad : {"0", "-3", "many"}) {
    QString log;
    EXPECT_EQ(Run({QPath("in.r32"), "--threads", bad, "-o", QPath("bad.r32")}, &log), 2) << bad;
    EXPECT_TRUE(log.contains("--threads")) << log.toStdString();
    EXPECT_FALSE(std::filesystem::exists(Path("bad.r32")));
  }
}

// Without a heightmap the host makes its fractal landscape, the same every time, with
// ground below its sea level (0) so that water means something.
TEST_F(Scripting, TheDefaultLandscapeIsTheSameEveryRun) {
  ASSERT_EQ(Run({"--action", "soften", "-o", QPath("a.r32")}), 0);
  ASSERT_EQ(Run({"--action", "soften", "-o", QPath("b.r32")}), 0);
  EXPECT_EQ(Bytes(Path("a.r32")), Bytes(Path("b.r32")));
  const host::Landscape land = host::MakeDefaultLandscape();
  EXPECT_EQ(land.width, host::kDefaultLandscapeSide);
  EXPECT_LT(land.minHeight, host::kDefaultSeaLevel);
  EXPECT_GT(land.maxHeight, host::kDefaultSeaLevel + 100);
  EXPECT_EQ(std::filesystem::file_size(Path("a.r32")), land.Count() * 4);
  EXPECT_EQ(host::MakeDefaultLandscape().heights, land.heights);
  EXPECT_NE(host::MakeDefaultLandscape(65, 7).heights, host::MakeDefaultLandscape(65).heights);
}

}  // namespace
