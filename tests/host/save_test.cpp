// What a save keeps: georeferencing, NoData, every height of a 16-bit file within a
// step, and the file it replaces (links, permissions); command lines refused up front.
#include <cpl_string.h>
#include <gdal.h>
#include <gtest/gtest.h>
#include <ogr_srs_api.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <QFile>
#include <QImage>
#include <cerrno>
#include <cmath>
#include <cstring>
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
  // The unit and metadata travel too: in the GeoTIFF, and beside the ASCII grid (which
  // cannot hold them) in the .aux.xml GIS programs read.
  for (const char* output : {"out.tif", "out.asc"}) {
    const Landscape back = host::ReadHeightmap(Path(output));
    EXPECT_EQ(back.geo.unit, "m") << output;
    EXPECT_NE(
        std::find(back.geo.metadata.begin(), back.geo.metadata.end(), "SURVEY=north ridge 2026"),
        back.geo.metadata.end())
        << output;
  }
}

INSTANTIATE_TEST_SUITE_P(Actions, EveryAction, testing::ValuesIn(settings_schema::kActionNames),
                         [](const auto& info) {
                           std::string name = info.param;
                           name.erase(std::remove(name.begin(), name.end(), '-'), name.end());
                           return name;
                         });

// A 16-bit PNG keeps the coordinate system and the geotransform in the .aux.xml GIS
// programs read; a RAW grid has no place for them, and the run says so; an ASCII grid
// has none for a rotation.
TEST_F(Georeferenced, APngKeepsTheGeoreferencingARawGridSaysItDoesNot) {
  for (const char* output : {"out.png", "out.r32"}) {
    QString log;
    ASSERT_EQ(Run({QPath("tile.tif"), "-o", QPath(output)}, &log), 0) << log.toStdString();
    const bool raw = std::string(output) == "out.r32";
    EXPECT_EQ(log.contains("keeps no coordinate system or geotransform"), raw) << log.toStdString();
    if (raw) continue;
    const Landscape back = host::ReadHeightmap(Path(output));
    EXPECT_TRUE(SameCrs(back.geo.projection.c_str(), Utm32Wkt()));
    ASSERT_TRUE(back.geo.geoTransform);
    for (int i = 0; i < 6; ++i) EXPECT_DOUBLE_EQ((*back.geo.geoTransform)[i], kTransform[i]);
    EXPECT_EQ(back.geo.unit, "m");
  }
  // A rotated grid: the PNG keeps the rotation; an ASCII grid, whose header cannot hold
  // it, is refused rather than written at another place.
  Landscape rotated = host::ReadHeightmap(Path("tile.tif"));
  (*rotated.geo.geoTransform)[2] = 15.0;
  (*rotated.geo.geoTransform)[4] = 15.0;
  host::WriteHeightmap(Path("rotated.png"), rotated);
  EXPECT_EQ(host::ReadHeightmap(Path("rotated.png")).geo.geoTransform, rotated.geo.geoTransform);
  try {
    host::WriteHeightmap(Path("rotated.asc"), rotated);
    FAIL() << "wrote a rotated ASCII grid";
  } catch (const host::Error& e) {
    EXPECT_NE(std::string(e.what()).find("cannot hold the rotation"), std::string::npos);
  }
  EXPECT_FALSE(fs::exists(Path("rotated.asc")));
}

// Side files belong to the target: a world file asked for with --co is written for it,
// and an ASCII grid saved without a coordinate system loses its old, now wrong, .prj.
TEST_F(Georeferenced, SideFilesAreTheTargets) {
  QString log;
  ASSERT_EQ(Run({QPath("tile.tif"), "--co", "TFW=YES", "-o", QPath("out.tif")}, &log), 0)
      << log.toStdString();
  EXPECT_TRUE(fs::exists(Path("out.tfw")));
  ASSERT_EQ(Run({QPath("tile.tif"), "-o", QPath("out.asc")}, &log), 0) << log.toStdString();
  EXPECT_TRUE(fs::exists(Path("out.prj")));
  host::WriteHeightmap(Path("out.asc"), Sample(kW, kH));
  EXPECT_FALSE(fs::exists(Path("out.prj")));
  // A side file that cannot be replaced (a folder of the world file's name) fails the
  // run before any output is put in place, and none of the picture's files appear.
  const auto before = host_test::Listing(dir.path().toStdString());
  const std::string heights = host_test::Bytes(Path("out.tif"));
  fs::create_directory(Path("pic.pgw"));
  EXPECT_EQ(Run({QPath("tile.tif"), "-o", QPath("out.tif"), "--picture", QPath("pic.png")}, &log),
            1);
  EXPECT_TRUE(log.contains("pic.pgw is a folder")) << log.toStdString();
  fs::remove(Path("pic.pgw"));
  EXPECT_EQ(host_test::Listing(dir.path().toStdString()), before);
  EXPECT_EQ(host_test::Bytes(Path("out.tif")), heights);
  for (const std::string& name : host_test::Listing(dir.path().toStdString()))
    EXPECT_EQ(name.find(".kelvamor-"), std::string::npos) << name;
}

// Flattened onto the file's NoData value, every valid cell keeps its height: the file
// says NoData with another value, and the run says so.
TEST_F(Georeferenced, FlatteningOntoTheNoDataValueKeepsEveryHeight) {
  for (const char* output : {"flat.tif", "flat.asc"}) {
    QString log;
    ASSERT_EQ(Run({QPath("tile.tif"), "--action", "flatten", "--set", "FlattenHeight=-32768",
                   "--set", "Flatten=100", "-o", QPath(output)},
                  &log),
              0)
        << log.toStdString();
    EXPECT_TRUE(log.contains("range after: -32768 .. -32768")) << log.toStdString();
    EXPECT_TRUE(log.contains("a height equals the NoData value -32768")) << log.toStdString();
    const Landscape back = host::ReadHeightmap(Path(output));
    for (int32_t y = 0; y < kH; ++y)
      for (int32_t x = 0; x < kW; ++x) {
        const size_t i = static_cast<size_t>(y) * kW + x;
        ASSERT_EQ(back.IsNoData(i), InHole(x, y)) << output << " at " << x << "," << y;
        if (!InHole(x, y)) {
          EXPECT_EQ(back.heights[i], -32768.0f) << output;
        }
      }
  }
}

// In every format that marks NoData, a valid height equal to the NoData value stays a
// height and the void stays a void; the file's own value is kept where no height
// collides with it.
TEST_F(Files, AHeightEqualToTheNoDataValueStaysAHeight) {
  Landscape land = Sample(9, 7);
  land.geo.noDataValue = 0.0;
  land.noData.assign(land.Count(), 0);
  land.noData[10] = 1;
  const double step = (land.maxHeight - land.minHeight) / 65534.0;
  for (const bool collides : {true, false}) {
    land.heights[3] = collides ? 0.0f : 1.5f;
    for (const char* name : {"c.tif", "c.asc", "c.png", "c.r32"}) {
      const host::SaveReport report = host::WriteHeightmap(Path(name), land);
      host::RawOptions raw;
      raw.size = std::pair{9, 7};
      const Landscape back = host::ReadHeightmap(Path(name), raw);
      for (size_t i = 0; i < land.Count(); ++i) {
        ASSERT_EQ(back.IsNoData(i), i == 10) << name << " at " << i;
        if (i != 10) {
          EXPECT_NEAR(back.heights[i], land.heights[i], step) << name << " at " << i;
        }
      }
      const bool keepsItsValue = std::string(name) == "c.tif" || std::string(name) == "c.asc";
      if (keepsItsValue) {
        EXPECT_EQ(report.noDataChanged.has_value(), collides) << name;
        EXPECT_EQ(back.geo.noDataValue == 0.0, !collides) << name;
      }
    }
  }
}

// A 16-bit file opened and saved again keeps its steps while the heights fit them, so
// an edit changes no untouched cell's value.
TEST_F(Files, SixteenBitSavesKeepTheOpenedMapping) {
  Landscape land = Sample(20, 20);
  for (const char* name : {"m.png", "m.r16"}) {
    const host::SaveReport first = host::WriteHeightmap(Path(name), land);
    Landscape opened = host::ReadHeightmap(Path(name));
    opened.heights[5] = static_cast<float>(opened.minHeight + 1.0);  // an edit within range
    const auto again = host::WriteHeightmap(Path(name), opened).sixteenBitRange;
    ASSERT_TRUE(again && first.sixteenBitRange) << name;
    EXPECT_NEAR(again->first, first.sixteenBitRange->first, 1e-9) << name;
    EXPECT_NEAR(again->second, first.sixteenBitRange->second, 1e-9) << name;
    opened.heights[5] = static_cast<float>(opened.maxHeight + 500.0);  // beyond: a new mapping
    const auto beyond = host::WriteHeightmap(Path(name), opened).sixteenBitRange;
    EXPECT_GT(beyond->second, first.sixteenBitRange->second + 400.0) << name;
  }

  // A PNG of whole metres (no scale, no offset, as image tools and game engines write
  // them) stays one: every value as it was, and no mapping beside it.
  std::vector<uint16_t> metres(20 * 20);
  for (size_t i = 0; i < metres.size(); ++i) metres[i] = static_cast<uint16_t>(236 + 2 * i);
  QImage image(reinterpret_cast<const uchar*>(metres.data()), 20, 20, 40,
               QImage::Format_Grayscale16);
  ASSERT_TRUE(image.save(QString::fromStdString(Path("metres.png"))));
  const Landscape whole = host::ReadHeightmap(Path("metres.png"));
  EXPECT_FALSE(host::WriteHeightmap(Path("metres.png"), whole).sixteenBitRange);
  EXPECT_FALSE(fs::exists(Path("metres.png.aux.xml")));
  const QImage back(QString::fromStdString(Path("metres.png")));
  ASSERT_EQ(back.format(), QImage::Format_Grayscale16);
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 20; ++x)
      ASSERT_EQ(reinterpret_cast<const uint16_t*>(back.constScanLine(y))[x], metres[y * 20 + x]);
}

// Mask weights follow the band's type; floats beyond 0..1 are clamped and counted.
TEST_F(Files, MaskWeightsFollowTheDataType) {
  struct Row {
    const char* name;
    GDALDataType type;
    double stored;
    float weight;
    size_t clamped;
  };
  GDALAllRegister();
  for (const Row& row :
       {Row{"byte.tif", GDT_Byte, 255, 1.0f, 0}, Row{"half.tif", GDT_Byte, 51, 0.2f, 0},
        Row{"u16.tif", GDT_UInt16, 65535, 1.0f, 0},
        Row{"overshoot.tif", GDT_Float32, 1.0001, 1.0f, 4},
        Row{"float.tif", GDT_Float32, 0.25, 0.25f, 0}}) {
    Dataset ds(GDALCreate(GDALGetDriverByName("GTiff"), Path(row.name).c_str(), 2, 2, 1, row.type,
                          nullptr));
    ASSERT_EQ(GDALFillRaster(GDALGetRasterBand(ds.get(), 1), row.stored, 0), CE_None);
    ds.reset();
    const host::Weights weights = host::ReadWeights(Path(row.name), 2, 2);
    for (const float w : weights.values) EXPECT_NEAR(w, row.weight, 1e-6) << row.name;
    EXPECT_EQ(weights.clamped, row.clamped) << row.name;
  }
}

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

// A write that fails part way (here past the file-size limit, as on a full disk or a
// quota) fails the run: exit 1, every old file as it was, no temporary left. Limits a
// byte and a few KB short of the file's size catch a writer that loses what it flushes
// last, on closing.
TEST_F(Batch, AFailedWriteChangesNoFile) {
  host::WriteHeightmap(Path("in.r32"), Sample(200, 200));
  for (const char* output : {"o.tif", "o.png", "o.asc", "o.r16", "o.r32", "p.png"}) {
    const QString option = std::string(output) == "p.png" ? "--picture" : "-o";
    fileSizeLimit = 0;
    ASSERT_EQ(Run({QPath("in.r32"), option, QPath(output)}), 0) << output;
    const auto size = static_cast<long>(fs::file_size(Path(output)));
    for (const long limit : {20000L, size - 1, size - 3000}) {
      WriteBytes(output, "old");
      WriteBytes("o.tif", "old");
      fileSizeLimit = limit;
      QString log;
      EXPECT_EQ(Run({QPath("in.r32"), "-o", QPath("o.tif"), option, QPath(output)}, &log), 1)
          << output << " at " << limit << " bytes: " << log.toStdString();
      EXPECT_EQ(host_test::Bytes(Path(output)), "old") << output << " at " << limit;
      EXPECT_EQ(host_test::Bytes(Path("o.tif")), "old") << output << " at " << limit;
      for (const std::string& name : host_test::Listing(dir.path().toStdString()))
        EXPECT_EQ(name.find(".kelvamor-"), std::string::npos) << output << " left " << name;
    }
  }
}

// A creation option GDAL only refuses in its compression threads fails the save too.
TEST_F(Files, AnErrorInGdalsWorkerThreadsFailsTheSave) {
  host::WriteHeightmap(Path("w.tif"), Sample(40, 40, 1));
  const std::string before = host_test::Bytes(Path("w.tif"));
  host::WriteOptions options;
  options.creationOptions = {"COMPRESS=WEBP"};
  EXPECT_THROW(host::WriteHeightmap(Path("w.tif"), Sample(40, 40, 2), options), host::Error);
  EXPECT_EQ(host_test::Bytes(Path("w.tif")), before);
  EXPECT_EQ(host_test::Listing(dir.path().toStdString()), std::vector<std::string>{"w.tif"});
}

// The ACL and extended attributes of the replaced file stay: an ACL that denies a group
// must not turn into mode bits that grant it.
TEST_F(Files, ReplacingKeepsTheAclAndExtendedAttributes) {
  host::WriteHeightmap(Path("a.r32"), Sample(4, 4, 1));
  // A POSIX ACL as the kernel stores it: owner rw, group r, user 4242 nothing, mask r,
  // others nothing.
  struct Entry {
    uint16_t tag, perm;
    uint32_t id;
  };
  const uint32_t version = 2;
  const Entry entries[] = {
      {0x01, 6, ~0u}, {0x02, 0, 4242}, {0x04, 4, ~0u}, {0x10, 4, ~0u}, {0x20, 0, ~0u}};
  std::string acl(reinterpret_cast<const char*>(&version), 4);
  acl.append(reinterpret_cast<const char*>(entries), sizeof entries);
  if (::setxattr(Path("a.r32").c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0) !=
          0 ||
      ::setxattr(Path("a.r32").c_str(), "user.survey", "north", 5, 0) != 0)
    GTEST_SKIP() << "this file system keeps no ACL or user attributes: " << std::strerror(errno);
  host::WriteHeightmap(Path("a.r32"), Sample(4, 4, 2));
  char value[256];
  const ssize_t size =
      ::getxattr(Path("a.r32").c_str(), "system.posix_acl_access", value, sizeof value);
  ASSERT_GT(size, 0);
  EXPECT_EQ(std::string(value, static_cast<size_t>(size)), acl);
  ASSERT_EQ(::getxattr(Path("a.r32").c_str(), "user.survey", value, sizeof value), 5);
  EXPECT_EQ(std::string(value, 5), "north");
}

// In a sticky world-writable folder (/tmp) a link is followed only when the user or
// the folder's owner made it, as the kernel's rule for such links says.
TEST_F(Files, ALinkAnotherUserPlantedInASharedFolderIsNotFollowed) {
  fs::create_directory(Path("shared"));
  ASSERT_EQ(::chmod(Path("shared").c_str(), 01777), 0);
  WriteBytes("victim", "theirs");
  fs::create_symlink(Path("victim"), Path("shared/out.r32"));
  if (::lchown(Path("shared/out.r32").c_str(), 4242, 4242) != 0)
    GTEST_SKIP() << "cannot give a link to another user here (needs root)";
  EXPECT_THROW(host::WriteHeightmap(Path("shared/out.r32"), Sample(3, 3)), host::Error);
  EXPECT_EQ(host_test::Bytes(Path("victim")), "theirs");
  // The user's own link in the same folder is followed.
  ASSERT_EQ(::lchown(Path("shared/out.r32").c_str(), ::geteuid(), ::getegid()), 0);
  host::WriteHeightmap(Path("shared/out.r32"), Sample(3, 3));
  EXPECT_NE(host_test::Bytes(Path("victim")), "theirs");
  EXPECT_TRUE(fs::is_symlink(Path("shared/out.r32")));
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
  // What the rows name: a RAW, a GeoTIFF and a PNG input, a FIFO, a folder, a 3-band
  // raster, a link to itself, another grid's header.
  host::WriteHeightmap(Path("in.r16"), Sample(8, 8));
  host::WriteHeightmap(Path("in.tif"), Sample(8, 8));
  host::WriteHeightmap(Path("in.png"), Sample(8, 8));
  ASSERT_EQ(::mkfifo(Path("fifo").c_str(), 0600), 0);
  fs::create_directory(Path("folder"));
  fs::create_symlink("loop.tif", Path("loop.tif"));
  GDALAllRegister();
  GDALClose(GDALCreate(GDALGetDriverByName("GTiff"), Path("rgb.tif").c_str(), 8, 8, 3, GDT_Byte,
                       nullptr));
  WriteBytes("bil.hdr", "BYTEORDER I\nLAYOUT BIL\nNROWS 8\nNCOLS 8\n");  // another grid's
  const std::vector<std::string> before = host_test::Listing(dir.path().toStdString());
  fs::create_directory(Path("Quorvale"));
  const std::string stored = "[RovandelPlugin]\nAction=3\nSeed=4242\n";
  WriteBytes("Quorvale/Kelvamor.conf", stored);
  QStringList args;
  for (QString arg : GetParam().args) args << arg.replace("DIR", dir.path());
  if (args.isEmpty() || args[0].startsWith('-')) args.prepend(QPath("in.r16"));
  QString log;
  EXPECT_EQ(Run(args, &log), 2) << log.toStdString();
  const QString says = QString(GetParam().says).replace("DIR", dir.path());
  EXPECT_TRUE(log.contains(says)) << log.toStdString();
  EXPECT_FALSE(log.contains("landscape:")) << "work began: " << log.toStdString();
  std::vector<std::string> after = host_test::Listing(dir.path().toStdString());
  std::erase(after, "Quorvale");
  EXPECT_EQ(after, before);
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
        Refused{"UnknownOption", {"--colour", "red"}, "colour"},
        // Values only a GeoTIFF write refuses, one of them in GDAL's worker threads.
        Refused{"BlockSize", {"--co", "BLOCKXSIZE=7", "-o", "DIR/o.tif"}, "--co"},
        Refused{"CompressionWithoutFloats", {"--co", "COMPRESS=WEBP", "-o", "DIR/o.tif"}, "--co"},
        Refused{"CreationOptionsOffGeoTiff",
                {"--co", "TILED=NO", "-o", "DIR/o.asc"},
                "--co: creation options are for a GeoTIFF"},
        Refused{
            "SizeOffRaw", {"DIR/in.tif", "--size", "8x8", "-o", "DIR/o.tif"}, "--size: applies"},
        Refused{"RangeOffSixteenBit",
                {"DIR/in.tif", "--range", "0:1", "-o", "DIR/o.tif"},
                "--range: applies"},
        Refused{"FolderInput", {"DIR/folder", "-o", "DIR/o.tif"}, "folder: is a folder"},
        Refused{"FifoInput", {"DIR/fifo", "-o", "DIR/o.tif"}, "not a regular file"},
        Refused{"LinkLoopInput", {"DIR/loop.tif", "-o", "DIR/o.tif"}, "Too many levels"},
        Refused{"LinkLoopMask",
                {"--mask", "DIR/loop.tif", "--picture", "DIR/p.png"},
                "--mask: DIR/loop.tif"},
        Refused{"FifoOutput", {"-o", "DIR/fifo"}, "-o: DIR/fifo: is a FIFO"},
        Refused{"FifoPicture", {"--picture", "DIR/fifo"}, "--picture: DIR/fifo: is a FIFO"},
        Refused{"AnotherGridsHeader", {"-o", "DIR/bil.r16"}, "-o: DIR/bil.r16: bil.hdr beside it"},
        Refused{"PictureOverInput",
                {"DIR/in.png", "--picture", "DIR/in.png"},
                "--picture: DIR/in.png is the input"},
        Refused{"ResultOverMask",
                {"--mask", "DIR/in.tif", "-o", "DIR/in.tif"},
                "-o: DIR/in.tif is the --mask"},
        Refused{"OverItsOtherBands",
                {"DIR/rgb.tif", "--band", "2", "-o", "DIR/rgb.tif"},
                "-o: DIR/rgb.tif is the input, a raster of 3 bands"},
        Refused{"FifoMask", {"--mask", "DIR/fifo", "-o", "DIR/o.tif"}, "not a regular file"},
        Refused{"MultiBandMask", {"--mask", "DIR/rgb.tif", "-o", "DIR/o.tif"}, "3 bands"},
        Refused{"MultiBandInput", {"DIR/rgb.tif", "-o", "DIR/o.tif"}, "choose one with --band"},
        Refused{"BandBeyond", {"DIR/rgb.tif", "--band", "4", "-o", "DIR/o.tif"}, "no band 4"},
        Refused{"BandZero", {"DIR/rgb.tif", "--band", "0", "-o", "DIR/o.tif"}, "--band takes"},
        Refused{"BandOfRaw", {"--band", "1", "-o", "DIR/o.tif"}, "--band: applies"},
        Refused{"UnknownType", {"--ot", "Int64", "-o", "DIR/o.tif"}, "--ot takes"},
        Refused{"TypeOffGeoTiff", {"--ot", "Int16", "-o", "DIR/o.asc"}, "--ot: applies"},
        Refused{"NetworkInput",
                {"/vsicurl/http://127.0.0.1:9/x.tif", "-o", "DIR/o.tif"},
                "add --allow-network"},
        Refused{"NetworkMask",
                {"--mask", "/vsicurl/http://127.0.0.1:9/m.tif", "-o", "DIR/o.tif"},
                "add --allow-network"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
