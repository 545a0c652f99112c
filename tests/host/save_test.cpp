// What a save keeps: georeferencing, NoData, every height of a 16-bit file within a
// step, and the file it replaces (links, permissions); command lines refused up front.
#include <cpl_string.h>
#include <gdal.h>
#include <gtest/gtest.h>
#include <ogr_srs_api.h>
#include <sys/stat.h>

#include <QFile>
#include <QImage>
#include <cmath>
#include <filesystem>
#include <memory>

#include "host/io/heightmap_io.h"
#include "rovandel/settings_schema.h"
#include "tests/support/host_fixtures.h"

namespace {

namespace fs = std::filesystem;
using host::Landscape;
using host_test::Batch;
using host_test::Files;
using host_test::Sample;

constexpr double kTransform[6] = {500000.0, 30.0, 0.0, 5200000.0, 0.0, -30.0};
constexpr int16_t kVoid = -32768;

struct Closer {
  void operator()(void* d) const { GDALClose(d); }
};
using Dataset = std::unique_ptr<void, Closer>;

std::string Utm32Wkt() {
  OGRSpatialReferenceH srs = OSRNewSpatialReference(nullptr);
  OSRImportFromEPSG(srs, 32632);
  char* wkt = nullptr;
  OSRExportToWkt(srs, &wkt);
  std::string text = wkt;
  CPLFree(wkt);
  OSRDestroySpatialReference(srs);
  return text;
}

bool SameCrs(const char* a, const std::string& b) {
  OGRSpatialReferenceH x = OSRNewSpatialReference(a);
  OGRSpatialReferenceH y = OSRNewSpatialReference(b.c_str());
  const bool same = x && y && OSRIsSame(x, y);
  OSRDestroySpatialReference(x);
  OSRDestroySpatialReference(y);
  return same;
}

// A georeferenced Int16 GeoTIFF of terrain between 100 and 600 m with a void: the kind
// of tile a survey delivers.
class Georeferenced : public Batch {
 protected:
  static constexpr int32_t kW = 48, kH = 40;
  static bool InHole(int32_t x, int32_t y) { return x >= 10 && x < 18 && y >= 12 && y < 20; }

  void SetUp() override {
    GDALAllRegister();
    Dataset ds(GDALCreate(GDALGetDriverByName("GTiff"), Path("tile.tif").c_str(), kW, kH, 1,
                          GDT_Int16, nullptr));
    ASSERT_TRUE(ds);
    GDALSetProjection(ds.get(), Utm32Wkt().c_str());
    double transform[6];
    std::copy(std::begin(kTransform), std::end(kTransform), transform);
    GDALSetGeoTransform(ds.get(), transform);
    GDALSetMetadataItem(ds.get(), "SURVEY", "north ridge 2026", nullptr);
    GDALRasterBandH band = GDALGetRasterBand(ds.get(), 1);
    GDALSetRasterNoDataValue(band, kVoid);
    GDALSetRasterUnitType(band, "m");
    std::vector<int16_t> values(kW * kH);
    for (int32_t y = 0; y < kH; ++y)
      for (int32_t x = 0; x < kW; ++x)
        values[y * kW + x] =
            InHole(x, y) ? kVoid : static_cast<int16_t>(100 + (x * 7 + y * 5) % 501);
    ASSERT_EQ(GDALRasterIO(band, GF_Write, 0, 0, kW, kH, values.data(), kW, kH, GDT_Int16, 0, 0),
              CE_None);
  }
};

TEST_F(Georeferenced, ReadingFillsTheVoidAndRecordsTheValidRange) {
  const Landscape land = host::ReadHeightmap(Path("tile.tif"));
  ASSERT_EQ(land.noData.size(), land.Count());
  for (int32_t y = 0; y < kH; ++y)
    for (int32_t x = 0; x < kW; ++x) {
      const size_t i = static_cast<size_t>(y) * kW + x;
      EXPECT_EQ(land.IsNoData(i), InHole(x, y));
      EXPECT_GE(land.heights[i], 100.0f);  // stand-ins come from the valid surroundings
      EXPECT_LE(land.heights[i], 600.0f);
    }
  EXPECT_EQ(land.minHeight, 100.0);
  EXPECT_EQ(land.maxHeight, 600.0);
  EXPECT_EQ(land.geo.noDataValue, kVoid);
  EXPECT_EQ(land.geo.unit, "m");
}

// Every action, through the host as a user runs it: the void stays NoData, the
// georeferencing travels, and no valid cell is pulled toward the sentinel.
class EveryAction : public Georeferenced, public testing::WithParamInterface<const char*> {};

TEST_P(EveryAction, KeepsTheVoidAndTheGeoreferencing) {
  for (const char* output : {"out.tif", "out.asc"}) {
    QString log;
    ASSERT_EQ(
        Run({QPath("tile.tif"), "--action", GetParam(), "--set", "radius=8", "-o", QPath(output)},
            &log),
        0)
        << log.toStdString();
    Dataset ds(GDALOpen(Path(output).c_str(), GA_ReadOnly));
    ASSERT_TRUE(ds) << output;
    EXPECT_TRUE(SameCrs(GDALGetProjectionRef(ds.get()), Utm32Wkt())) << output;
    double transform[6];
    ASSERT_EQ(GDALGetGeoTransform(ds.get(), transform), CE_None);
    for (int i = 0; i < 6; ++i) EXPECT_DOUBLE_EQ(transform[i], kTransform[i]) << output;
    GDALRasterBandH band = GDALGetRasterBand(ds.get(), 1);
    int hasNoData = 0;
    EXPECT_EQ(GDALGetRasterNoDataValue(band, &hasNoData), kVoid);
    EXPECT_TRUE(hasNoData);
    std::vector<float> heights(kW * kH);
    ASSERT_EQ(GDALRasterIO(band, GF_Read, 0, 0, kW, kH, heights.data(), kW, kH, GDT_Float32, 0, 0),
              CE_None);
    for (int32_t y = 0; y < kH; ++y)
      for (int32_t x = 0; x < kW; ++x) {
        const float h = heights[y * kW + x];
        if (InHole(x, y)) {
          EXPECT_EQ(h, kVoid) << output << " at " << x << "," << y;
        } else {  // within what the action can do to terrain of 100..600 m
          EXPECT_GE(h, -400.0f) << output << " at " << x << "," << y;
          EXPECT_LE(h, 1100.0f) << output << " at " << x << "," << y;
        }
      }
  }
  const Dataset tif(GDALOpen(Path("out.tif").c_str(), GA_ReadOnly));
  EXPECT_STREQ(GDALGetMetadataItem(tif.get(), "SURVEY", nullptr), "north ridge 2026");
  EXPECT_STREQ(GDALGetRasterUnitType(GDALGetRasterBand(tif.get(), 1)), "m");
}

INSTANTIATE_TEST_SUITE_P(Actions, EveryAction, testing::ValuesIn(settings_schema::kActionNames),
                         [](const auto& info) {
                           std::string name = info.param;
                           name.erase(std::remove(name.begin(), name.end(), '-'), name.end());
                           return name;
                         });

TEST_F(Georeferenced, ThePictureShowsNoDataAsTransparent) {
  ASSERT_EQ(Run({QPath("tile.tif"), "--picture", QPath("view.png")}), 0);
  const QImage picture(QPath("view.png"));
  ASSERT_EQ(picture.size(), QSize(kW, kH));
  EXPECT_EQ(qAlpha(picture.pixel(12, 14)), 0);
  EXPECT_EQ(qAlpha(picture.pixel(30, 30)), 255);
}

TEST_F(Files, AGridWithoutAValidHeightIsRefused) {
  Landscape land = Sample(4, 4);
  for (float& h : land.heights) h = std::nanf("");
  host::WriteHeightmap(Path("void.r32"), land);
  try {
    host::ReadHeightmap(Path("void.r32"));
    FAIL();
  } catch (const host::Error& e) {
    EXPECT_NE(std::string(e.what()).find("every cell is NoData"), std::string::npos) << e.what();
  }
}

// A recorded range that no longer covers the heights (as after Add Noise with water
// left alone, or a flatten far above the terrain) must not clip a 16-bit save.
TEST_F(Files, SixteenBitSavesSpanTheHeightsNotTheRecordedRange) {
  Landscape land = Sample(33, 21);
  land.heights[5] = 1e6f;
  land.heights[6] = -3000.0f;
  land.minHeight = 0.0;
  land.maxHeight = 1.0;
  const double step = (1e6 + 3000.0) / 65535.0;
  for (const char* name : {"a.png", "a.r16"}) {
    const host::SaveReport report = host::WriteHeightmap(Path(name), land);
    ASSERT_TRUE(report.sixteenBitRange);
    host::RawOptions raw;
    raw.size = std::pair{33, 21};
    raw.range = report.sixteenBitRange;
    const Landscape back = host::ReadHeightmap(Path(name), raw);
    for (size_t i = 0; i < land.Count(); ++i)
      EXPECT_NEAR(back.heights[i], land.heights[i], step) << name << " at " << i;
  }
  // A cell without a height becomes the PNG's NoData, the others keep their heights.
  land.heights[7] = std::numeric_limits<float>::infinity();
  host::WriteHeightmap(Path("b.png"), land);
  const Landscape back = host::ReadHeightmap(Path("b.png"));
  for (size_t i = 0; i < land.Count(); ++i) {
    EXPECT_EQ(back.IsNoData(i), i == 7);
    if (i != 7) {
      EXPECT_NEAR(back.heights[i], land.heights[i], step) << i;
    }
  }
}

TEST_F(Files, ReplacingKeepsTheLinkAndThePermissions) {
  const Landscape land = Sample(6, 5);
  fs::create_directory(Path("real"));
  host::WriteHeightmap(Path("real/map.r32"), Sample(6, 5, 8));
  ASSERT_EQ(::chmod(Path("real/map.r32").c_str(), 0640), 0);
  fs::create_symlink("real/map.r32", Path("link.r32"));

  host::WriteHeightmap(Path("link.r32"), land);
  EXPECT_TRUE(fs::is_symlink(Path("link.r32")));
  host::RawOptions raw;
  raw.size = std::pair{6, 5};
  EXPECT_EQ(host::ReadHeightmap(Path("real/map.r32"), raw).heights, land.heights);
  struct stat st {};
  ASSERT_EQ(::stat(Path("real/map.r32").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(host_test::Listing(Path("real")), std::vector<std::string>{"map.r32"});

  // A new file gets the mode any new file gets; a long name still fits.
  const std::string longName = std::string(250, 'n') + ".r32";
  host::WriteHeightmap(Path(longName.c_str()), land);
  ASSERT_EQ(::stat(Path(longName.c_str()).c_str(), &st), 0);
  const mode_t mask = ::umask(0);
  ::umask(mask);
  EXPECT_EQ(st.st_mode & 0777, 0666u & ~mask);
}

TEST_F(Files, AFailedRenameNamesTheFileAndTheReason) {
  // A folder stands where the file should go.
  fs::create_directory(Path("map.r32"));
  fs::create_directory(Path("map.r32/inside"));
  try {
    host::WriteHeightmap(Path("map.r32"), Sample(3, 3));
    FAIL();
  } catch (const host::Error& e) {
    const std::string what = e.what();
    EXPECT_EQ(what.rfind(Path("map.r32") + ": is a folder", 0), 0u) << what;
    EXPECT_EQ(what.find("Success"), std::string::npos) << what;
  }
  EXPECT_EQ(host_test::Listing(dir.path().toStdString()), std::vector<std::string>{"map.r32"});
}

// Command lines that cannot be carried out are refused before anything is read or
// written, with a usage error naming the option.
struct Refused {
  const char* name;
  QStringList args;
  const char* says;
  friend void PrintTo(const Refused& r, std::ostream* os) { *os << r.name; }
};

class RefusedCommandLines : public Batch, public testing::WithParamInterface<Refused> {};

TEST_P(RefusedCommandLines, ExitWithAUsageErrorAndWriteNothing) {
  host::WriteHeightmap(Path("in.r16"), Sample(8, 8));
  fs::create_directory(Path("Quorvale"));
  const std::string stored = "[RovandelPlugin]\nAction=3\nSeed=4242\n";
  WriteBytes("Quorvale/Kelvamor.conf", stored);
  QStringList args;
  for (QString arg : GetParam().args) args << arg.replace("DIR", dir.path());
  if (!GetParam().args.contains("DIR/nothing.tif")) args.prepend(QPath("in.r16"));
  QString log;
  EXPECT_EQ(Run(args, &log), 2) << log.toStdString();
  EXPECT_TRUE(log.contains(GetParam().says)) << log.toStdString();
  EXPECT_FALSE(log.contains("landscape:")) << "work began: " << log.toStdString();
  for (const std::string& name : host_test::Listing(dir.path().toStdString()))
    EXPECT_TRUE(name == "in.r16" || name == "in.hdr" || name == "Quorvale") << name;
  EXPECT_EQ(host_test::Bytes(Path("Quorvale/Kelvamor.conf")), stored);
}

INSTANTIATE_TEST_SUITE_P(
    Options, RefusedCommandLines,
    testing::Values(
        Refused{"NaNRange", {"--range", "nan:nan", "-o", "DIR/o.tif"}, "--range"},
        Refused{"InfiniteRange", {"--range", "inf:-inf", "-o", "DIR/o.tif"}, "--range"},
        Refused{"InvertedRange", {"--range", "100:0", "-o", "DIR/o.tif"}, "--range"},
        Refused{"HugeRange", {"--range", "0:1e300", "-o", "DIR/o.tif"}, "--range"},
        Refused{"UnknownFormat", {"-o", "DIR/o.xyz"}, "-o: unknown format"},
        Refused{"SameFile", {"-o", "DIR/x.png", "--picture", "DIR/x.png"}, "the same file"},
        Refused{"MissingFolder", {"-o", "DIR/nowhere/o.tif"}, "does not exist"},
        Refused{"BadPicture", {"--picture", "DIR/p.nope"}, "--picture"},
        Refused{"BadCreationOption", {"--co", "COMPRESS=FANCY", "-o", "DIR/o.tif"}, "--co"},
        Refused{"UnknownSetting",
                {"--set", "colour=red", "-o", "DIR/o.tif"},
                "unknown setting 'colour'"},
        // One bad value refuses the whole line: the good one before it is not kept.
        Refused{"PartlyBadSettings",
                {"--set", "Seed=777", "--set", "Bogus=1", "-o", "DIR/o.tif"},
                "Bogus"},
        Refused{"PositionOffTheMap",
                {"--set", "xpos=150", "-o", "DIR/o.tif"},
                "xpos takes a number from 0 to 100"},
        Refused{
            "ZeroWidth", {"--set", "radius=0", "-o", "DIR/o.tif"}, "radius takes a number above 0"},
        Refused{"NegativeSeverity", {"--set", "Flatten=-20", "-o", "DIR/o.tif"}, "Flatten takes"},
        Refused{"Amplitude", {"--set", "Amplitude=500", "-o", "DIR/o.tif"}, "Amplitude takes"},
        Refused{"NoiseType", {"--set", "Noise=7", "-o", "DIR/o.tif"}, "Noise takes"},
        Refused{"ActionIndex", {"--set", "Action=9", "-o", "DIR/o.tif"}, "Action takes"},
        Refused{"SeedBeyond32Bits", {"--set", "Seed=4294967296", "-o", "DIR/o.tif"}, "Seed takes"},
        Refused{"NotANumber", {"--set", "height=nan", "-o", "DIR/o.tif"}, "height takes"},
        Refused{
            "UnknownAction", {"--action", "smudge", "-o", "DIR/o.tif"}, "unknown action 'smudge'"},
        Refused{
            "MissingInput", {"DIR/nothing.tif", "-o", "DIR/o.tif"}, "nothing.tif: no such file"},
        Refused{"UnknownOption", {"--colour", "red"}, "colour"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
