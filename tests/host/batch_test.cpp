// Batch mode as scripts use it: each run with its own parameters, the user's settings
// left alone, and the conventions of command-line tools.
#include <cpl_conv.h>
#include <gdal.h>
#include <gtest/gtest.h>
#include <ogr_srs_api.h>
#include <signal.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "host/io/heightmap_io.h"
#include "host/model/default_landscape.h"
#include "host/plugins/run_options.h"
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
  // After a run a signal ended: only the inputs stay. Qt's own per-user runtime folder
  // (made when XDG_RUNTIME_DIR is unset) is shared by every run and kept.
  void ExpectNothingLeft(const char* when) const {
    for (const std::string& name : host_test::Listing(Path("tmp")))
      if (name.rfind("runtime-", 0) != 0) ADD_FAILURE() << when << ": left " << name;
    for (const std::string& name : host_test::Listing(dir.path().toStdString()))
      EXPECT_TRUE(name == "in.r32" || name == "big.r32" || name == "tmp") << when << ": " << name;
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

  // Settings that cannot be kept fail the run before any output is put in place.
  std::filesystem::remove(Path("Quorvale/Kelvamor.conf"));
  std::filesystem::create_directory(Path("Quorvale/Kelvamor.conf"));
  WriteBytes("o.r32", "old");
  EXPECT_EQ(Run({QPath("in.r32"), "--save-settings", "-o", QPath("o.r32")}), 1);
  EXPECT_EQ(Bytes(Path("o.r32")), "old");
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
  // A 16-bit file's heights cannot be had back without its mapping: said even under -q.
  EXPECT_EQ(Run({"-q", QPath("in.r32"), "-o", QPath("q.r16")}, &log), 0);
  EXPECT_TRUE(log.contains("16-bit steps span") && log.contains("q.hdr")) << log.toStdString();
}

// A file is read by the driver its name says, and nothing comes from the network: VRT
// XML named .tif is no GeoTIFF; a .vrt reads local sources but no network one.
TEST_F(Scripting, InputsAreReadAsTheirNamesSay) {
  host::WriteHeightmap(Path("in.tif"), Sample(61, 61));
  const std::string vrt =
      "<VRTDataset rasterXSize=\"61\" rasterYSize=\"61\"><VRTRasterBand dataType=\"Float32\" "
      "band=\"1\"><SimpleSource><SourceFilename>SOURCE</SourceFilename><SourceBand>1</"
      "SourceBand></SimpleSource></VRTRasterBand></VRTDataset>";
  struct Row {
    const char* file;
    std::string source;
    int exit;
    const char* says;
  };
  for (const Row& row :
       {Row{"local.vrt", Path("in.tif"), 0, "range after"},
        Row{"fake.tif", Path("in.tif"), 1, "not a raster this program can read"},
        Row{"net.vrt", "/vsicurl/http://127.0.0.1:9/x.tif", 1, "--allow-network"}}) {
    std::string text = vrt;
    text.replace(text.find("SOURCE"), 6, row.source);
    WriteBytes(row.file, text);
    QString log;
    EXPECT_EQ(Run({QPath(row.file), "-o", QPath("out.tif")}, &log), row.exit) << row.file;
    EXPECT_TRUE(log.contains(row.says)) << row.file << ": " << log.toStdString();
  }
}

// What GIS users asked of batch runs: a band of a multi-band raster, whole-number
// GeoTIFFs that refuse heights they cannot hold, the overviews the input had, statistics
// as JSON, and a picture that lies where the heights lie.
TEST_F(Scripting, TheOptionsGisUsersAskedFor) {
  GDALAllRegister();
  const host::Landscape land = Sample(61, 61);
  host::WriteHeightmap(Path("one.tif"), land);
  {  // three bands, the second the landscape; 2x and 4x overviews
    const host::Landscape other = Sample(61, 61, 9);
    GDALDatasetH ds = GDALCreate(GDALGetDriverByName("GTiff"), Path("three.tif").c_str(), 61, 61, 3,
                                 GDT_Float32, nullptr);
    const double transform[6] = {500000.0, 30.0, 0.0, 5200000.0, 0.0, -30.0};
    GDALSetGeoTransform(ds, const_cast<double*>(transform));
    OGRSpatialReferenceH srs = OSRNewSpatialReference(nullptr);
    OSRImportFromEPSG(srs, 32632);
    GDALSetSpatialRef(ds, srs);
    OSRDestroySpatialReference(srs);
    for (int b : {1, 2, 3})
      EXPECT_EQ(GDALRasterIO(GDALGetRasterBand(ds, b), GF_Write, 0, 0, 61, 61,
                             const_cast<float*>((b == 2 ? land : other).heights.data()), 61, 61,
                             GDT_Float32, 0, 0),
                CE_None);
    int factors[] = {2, 4};
    EXPECT_EQ(GDALBuildOverviews(ds, "AVERAGE", 2, factors, 0, nullptr, nullptr, nullptr), CE_None);
    GDALClose(ds);
  }
  QString log;
  ASSERT_EQ(Run({QPath("one.tif"), "--action", "soften", "-o", QPath("one_out.tif")}), 0);
  ASSERT_EQ(Run({QPath("three.tif"), "--band", "2", "--action", "soften", "-o",
                 QPath("band_out.tif"), "--picture", QPath("band.png"), "--json"},
                &log),
            0)
      << log.toStdString();
  const host::Landscape soft = host::ReadHeightmap(Path("one_out.tif"));
  EXPECT_EQ(host::ReadHeightmap(Path("band_out.tif")).heights, soft.heights);

  // The report: one JSON object, statistics of what was written.
  const QJsonObject json = QJsonDocument::fromJson(log.toUtf8()).object();
  const QJsonObject stats = json["statistics"].toObject();
  double sum = 0.0;
  for (float h : soft.heights) sum += h;
  EXPECT_EQ(stats["valid"].toInt(), 61 * 61);
  EXPECT_EQ(stats["minimum"].toDouble(),
            *std::min_element(soft.heights.begin(), soft.heights.end()));
  EXPECT_EQ(stats["maximum"].toDouble(),
            *std::max_element(soft.heights.begin(), soft.heights.end()));
  EXPECT_NEAR(stats["mean"].toDouble(), sum / (61 * 61), 1e-9);
  EXPECT_EQ(json["output"].toString(), QPath("band_out.tif"));

  {  // the overviews rebuilt; the picture placed by a world file and its coordinate system
    GDALDatasetH out = GDALOpen(Path("band_out.tif").c_str(), GA_ReadOnly);
    EXPECT_EQ(GDALGetOverviewCount(GDALGetRasterBand(out, 1)), 2);
    GDALClose(out);
    CPLSetThreadLocalConfigOption("GDAL_PAM_ENABLED", "YES");  // the .aux.xml, as a GIS reads it
    GDALDatasetH picture = GDALOpen(Path("band.png").c_str(), GA_ReadOnly);
    CPLSetThreadLocalConfigOption("GDAL_PAM_ENABLED", nullptr);
    double placed[6] = {};
    EXPECT_EQ(GDALGetGeoTransform(picture, placed), CE_None);
    EXPECT_EQ(std::vector<double>(placed, placed + 6),
              (std::vector<double>{500000.0, 30.0, 0.0, 5200000.0, 0.0, -30.0}));
    EXPECT_TRUE(QString(GDALGetProjectionRef(picture)).contains("32632"));
    GDALClose(picture);
  }

  // Whole numbers: each height rounded; heights a type cannot hold fail the run, which
  // writes nothing.
  ASSERT_EQ(Run({QPath("one.tif"), "--action", "soften", "--ot", "Int16", "-o", QPath("int.tif"),
                 "--json"},
                &log),
            0);
  GDALDatasetH whole = GDALOpen(Path("int.tif").c_str(), GA_ReadOnly);
  EXPECT_EQ(GDALGetRasterDataType(GDALGetRasterBand(whole, 1)), GDT_Int16);
  GDALClose(whole);
  const host::Landscape rounded = host::ReadHeightmap(Path("int.tif"));
  for (size_t i = 0; i < soft.heights.size(); ++i)
    ASSERT_EQ(rounded.heights[i], std::round(soft.heights[i])) << i;
  // The report tells what the file holds.
  const QJsonObject roundedStats =
      QJsonDocument::fromJson(log.toUtf8()).object()["statistics"].toObject();
  EXPECT_EQ(roundedStats["minimum"].toDouble(),
            *std::min_element(rounded.heights.begin(), rounded.heights.end()));
  EXPECT_EQ(roundedStats["maximum"].toDouble(),
            *std::max_element(rounded.heights.begin(), rounded.heights.end()));
  for (const char* type : {"UInt16", "Int16"}) {
    host::Landscape high = land;
    // Below UInt16's 0, above Int16's 32767, wherever Soften takes them.
    for (float& h : high.heights) h += std::string(type) == "Int16" ? 40000.0f : -1000.0f;
    host::WriteHeightmap(Path("high.tif"), high);
    EXPECT_EQ(Run({QPath("high.tif"), "--ot", type, "-o", QPath("refused.tif")}, &log), 1);
    EXPECT_TRUE(log.contains(QString("cannot hold these heights as ") + type)) << log.toStdString();
    EXPECT_FALSE(std::filesystem::exists(Path("refused.tif")));
  }
}

// A file name is bytes: one that is not UTF-8 is read and written as given.
TEST_F(Scripting, FileNamesNeedNotBeUtf8) {
  const std::string in = Path("h\xe9ights.r32"), out = Path("r\xe9sult.tif");
  std::filesystem::copy_file(Path("in.r32"), in);
  const std::string command = "XDG_CONFIG_HOME='" + dir.path().toStdString() +
                              "' QT_QPA_PLATFORM=offscreen '" KELVAMOR_HOST
                              "' --batch --plugin '" ROVANDEL_MODULE "' -q '" +
                              in + "' -o '" + out + "'";
  EXPECT_EQ(std::system(command.c_str()), 0);
  EXPECT_TRUE(std::filesystem::exists(out));
}

// The report's reader: one that stops reading early (| head -n 1) gets the first line and
// the run still writes its file; a report that cannot be written at all (a full disk)
// fails the run before anything is put in place.
TEST_F(Scripting, TheReportsReaderDecidesNothingButTheReport) {
  const std::string run = "XDG_CONFIG_HOME='" + dir.path().toStdString() +
                          "' QT_QPA_PLATFORM=offscreen '" KELVAMOR_HOST "' --batch --plugin '" +
                          ROVANDEL_MODULE "' -v '" + Path("in.r32") + "' -o '";
  const std::string headed = "bash -c \"" + run + Path("headed.tif") +
                             "' | head -n 1 > /dev/null; exit \\${PIPESTATUS[0]}\"";
  EXPECT_EQ(std::system(headed.c_str()), 0);
  EXPECT_TRUE(std::filesystem::exists(Path("headed.tif")));
  const std::string full = run + Path("full.tif") + "' --json > /dev/full 2> /dev/null";
  EXPECT_EQ(WEXITSTATUS(std::system(full.c_str())), 1);
  EXPECT_FALSE(std::filesystem::exists(Path("full.tif")));
}

// SIGTERM in the middle of a run removes what the run made: its private settings
// folder and any temporary.
TEST_F(Scripting, ATerminatedRunLeavesNothingBehind) {
  std::filesystem::create_directory(Path("tmp"));
  tmpDir = QPath("tmp");
  host::WriteHeightmap(Path("big.r32"), Sample(3000, 3000));
  QProcess process;
  Start(process, {"-v", "--threads", "1", "--action", "noise", "--set", "Coverage=100",
                  QPath("big.r32"), "-o", QPath("out.tif")});
  QByteArray said;
  while (!said.contains("plug-in module:") && process.waitForReadyRead(60000))
    said += process.readAllStandardOutput();
  ASSERT_TRUE(said.contains("plug-in module:")) << said.toStdString();
  ::kill(static_cast<pid_t>(process.processId()), SIGTERM);
  ASSERT_TRUE(process.waitForFinished(60000));
  ASSERT_EQ(process.exitStatus(), QProcess::CrashExit) << "the run ended before the signal";
  ExpectNothingLeft("mid-run");
}

// A signal the moment a run's private folder or a save's temporary exists (landed there
// by the program's test seam, not by timing) removes it too: each is named for removal
// before it is made.
TEST_F(Scripting, ASignalAsSoonAsAFolderOrTemporaryExistsLeavesNothing) {
  std::filesystem::create_directory(Path("tmp"));
  tmpDir = QPath("tmp");
  for (const char* point : {"folder", "temporary"}) {
    qputenv("KELVAMOR_SIGNAL_AT", point);
    QProcess process;
    Start(process, {"-q", QPath("in.r32"), "-o", QPath("out.tif")});
    qunsetenv("KELVAMOR_SIGNAL_AT");
    ASSERT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.exitStatus(), QProcess::CrashExit) << point << " was not reached";
    ExpectNothingLeft(point);
  }
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
