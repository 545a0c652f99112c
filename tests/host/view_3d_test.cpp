// The 3D view under a real display (Xvfb, Mesa's software OpenGL): its picture against a
// stored image, the camera under the mouse, the cell under the cursor, and in the window
// the toggle kept per user, the map's tools on the ground, the mesh following every
// edit, stroke and undo, and a large file's ground while it is read. Also the window's
// handling of input that comes through the display while a file is written.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDoubleSpinBox>
#include <QFile>
#include <QLabel>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QUndoStack>
#include <cmath>

#include "host/io/heightmap_io.h"
#include "host/ui/main_window.h"
#include "host/ui/terrain_view_3d.h"
#include "tests/support/host_fixtures.h"
#include "tests/support/ui.h"
#include "tests/support/x11_input.h"

namespace {

using host::Landscape;
using host::TerrainView3D;

// A view of the relief with its sea and a disc selected, shown and painted once.
class View3D : public testing::Test {
 protected:
  void SetUp() override {
    const Landscape land = host_test::Relief(96, 72);
    host::ZeroedWeights selection(land.Count());
    for (int32_t y = 0; y < land.height; ++y)
      for (int32_t x = 0; x < land.width; ++x)
        if (std::hypot(x - 70, y - 50) < 12) selection[static_cast<size_t>(y) * land.width + x] = 1;
    view.resize(240, 180);
    view.Show(land, {land.minHeight, land.maxHeight}, selection, 0.0);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    ASSERT_TRUE(view.isValid()) << "no OpenGL context for the 3D view";
  }
  QImage Picture() { return view.grabFramebuffer(); }
  TerrainView3D view{nullptr};
};

TEST_F(View3D, MatchesItsStoredImage) {
  const QString difference = PictureDifference(Picture(), "view-3d");
  EXPECT_TRUE(difference.isEmpty()) << difference.toStdString();
}

TEST_F(View3D, TheMouseOrbitsPansAndZoomsAndResetComesBack) {
  const QImage start = Picture();
  const QPoint centre = view.rect().center();
  struct Gesture {
    const char* name;
    Qt::MouseButton button;
  };
  for (const Gesture& g : {Gesture{"orbit", Qt::LeftButton}, Gesture{"pan", Qt::RightButton}}) {
    QTest::mousePress(&view, g.button, {}, centre);
    QMouseEvent move(QEvent::MouseMove, QPointF(centre + QPoint(40, 15)),
                     view.mapToGlobal(QPointF(centre + QPoint(40, 15))), Qt::NoButton, g.button,
                     {});
    QApplication::sendEvent(&view, &move);
    // The coarse mesh while the camera moves.
    EXPECT_TRUE(view.Moving()) << g.name;
    QTest::mouseRelease(&view, g.button, {}, centre + QPoint(40, 15));
    EXPECT_FALSE(view.Moving()) << g.name;
    EXPECT_NE(Picture(), start) << g.name;
    view.ResetCamera();
    EXPECT_EQ(Picture(), start) << g.name;
  }
  QWheelEvent wheel(QPointF(centre), view.mapToGlobal(QPointF(centre)), {}, QPoint(0, 240),
                    Qt::NoButton, {}, Qt::NoScrollPhase, false);
  QApplication::sendEvent(&view, &wheel);
  EXPECT_NE(Picture(), start) << "zoom";
  view.ResetCamera();
  view.SetExaggeration(4.0);
  EXPECT_NE(Picture(), start) << "exaggeration";
}

// Looking straight down on a sea floor with a void in the middle: water over the floor,
// none over the void.
TEST(View3DWater, AVoidUnderTheWaterStaysAHole) {
  Landscape land = host_test::Relief(64, 64);
  std::fill(land.heights.begin(), land.heights.end(), -10.0f);
  land.noData.assign(land.Count(), 0);
  for (int32_t y = 24; y < 40; ++y)
    for (int32_t x = 24; x < 40; ++x) land.noData[static_cast<size_t>(y) * 64 + x] = 1;
  land.RecordRange();
  TerrainView3D view(nullptr);
  view.resize(240, 240);
  view.Show(land, {-20.0, 0.0}, {}, 0.0);
  view.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
  // Dragged down as far as it goes: the camera looks from above.
  QTest::mousePress(&view, Qt::LeftButton, {}, QPoint(120, 10));
  QMouseEvent move(QEvent::MouseMove, QPointF(120, 230), view.mapToGlobal(QPointF(120, 230)),
                   Qt::NoButton, Qt::LeftButton, {});
  QApplication::sendEvent(&view, &move);
  QTest::mouseRelease(&view, Qt::LeftButton, {}, QPoint(120, 230));
  const QImage picture = view.grabFramebuffer();
  const QColor hole = picture.pixelColor(picture.width() / 2, picture.height() / 2);
  const QColor sea = picture.pixelColor(picture.width() / 2, picture.height() * 3 / 8);
  EXPECT_GT(hole.lightness(), 200) << "the void shows the background";
  EXPECT_GT(sea.blue(), sea.red() + 40) << "the floor around it is under water";
}

// A large grid: coarse when all of it is in view or the camera or a tool moves, fine up
// close.
TEST(View3DDetail, ZoomingInDrawsAFinerMesh) {
  const Landscape land = host_test::Relief(1024, 1024);
  TerrainView3D view(nullptr);
  view.resize(240, 240);
  view.Show(land, {land.minHeight, land.maxHeight}, {}, std::nullopt);
  view.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
  auto strideAtRest = [&] {
    while (view.Moving()) QTest::qWait(20);
    view.grabFramebuffer();
    return view.DrawnStride();
  };
  EXPECT_EQ(view.FinestMesh().stride, 1);
  EXPECT_EQ(strideAtRest(), 4);
  view.Zoom(30.0);
  view.grabFramebuffer();
  EXPECT_EQ(view.DrawnStride(), 4) << "while the wheel turns";
  EXPECT_EQ(strideAtRest(), 1);
  // A tool's brush moved over the ground: coarse while it moves, then the detail again.
  view.tools = true;
  const QPointF centre = view.rect().center();
  QMouseEvent move(QEvent::MouseMove, centre, view.mapToGlobal(centre), Qt::NoButton, Qt::NoButton,
                   {});
  QApplication::sendEvent(&view, &move);
  view.grabFramebuffer();
  EXPECT_EQ(view.DrawnStride(), 4) << "while the brush moves";
  EXPECT_EQ(strideAtRest(), 1);
}

// Flat ground at the height the camera looks at: the view's middle is the grid's, pixels
// either side are cells either side, farther up the screen is farther north, and above
// the horizon is no ground.
TEST(View3DPicking, TheCellUnderThePointerIsTheGroundThere) {
  Landscape land = host_test::Relief(96, 72);
  std::fill(land.heights.begin(), land.heights.end(), 100.0f);
  land.RecordRange();
  TerrainView3D view(nullptr);
  view.resize(300, 240);
  view.Show(land, {100.0, 100.0}, {}, std::nullopt);
  const QPointF middle(150, 120);
  const std::optional<QPointF> centre = view.CellAt(middle);
  ASSERT_TRUE(centre.has_value());
  EXPECT_NEAR(centre->x(), 48.0, 0.05);
  EXPECT_NEAR(centre->y(), 36.0, 0.05);
  const std::optional<QPointF> left = view.CellAt(middle - QPointF(40, 0));
  const std::optional<QPointF> right = view.CellAt(middle + QPointF(40, 0));
  ASSERT_TRUE(left && right);
  EXPECT_LT(left->x(), 40.0);
  EXPECT_NEAR(left->x() + right->x(), 96.0, 0.05);
  EXPECT_NEAR(left->y(), right->y(), 0.05);
  const std::optional<QPointF> up = view.CellAt(middle - QPointF(0, 30));
  ASSERT_TRUE(up.has_value());
  EXPECT_LT(up->y(), 30.0);
  EXPECT_FALSE(view.CellAt(QPointF(5, 5)).has_value()) << "the sky";
}

// Nothing stored from an earlier test, and the window's options with the plug-in.
host::Options FreshStart() {
  ClearStoredSettings();
  host::Options options;
  options.pluginPath = ROVANDEL_MODULE;
  return options;
}

// The window on the display, its 3D view shown; nothing when it cannot be.
TerrainView3D* ShownIn3D(host::MainWindow& window) {
  window.show();
  if (!QTest::qWaitForWindowExposed(&window) || !window.ShowIn3D(true)) return nullptr;
  return window.findChild<TerrainView3D*>("View3D");
}

// In 3D the map's tools work on the ground: the readout follows the pointer, a brush
// stroke selects around the cell it was over, and a sculpting stroke changes the mesh
// with the heights and is undone with them.
TEST(Window3D, TheMapsToolsWorkOnTheGround) {
  const host::Options options = FreshStart();
  host::MainWindow window(host_test::Relief(96, 80), options);
  TerrainView3D* view = ShownIn3D(window);
  ASSERT_NE(view, nullptr);
  const QPoint middle = view->rect().center();
  const std::optional<QPointF> cell = view->CellAt(middle);
  ASSERT_TRUE(cell.has_value());
  auto move = [&](QPoint at, Qt::MouseButtons buttons) {
    QMouseEvent e(QEvent::MouseMove, QPointF(at), view->mapToGlobal(QPointF(at)), Qt::NoButton,
                  buttons, {});
    QApplication::sendEvent(view, &e);
  };
  move(middle, Qt::NoButton);
  EXPECT_EQ(window.findChild<QLabel*>("CellReadout")->text(),
            window.CellReadout(static_cast<int32_t>(cell->x()), static_cast<int32_t>(cell->y())));
  auto stroke = [&] {
    // Through the window, as the window system sends them: a press's later events go
    // where it went, even when a dab ran a plug-in's dialog unseen.
    QWindow* top = window.windowHandle();
    auto in = [&](int dx) { return view->mapTo(&window, middle + QPoint(dx, 0)); };
    QTest::mousePress(top, Qt::LeftButton, {}, in(-15));
    for (int dx = -15; dx <= 15; dx += 5) QTest::mouseMove(top, in(dx));
    QTest::mouseRelease(top, Qt::LeftButton, {}, in(15));
  };
  auto choose = [&](const char* name) {
    for (QAction* tool : window.findChildren<QAction*>())
      if (tool->text() == name) tool->trigger();
  };
  choose("Brush");
  stroke();
  ASSERT_EQ(window.History()->count(), 1);
  EXPECT_EQ(window.History()->text(0), "Brush selection");
  const host::Landscape& land = window.Land();
  const host::ZeroedWeights& weights = window.Selection();
  ASSERT_EQ(weights.size(), land.Count());
  EXPECT_GT(weights[static_cast<size_t>(cell->y()) * land.width + static_cast<size_t>(cell->x())],
            0.0f);
  EXPECT_EQ(weights[0], 0.0f) << "a corner far from the stroke";

  window.Select({}, 0.0);
  auto meshHeights = [&] {
    std::vector<float> heights;
    for (const host::TerrainVertex& v : view->FinestMesh().vertices) heights.push_back(v.height);
    return heights;
  };
  const std::vector<uint32_t> before = host_test::Bits(land);
  WhenModalShown("RovandelParamsForm", [](QDialog* d) {
    QTest::mouseClick(d->findChild<QRadioButton*>("SoftenRadio"), Qt::LeftButton, {}, QPoint(6, 8));
    ClickButton(d, "OKButton");
  });
  choose("Sculpt");
  const int steps = window.History()->count();
  stroke();
  EXPECT_EQ(window.History()->count(), steps + 1);
  EXPECT_NE(host_test::Bits(land), before);
  // The next stroke makes the action again under the brush as it goes: a plug-in's run
  // at its first dab, which must not cost the stroke its moves and release.
  stroke();
  EXPECT_EQ(window.History()->count(), steps + 2);
  const std::vector<float> heights(land.heights.begin(), land.heights.end());
  EXPECT_EQ(meshHeights(), heights) << "the mesh follows the stroke";
  window.History()->undo();
  window.History()->undo();
  EXPECT_EQ(host_test::Bits(land), before);
  EXPECT_EQ(meshHeights(), std::vector<float>(land.heights.begin(), land.heights.end()));
  window.History()->setClean();
}

// A landscape that takes a moment to read shows a quick look of its ground while it is
// read: a coarse mesh of every n-th cell, then the whole landscape's.
TEST(Window3D, ALargeFileShowsItsGroundWhileItIsRead) {
  const host::Options options = FreshStart();
  // Finer than a quick look, so that a frame of it is not taken for one.
  host::MainWindow window(host_test::Sample(400, 300), options);
  TerrainView3D* view = ShownIn3D(window);
  ASSERT_NE(view, nullptr);
  // Square, just over the size worth a look: a sparse file of zeros reads quickly.
  const auto side = static_cast<int32_t>(std::ceil(std::sqrt(host::MainWindow::kWorthALook)));
  QTemporaryDir dir;
  const QString path = dir.filePath("big.r32");
  {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_TRUE(file.resize(qint64{side} * side * 4));
  }
  std::vector<int32_t> drawn;  // the finest mesh's vertices across, at each frame drawn
  QObject::connect(view, &QOpenGLWidget::frameSwapped,
                   [&] { drawn.push_back(view->FinestMesh().columns); });
  ASSERT_TRUE(window.Open(path));
  ASSERT_FALSE(drawn.empty()) << "nothing drawn while the file was read";
  EXPECT_LE(drawn.front(), host::MainWindow::kLookSide3D + 1);
  QTest::qWait(50);
  EXPECT_EQ(window.Land().width, side);
  EXPECT_GT(view->FinestMesh().columns, host::MainWindow::kLookSide3D + 1);
}

// Keys pressed just after Save wait for the save to end: an undo cannot change the
// heights half-way through the file, which would then be marked as what the landscape
// holds. QTest's keys would be delivered at once; these come through the display.
TEST(WindowOnADisplay, KeysWaitForASaveToEnd) {
  const host::Options options = FreshStart();
  host::Landscape land = host_test::Relief(512, 512);
  land.noData.clear();  // a RAW file keeps no stand-in heights
  host::MainWindow window(std::move(land), options);
  window.show();
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  host_test::ApplyPlugIn(window, "SoftenRadio");
  const std::vector<uint32_t> applied = host_test::Bits(window.Land());
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  QueueKeyClick(window.windowHandle(), 0x7a /* z */, true);
  QTemporaryDir dir;
  const QString path = dir.filePath("saved.r32");
  ASSERT_TRUE(window.SaveAs(path));
  EXPECT_EQ(host_test::Bits(host::ReadHeightmap(path.toStdString())), applied);
  EXPECT_EQ(host_test::Bits(window.Land()), applied);
  QTest::qWait(200);
  EXPECT_NE(host_test::Bits(window.Land()), applied) << "the undo, once the save is done";
  EXPECT_FALSE(window.History()->isClean());
  window.History()->setClean();
}

TEST(Window3D, TheToggleIsKeptAndTheMeshFollowsEditsAndUndo) {
  const host::Options options = FreshStart();
  auto window = std::make_unique<host::MainWindow>(host_test::Sample(48, 40), options);
  window->show();
  window->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  EXPECT_FALSE(window->In3D());
  QTest::keyClick(window.get(), Qt::Key_F3);
  ASSERT_TRUE(window->In3D());
  auto brushTool = [&] {
    for (QAction* action : window->findChildren<QAction*>())
      if (action->text() == "Brush") return action;
    return static_cast<QAction*>(nullptr);
  };
  ASSERT_NE(brushTool(), nullptr);
  auto* view = window->findChild<TerrainView3D*>("View3D");
  ASSERT_NE(view, nullptr);
  EXPECT_TRUE(view->isVisible());
  // The mesh holds the landscape's heights, whatever has been done to it.
  auto meshHeights = [&] {
    std::vector<float> heights;
    for (const host::TerrainVertex& v : view->FinestMesh().vertices) heights.push_back(v.height);
    return heights;
  };
  auto landHeights = [&] {
    return std::vector<float>(window->Land().heights.begin(), window->Land().heights.end());
  };
  const std::vector<float> before = landHeights();
  EXPECT_EQ(meshHeights(), before);
  host_test::ApplyPlugIn(*window, "SoftenRadio");
  EXPECT_NE(landHeights(), before);
  EXPECT_EQ(meshHeights(), landHeights());
  // The view has the window's keys back (Xvfb has no window manager to make the window
  // active again once the dialog is gone: the test does).
  EXPECT_EQ(window->focusWidget(), view);
  window->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  QTest::keyClick(view, Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(meshHeights(), before);

  window->findChild<QDoubleSpinBox*>("ExaggerationSpin")->setValue(3.0);
  window->History()->setClean();
  window.reset();
  // The next window opens as this one was left.
  window = std::make_unique<host::MainWindow>(host_test::Sample(48, 40), options);
  window->show();
  EXPECT_TRUE(window->In3D());
  view = window->findChild<TerrainView3D*>("View3D");
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view->Exaggeration(), 3.0);
  window->findChild<QAction*>("View3DAction")->trigger();
  EXPECT_FALSE(window->In3D());
  EXPECT_TRUE(window->findChild<QWidget*>("Map")->isVisible());
  window.reset();
  window = std::make_unique<host::MainWindow>(host_test::Sample(48, 40), options);
  EXPECT_FALSE(window->In3D());
}

}  // namespace
