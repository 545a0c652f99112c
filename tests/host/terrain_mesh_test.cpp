// The 3D view's mesh, built without OpenGL: which cells become vertices, their heights
// and slopes, the holes NoData leaves, the tint of the selection and the ground's scale.
// And the map: its tiles and pyramid, and its picture against stored images.
#include "host/render/terrain_mesh.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <QTest>
#include <algorithm>
#include <cmath>
#include <set>

#include "host/render/shading.h"
#include "host/ui/landscape_view.h"
#include "host/ui/selection.h"
#include "tests/support/host_fixtures.h"
#include "tests/support/ui.h"

namespace {

using host::Landscape;

// Heights h = 2x + 3y on a w x h grid.
Landscape Plane(int32_t w, int32_t h) {
  Landscape land;
  land.width = w;
  land.height = h;
  land.heights.resize(land.Count());
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x)
      land.heights[static_cast<size_t>(y) * w + x] = 2.0f * x + 3.0f * y;
  land.RecordRange();
  return land;
}

TEST(TerrainMesh, VerticesSampleEveryStrideCellsAndTheLastRowAndColumn) {
  struct Case {
    int32_t width, height, stride;
    std::vector<float> xs, ys;
  };
  const Case cases[] = {{5, 4, 1, {0, 1, 2, 3, 4}, {0, 1, 2, 3}},
                        {5, 4, 2, {0, 2, 4}, {0, 2, 3}},
                        {6, 9, 4, {0, 4, 5}, {0, 4, 8}},
                        {1, 3, 2, {0}, {0, 2}}};
  for (const Case& c : cases) {
    const Landscape land = Plane(c.width, c.height);
    const host::TerrainMesh mesh = host::BuildTerrainMesh(land, c.stride, {0, 40}, {});
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " stride " << c.stride);
    ASSERT_EQ(mesh.columns, static_cast<int32_t>(c.xs.size()));
    ASSERT_EQ(mesh.rows, static_cast<int32_t>(c.ys.size()));
    for (size_t row = 0; row < c.ys.size(); ++row)
      for (size_t column = 0; column < c.xs.size(); ++column) {
        const host::TerrainVertex& v = mesh.vertices[row * c.xs.size() + column];
        EXPECT_EQ(v.x, c.xs[column]);
        EXPECT_EQ(v.y, c.ys[row]);
        EXPECT_EQ(v.height, 2.0f * c.xs[column] + 3.0f * c.ys[row]);
        // The plane's slope everywhere, edges included (where the grid has a neighbour).
        if (c.width > 1) {
          EXPECT_FLOAT_EQ(v.dx, 2.0f);
        }
        EXPECT_FLOAT_EQ(v.dy, 3.0f);
      }
    const size_t quads = (c.xs.size() - 1) * (c.ys.size() - 1);
    EXPECT_EQ(mesh.indices.size(), quads * 6);
  }
}

TEST(TerrainMesh, AStrideKeepsLargeGridsWithinTheBudget) {
  EXPECT_EQ(host::MeshStride(100, 80, size_t{1} << 20), 1);
  EXPECT_EQ(host::MeshStride(4096, 4096, size_t{1} << 20), 4);
  const int32_t stride = host::MeshStride(8193, 3000, size_t{1} << 16);
  const host::TerrainMesh mesh = host::BuildTerrainMesh(Plane(8193, 3000), stride, {0, 1}, {});
  EXPECT_LE((mesh.columns - 1) * (mesh.rows - 1), 1 << 16);
  EXPECT_EQ(stride, 32);  // 512 x 188 quads at 16 would be too many
  EXPECT_EQ(mesh.vertices.back().x, 8192.0f);
  EXPECT_EQ(mesh.vertices.back().y, 2999.0f);
}

// An edit's box made again is the mesh built anew from the edited grid: every vertex
// (height, slope, colour) and every triangle, at strides that do and do not divide the
// grid, boxes at an edge and inside, a void made and one filled.
TEST(TerrainMesh, MakingAChangedBoxAgainEqualsBuildingAnew) {
  struct Case {
    int32_t stride;
    host::CellBox box;
  };
  const Case cases[] = {{1, {3, 4, 9, 7}},
                        {3, {0, 0, 5, 2}},
                        {4, {17, 10, 23, 19}},
                        {4, {12, 6, 13, 7}},
                        {8, {20, 1, 23, 19}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "stride " << c.stride << " box " << c.box.x0 << ","
                                    << c.box.y0 << " " << c.box.x1 << "," << c.box.y1);
    Landscape land = Plane(23, 19);
    land.noData.assign(land.Count(), 0);
    land.noData[5 * 23 + 12] = 1;  // filled by the edit when the box holds it
    const std::pair<double, double> range{0, 100};
    host::ZeroedWeights selection(land.Count(), 0.25f);
    host::TerrainMesh mesh = host::BuildTerrainMesh(land, c.stride, range, selection);
    for (int32_t y = c.box.y0; y < c.box.y1; ++y)
      for (int32_t x = c.box.x0; x < c.box.x1; ++x) {
        const size_t i = static_cast<size_t>(y) * 23 + x;
        land.heights[i] = 50.0f - static_cast<float>(x * y % 7);
        land.noData[i] = (x + y) % 5 == 0 ? 1 : 0;
        selection[i] = 0.75f;
      }
    const auto rows = host::UpdateTerrainMesh(mesh, land, range, selection, c.box);
    const host::TerrainMesh anew = host::BuildTerrainMesh(land, c.stride, range, selection);
    const host::TerrainMesh old = host::BuildTerrainMesh(Plane(23, 19), c.stride, range, {});
    ASSERT_EQ(mesh.vertices.size(), anew.vertices.size());
    for (size_t i = 0; i < anew.vertices.size(); ++i) {
      const host::TerrainVertex &a = mesh.vertices[i], &b = anew.vertices[i];
      EXPECT_TRUE(a.height == b.height && a.dx == b.dx && a.dy == b.dy &&
                  std::equal(a.rgba, a.rgba + 4, b.rgba))
          << "vertex " << i;
      // Only the rows said to be made again differ.
      const auto row = static_cast<int32_t>(i / static_cast<size_t>(mesh.columns));
      if (row < rows.first || row >= rows.second) {
        EXPECT_EQ(old.vertices[i].height, b.height) << "vertex " << i << " outside the rows";
      }
    }
    EXPECT_EQ(mesh.indices, anew.indices);
  }
}

TEST(TerrainMesh, NoDataLeavesAHoleAndTheSelectionIsTinted) {
  Landscape land = Plane(6, 5);
  land.noData.assign(land.Count(), 0);
  land.noData[2 * 6 + 3] = 1;  // (3, 2)
  host::ZeroedWeights selection(land.Count());
  selection[0] = 1.0f;
  const host::TerrainMesh mesh = host::BuildTerrainMesh(land, 1, {0, 24}, selection);
  const uint32_t hole = 2 * 6 + 3;
  size_t drawn = 0;
  for (size_t t = 0; t < mesh.indices.size(); t += 3) {
    const uint32_t* corner = &mesh.indices[t];
    if (corner[0] == corner[1] && corner[1] == corner[2]) continue;  // a point: not drawn
    ++drawn;
    for (int k = 0; k < 3; ++k) EXPECT_NE(corner[k], hole);
  }
  // The six triangles around an inner vertex go with it; the rest stay.
  EXPECT_EQ(drawn, 5 * 4 * 2 - 6);
  // The selected corner leans to orange; its unselected neighbour of the same height
  // band keeps the map's colour.
  double r = 0, g = 0, b = 0;
  host::HeightColour(land.heights[1], 0, 24, r, g, b);
  EXPECT_EQ(mesh.vertices[1].rgba[0], std::lround(r));
  EXPECT_GT(mesh.vertices[0].rgba[0], mesh.vertices[1].rgba[0] + 40);
}

TEST(TerrainMesh, TheGroundIsSpacedAsTheFileSays) {
  Landscape land = Plane(200, 100);
  // No georeference: the range rises over a fifth of the larger side.
  EXPECT_EQ(host::CellSpacing(land, {0, 400}), (std::pair{10.0, 10.0}));
  land.geo.geoTransform = {{500000, 30, 0, 4000000, 0, -30}};
  EXPECT_EQ(host::CellSpacing(land, {0, 400}), (std::pair{30.0, 30.0}));
  // Degrees at 60° north: a degree across is half one down.
  land.geo.projection =
      R"(GEOGCRS["WGS 84",DATUM["World Geodetic System 1984",ELLIPSOID["WGS 84",6378137,298.257223563]],CS[ellipsoidal,2],AXIS["latitude",north],AXIS["longitude",east],ANGLEUNIT["degree",0.0174532925199433]])";
  land.geo.geoTransform = {{10, 0.001, 0, 60.05, 0, -0.001}};
  const auto [across, down] = host::CellSpacing(land, {0, 400});
  EXPECT_NEAR(down, 111.32, 0.01);
  EXPECT_NEAR(across / down, 0.5, 0.001);
}

// The map at the zoom a user opens it at, zoomed out past a cell a pixel (drawn from the
// pyramid), and zoomed in on cells: each against its stored image.
TEST(Pictures, TheMapMatchesItsStoredImageAtEachZoom) {
  struct Case {
    const char* picture;
    int32_t width, height;
    double zoom;  // after Fit, about the view's centre
  };
  for (const Case& c : {Case{"map", 96, 72, 1.0}, Case{"map-far", 1500, 1100, 1.0},
                        Case{"map-near", 96, 72, 12.0}}) {
    const Landscape land = host_test::Relief(c.width, c.height);
    host::LandscapeView view(nullptr);
    view.resize(240, 180);
    view.setAttribute(Qt::WA_DontShowOnScreen);
    view.show();  // sized now: a grab of a hidden view would fit it again
    view.SetLandscape(&land);
    host::ZeroedWeights selection(land.Count());  // a soft disc about 70 %, 70 %
    const double cx = 0.73 * c.width, cy = 0.7 * c.height, r = c.width / 8.0;
    for (int32_t y = 0; y < land.height; ++y)
      for (int32_t x = 0; x < land.width; ++x)
        selection[static_cast<size_t>(y) * land.width + x] =
            static_cast<float>(std::clamp((r - std::hypot(x - cx, y - cy)) / 4.0, 0.0, 1.0));
    view.SetLook(host::ShadingOf(land, 0.0), &selection);
    view.Fit();
    view.ZoomAbout(QPointF(120, 90), c.zoom);
    const QString difference = PictureDifference(view.grab().toImage(), c.picture);
    EXPECT_TRUE(difference.isEmpty()) << difference.toStdString();
  }
}

// While a landscape is read the map shows its quick look over the whole grid's place
// and no tool acts on it (the landscape under it is the one before); the landscape in
// place, the tools work again.
TEST(Pictures, AQuickLookShowsWhileReadingAndTakesNoTool) {
  const Landscape land = host_test::Relief(96, 72);
  host::LandscapeView view(nullptr);
  view.resize(240, 180);
  view.setAttribute(Qt::WA_DontShowOnScreen);
  view.show();
  view.SetLandscape(&land);
  view.tool = host::LandscapeView::Tool::kRectangle;
  int selected = 0;
  view.onSelected = [&](const QPainterPath&) { ++selected; };
  auto drag = [&] {
    QTest::mousePress(&view, Qt::LeftButton, {}, QPoint(60, 50));
    QMouseEvent move(QEvent::MouseMove, QPointF(150, 120), view.mapToGlobal(QPointF(150, 120)),
                     Qt::NoButton, Qt::LeftButton, {});
    QApplication::sendEvent(&view, &move);
    QTest::mouseRelease(&view, Qt::LeftButton, {}, QPoint(150, 120));
  };
  QImage look(8, 4, QImage::Format_ARGB32);
  look.fill(Qt::red);
  view.ShowWhileReading(look, 4000, 2000);  // fitted: 240 x 120 in the middle
  ASSERT_TRUE(view.Reading());
  const QImage shown = view.grab().toImage();
  EXPECT_EQ(shown.pixelColor(120, 90), QColor(Qt::red));
  EXPECT_NE(shown.pixelColor(120, 10), QColor(Qt::red)) << "above the grid's place";
  drag();
  EXPECT_EQ(selected, 0);
  view.SetLandscape(&land);
  EXPECT_FALSE(view.Reading());
  drag();
  EXPECT_EQ(selected, 1);
}

// NoData cells show a pattern the world around the grid does not; a grid without them
// is its shaded colours throughout.
TEST(Pictures, VoidsShowAPatternUnlikeTheWorldAroundTheGrid) {
  Landscape land = host_test::Relief(64, 48);
  land.noData.assign(land.Count(), 0);
  for (int32_t y = 8; y < 24; ++y)
    for (int32_t x = 8; x < 24; ++x) land.noData[static_cast<size_t>(y) * 64 + x] = 1;
  host::LandscapeView view(nullptr);
  view.resize(320, 192);  // fitted: 4 pixels a cell, 32 pixels of world either side
  view.setAttribute(Qt::WA_DontShowOnScreen);
  view.show();
  view.SetLandscape(&land);
  view.SetLook(host::ShadingOf(land, std::nullopt), nullptr);
  view.Fit();
  QImage shown = view.grab().toImage();
  while (view.Pending()) shown = view.grab().toImage();
  const QRgb world = shown.pixel(5, 96);
  std::set<QRgb> inVoid;
  for (int y = 60; y < 68; ++y)
    for (int x = 92; x < 100; ++x) inVoid.insert(shown.pixel(x, y));
  EXPECT_EQ(inVoid.size(), 2u);
  EXPECT_FALSE(inVoid.contains(world));
  land.noData.clear();
  view.SetLandscape(&land);
  shown = view.grab().toImage();
  while (view.Pending()) shown = view.grab().toImage();
  const QImage shaded = host::ShadeLandscape(land, std::nullopt);
  const QPointF cell = view.ToCell(QPointF(97.5, 65.5));
  EXPECT_EQ(shown.pixel(97, 65),
            shaded.pixel(static_cast<int>(cell.x()), static_cast<int>(cell.y())));
}

// Tiles at full resolution are the landscape's picture, cell for cell; after an edit only
// the tiles over the changed cells are made again, and they (and the levels above) come
// out as if the pyramid were built anew.
TEST(MapTiles, AnEditRemakesOnlyItsTilesAndTheSamePixels) {
  Landscape land = host_test::Relief(700, 530);
  const host::Shading look = host::ShadingOf(land, 0.0);
  host::MapTiles tiles;
  tiles.Reset(&land);
  tiles.SetLook(look, nullptr);
  auto every = [](host::MapTiles& t, int level, auto&& each) {
    const int32_t side = host::MapTiles::kTile << level;
    for (int32_t ty = 0; ty * side < t.Height(); ++ty)
      for (int32_t tx = 0; tx * side < t.Width(); ++tx) each(tx, ty, t.Tile(level, tx, ty));
  };
  const QImage whole = host::ShadeLandscape(land, 0.0);
  every(tiles, 0, [&](int32_t tx, int32_t ty, const QImage& tile) {
    const QImage part = whole.copy(tx * 256, ty * 256, tile.width(), tile.height());
    EXPECT_EQ(tile.convertToFormat(QImage::Format_ARGB32), part) << tx << "," << ty;
  });
  EXPECT_EQ(tiles.made, 3 * 3);
  // A frame's share of tiles is made from the middle out; the rest are left for later.
  host::MapTiles frame;
  frame.Reset(&land);
  frame.SetLook(look, nullptr);
  EXPECT_EQ(frame.Prepare(0, {0, 0, 3, 3}, 2), 7);
  EXPECT_TRUE(frame.Made(0, 1, 1));
  EXPECT_FALSE(frame.Made(0, 0, 0));
  for (int level = 1; level <= 2; ++level) every(tiles, level, [](auto...) {});
  ASSERT_EQ(tiles.LevelFor(0.3), 1);  // a level cell at most a pixel: 2 cells at 0.3 px
  EXPECT_EQ(tiles.LevelFor(8.0), 0);
  EXPECT_EQ(tiles.LevelFor(1e-9), 2);  // no level past one tile

  // A stroke's box, well inside one tile of each level.
  for (int32_t y = 300; y < 320; ++y)
    for (int32_t x = 300; x < 330; ++x) land.heights[static_cast<size_t>(y) * 700 + x] += 40.0f;
  const int64_t before = tiles.made;
  tiles.HeightsChanged({300, 300, 330, 320});
  host::MapTiles fresh;
  fresh.Reset(&land);
  fresh.SetLook(look, nullptr);
  for (int level = 0; level <= 2; ++level)
    every(tiles, level, [&](int32_t tx, int32_t ty, const QImage& tile) {
      EXPECT_EQ(tile, fresh.Tile(level, tx, ty)) << level << ": " << tx << "," << ty;
    });
  EXPECT_EQ(tiles.made - before, 3);  // one tile of each level

  // On a grid of six levels, a stroke not drawn at any level yet, then heights written as
  // a plug-in's are, the first levels reduced stretch by stretch as they were written:
  // every level as if made afresh. With level 1 drawn, and with a coarser one drawn (level
  // 1 is then made when first drawn), each with and without NoData cells.
  for (const int viewing : {1, 3})
    for (const bool voids : {false, true}) {
      Landscape wide = host_test::Relief(4200, 70);
      if (voids) {
        wide.noData.assign(wide.Count(), 0);
        for (const size_t i : {0, 4200 * 13 + 6, 4200 * 14 + 7, 4200 * 50 + 4199, 4200 * 69 + 9})
          wide.noData[i] = 1;
      }
      host::MapTiles written;
      written.Reset(&wide);
      written.SetLook(look, nullptr);
      written.Viewing(viewing);
      ASSERT_EQ(written.Levels(), 6);
      auto raise = [&](const host::CellBox& b, float by) {
        for (int32_t y = b.y0; y < b.y1; ++y)
          for (int32_t x = b.x0; x < b.x1; ++x)
            wide.heights[static_cast<size_t>(y) * 4200 + x] += by;
      };
      raise({20, 4, 40, 30}, 7.0f);
      written.HeightsChanged({20, 4, 40, 30});
      raise({5, 13, 4150, 61}, -60.0f);
      written.ReduceWritten({5, 13, 4150, 48});
      written.ReduceWritten({5, 48, 4150, 61});
      written.HeightsChanged({5, 13, 4150, 61}, true);
      fresh.Reset(&wide);
      // The coarsest first: level 1 is made last.
      for (int level = 5; level >= 0; --level)
        every(written, level, [&](int32_t tx, int32_t ty, const QImage& tile) {
          EXPECT_EQ(tile, fresh.Tile(level, tx, ty))
              << viewing << voids << " " << level << ": " << tx << "," << ty;
        });
    }
}

// A level's cell is the mean of the valid cells under it; where all are NoData, it is.
TEST(MapTiles, TheLevelsAverageValidCellsOnly) {
  Landscape land = Plane(600, 300);
  land.noData.assign(land.Count(), 0);
  land.noData[0] = 1;  // cell (0, 0) of level 1: three valid cells of four
  land.heights[0] = 1e6f;
  for (int32_t y = 10; y < 12; ++y)
    for (int32_t x = 10; x < 12; ++x) land.noData[static_cast<size_t>(y) * 600 + x] = 1;
  const host::HeightPyramid pyramid(land);
  ASSERT_EQ(pyramid.Levels(), 3);
  const host::HeightGrid one = pyramid.Level(land, 1);
  EXPECT_EQ(one.width, 300);
  EXPECT_EQ(one.factor, 2);
  EXPECT_FLOAT_EQ(one.heights[0], (2.0f + 3.0f + 5.0f) / 3);
  EXPECT_EQ(one.noData[0], 0);
  EXPECT_EQ(one.noData[5 * 300 + 5], 1);
  EXPECT_FLOAT_EQ(one.heights[7 * 300 + 9], 2.0f * 18.5f + 3.0f * 14.5f);
}

}  // namespace
