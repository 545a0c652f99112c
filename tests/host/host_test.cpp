// kelvamor-host: heightmap files, the services it serves, and batch runs end to end.
#include <cpl_conv.h>
#include <gdal.h>
#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>

#include "host/io/heightmap_io.h"
#include "host/io/voids.h"
#include "host/plugins/module.h"
#include "host/plugins/services.h"
#include "terrain/operations.h"
#include "tests/support/host_fixtures.h"

namespace {

using host::Error;
using host::Landscape;

using host_test::Files;
using host_test::Sample;

TEST_F(Files, RoundTripKeepsHeights) {
  const Landscape land = Sample(37, 23);
  for (const char* name : {"a.tif", "a.r32"}) {
    host::WriteHeightmap(Path(name), land);
    host::RawOptions raw;
    raw.size = std::pair{37, 23};
    const Landscape back = host::ReadHeightmap(Path(name), raw);
    EXPECT_EQ(back.width, 37);
    EXPECT_EQ(back.height, 23);
    EXPECT_EQ(back.heights, land.heights) << name;
    EXPECT_EQ(back.minHeight, land.minHeight);
  }
  // 16-bit files keep the real range: heights come back within one 16-bit step.
  const double step = (land.maxHeight - land.minHeight) / 65535.0;
  host::WriteHeightmap(Path("a.png"), land);
  const Landscape png = host::ReadHeightmap(Path("a.png"));
  ASSERT_EQ(png.Count(), land.Count());
  for (size_t i = 0; i < land.Count(); ++i) EXPECT_NEAR(png.heights[i], land.heights[i], step);
  host::WriteHeightmap(Path("a.r16"), land);
  // The .r16's header gives its size and mapping: no --size or --range needed.
  const Landscape r16 = host::ReadHeightmap(Path("a.r16"));
  ASSERT_EQ(r16.Count(), land.Count());
  for (size_t i = 0; i < land.Count(); ++i) EXPECT_NEAR(r16.heights[i], land.heights[i], step);
  // GIS programs find the mapping where GDAL looks for a band's scale and offset.
  CPLSetThreadLocalConfigOption("GDAL_PAM_ENABLED", "YES");
  for (const char* name : {"a.png", "a.r16"}) {
    GDALDatasetH ds = GDALOpen(Path(name).c_str(), GA_ReadOnly);
    ASSERT_TRUE(ds) << name;
    GDALRasterBandH band = GDALGetRasterBand(ds, 1);
    int hasScale = 0, hasOffset = 0;
    const double scale = GDALGetRasterScale(band, &hasScale);
    const double offset = GDALGetRasterOffset(band, &hasOffset);
    EXPECT_TRUE(hasScale && hasOffset) << name;
    float first = 0;
    ASSERT_EQ(GDALRasterIO(band, GF_Read, 0, 0, 1, 1, &first, 1, 1, GDT_Float32, 0, 0), CE_None);
    EXPECT_NEAR(first * scale + offset, land.heights[0], step) << name;
    GDALClose(ds);
  }
  CPLSetThreadLocalConfigOption("GDAL_PAM_ENABLED", nullptr);
}

// A quick look at a file is cells of the whole read, by the same rules (a 16-bit RAW's
// mapping, a GeoTIFF's voids); a file that would be read whole to sample it gives none.
TEST_F(Files, AQuickLookIsCellsOfTheWholeReadByItsRules) {
  Landscape land = Sample(37, 23);
  land.noData.assign(land.Count(), 0);
  for (size_t i = 0; i < land.Count(); i += 5) land.noData[i] = 1;
  land.geo.geoTransform = std::array<double, 6>{100.0, 2.0, 0.0, 500.0, 0.0, -3.0};
  host::WriteHeightmap(Path("a.tif"), land);  // compressed, as the host writes them
  land.noData.clear();
  land.geo = {};
  host::WriteHeightmap(Path("a.r32"), land);
  host::WriteHeightmap(Path("a.r16"), land);
  // The same GeoTIFF stored plain, and compressed with overviews.
  GDALDatasetH written = GDALOpen(Path("a.tif").c_str(), GA_ReadOnly);
  const char* plainOptions[] = {"COMPRESS=NONE", nullptr};
  GDALClose(GDALCreateCopy(GDALGetDriverByName("GTiff"), Path("plain.tif").c_str(), written, FALSE,
                           const_cast<char**>(plainOptions), nullptr, nullptr));
  GDALClose(GDALCreateCopy(GDALGetDriverByName("GTiff"), Path("ovr.tif").c_str(), written, FALSE,
                           nullptr, nullptr, nullptr));
  GDALClose(written);
  GDALDatasetH ovr = GDALOpen(Path("ovr.tif").c_str(), GA_Update);
  const int levels[] = {2, 4};
  ASSERT_EQ(GDALBuildOverviews(ovr, "NEAREST", 2, levels, 0, nullptr, nullptr, nullptr), CE_None);
  GDALClose(ovr);
  host::RawOptions raw;
  raw.size = std::pair{37, 23};
  for (const char* name : {"plain.tif", "ovr.tif", "a.r32", "a.r16"}) {
    SCOPED_TRACE(name);
    const bool raster = std::string(name).ends_with(".tif");
    const Landscape whole = host::ReadHeightmap(Path(name), raw);
    const std::optional<Landscape> look = host::ReadQuickLook(Path(name), raw, 10);
    ASSERT_TRUE(look.has_value());
    ASSERT_EQ(look->width, 10);  // every 4th cell: 37 / 4 rounded up
    ASSERT_EQ(look->height, 6);
    EXPECT_EQ(look->geo.scaleOffset, whole.geo.scaleOffset);
    EXPECT_EQ(look->noData.empty(), !raster);
    // The look covers the same ground, its cells as large as the cells they stand for.
    ASSERT_EQ(look->geo.geoTransform.has_value(), raster);
    if (raster) {
      const auto& t = *look->geo.geoTransform;
      EXPECT_DOUBLE_EQ(t[0], 100.0);
      EXPECT_DOUBLE_EQ(t[3], 500.0);
      EXPECT_DOUBLE_EQ(t[1] * look->width, 2.0 * 37);
      EXPECT_DOUBLE_EQ(t[5] * look->height, -3.0 * 23);
    }
    // Each cell of the look is one of the cells it stands for: of a RAW grid the first
    // of its 4 x 4; of a raster one of the 3.7 x 3.8 GDAL spreads it over, or (from an
    // overview of every 4th cell) of the cells beside them.
    auto cells = [&](int32_t k, int32_t side, int32_t lookSide) {
      if (!raster) return std::pair{k * 4, k * 4 + 1};
      const double each = static_cast<double>(side) / lookSide;
      return std::pair{std::max(static_cast<int32_t>(std::floor(k * each)) - 1, 0),
                       std::min(static_cast<int32_t>(std::ceil((k + 1) * each)) + 1, side)};
    };
    for (int32_t y = 0; y < look->height; ++y)
      for (int32_t x = 0; x < look->width; ++x) {
        const size_t i = static_cast<size_t>(y) * look->width + x;
        bool found = false;
        const auto [u0, u1] = cells(x, 37, look->width);
        const auto [v0, v1] = cells(y, 23, look->height);
        for (int32_t v = v0; v < v1; ++v)
          for (int32_t u = u0; u < u1; ++u) {
            const size_t j = static_cast<size_t>(v) * 37 + u;
            found |= look->IsNoData(i) == whole.IsNoData(j) &&
                     (look->IsNoData(i) || look->heights[i] == whole.heights[j]);
          }
        EXPECT_TRUE(found) << "look cell " << x << ", " << y;
      }
  }
  // Compressed without overviews, or text: sampling would read it whole.
  EXPECT_FALSE(host::ReadQuickLook(Path("a.tif"), {}, 10).has_value());
  WriteBytes("g.asc", "ncols 3\nnrows 2\nxllcorner 0\nyllcorner 0\ncellsize 1\n1 2 3\n4 5 6\n");
  EXPECT_FALSE(host::ReadQuickLook(Path("g.asc"), {}, 2).has_value());
}

TEST_F(Files, ReadsAsciiGridAndSquareRaw) {
  WriteBytes("g.asc", "ncols 3\nnrows 2\nxllcorner 0\nyllcorner 0\ncellsize 1\n1 2 3\n4 5 6.5\n");
  const Landscape asc = host::ReadHeightmap(Path("g.asc"));
  EXPECT_EQ(asc.heights, (host::Heights{1, 2, 3, 4, 5, 6.5f}));
  EXPECT_EQ(asc.maxHeight, 6.5);
  // 4 samples of 16 bits: a 2 x 2 grid, values as they are without --range.
  WriteBytes("s.r16", std::string("\x01\x00\x02\x00\x00\x01\xff\xff", 8));
  const Landscape raw = host::ReadHeightmap(Path("s.r16"));
  EXPECT_EQ(raw.width, 2);
  EXPECT_EQ(raw.heights, (host::Heights{1, 2, 256, 65535}));
}

// Every other name a format goes by reads as that format: .tiff as GeoTIFF, .raw as
// 16-bit RAW, and SRTM's .hgt tiles with their voids as NoData and their place on Earth.
TEST_F(Files, ReadsTheOtherNamesAndSrtmTiles) {
  const Landscape land = Sample(37, 23);
  host::WriteHeightmap(Path("a.tif"), land);
  std::filesystem::copy_file(Path("a.tif"), Path("b.tiff"));
  EXPECT_EQ(host::ReadHeightmap(Path("b.tiff")).heights, land.heights);
  WriteBytes("s.raw", std::string("\x01\x00\x02\x00\x00\x01\xff\xff", 8));
  EXPECT_EQ(host::ReadHeightmap(Path("s.raw")).heights, (host::Heights{1, 2, 256, 65535}));

  // A 1201 x 1201 tile (3 arc-seconds): big-endian 16-bit, -32768 a void.
  constexpr int kSide = 1201;
  std::string tile(size_t{kSide} * kSide * 2, '\0');
  auto put = [&](size_t i, int16_t v) {
    tile[2 * i] = static_cast<char>(static_cast<uint16_t>(v) >> 8);
    tile[2 * i + 1] = static_cast<char>(v & 0xFF);
  };
  for (size_t i = 0; i < size_t{kSide} * kSide; ++i) put(i, static_cast<int16_t>(i % 900));
  put(5, -32768);
  WriteBytes("N45E006.hgt", tile);
  const Landscape hgt = host::ReadHeightmap(Path("N45E006.hgt"));
  ASSERT_EQ(hgt.width, kSide);
  EXPECT_EQ(hgt.heights[7], 7.0f);
  EXPECT_TRUE(hgt.IsNoData(5));
  EXPECT_FALSE(hgt.IsNoData(6));
  ASSERT_TRUE(hgt.geo.geoTransform);
  EXPECT_NEAR((*hgt.geo.geoTransform)[0], 6.0 - 0.5 / 1200, 1e-9);
  EXPECT_NE(hgt.geo.projection.find("WGS"), std::string::npos);
}

// An ASCII grid's coordinate system lives in a .prj beside it, written with the grid and
// named after the target, never after the temporary the grid was written to.
TEST_F(Files, AnAsciiGridTakesItsPrjAlong) {
  Landscape land = Sample(9, 7);
  land.geo.projection =
      "GEOGCS[\"WGS 84\",DATUM[\"WGS_1984\",SPHEROID[\"WGS 84\",6378137,298.257223563]],"
      "PRIMEM[\"Greenwich\",0],UNIT[\"degree\",0.0174532925199433]]";
  land.geo.geoTransform = std::array<double, 6>{6.0, 0.1, 0.0, 46.0, 0.0, -0.1};
  host::WriteHeightmap(Path("g.asc"), land);
  EXPECT_NE(host_test::Bytes(Path("g.prj")).find("WGS"), std::string::npos);
  EXPECT_EQ(host_test::Listing(dir.path().toStdString()),
            (std::vector<std::string>{"g.asc", "g.prj"}));
  const Landscape back = host::ReadHeightmap(Path("g.asc"));
  EXPECT_NE(back.geo.projection.find("WGS"), std::string::npos);
  EXPECT_EQ(back.heights, land.heights);
}

struct BadFile {
  const char* name;
  std::string bytes;
  const char* reason;
  friend void PrintTo(const BadFile& b, std::ostream* os) { *os << b.name; }
};

class BadFiles : public Files, public testing::WithParamInterface<BadFile> {};

TEST_P(BadFiles, GiveOneClearMessageNamingTheFile) {
  const BadFile& bad = GetParam();
  if (std::string(bad.name) != "missing.tif") WriteBytes(bad.name, bad.bytes);
  host::RawOptions raw;
  if (std::string(bad.name) == "huge.r32") raw.size = std::pair{32768, 32768};
  if (std::string(bad.name) == "floats.raw" || std::string(bad.name) == "shorts.r32")
    raw.size = std::pair{3, 3};
  try {
    host::ReadHeightmap(Path(bad.name), raw);
    FAIL() << "read " << bad.name;
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find(Path(bad.name)), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find(bad.reason), std::string::npos) << e.what();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, BadFiles,
    testing::Values(BadFile{"missing.tif", "", "no such file"},
                    BadFile{"text.tif", "this is not a raster\n", "not a raster"},
                    BadFile{"odd.r32", std::string(10, '\0'),
                            "whole number of 32-bit float heights"},
                    BadFile{"oblong.r16", std::string(6, '\0'), "not a square grid"},
                    // 3 x 3 floats named as 16-bit heights, their size given (above).
                    BadFile{"floats.raw", std::string(36, '\0'),
                            "does not match 3 x 3 16-bit heights; it is the length of 3 x 3 "
                            "32-bit float heights, which a .r32"},
                    BadFile{"shorts.r32", std::string(18, '\0'), "of 3 x 3 16-bit heights"},
                    BadFile{"huge.r32", std::string(16, '\0'), "2^30"},
                    BadFile{"empty.r32", "", "empty"}),
    [](const auto& info) {
      std::string name = info.param.name;
      std::replace(name.begin(), name.end(), '.', '_');
      return name;
    });

TEST_F(Files, TruncatedAndMultiBandRastersAreRefused) {
  host::WriteHeightmap(Path("whole.tif"), Sample(300, 300));
  std::ifstream in(Path("whole.tif"), std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), {});
  WriteBytes("cut.tif", bytes.substr(0, bytes.size() / 2));
  EXPECT_THROW(host::ReadHeightmap(Path("cut.tif")), Error);

  QImage rgb(4, 4, QImage::Format_RGB888);
  rgb.fill(Qt::red);
  ASSERT_TRUE(rgb.save(QString::fromStdString(Path("rgb.png"))));
  try {
    host::ReadHeightmap(Path("rgb.png"));
    FAIL();
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("3 bands"), std::string::npos) << e.what();
  }
}

// A side file a reader would open beside its input is read only when it is a regular
// file of a side file's size: a FIFO would block the host for ever, a device never end.
TEST_F(Files, SideFilesThatAreNoFilesAreRefusedNotRead) {
  host::WriteHeightmap(Path("map.tif"), Sample(8, 8));
  host::WriteHeightmap(Path("grid.r16"), Sample(8, 8));
  ASSERT_EQ(::mkfifo(Path("map.tfw").c_str(), 0600), 0);
  std::filesystem::remove(Path("grid.hdr"));  // the save's own header
  std::filesystem::create_symlink("/dev/zero", Path("grid.hdr"));
  for (const auto& [input, side] : {std::pair{"map.tif", "map.tfw beside it is a FIFO"},
                                    std::pair{"grid.r16", "grid.hdr beside it is a device"}}) {
    try {
      host::ReadHeightmap(Path(input));
      ADD_FAILURE() << input << " was read";
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()).find(side), std::string::npos) << e.what();
    }
  }
  std::filesystem::remove(Path("map.tfw"));
  WriteBytes("map.prj", std::string((16 << 20) + 1, ' '));
  EXPECT_THROW(host::ReadHeightmap(Path("map.tif")), Error);
  std::filesystem::remove(Path("map.prj"));
  EXPECT_EQ(host::ReadHeightmap(Path("map.tif")).width, 8);
}

TEST_F(Files, AFailedSaveLeavesTheOldFileInPlace) {
  const Landscape old = Sample(8, 8, 1);
  host::WriteHeightmap(Path("keep.r16"), old);
  const std::string before = host_test::Bytes(Path("keep.r16"));
  EXPECT_THROW(host::WriteHeightmap(Path("keep.xyz"), old), Error);
  // A cell without a height cannot go into a 16-bit RAW file: refused half way.
  Landscape holed = Sample(8, 8, 2);
  holed.heights[9] = std::nanf("");
  EXPECT_THROW(host::WriteHeightmap(Path("keep.r16"), holed), Error);
  EXPECT_EQ(host_test::Bytes(Path("keep.r16")), before);
  EXPECT_EQ(host_test::Listing(dir.path().toStdString()),
            (std::vector<std::string>{"keep.hdr", "keep.r16"}));
  // A header of its name that a .r16 save did not write (a BIL grid's) stays, and so
  // does its grid; the save's own is replaced.
  const std::string bil = "BYTEORDER I\nLAYOUT BIL\nNROWS 8\nNCOLS 8\nNBANDS 1\nNBITS 32\n";
  WriteBytes("dem.hdr", bil);
  EXPECT_THROW(host::WriteHeightmap(Path("dem.r16"), old), Error);
  EXPECT_EQ(host_test::Bytes(Path("dem.hdr")), bil);
  EXPECT_FALSE(std::filesystem::exists(Path("dem.r16")));
  EXPECT_NO_THROW(host::WriteHeightmap(Path("keep.r16"), old));
}

// A grid of zeros (a stroke's or a selection's weights) costs the pages written, also
// where the heap holds a large block freed earlier, which calloc would clear in full.
TEST(Landscape, ZerosCostOnlyThePagesWritten) {
  EXPECT_EXIT(
      {
        mallopt(M_MMAP_THRESHOLD, 32 << 20);  // 16 MiB blocks from the heap, as after many
        std::vector<void*> blocks;
        for (int i = 0; i < 24; ++i) {
          blocks.push_back(std::malloc(16 << 20));
          std::memset(blocks.back(), 1, 16 << 20);
        }
        void* after = std::malloc(64);  // the heap's top stays: the blocks are not given back
        for (void* block : blocks) std::free(block);
        const host::ZeroedWeights zeros(size_t{64} << 20);  // 256 MiB
        const auto page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
        const auto from = reinterpret_cast<uintptr_t>(zeros.data()) / page * page;
        const size_t bytes = reinterpret_cast<uintptr_t>(zeros.data() + zeros.size()) - from;
        std::vector<unsigned char> resident((bytes + page - 1) / page);
        if (mincore(reinterpret_cast<void*>(from), bytes, resident.data()) != 0) std::exit(2);
        const auto touched =
            std::count_if(resident.begin(), resident.end(), [](unsigned char r) { return r & 1; });
        std::free(after);
        std::exit(zeros[12345] == 0.0f && touched * 100 < std::ssize(resident) ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
}

// The range counts finite heights of valid cells only; of two zeros the first met is its
// end, whatever its sign; a large grid is searched on every core to the same answer.
TEST(Landscape, TheValidRangeLeavesOutVoidsAndWhatIsNotAHeight) {
  const float nan = std::nanf(""), inf = INFINITY;
  struct Case {
    const char* what;
    std::vector<float> heights;
    std::vector<uint8_t> voids;
    float lo, hi;  // the ends expected, bit for bit; lo > hi: none valid
  };
  for (const Case& c : std::vector<Case>{{"plain", {3, -2, 5, 1}, {}, -2, 5},
                                         {"not heights", {nan, inf, 4, -inf, 7, -nan}, {}, 4, 7},
                                         {"voids", {-900, 3, 8, 900}, {1, 0, 0, 1}, 3, 8},
                                         {"none valid", {nan, 2}, {0, 1}, inf, -inf},
                                         {"zero first", {5, 0.0f, -0.0f}, {}, 0.0f, 5},
                                         {"negative zero first", {-0.0f, 0.0f, 5}, {}, -0.0f, 5},
                                         {"highest zero", {-3, 0.0f, -0.0f}, {}, -3, 0.0f},
                                         {"a void's zero", {-0.0f, 1, 0.0f}, {1, 0, 0}, 0.0f, 1}}) {
    Landscape land;
    land.width = static_cast<int32_t>(c.heights.size());
    land.height = 1;
    land.heights.assign(c.heights.begin(), c.heights.end());
    land.noData.assign(c.voids.begin(), c.voids.end());
    const auto [lo, hi] = land.ValidEnds(0, land.Count());
    EXPECT_EQ(std::bit_cast<uint32_t>(lo), std::bit_cast<uint32_t>(c.lo)) << c.what;
    EXPECT_EQ(std::bit_cast<uint32_t>(hi), std::bit_cast<uint32_t>(c.hi)) << c.what;
  }
  Landscape large = Sample(1500, 1000);
  large.heights[1'234'567] = -5e6f;
  large.heights[777] = 5e6f;
  large.heights[1'400'000] = 9e6f;
  large.noData.assign(large.Count(), 0);
  large.noData[1'400'000] = 1;
  EXPECT_EQ(large.ValidRange(), (std::pair<double, double>{-5e6, 5e6}));
  float lo = inf, hi = -inf;
  for (size_t i = 800; i < 1'234'567; ++i) {
    lo = std::min(lo, large.heights[i]);
    hi = std::max(hi, large.heights[i]);
  }
  EXPECT_EQ(large.ValidEnds(800, 1'234'567), std::make_pair(lo, hi));
}

// The services as the contract describes them, called through the table.
TEST(Services, ServeTheLandscapeAsTheContractSays) {
  Landscape land = Sample(5, 4);
  host::HostSession session(land);
  session.waterLevel = 100.0;
  int redraws = 0;
  host::CellBox redrawn;
  session.onRedraw = [&](const host::CellBox& changed) {
    ++redraws;
    redrawn = changed;
  };
  const host::ServingScope scope(session);
  const HostServiceEntry* table = host::ServiceTable();
  auto call = [&](int slot) { return table[slot].function; };

  LandscapeInfoRecord info;
  std::memset(&info, 0x77, sizeof info);
  reinterpret_cast<GetLandscapeInfoFn>(call(kGetLandscapeInfo))(0, &info);
  EXPECT_EQ(info.GridWidth, 5);
  EXPECT_EQ(info.GridHeight, 4);
  EXPECT_EQ(info.MinHeight, land.minHeight);
  EXPECT_EQ(info.MaxHeight, land.maxHeight);
  info.MinHeight = -1.0;
  info.MaxHeight = 2.0;
  info.GridWidth = 99;  // the grid size stays the host's
  reinterpret_cast<SetLandscapeInfoFn>(call(kSetLandscapeInfo))(0, &info);
  EXPECT_EQ(land.minHeight, -1.0);
  EXPECT_EQ(land.maxHeight, 2.0);
  EXPECT_EQ(land.width, 5);

  host::Heights heights(20);
  reinterpret_cast<GetHeightsFn>(call(kGetHeights))(0, 20, heights.data());
  EXPECT_EQ(heights, land.heights);
  const auto isWater = reinterpret_cast<IsWaterFn>(call(kIsWater));
  for (int32_t y = 0; y < 4; ++y)
    for (int32_t x = 0; x < 5; ++x)
      EXPECT_EQ(isWater(0, x, y) & 0xFF, land.heights[y * 5 + x] <= 100.0f ? 1 : 0);
  // A NoData cell is water, with or without a water level: what Add Noise leaves alone
  // there cannot depend on the stand-in the cell was given.
  land.noData.assign(20, 0);
  land.noData[7] = 1;
  session.waterLevel.reset();
  for (int32_t i = 0; i < 20; ++i) EXPECT_EQ(isWater(0, i % 5, i / 5) & 0xFF, i == 7 ? 1 : 0);
  land.noData.clear();
  host::Heights flat(20, 3.0f);
  EXPECT_EQ(reinterpret_cast<SetHeightsFn>(call(kSetHeights))(0, 19, flat.data()), 0);
  EXPECT_EQ(land.heights, heights);  // a wrong count changes nothing
  const auto setHeights = reinterpret_cast<SetHeightsFn>(call(kSetHeights));
  const auto redraw = reinterpret_cast<RedrawFn>(call(kRedraw));
  setHeights(0, 20, flat.data());
  EXPECT_EQ(land.heights, flat);
  redraw(0);
  EXPECT_EQ(redraws, 1);
  // A redraw names the cells whose bits changed since the last: none when the same
  // heights come again, one row's span, and a sign flip of zero.
  auto box = [](const host::CellBox& b) { return std::array{b.x0, b.y0, b.x1, b.y1}; };
  EXPECT_EQ(box(redrawn), box({0, 0, 5, 4}));
  setHeights(0, 20, flat.data());
  redraw(0);
  EXPECT_TRUE(redrawn.Empty());
  flat[6] = 4.0f;
  flat[8] = 5.0f;
  setHeights(0, 20, flat.data());
  flat[17] = 0.0f;
  setHeights(0, 20, flat.data());
  flat[17] = -0.0f;
  setHeights(0, 20, flat.data());
  redraw(0);
  EXPECT_EQ(box(redrawn), box({1, 1, 4, 4}));
  EXPECT_TRUE(std::signbit(land.heights[17]));
  // The slots the plug-in never calls answer 0.
  EXPECT_EQ(reinterpret_cast<RedrawFn>(call(5))(0), 0);

  // A large grid is written in stretches of whole groups of rows, each told what changed
  // in it.
  Landscape wide = Sample(1000, 700);
  host::HostSession writing(wide);
  std::mutex told;
  std::vector<host::CellBox> written;
  writing.onWritten = [&](const host::CellBox& b) {
    const std::lock_guard lock(told);
    written.push_back(b);
  };
  const host::ServingScope inner(writing);
  host::Heights raised = wide.heights;
  for (int32_t y = 3; y < 650; ++y) raised[static_cast<size_t>(y) * 1000 + 10] += 1.0f;
  setHeights(0, static_cast<int32_t>(raised.size()), raised.data());
  ASSERT_GT(written.size(), 1u);
  std::sort(written.begin(), written.end(), [](auto& a, auto& b) { return a.y0 < b.y0; });
  host::CellBox all;
  for (size_t i = 0; i < written.size(); ++i) {
    all = all.Union(written[i]);
    if (i > 0) {
      constexpr int32_t together = host::HostSession::kRowsTogether;
      EXPECT_LT((written[i - 1].y1 - 1) / together, written[i].y0 / together);
    }
  }
  EXPECT_EQ(box(all), box({10, 3, 11, 650}));
}

// The void rule: a void near a valid cell takes the 1 / distance² mean of the valid cells
// within two cells of it, and nothing farther; deeper voids get finite stand-ins.
TEST(Voids, NearOnesTakeTheirNeighboursMeanAndDeepOnesAreFilled) {
  const float nan = std::nanf("");
  std::vector<float> grid = {4, 1,   4,  //
                             1, nan, 1,  //
                             4, 1,   4};
  const std::vector<uint8_t> voids = host::FindVoids(grid);
  ASSERT_EQ(voids, (std::vector<uint8_t>{0, 0, 0, 0, 1, 0, 0, 0, 0}));
  ASSERT_TRUE(host::FillVoids(grid, 3, 3, voids));
  EXPECT_EQ(grid[4], 2.0f);  // (4 x 40 x 1 + 4 x 20 x 4) / 240

  // A value equal to the NoData value is a void too; a far valid cell changes nothing.
  constexpr int32_t kSide = 9;
  std::vector<float> lake(kSide * kSide, -9999.0f);
  lake[0] = 10.0f;
  lake[kSide * kSide - 1] = 500.0f;
  const std::vector<uint8_t> lakeVoids = host::FindVoids(lake, -9999.0);
  std::vector<float> farChanged = lake;
  farChanged[kSide * kSide - 1] = 7.0f;
  ASSERT_TRUE(host::FillVoids(lake, kSide, kSide, lakeVoids));
  ASSERT_TRUE(host::FillVoids(farChanged, kSide, kSide, lakeVoids));
  for (int32_t y = 0; y <= 2; ++y)
    for (int32_t x = 0; x <= 2; ++x) {
      EXPECT_EQ(lake[y * kSide + x], 10.0f) << x << "," << y;  // the corner's only
      EXPECT_EQ(farChanged[y * kSide + x], 10.0f) << x << "," << y;
    }
  EXPECT_TRUE(std::all_of(lake.begin(), lake.end(), [](float h) { return std::isfinite(h); }));

  std::vector<float> none(6, nan);
  EXPECT_FALSE(host::FillVoids(none, 3, 2, host::FindVoids(none)));
  EXPECT_TRUE(host::FindVoids(std::vector<float>{1, 2, 3}, -9999.0).empty());
}

using host_test::Batch;

TEST_F(Batch, AppliesTheChosenActionAndWritesTheKernelsResult) {
  const Landscape land = Sample(31, 17);
  host::WriteHeightmap(Path("in.tif"), land);
  QString log;
  ASSERT_EQ(Run({QPath("in.tif"), "--action", "flatten", "--set", "Flatten=50", "--set",
                 "FlattenHeight=10", "-o", QPath("out.tif"), "--picture", QPath("out.png")},
                &log),
            0)
      << log.toStdString();
  std::vector<float> expected(land.Count());
  const auto range = terrain::Flatten({31, 17}, land.heights, expected, {10.0, 50});
  const Landscape out = host::ReadHeightmap(Path("out.tif"));
  EXPECT_EQ(out.heights, expected);
  EXPECT_TRUE(log.contains("action flatten"));
  EXPECT_TRUE(log.contains(QString("range after: %1").arg(range.minimum, 0, 'g', 6)));
  EXPECT_EQ(QImage(QPath("out.png")).size(), QSize(31, 17));
}

TEST_F(Batch, AModuleThatCannotBeLoadedFailsTheRun) {
  host::WriteHeightmap(Path("in.r32"), Sample(9, 9));
  QString log;
  // The module named on the command line is the one loaded (the last --plugin wins).
  EXPECT_EQ(Run({QPath("in.r32"), "--plugin", QPath("none.so"), "-o", QPath("x.tif")}, &log), 1);
  EXPECT_TRUE(log.contains("none.so: cannot be loaded")) << log.toStdString();
  EXPECT_FALSE(std::filesystem::exists(Path("x.tif")));
}

// Started through PATH (argv[0] a bare name, from any folder), the program still finds
// the module where it was built or installed beside it, not in the current folder.
TEST(Modules, AProgramKnownByNameFindsItsModuleFromItsOwnFile) {
  namespace fs = std::filesystem;
  const QTemporaryDir elsewhere;
  const fs::path before = fs::current_path();
  fs::current_path(elsewhere.path().toStdString());
  const std::string found = host::DefaultPluginPath("kelvamor-host");
  fs::current_path(before);
  EXPECT_TRUE(fs::exists(found)) << found;
}

// Killed at any moment, a save leaves the old file or the new one, whole. SIGTERM also
// removes the temporary; SIGKILL cannot, and shows that some kills land in the write.
TEST_F(Batch, ASaveKilledHalfWayLeavesTheOldFileWhole) {
  // Big enough that writing takes a while.
  host::WriteHeightmap(Path("big.r32"), Sample(2500, 2500));
  const Landscape old = Sample(40, 40, 9);
  host::WriteHeightmap(Path("out.tif"), old);
  const std::string before = host_test::Bytes(Path("out.tif"));
  QElapsedTimer timer;
  timer.start();
  ASSERT_EQ(Run({QPath("big.r32"), "--action", "soften", "-o", QPath("complete.tif")}), 0);
  const qint64 runMs = timer.elapsed();
  const std::string complete = host_test::Bytes(Path("complete.tif"));
  auto temporaries = [&] {
    int count = 0;
    for (const std::string& name : host_test::Listing(dir.path().toStdString()))
      if (name.rfind(".kelvamor-", 0) == 0) {
        ++count;
        std::filesystem::remove(dir.filePath(QString::fromStdString(name)).toStdString());
      }
    return count;
  };

  // Kills spread over the length of a whole run (and a little beyond), so that some land
  // in the write however fast this build is.
  for (const bool terminate : {false, true}) {
    int killedWhileWriting = 0;
    const int kills = terminate ? 12 : 24;
    for (int k = 1; k <= kills + 4; ++k) {
      const int delayMs = static_cast<int>(runMs * k / kills);
      QProcess process;
      Start(process, {QPath("big.r32"), "--action", "soften", "-o", QPath("out.tif")});
      const bool finished = process.waitForFinished(delayMs);
      if (!finished) {
        terminate ? process.terminate() : process.kill();
        process.waitForFinished();
      }
      const int left = temporaries();
      if (terminate) {
        EXPECT_EQ(left, 0) << "terminated after " << delayMs << " ms";
      }
      killedWhileWriting += left;
      const std::string after = host_test::Bytes(Path("out.tif"));
      EXPECT_TRUE(after == before || after == complete) << "killed after " << delayMs << " ms";
      if (after == complete) host::WriteHeightmap(Path("out.tif"), old);  // start over
    }
    if (!terminate) {
      EXPECT_GT(killedWhileWriting, 0);
    }
  }
}

}  // namespace
