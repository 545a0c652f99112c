// The editor window driven offscreen as a user would: plug-in runs and their history,
// unsaved work, saving, selections, the readout; and the batch mode's --mask.
#include <cpl_conv.h>
#include <gdal.h>
#include <gtest/gtest.h>
#include <ogr_srs_api.h>

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDockWidget>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileDialog>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <QToolBar>
#include <QUndoStack>
#include <QWheelEvent>
#include <atomic>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <thread>
#include <tuple>

#include "host/io/heightmap_io.h"
#include "host/render/shading.h"
#include "host/ui/history.h"
#include "host/ui/landscape_view.h"
#include "host/ui/main_window.h"
#include "host/ui/selection.h"
#include "host/ui/terrain_info.h"
#include "terrain/operations.h"
#include "tests/support/host_fixtures.h"
#include "tests/support/ui.h"

namespace {

using host::Landscape;
using host_test::Batch;
using host_test::Bits;
using host_test::Files;
using host_test::Sample;

class Window : public Files {
 protected:
  void SetUp() override {
    ClearStoredSettings();
    host::Options options;
    options.pluginPath = ROVANDEL_MODULE;
    window = std::make_unique<host::MainWindow>(Sample(48, 40), options);
    window->show();
  }
  void TearDown() override {
    window->History()->setClean();  // no question when the fixture closes it
  }
  // Runs the plug-in with the named action radio, the dialog's values otherwise as
  // they come, and presses OK.
  void Apply(const char* radio, std::function<void(QDialog*)> more = {}) {
    host_test::ApplyPlugIn(*window, radio, std::move(more));
  }
  std::unique_ptr<host::MainWindow> window;
};

// Undo and redo give back every run's heights bit for bit: from the differences the
// history keeps, and past a tight bound from runs made again (a selected one too).
TEST_F(Window, UndoAndRedoRestoreEveryRunBitForBit) {
  host::WriteHeightmap(Path("relief.r32"), host_test::Relief(128, 128));
  ASSERT_TRUE(window->Open(QPath("relief.r32")));
  const std::vector<const char*> runs{"SoftenRadio", "NoiseRadio",  "GlaciateRadio", "HillRadio",
                                      "SoftenRadio", "CanyonRadio", "FlattenRadio"};
  for (const size_t bound : {host::MainWindow::kHistoryBytes, size_t{100000}}) {
    window->SetHistoryBytes(bound);
    std::vector<std::vector<uint32_t>> states{Bits(window->Land())};
    for (const char* radio : runs) {
      QPainterPath square;
      if (states.size() == 5) square.addRect(30, 40, 50, 40);
      window->Select(square, 4);
      Apply(radio);
      host::SettleHistory(*window->History());
      QCoreApplication::processEvents();  // the history keeps to its bound
      states.push_back(Bits(window->Land()));
      EXPECT_NE(states.back(), states[states.size() - 2]) << radio;
    }
    const QUndoStack& history = *window->History();
    ASSERT_EQ(history.count(), static_cast<int>(runs.size()));
    // Past the bound the history first keeps a landscape whole, made on a thread that
    // runs only on an idle core, then forgets differences: waited for, as on a busy
    // machine the user's next moments would.
    QElapsedTimer waited;
    waited.start();
    while (host::HistoryBytes(history) > bound && waited.elapsed() < 30000) QTest::qWait(5);
    int forgotten = 0;
    for (int i = 0; i < history.count(); ++i)
      forgotten += dynamic_cast<const host::LandscapeStep*>(history.command(i))->Of().Forgotten();
    EXPECT_EQ(forgotten > 0, bound < host::MainWindow::kHistoryBytes) << forgotten;
    EXPECT_LE(host::HistoryBytes(history), bound);
    EXPECT_TRUE(window->isWindowModified());
    for (size_t step = states.size() - 1; step > 0; --step) {
      window->History()->undo();
      EXPECT_EQ(Bits(window->Land()), states[step - 1]) << "undo to " << step - 1;
    }
    EXPECT_FALSE(window->isWindowModified());
    for (size_t step = 1; step < states.size(); ++step) {
      window->History()->redo();
      EXPECT_EQ(Bits(window->Land()), states[step]) << "redo to " << step;
    }
    window->History()->clear();
  }
}

// Every action of every menu, each key once: a key bound twice fires neither.
TEST_F(Window, EveryShortcutBelongsToOneAction) {
  std::map<QString, QString> owner;
  int bound = 0;
  for (QAction* action : window->findChildren<QAction*>()) {
    for (const QKeySequence& key : action->shortcuts()) {
      const auto [at, fresh] = owner.emplace(key.toString(), action->text());
      EXPECT_TRUE(fresh) << key.toString().toStdString() << ": " << at->second.toStdString()
                         << " and " << action->text().toStdString();
      ++bound;
    }
  }
  EXPECT_GT(bound, 10);
  for (const char* key :
       {"Ctrl+Z", "Ctrl+Shift+Z", "Ctrl+Y", "Ctrl+Shift+S", "Ctrl+O", "Ctrl+S", "Ctrl+Q", "F1"})
    EXPECT_TRUE(owner.count(key)) << key;
  // Help ▸ Keyboard shortcuts lists the brush's keys too, and no key past F12.
  const QString table = window->ShortcutTable();
  EXPECT_TRUE(table.contains("Smaller brush</td><td>[")) << table.toStdString();
  EXPECT_TRUE(table.contains("Larger brush</td><td>]")) << table.toStdString();
  EXPECT_FALSE(table.contains("F14")) << table.toStdString();
}

// At the size the window opens at on a common screen, every tool and setting shows;
// none is behind the toolbar's "»".
TEST_F(Window, EveryToolShowsAtTheOpeningSize) {
  window->resize(1280, 900);
  QApplication::processEvents();
  for (const char* name :
       {"FeatherSpin", "BrushSizeSpin", "BrushHardnessSpin", "WaterCheck", "WaterLevelSpin"})
    EXPECT_TRUE(window->findChild<QWidget*>(name)->isVisible()) << name;
  for (QToolBar* bar : window->findChildren<QToolBar*>()) {
    if (!bar->isVisible()) continue;  // the 3D view's, while the map shows
    for (QAction* action : bar->actions()) {
      if (action->isSeparator()) continue;
      EXPECT_TRUE(bar->widgetForAction(action) && bar->widgetForAction(action)->isVisible())
          << action->text().toStdString();
    }
  }
}

// Help ▸ Manual is the user's manual, its picture shown, not the build instructions.
TEST_F(Window, TheManualShowsItsPictureAndNoBuildCommands) {
  QString text;
  QImage picture;
  WhenModalShown("TextWindow", [&](QDialog* d) {
    auto* browser = d->findChild<QTextBrowser*>();
    text = browser->toPlainText();
    // What the browser finds for the manual's picture: the file's bytes.
    const QVariant found = browser->loadResource(QTextDocument::ImageResource, QUrl("window.png"));
    picture = QImage::fromData(found.toByteArray());
    // The picture is wider than the window: shown at the window's width, never scrolled
    // to sideways, and at any width the user makes the window.
    for (int width : {0, 420, 1400}) {
      if (width) d->resize(width, 600);
      QApplication::processEvents();
      browser->document()->size();  // laid out
      QApplication::processEvents();
      EXPECT_EQ(browser->horizontalScrollBar()->maximum(), 0) << width;
    }
    d->reject();
  });
  for (QAction* action : window->findChildren<QAction*>())
    if (action->text() == "&Manual") action->trigger();
  EXPECT_TRUE(text.startsWith("kelvamor-host")) << text.left(80).toStdString();
  EXPECT_FALSE(text.contains("scripts/")) << text.toStdString();
  EXPECT_FALSE(picture.isNull());
}

// The dialog and the feather box had the keys; after OK the history's keys work at once.
TEST_F(Window, UndoAndRedoKeysWorkRightAfterAPlugInRun) {
  const auto before = Bits(window->Land());
  QApplication::setActiveWindow(window.get());
  auto* feather = window->findChild<QDoubleSpinBox*>("FeatherSpin");
  feather->setFocus();
  QTest::keyClicks(feather, "3");  // its own undo has something to take back now
  Apply("SoftenRadio");
  const auto after = Bits(window->Land());
  ASSERT_NE(after, before);
  // Keys go where the window's focus is, as a user's would.
  QApplication::setActiveWindow(window.get());
  auto press = [&](int key, Qt::KeyboardModifiers modifiers) {
    ASSERT_TRUE(window->focusWidget());
    QTest::keyClick(window->focusWidget(), static_cast<Qt::Key>(key), modifiers);
  };
  press(Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(Bits(window->Land()), before);
  press(Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(Bits(window->Land()), after);
  press(Qt::Key_Z, Qt::ControlModifier);
  press(Qt::Key_Y, Qt::ControlModifier);
  EXPECT_EQ(Bits(window->Land()), after);
}

// Opened and saved files come back under Open Recent, newest first, without those gone
// since; a file dropped on the window opens.
TEST_F(Window, RecentFilesAndDroppedFiles) {
  host::WriteHeightmap(Path("a.r32"), Sample(8, 8, 5));
  host::WriteHeightmap(Path("b.r32"), Sample(9, 9, 6));
  QMenu* recent = nullptr;
  for (QMenu* menu : window->findChildren<QMenu*>())
    if (menu->title() == "Open &Recent") recent = menu;
  ASSERT_TRUE(recent);
  EXPECT_FALSE(recent->isEnabled());  // nothing opened yet
  ASSERT_TRUE(window->Open(QPath("a.r32")));
  EXPECT_TRUE(recent->isEnabled());  // at once, in the session that opened it
  ASSERT_TRUE(window->Open(QPath("b.r32")));
  ASSERT_TRUE(window->SaveAs(QPath("c.tif")));
  EXPECT_EQ(host::RecentFiles(), (QStringList{QPath("c.tif"), QPath("b.r32"), QPath("a.r32")}));
  std::filesystem::remove(Path("b.r32"));
  EXPECT_EQ(host::RecentFiles(), (QStringList{QPath("c.tif"), QPath("a.r32")}));

  QMimeData mime;
  mime.setUrls({QUrl::fromLocalFile(QPath("a.r32"))});
  QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(window.get(), &enter);
  EXPECT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(50, 50), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(window.get(), &drop);
  QApplication::processEvents();
  EXPECT_EQ(window->FilePath(), QPath("a.r32"));
  EXPECT_EQ(window->Land().width, 8);
}

// The open dialog offers what batch mode reads: GeoTIFF of any type, and GDAL's other
// heightmap formats beside the table's.
TEST_F(Window, TheOpenDialogOffersEveryKindTheHostReads) {
  const QString filter = host::OpenFilter();
  const QString everything = filter.section(";;", 0, 0);
  for (const char* ext : {"*.tif", "*.asc", "*.png", "*.r16", "*.hgt", "*.vrt", "*.img", "*.bil",
                          "*.grd", "*.xyz", "*.dem"})
    EXPECT_TRUE(everything.contains(ext)) << ext << " in " << everything.toStdString();
  EXPECT_TRUE(filter.contains("GeoTIFF (*.tif *.tiff)")) << filter.toStdString();
  EXPECT_FALSE(filter.contains("GeoTIFF float32")) << filter.toStdString();
}

// The first window has room for every tool; the next opens at the size the last was left.
TEST_F(Window, TheWindowOpensAtTheSizeItWasLeftAt) {
  EXPECT_GE(window->width(),
            std::min(1280, window->screen()->availableGeometry().width() * 9 / 10));
  window->resize(900, 650);
  ASSERT_TRUE(window->close());
  host::Options options;
  options.pluginPath = ROVANDEL_MODULE;
  const host::MainWindow next(Sample(8, 8), options);
  EXPECT_EQ(next.size(), QSize(900, 650));
}

// A raster of several bands opens the band the user chooses; Save then asks for a name
// rather than write that one band over all three.
TEST_F(Window, ARasterOfSeveralBandsOpensTheBandChosenAndIsNotSavedOver) {
  GDALAllRegister();
  GDALDatasetH bands = GDALCreate(GDALGetDriverByName("GTiff"), Path("bands.tif").c_str(), 8, 8, 3,
                                  GDT_Float32, nullptr);
  for (int b = 1; b <= 3; ++b) {
    std::vector<float> heights(64);
    for (int i = 0; i < 64; ++i) heights[static_cast<size_t>(i)] = 100.0f * b + i;
    ASSERT_EQ(GDALRasterIO(GDALGetRasterBand(bands, b), GF_Write, 0, 0, 8, 8, heights.data(), 8, 8,
                           GDT_Float32, 0, 0),
              CE_None);
  }
  GDALClose(bands);
  WhenModalShown("BandDialog", [](QDialog* d) {
    static_cast<QInputDialog*>(d)->setIntValue(2);
    d->accept();
  });
  ASSERT_TRUE(window->Open(QPath("bands.tif")));
  EXPECT_EQ(window->Land().heights[5], 205.0f);
  bool offered = false;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&offered] {
    if (auto* d = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
      offered = true;
      d->reject();
    }
  });
  poll.start(5);
  EXPECT_FALSE(window->Save());
  EXPECT_TRUE(offered);
  EXPECT_EQ(host::RasterBandCount(Path("bands.tif")), 3);
}

// The water level belongs to the file: sea level for one that dips below it, none for one
// that does not, whatever the file before had. A file of another size is fitted to the
// map, whatever the zoom of the one before.
TEST_F(Window, EachFileOpensWithItsOwnWaterAndFitted) {
  host::Landscape high = Sample(8, 8, 5);
  for (float& h : high.heights) h += 500.0f;
  host::WriteHeightmap(Path("high.r32"), high);
  host::WriteHeightmap(Path("coast.r32"), Sample(8, 8, 6));
  ASSERT_TRUE(window->Open(QPath("coast.r32")));
  EXPECT_EQ(window->WaterLevel(), host::MainWindow::kSeaLevel);
  // The whole 8 x 8 grid in the middle of the map, as large as it fits.
  const auto* map = static_cast<host::LandscapeView*>(window->findChild<QWidget*>("Map"));
  const QPointF centre = map->ToCell(QPointF(map->width(), map->height()) / 2);
  const QPointF corner = map->ToCell(QPointF(0, 0));
  EXPECT_NEAR(centre.x(), 4.0, 1e-9);
  EXPECT_NEAR(centre.y(), 4.0, 1e-9);
  EXPECT_NEAR(std::max(corner.x(), corner.y()), 0.0, 1e-9);
  ASSERT_TRUE(window->Open(QPath("high.r32")));
  EXPECT_FALSE(window->WaterLevel().has_value());
}

// No file work starts inside another: a dropped file's open is a queued call, which the
// events handled while a file is written would run. The file written is the landscape.
TEST_F(Window, NoFileWorkStartsInsideAnother) {
  host::WriteHeightmap(Path("wider.r32"), Sample(64, 64));
  const auto before = Bits(window->Land());
  std::optional<bool> opened;
  QTimer::singleShot(0, window.get(), [&] { opened = window->Open(QPath("wider.r32")); });
  ASSERT_TRUE(window->SaveAs(QPath("saved.r32")));
  EXPECT_EQ(opened, std::optional(false)) << "an open ran inside the save";
  host::RawOptions raw;
  raw.size = std::pair{48, 40};
  EXPECT_EQ(Bits(host::ReadHeightmap(Path("saved.r32"), raw)), before);
  EXPECT_EQ(Bits(window->Land()), before);
}

// A headerless RAW grid that is not square: the window asks its size, starting from the
// grid closest to square; a side that divides the samples sets the other, and OK waits
// for a size that fits; 16-bit steps may be mapped. Bytes that would be a square grid of
// the other kind of samples are pointed out.
TEST_F(Window, ARawGridOfUnknownSizeIsAskedAbout) {
  auto says = [](QDialog* d) { return d->findChild<QLabel*>()->text().toStdString(); };
  std::vector<float> samples(24, 5.0f);
  WriteBytes("g.r32", std::string(reinterpret_cast<const char*>(samples.data()), 24 * 4));
  WhenModalShown("RawSizeDialog", [&](QDialog* d) {
    EXPECT_EQ(says(d),
              "g.r32 holds 24 32-bit float samples and does not say how they are laid out.");
    auto* width = d->findChild<QSpinBox*>("RawWidth");
    auto* height = d->findChild<QSpinBox*>("RawHeight");
    EXPECT_EQ(width->value(), 6);
    EXPECT_EQ(height->value(), 4);
    auto* ok = d->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
    width->setValue(7);
    EXPECT_EQ(height->value(), 4);
    EXPECT_FALSE(ok->isEnabled());
    height->setValue(2);
    EXPECT_EQ(width->value(), 12);
    width->setValue(8);
    EXPECT_EQ(height->value(), 3);
    EXPECT_TRUE(ok->isEnabled());
    ok->click();
  });
  ASSERT_TRUE(window->Open(QPath("g.r32")));
  EXPECT_EQ(window->Land().width, 8);
  EXPECT_EQ(window->Land().height, 3);

  WriteBytes("h.r16", std::string("\x00\x00\xff\xff\x00\x00\xff\xff\x00\x00\xff\xff\0\0\0\0", 16));
  WhenModalShown("RawSizeDialog", [&](QDialog* d) {
    EXPECT_EQ(says(d),
              "h.r16 holds 8 16-bit samples and does not say how they are laid out.\n"
              "As 32-bit floats they would be 2 x 2, which a .r32 file holds.");
    d->findChild<QCheckBox*>("RawMapSteps")->setChecked(true);
    d->findChild<QDoubleSpinBox*>("RawLowest")->setValue(-10.0);
    d->findChild<QDoubleSpinBox*>("RawHighest")->setValue(90.0);
    d->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
  });
  ASSERT_TRUE(window->Open(QPath("h.r16")));
  EXPECT_EQ(window->Land().width, 4);
  EXPECT_EQ(window->Land().heights[0], -10.0f);
  EXPECT_EQ(window->Land().heights[1], 90.0f);

  WhenModalShown("RawSizeDialog", [](QDialog* d) { d->reject(); });
  EXPECT_FALSE(window->Open(QPath("g.r32")));
  EXPECT_EQ(window->FilePath(), QPath("h.r16"));
}

// With the place tool a click puts Add Hill's centre there and a drag sets its width;
// the pick tool takes Flatten's height from the cell clicked. The dialog opens on them.
TEST_F(Window, AClickPlacesTheHillAndPicksTheFlattenHeight) {
  window->setGeometry(300, 200, 500, 400);  // away from the dialog's designed place, 295, 110
  auto* view = dynamic_cast<host::LandscapeView*>(window->findChild<QWidget*>("Map"));
  ASSERT_TRUE(view);
  // From cells to the view's pixels: the view maps pixels to cells by a scale and a shift.
  const QPointF c0 = view->ToCell(QPointF(0, 0));
  const double scale = 1.0 / (view->ToCell(QPointF(1, 0)).x() - c0.x());
  auto at = [&](double x, double y) { return ((QPointF(x, y) - c0) * scale).toPoint(); };
  auto tool = [&](const char* name) {
    for (QAction* action : window->findChildren<QAction*>())
      if (action->text() == name) action->trigger();
  };
  struct Shown {
    bool hill = false, flatten = false, overWindow = false, fits = true;
    double x = 0, y = 0, width = 0;
    QString heightText;
  } shown;
  auto watch = [&] {
    WhenModalShown("RovandelParamsForm", [&](QDialog* d) {
      shown.hill = d->findChild<QRadioButton*>("HillRadio")->isChecked();
      shown.flatten = d->findChild<QRadioButton*>("FlattenRadio")->isChecked();
      shown.x = d->findChild<QLineEdit*>("XGeoEdit")->text().toDouble();
      shown.y = d->findChild<QLineEdit*>("YGeoEdit")->text().toDouble();
      shown.width = d->findChild<QLineEdit*>("WidthEdit")->text().toDouble();
      shown.heightText = d->findChild<QLineEdit*>("FlattenHeightEdit")->text();
      // The dialog opens over the window, each field's number whole within it.
      shown.overWindow = window->frameGeometry().contains(d->frameGeometry());
      for (const char* name : {"XGeoEdit", "YGeoEdit", "WidthEdit"}) {
        const auto* edit = d->findChild<QLineEdit*>(name);
        shown.fits = shown.fits && edit->fontMetrics().horizontalAdvance(edit->text()) <
                                       edit->contentsRect().width();
      }
      ClickButton(d, "CancelButton");
    });
  };
  tool("Place hill");
  watch();
  const QPoint centre = at(12.5, 30.5);
  QTest::mousePress(view, Qt::LeftButton, {}, centre);
  QTest::mouseRelease(view, Qt::LeftButton, {}, at(12.5 + 9.6, 30.5));  // a fifth of 48
  EXPECT_TRUE(shown.hill);
  EXPECT_NEAR(shown.x, 100.0 * 12.5 / 48, 0.5);
  EXPECT_NEAR(shown.y, 100.0 * 30.5 / 40, 0.5);
  EXPECT_NEAR(shown.width, 20.0, 1.0);
  EXPECT_TRUE(shown.overWindow);
  EXPECT_TRUE(shown.fits);

  // The height as the readout writes it, and the cell's float exactly.
  Landscape picked = Sample(48, 40);
  picked.heights[3 * 48 + 7] = 709.1f;
  host::WriteHeightmap(Path("picked.tif"), picked);
  ASSERT_TRUE(window->Open(QPath("picked.tif")));
  tool("Pick flatten height");
  watch();
  QTest::mouseClick(view, Qt::LeftButton, {}, at(7.5, 3.5));
  EXPECT_TRUE(shown.flatten);
  EXPECT_EQ(shown.heightText, "709.1");
  EXPECT_EQ(window->History()->count(), 0);  // cancelled: nothing applied
}

// A brush stroke selects where it is painted, softly at its edge; Soften then changes
// only the painted cells, weighted by the brush; the stroke is undone like an edit but
// leaves nothing to save; [ and ] size the brush.
TEST_F(Window, ABrushStrokeConfinesThePlugInToWhatItPainted) {
  auto* view = dynamic_cast<host::LandscapeView*>(window->findChild<QWidget*>("Map"));
  const QPointF c0 = view->ToCell(QPointF(0, 0));
  const double scale = 1.0 / (view->ToCell(QPointF(1, 0)).x() - c0.x());
  auto at = [&](double x, double y) { return ((QPointF(x, y) - c0) * scale).toPoint(); };
  for (QAction* action : window->findChildren<QAction*>())
    if (action->text() == "Brush") action->trigger();
  auto* size = window->findChild<QDoubleSpinBox*>("BrushSizeSpin");
  size->setValue(4.0);
  window->findChild<QAction*>("LargerBrush")->trigger();
  EXPECT_DOUBLE_EQ(size->value(), 5.0);
  window->findChild<QDoubleSpinBox*>("BrushHardnessSpin")->setValue(0.4);
  QTest::mousePress(view, Qt::LeftButton, {}, at(10.5, 12.5));
  QMouseEvent move(QEvent::MouseMove, at(20.5, 12.5), view->mapToGlobal(at(20.5, 12.5)),
                   Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(view, &move);
  QTest::mouseRelease(view, Qt::LeftButton, {}, at(30.5, 12.5));
  const host::ZeroedWeights weights = window->SelectionWeights();
  ASSERT_EQ(weights.size(), 48u * 40u);
  EXPECT_EQ(weights[12 * 48 + 20], 1.0f);    // on the stroke
  EXPECT_EQ(weights[30 * 48 + 20], 0.0f);    // far from it
  const float edge = weights[16 * 48 + 20];  // 3.5 cells off, inside the falloff
  EXPECT_GT(edge, 0.0f);
  EXPECT_LT(edge, 1.0f);
  EXPECT_FALSE(window->isWindowModified());  // a selection is not a change to save

  const Landscape before = window->Land();
  std::vector<float> softened(before.Count());
  terrain::Soften({48, 40}, before.heights, softened);
  Apply("SoftenRadio");
  for (size_t i = 0; i < weights.size(); ++i) {
    const float w = weights[i];
    const float expected =
        w >= 1.0f   ? softened[i]
        : w <= 0.0f ? before.heights[i]
                    : static_cast<float>(static_cast<double>(softened[i]) * w +
                                         static_cast<double>(before.heights[i]) * (1.0 - w));
    ASSERT_EQ(std::bit_cast<uint32_t>(window->Land().heights[i]), std::bit_cast<uint32_t>(expected))
        << i;
  }
  window->History()->undo();  // the edit
  window->History()->undo();  // the stroke
  EXPECT_TRUE(window->SelectionWeights().empty());
  EXPECT_EQ(Bits(window->Land()), Bits(before));
  window->History()->redo();
  EXPECT_EQ(window->SelectionWeights(), weights);

  // Erasing with nothing selected selects all but the stroke; undone, nothing again.
  window->Select({}, 0);
  for (QAction* action : window->findChildren<QAction*>())
    if (action->text() == "Erase") action->trigger();
  QTest::mousePress(view, Qt::LeftButton, {}, at(10, 10));
  QTest::mouseRelease(view, Qt::LeftButton, {}, at(12, 10));
  const host::ZeroedWeights erased = window->SelectionWeights();
  ASSERT_EQ(erased.size(), 48u * 40u);
  EXPECT_EQ(erased[0], 1.0f);
  EXPECT_LT(erased[10 * 48 + 11], 1.0f);
  window->History()->undo();
  EXPECT_TRUE(window->SelectionWeights().empty());
  window->History()->redo();
  EXPECT_EQ(window->SelectionWeights(), erased);

  // A stroke over a selection, off the grid's edge: undone, the weights are as before.
  QTest::mousePress(view, Qt::LeftButton, {}, at(44, 3));
  QTest::mouseRelease(view, Qt::LeftButton, {}, at(47.5, 30));
  const host::ZeroedWeights twice = window->SelectionWeights();
  EXPECT_LT(twice[20 * 48 + 47], 1.0f);
  window->History()->undo();
  EXPECT_EQ(window->SelectionWeights(), erased);
  window->History()->redo();
  EXPECT_EQ(window->SelectionWeights(), twice);
}

TEST_F(Window, AboutNamesTheVersionsOfGdalAndQt) {
  MessageBoxAnswerer ok;
  for (QAction* action : window->findChildren<QAction*>())
    if (action->text() == "&About kelvamor-host") action->trigger();
  ASSERT_EQ(ok.texts.size(), 1);
  EXPECT_TRUE(ok.texts[0].contains("GDAL " + QString::fromStdString(host::GdalRelease())));
  EXPECT_TRUE(ok.texts[0].contains(QString("Qt ") + qVersion()));
}

TEST_F(Window, UnsavedWorkIsKeptOrDroppedAsTheUserAnswers) {
  host::WriteHeightmap(Path("other.r32"), Sample(8, 8, 5));
  Apply("SoftenRadio");
  const auto changed = Bits(window->Land());
  {
    MessageBoxAnswerer cancel(QMessageBox::Cancel);
    EXPECT_FALSE(window->close());
    EXPECT_FALSE(window->Open(QPath("other.r32")));
    EXPECT_EQ(cancel.texts.size(), 2);
  }
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(Bits(window->Land()), changed);
  {
    MessageBoxAnswerer discard(QMessageBox::Discard);
    EXPECT_TRUE(window->Open(QPath("other.r32")));
  }
  EXPECT_EQ(window->Land().width, 8);
  EXPECT_FALSE(window->isWindowModified());
  EXPECT_TRUE(window->windowTitle().startsWith("other.r32"));
  EXPECT_TRUE(window->close());  // nothing unsaved: no question
}

TEST_F(Window, SaveAsAddsTheChosenTypesExtensionAndSaveWritesBack) {
  Apply("SoftenRadio");
  ASSERT_TRUE(window->SaveAs(QPath("map"), "GeoTIFF float32 (*.tif)"));
  EXPECT_TRUE(std::filesystem::exists(Path("map.tif")));
  EXPECT_EQ(window->FilePath(), QPath("map.tif"));
  EXPECT_FALSE(window->isWindowModified());
  Apply("SoftenMoreRadio");
  ASSERT_TRUE(window->Save());
  EXPECT_EQ(host::ReadHeightmap(Path("map.tif")).heights, window->Land().heights);

  // A GeoTIFF of whole numbers is saved as one again, in whole steps; Save As chooses.
  host::WriteOptions whole;
  whole.storage = host::Storage::kInt16;
  host::WriteHeightmap(Path("dem.tif"), window->Land(), whole);
  ASSERT_TRUE(window->Open(QPath("dem.tif")));
  Apply("SoftenRadio");
  ASSERT_TRUE(window->Save());
  const Landscape saved = host::ReadHeightmap(Path("dem.tif"));
  EXPECT_EQ(saved.geo.dataType, "Int16");
  for (const float h : saved.heights) ASSERT_EQ(h, std::round(h));
  for (const auto& [filter, type] : {std::pair{"GeoTIFF UInt16 (*.tif)", "UInt16"},
                                     std::pair{"GeoTIFF float32 (*.tif)", "Float32"}}) {
    ASSERT_TRUE(window->SaveAs(QPath("as"), filter)) << filter;
    EXPECT_EQ(host::ReadHeightmap(Path("as.tif")).geo.dataType, type) << filter;
  }

  // A save that fails says why, and no progress dialog comes up over the message.
  WriteBytes("bil.hdr", "BYTEORDER I\nLAYOUT BIL\n");  // another grid's header
  bool progressShown = false, told = false;
  QTimer::singleShot(700, [&] {
    for (QWidget* top : QApplication::topLevelWidgets()) {
      progressShown = progressShown || (qobject_cast<QProgressDialog*>(top) && top->isVisible());
      if (auto* box = qobject_cast<QMessageBox*>(top); box && box->isVisible()) {
        told = box->text().contains("bil.hdr");
        box->accept();
      }
    }
  });
  EXPECT_FALSE(window->SaveAs(QPath("bil.r16")));
  EXPECT_TRUE(told);
  EXPECT_FALSE(progressShown);
}

// A selection confines every plug-in: outside a sharp one nothing changes, and a
// feathered edge fades monotonically from the plug-in's heights to the original.
TEST_F(Window, PlugInsChangeOnlyTheSelection) {
  const Landscape before = window->Land();
  QPainterPath box;
  box.addRect(10, 8, 20, 16);
  window->Select(box, 0.0);
  Apply("FlattenRadio", [](QDialog* d) { d->findChild<QSpinBox*>("FlattenSpin")->setValue(100); });
  const Landscape& after = window->Land();
  for (int32_t y = 0; y < 40; ++y)
    for (int32_t x = 0; x < 48; ++x) {
      const size_t i = static_cast<size_t>(y) * 48 + x;
      const bool inside = x >= 10 && x < 30 && y >= 8 && y < 24;
      if (inside) {
        EXPECT_EQ(after.heights[i], 0.0f) << x << "," << y;
      } else {
        EXPECT_EQ(std::bit_cast<uint32_t>(after.heights[i]),
                  std::bit_cast<uint32_t>(before.heights[i]))
            << x << "," << y;
      }
    }
  const host::ZeroedWeights w = host::SelectionWeights(box, 12.0, 48, 40);
  for (int32_t x = 1; x < 20; ++x) EXPECT_LE(w[16 * 48 + x - 1], w[16 * 48 + x]) << x;
  EXPECT_LT(w[16 * 48 + 5], 1.0f);
  EXPECT_GT(w[16 * 48 + 12], 0.0f);
}

// A preview under a selection shows only inside it, on the map too, drawn before the
// plug-in goes on; Cancel puts every bit back, and the map as it was.
TEST_F(Window, APreviewShowsOnlyInTheSelectionAndCancelPutsItBack) {
  const auto before = Bits(window->Land());
  QPainterPath box;
  box.addRect(10, 8, 20, 16);
  window->Select(box, 0.0);
  auto* map = static_cast<host::LandscapeView*>(window->findChild<QWidget*>("Map"));
  auto picture = [map] {
    QImage shown = map->grab().toImage();
    while (map->Pending()) shown = map->grab().toImage();
    return shown;
  };
  const QImage unedited = picture();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
  int paints = 0;
  map->onPainted = [&paints] { ++paints; };
  std::vector<float> previewed;
  QImage preview;
  WhenModalShown("RovandelParamsForm", [&](QDialog* d) {
    QTest::mouseClick(d->findChild<QRadioButton*>("FlattenRadio"), Qt::LeftButton, {},
                      QPoint(6, 8));
    d->findChild<QSpinBox*>("FlattenSpin")->setValue(100);
    const int paintsBefore = paints;
    d->findChild<QPushButton*>("PreviewButton")->click();  // no event handled after it
    EXPECT_GT(paints, paintsBefore) << "the map is drawn when the plug-in asks, not later";
    previewed.assign(window->Land().heights.begin(), window->Land().heights.end());
    preview = picture();
    ClickButton(d, "CancelButton");
  });
  window->RunPlugin(*window->Plugin());
  EXPECT_NE(preview, unedited);
  EXPECT_EQ(picture(), unedited);
  ASSERT_EQ(previewed.size(), before.size());
  for (int32_t y = 0; y < 40; ++y)
    for (int32_t x = 0; x < 48; ++x) {
      const size_t i = static_cast<size_t>(y) * 48 + x;
      const bool inside = x >= 10 && x < 30 && y >= 8 && y < 24;
      if (inside)
        EXPECT_EQ(previewed[i], 0.0f) << x << "," << y;
      else
        EXPECT_EQ(std::bit_cast<uint32_t>(previewed[i]), before[i]) << x << "," << y;
    }
  EXPECT_EQ(Bits(window->Land()), before);
  EXPECT_EQ(window->History()->count(), 0);
}

// A change keeps the box where the grids differ and gives either grid the other, bit
// for bit, NaN and negative zero included; a few cells cost little, none nothing.
TEST(History, AChangeKeepsItsBoxAndTurnsEitherGridIntoTheOther) {
  const Landscape land = Sample(300, 200);
  struct Case {
    const char* what;
    std::vector<std::pair<int32_t, int32_t>> cells;  // x, y changed
    host::CellBox box;
  };
  for (const Case& c : std::vector<Case>{{"none", {}, {}},
                                         {"one cell", {{299, 0}}, {299, 0, 300, 1}},
                                         {"a stroke", {{20, 150}, {60, 120}}, {20, 120, 61, 151}},
                                         {"corners", {{0, 0}, {299, 199}}, {0, 0, 300, 200}}}) {
    host::Heights after = land.heights;
    for (const auto& [x, y] : c.cells) after[static_cast<size_t>(y) * 300 + x] = NAN;
    after[5] = land.heights[5] == 0.0f ? -0.0f : land.heights[5];  // the same bits stay unseen
    const host::GridChange change(land.heights.data(), after.data(), 300, 200);
    EXPECT_EQ(std::tie(change.Box().x0, change.Box().y0, change.Box().x1, change.Box().y1),
              std::tie(c.box.x0, c.box.y0, c.box.x1, c.box.y1))
        << c.what;
    host::Heights grid = land.heights;
    change.ApplyTo(grid.data());
    EXPECT_EQ(0, std::memcmp(grid.data(), after.data(), grid.size() * 4)) << c.what;
    change.ApplyTo(grid.data());
    EXPECT_EQ(0, std::memcmp(grid.data(), land.heights.data(), grid.size() * 4)) << c.what;
    if (c.cells.size() == 1) {
      EXPECT_LT(change.Bytes(), 200u) << c.what;
    }
    // The same cells of a NoData mask, a byte a cell.
    std::vector<uint8_t> mask(300 * 200, 0), marked = mask;
    for (const auto& [x, y] : c.cells) marked[static_cast<size_t>(y) * 300 + x] = 1;
    const host::GridChange masks(mask.data(), marked.data(), 300, 200);
    EXPECT_EQ(masks.Box().x1, c.box.x1) << c.what;
    masks.ApplyTo(mask.data());
    EXPECT_EQ(mask, marked) << c.what;
  }
}

// Past its bound the history drops its oldest steps, never the newest; what is left
// undoes bit for bit, and the saved state stays marked while its step is kept.
TEST(History, PastItsBoundTheOldestStepsGo) {
  Landscape land = Sample(64, 64);
  QUndoStack history;
  std::vector<std::vector<uint32_t>> states{Bits(land)};
  auto edit = [&](int step) {
    const Landscape before = land;
    for (int32_t y = 0; y < 64; ++y) land.heights[static_cast<size_t>(y) * 64 + step] += 1.0f;
    history.push(new host::LandscapeStep(
        [&](const host::LandscapeChange& c, bool back) { c.ApplyTo(land, back); }, "edit",
        std::make_shared<host::LandscapeChange>(before, land)));
    states.push_back(Bits(land));
  };
  edit(0);
  history.setClean();
  edit(1);
  const size_t step = host::HistoryBytes(history) / 2;
  host::KeepHistoryWithin(history, 3 * step);
  EXPECT_EQ(history.count(), 2);  // within the bound: nothing goes
  edit(2);
  host::KeepHistoryWithin(history, 3 * step);
  EXPECT_EQ(history.count(), 3);
  EXPECT_EQ(history.cleanIndex(), 1);
  edit(3);
  host::KeepHistoryWithin(history, 3 * step);
  ASSERT_EQ(history.count(), 3);
  EXPECT_EQ(history.cleanIndex(), 0);  // the saved state is where the kept steps start
  EXPECT_TRUE(host::UnsavedHeights(history));
  for (size_t i = 4; i > 1; --i) {
    history.undo();
    EXPECT_EQ(Bits(land), states[i - 1]) << "undo to " << i - 1;
  }
  EXPECT_FALSE(history.canUndo());
  EXPECT_FALSE(host::UnsavedHeights(history));
  history.setIndex(3);
  EXPECT_EQ(Bits(land), states[4]);
  edit(4);
  host::KeepHistoryWithin(history, 1);  // the newest stays, whatever it costs
  EXPECT_EQ(history.count(), 1);
  EXPECT_EQ(history.cleanIndex(), -1);  // the saved state went with the dropped steps
  EXPECT_TRUE(host::UnsavedHeights(history));
}

// Past its bound, steps that can be made again forget their differences, oldest first,
// and are made again from a landscape kept whole before them; when even that is too much
// the oldest go and the landscape kept moves up. A step made again that comes out
// otherwise than it did is never taken for it.
TEST(History, PastItsBoundStepsAreMadeAgain) {
  Landscape land = host_test::Relief(64, 64);
  QUndoStack history;
  std::vector<std::vector<uint32_t>> states{Bits(land)};
  float sway = 0.0f;  // what the second edit adds when made again
  auto edit = [&](int step) {
    host::Remake remake = [step, &sway](Landscape& l) {
      for (float& h : l.heights) h = h * 0.75f + static_cast<float>(step) + (step == 1 ? sway : 0);
      return true;
    };
    Landscape before = land;
    remake(land);
    history.push(new host::LandscapeStep(
        [&](const host::LandscapeChange& c, bool back) {
          EXPECT_TRUE(host::ApplyStep(history, c, back, land));
        },
        "edit",
        std::make_shared<host::LandscapeChange>(std::move(before), land, host::CellBox{}, nullptr,
                                                remake)));
    host::SettleHistory(history);  // worked out from `land` as it is
    states.push_back(Bits(land));
  };
  for (int step = 0; step < 6; ++step) edit(step);
  const size_t all = host::HistoryBytes(history);
  auto change = [&](int i) {
    return &dynamic_cast<const host::LandscapeStep*>(history.command(i))->Of();
  };
  // The landscape kept whole is made on a thread of its own, from a copy: the landscape
  // may change meanwhile. Nothing is forgotten until it is made and the history is kept
  // within its bound again.
  std::atomic<int> made = 0;
  host::KeepHistoryWithin(history, all * 3 / 5, &land, [&] { ++made; });
  EXPECT_FALSE(change(0)->Forgotten());
  std::fill(land.heights.begin(), land.heights.end(), -1.0f);
  EXPECT_TRUE(change(0)->HasBase());  // once it is made
  EXPECT_EQ(made, 1);
  std::memcpy(land.heights.data(), states.back().data(), states.back().size() * sizeof(float));
  host::KeepHistoryWithin(history, all * 3 / 5, &land, [&] { ++made; });
  ASSERT_EQ(history.count(), 6);
  EXPECT_LE(host::HistoryBytes(history), all * 3 / 5);
  EXPECT_TRUE(change(0)->Forgotten() && change(1)->Forgotten());
  EXPECT_FALSE(change(5)->Forgotten());
  for (int i = 5; i >= 0; --i) {
    history.undo();
    EXPECT_EQ(Bits(land), states[static_cast<size_t>(i)]) << "undo to " << i;
  }
  for (int i = 1; i <= 6; ++i) {
    history.redo();
    EXPECT_EQ(Bits(land), states[static_cast<size_t>(i)]) << "redo to " << i;
  }
  sway = 1.0f;
  EXPECT_FALSE(host::LandscapeBefore(history, 3, land));
  sway = 0.0f;
  ASSERT_TRUE(host::LandscapeBefore(history, 3, land));
  EXPECT_EQ(Bits(*host::LandscapeBefore(history, 3, land)), states[3]);

  host::KeepHistoryWithin(history, 1, &land);  // the newest stays, and what it is made from
  ASSERT_EQ(history.count(), 1);
  history.undo();
  EXPECT_EQ(Bits(land), states[5]);
  history.redo();
  EXPECT_EQ(Bits(land), states[6]);

  // A history cleared while a landscape kept whole is made (another file opened): the
  // work stops, and its end is still told.
  history.clear();
  for (int step = 0; step < 4; ++step) edit(step);
  made = 0;
  host::KeepHistoryWithin(history, host::HistoryBytes(history) / 2, &land, [&] { ++made; });
  history.clear();
  EXPECT_EQ(made, 1);
}

// A whole-grid edit keeps what its difference packs to, a brush stroke its box: a
// landscape keeps many more steps than whole copies would allow.
TEST_F(Window, TheHistoryKeepsChangesNotLandscapes) {
  host::WriteHeightmap(Path("big.r32"), host_test::Relief(512, 512));
  const MessageBoxAnswerer answerer;
  ASSERT_TRUE(window->Open(QPath("big.r32"))) << answerer.texts.join(' ').toStdString();
  EXPECT_EQ(window->History()->undoLimit(), host::MainWindow::kHistorySteps);
  Apply("SoftenRadio");
  // Worked out on a thread of its own, begun once the window has drawn the edit and waits
  // for the user.
  const auto& change =
      dynamic_cast<const host::LandscapeStep*>(window->History()->command(0))->Of();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(change.Ready());
  QEventLoop idle;
  QTimer::singleShot(20, &idle, &QEventLoop::quit);
  idle.exec();
  EXPECT_TRUE(QTest::qWaitFor([&] { return change.Ready(); }));
  const size_t whole = 512 * 512 * sizeof(float);
  EXPECT_LT(host::HistoryBytes(*window->History()), whole * 3 / 4);
  QPainterPath square;
  square.addRect(100, 100, 20, 20);
  window->Select(square, 0);
  Apply("SoftenRadio");
  host::SettleHistory(*window->History());
  EXPECT_LT(host::HistoryBytes(*window->History()), whole * 3 / 4 + 20 * 20 * 4 * 2);
}

// While the view moves the map makes a few tiles a frame, drawing the others from coarser
// ones; the frame after an edit shows every tile in view at its own level.
TEST(View, TheFrameAfterAnEditShowsItWhole) {
  Landscape land = host_test::Relief(2000, 1500);
  host::LandscapeView view(nullptr);
  view.resize(600, 450);  // level 1 at Fit: 4 x 3 tiles in view
  view.setAttribute(Qt::WA_DontShowOnScreen);
  view.show();
  view.SetLandscape(&land);
  view.SetLook(host::ShadingOf(land, 0.0), nullptr);
  view.Fit();
  view.grab();
  EXPECT_TRUE(view.Pending());
  while (view.Pending()) view.grab();
  for (float& h : land.heights) h *= 1.5f;
  view.HeightsChanged({0, 0, land.width, land.height});
  view.grab();
  EXPECT_FALSE(view.Pending());
}

// The wheel zooms about the cursor: the cell under it stays under it. A drag pans by
// what the mouse moved; Fit shows the whole map again.
TEST(View, ZoomKeepsTheCellUnderTheCursorAndDragPans) {
  host::LandscapeView view(nullptr);
  view.resize(400, 300);
  const Landscape land = Sample(200, 100);
  view.SetLandscape(&land);
  view.Fit();
  EXPECT_NEAR(view.ToCell(QPointF(200, 150)).x(), 100.0, 1e-9);  // the centre
  EXPECT_NEAR(view.ToCell(QPointF(0, 150)).x(), 0.0, 1e-9);      // scaled 2x to fit
  const QPointF at(120, 90);
  const QPointF cell = view.ToCell(at);
  QWheelEvent wheel(at, view.mapToGlobal(at), {}, QPoint(0, 240), Qt::NoButton, Qt::NoModifier,
                    Qt::NoScrollPhase, false);
  QApplication::sendEvent(&view, &wheel);
  EXPECT_NEAR(view.ToCell(at).x(), cell.x(), 1e-9);
  EXPECT_NEAR(view.ToCell(at).y(), cell.y(), 1e-9);
  const double zoomed = view.ToCell(at + QPointF(10, 0)).x() - cell.x();
  EXPECT_LT(zoomed, 5.0);  // was 5 cells for 10 pixels before zooming in
  const QPointF grabbed = view.ToCell(QPointF(100, 100));
  QTest::mousePress(&view, Qt::LeftButton, {}, QPoint(100, 100));
  QMouseEvent move(QEvent::MouseMove, QPointF(130, 80), view.mapToGlobal(QPointF(130, 80)),
                   Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&view, &move);
  QTest::mouseRelease(&view, Qt::LeftButton, {}, QPoint(130, 80));
  EXPECT_NEAR(view.ToCell(QPointF(130, 80)).x(), grabbed.x(), 1e-9);
  EXPECT_NEAR(view.ToCell(QPointF(130, 80)).y(), grabbed.y(), 1e-9);
  view.Fit();
  EXPECT_NEAR(view.ToCell(QPointF(200, 150)).x(), 100.0, 1e-9);
}

// Each selection tool selects the shape dragged: a box, the ellipse in it, and the
// outline drawn by hand, closed at the release.
TEST(View, EachSelectionToolSelectsTheShapeDragged) {
  using Tool = host::LandscapeView::Tool;
  host::LandscapeView view(nullptr);
  view.resize(400, 300);
  const Landscape land = Sample(200, 100);
  view.SetLandscape(&land);
  const QPointF c0 = view.ToCell(QPointF(0, 0));
  const double scale = 1.0 / (view.ToCell(QPointF(1, 0)).x() - c0.x());
  auto at = [&](QPointF cell) { return ((cell - c0) * scale).toPoint(); };
  struct Case {
    Tool tool;
    std::vector<QPointF> dragged;  // pressed at the first, released at the last
    QPointF inside, outside;
  };
  const QPointF a(20, 20), b(60, 20), c(60, 60), d(20, 60);
  for (const Case& t : {Case{Tool::kRectangle, {a, c}, {40, 40}, {70, 40}},
                        Case{Tool::kEllipse, {a, c}, {40, 40}, {22, 22}},
                        Case{Tool::kFreehand, {a, b, c, d}, {40, 40}, {70, 40}},
                        Case{Tool::kFreehand, {a, b, c}, {50, 30}, {30, 50}}}) {
    view.tool = t.tool;
    QPainterPath selected;
    view.onSelected = [&selected](const QPainterPath& shape) { selected = shape; };
    QTest::mousePress(&view, Qt::LeftButton, {}, at(t.dragged.front()));
    for (size_t i = 1; i < t.dragged.size(); ++i) {
      const QPointF p = at(t.dragged[i]);
      QMouseEvent move(QEvent::MouseMove, p, view.mapToGlobal(p), Qt::NoButton, Qt::LeftButton,
                       Qt::NoModifier);
      QApplication::sendEvent(&view, &move);
    }
    QTest::mouseRelease(&view, Qt::LeftButton, {}, at(t.dragged.back()));
    const int points = static_cast<int>(t.dragged.size());
    EXPECT_TRUE(selected.contains(t.inside)) << static_cast<int>(t.tool) << " " << points;
    EXPECT_FALSE(selected.contains(t.outside)) << static_cast<int>(t.tool) << " " << points;
  }
}

TEST_F(Window, TheReadoutNamesTheCellItsPlaceAndItsHeight) {
  Landscape land = Sample(6, 4);
  land.geo.geoTransform = std::array<double, 6>{1000.0, 30.0, 0.0, 2000.0, 0.0, -30.0};
  land.noData.assign(land.Count(), 0);
  land.noData[2 * 6 + 4] = 1;
  host::Options options;
  options.pluginPath = ROVANDEL_MODULE;
  host::MainWindow other(land, options);
  const QString text = other.CellReadout(3, 1);
  EXPECT_TRUE(text.contains("x 3  y 1")) << text.toStdString();
  EXPECT_TRUE(text.contains("(1105.000, 1955.000)")) << text.toStdString();
  EXPECT_TRUE(text.contains(QString("height %1").arg(land.heights[9], 0, 'g', 7)))
      << text.toStdString();
  EXPECT_TRUE(other.CellReadout(4, 2).endsWith("NoData"));

  // Heights in their unit and to the data's precision: an Int16 DEM in decimetres shows
  // one decimal; the status bar names the coordinate system and the water level.
  land.geo.unit = "metre";
  land.geo.scaleOffset = std::pair{0.1, 0.0};
  OGRSpatialReferenceH srs = OSRNewSpatialReference(nullptr);
  OSRImportFromEPSG(srs, 32632);
  char* wkt = nullptr;
  OSRExportToWkt(srs, &wkt);
  land.geo.projection = wkt;
  CPLFree(wkt);
  OSRDestroySpatialReference(srs);
  land.heights[9] = 123.4f;
  host::MainWindow georeferenced(land, options);
  EXPECT_TRUE(georeferenced.CellReadout(3, 1).endsWith("height 123.4 m"))
      << georeferenced.CellReadout(3, 1).toStdString();
  QString status;
  for (QLabel* label : georeferenced.findChildren<QLabel*>()) status += label->text() + "|";
  EXPECT_TRUE(status.contains("WGS 84 / UTM zone 32N")) << status.toStdString();
  // Sample's heights reach below 0: the sea is there without being asked for.
  EXPECT_TRUE(status.contains("water at 0.0 m")) << status.toStdString();
  EXPECT_TRUE(georeferenced.findChild<QCheckBox*>("WaterCheck")->isChecked());
}

// The legend's histogram counts every valid height and follows each edit and undo; the
// map colours the sea floor blue and the land green where sea level splits the range.
// The legend marks round heights, and sea level where the range crosses it.
TEST(Legend, TicksAreRoundHeightsWithinTheRange) {
  for (const auto& [lo, hi] : std::vector<std::pair<double, double>>{
           {83.064, 1294.5}, {-120, 880}, {141, 547}, {0.1, 0.35}, {-3.2, 1.1}, {5, 5.0001}}) {
    const std::vector<double> ticks = host::LegendTicks(lo, hi);
    ASSERT_GE(ticks.size(), 4u) << lo << " .. " << hi;
    EXPECT_LE(ticks.size(), 11u) << lo << " .. " << hi;
    const double step = ticks[1] - ticks[0];
    const double scale = std::pow(10.0, std::floor(std::log10(step) + 1e-9));
    EXPECT_TRUE(std::set<double>({1, 2, 2.5, 5}).count(std::round(step / scale * 10) / 10))
        << "step " << step;
    for (const double t : ticks) {
      EXPECT_TRUE(t >= lo && t <= hi) << t;
      EXPECT_NEAR(t / step, std::round(t / step), 1e-9 * std::abs(t / step) + 1e-9)
          << t << " of step " << step;
    }
    if (lo < 0 && hi > 0) {
      EXPECT_NE(std::find(ticks.begin(), ticks.end(), 0.0), ticks.end());
    }
  }
}

TEST_F(Window, TheLegendFollowsEditsAndTheSeaIsBlue) {
  auto* legend = dynamic_cast<host::LegendPanel*>(window->findChild<QWidget*>("Legend"));
  ASSERT_TRUE(legend);
  auto total = [&] {
    size_t sum = 0;
    for (size_t count : legend->Histogram()) sum += count;
    return sum;
  };
  EXPECT_EQ(total(), 48u * 40u);
  const auto before = legend->Histogram();
  Apply("SoftenMoreRadio");
  EXPECT_NE(legend->Histogram(), before);
  EXPECT_EQ(total(), 48u * 40u);
  window->History()->undo();
  EXPECT_EQ(legend->Histogram(), before);
  // Closed with its dock's button, it comes back from View ▸ Legend.
  auto* dock = window->findChild<QDockWidget*>("LegendDock");
  dock->close();
  ASSERT_FALSE(legend->isVisible());
  for (QAction* action : window->findChildren<QAction*>())
    if (action->text() == "Legend") action->trigger();
  EXPECT_TRUE(legend->isVisible());

  // Counted a slice at a time between events: heights changed (and a smaller grid) half
  // way through are counted anew, never mixed with those before.
  Landscape big = Sample(2100, 2100);  // a few slices
  host::LegendPanel panel(nullptr);
  panel.Show(big, {0, 1}, std::nullopt);
  QTest::qWait(40);
  for (float& h : big.heights) h += 1000.0f;
  panel.Show(big, {0, 1}, std::nullopt);
  QTest::qWait(30);
  big = Sample(300, 200, 9);
  panel.Show(big, {0, 1}, std::nullopt);
  host::LegendPanel fresh(nullptr);
  fresh.Show(big, {0, 1}, std::nullopt);
  EXPECT_EQ(panel.Histogram(), fresh.Histogram());
  EXPECT_EQ(panel.HistogramRange(), big.ValidRange());

  double r, g, b;
  host::HeightColour(-900.0, -1000.0, 1000.0, r, g, b);
  EXPECT_GT(b, std::max(r, g));
  host::HeightColour(100.0, -1000.0, 1000.0, r, g, b);
  EXPECT_GT(g, b);
}

TEST_F(Batch, AMaskConfinesTheRunAndMustFitTheLandscape) {
  host::WriteHeightmap(Path("in.r32"), Sample(16, 16));
  Landscape mask = Sample(16, 16);
  for (int32_t y = 0; y < 16; ++y)
    for (int32_t x = 0; x < 16; ++x) mask.heights[y * 16 + x] = x < 8 ? 255.0f : 0.0f;
  host::WriteHeightmap(Path("mask.r32"), mask);
  ASSERT_EQ(Run({QPath("in.r32"), "--action", "flatten", "--set", "Flatten=100", "--mask",
                 QPath("mask.r32"), "-o", QPath("out.r32")}),
            0);
  const Landscape in = host::ReadHeightmap(Path("in.r32"));
  const Landscape out = host::ReadHeightmap(Path("out.r32"));
  for (size_t i = 0; i < out.Count(); ++i)
    EXPECT_EQ(out.heights[i], i % 16 < 8 ? 0.0f : in.heights[i]) << i;

  host::WriteHeightmap(Path("small.r32"), Sample(8, 8));
  QString log;
  EXPECT_EQ(Run({QPath("in.r32"), "--mask", QPath("small.r32"), "-o", QPath("x.r32")}, &log), 2);
  EXPECT_TRUE(log.contains("--mask")) << log.toStdString();
  EXPECT_FALSE(std::filesystem::exists(Path("x.r32")));
}

// Sculpt paints an action on with the brush: picking the tool asks the plug-in's dialog
// once and changes nothing; a stroke then leaves what batch mode leaves with the stroke's
// weights as --mask, bit for bit, as one step of the history. The second stroke is made
// by windows of the grid as the brush reaches them (both strokes cross the windows'
// edges).
TEST_F(Batch, ASculptStrokeIsTheActionMaskedByTheStrokesWeights) {
  host::WriteHeightmap(Path("in.tif"), host_test::Relief(300, 200));
  for (const auto& run :
       {std::pair{"SoftenRadio", "soften"}, std::pair{"GlaciateRadio", "glaciate"}}) {
    const char* radio = run.first;  // plain names: the lambdas below take them
    const char* action = run.second;
    ClearStoredSettings();
    host::Options options;
    options.pluginPath = ROVANDEL_MODULE;
    options.input = Path("in.tif");
    host::MainWindow window(host::ReadHeightmap(Path("in.tif")), options);
    window.show();
    const std::vector<uint32_t> before = Bits(window.Land());
    WhenModalShown("RovandelParamsForm", [radio](QDialog* d) {
      QTest::mouseClick(d->findChild<QRadioButton*>(radio), Qt::LeftButton, {}, QPoint(6, 8));
      ClickButton(d, "OKButton");
    });
    for (QAction* tool : window.findChildren<QAction*>())
      if (tool->text() == "Sculpt") tool->trigger();
    EXPECT_EQ(Bits(window.Land()), before) << action;
    EXPECT_EQ(window.History()->count(), 0) << action;

    auto* view = dynamic_cast<host::LandscapeView*>(window.findChild<QWidget*>("Map"));
    const QPointF c0 = view->ToCell(QPointF(0, 0));
    const double scale = 1.0 / (view->ToCell(QPointF(1, 0)).x() - c0.x());
    auto at = [&](double x, double y) { return ((QPointF(x, y) - c0) * scale).toPoint(); };
    auto stroke = [&](std::vector<QPoint> points) {
      // Through the window, as the window system sends them: a press's later events go
      // where it went.
      QWindow* top = window.windowHandle();
      auto in = [&](QPoint p) { return view->mapTo(&window, p); };
      QTest::mousePress(top, Qt::LeftButton, {}, in(points.front()));
      for (const QPoint p : points) QTest::mouseMove(top, in(p));
      QTest::mouseRelease(top, Qt::LeftButton, {}, in(points.back()));
    };
    // The batch run on `in` with the last stroke's weights as its mask.
    auto sameAsBatch = [&](const char* in, const char* out) {
      Landscape mask = host_test::Relief(300, 200);
      mask.noData.clear();
      std::copy(window.SculptWeights().begin(), window.SculptWeights().end(), mask.heights.begin());
      host::WriteHeightmap(Path("mask.tif"), mask);
      if (Run({QPath(in), "--action", action, "--mask", QPath("mask.tif"), "-o", QPath(out)}) != 0)
        return false;
      Landscape batch = host::ReadHeightmap(Path(out));
      Landscape shown = window.Land();
      for (Landscape* land : {&batch, &shown})  // NoData cells are no heights
        for (size_t i = 0; i < land->Count(); ++i)
          if (land->IsNoData(i)) land->heights[i] = 0.0f;
      return Bits(shown) == Bits(batch);
    };
    stroke({at(100, 100), at(130, 110), at(160, 125)});
    EXPECT_NE(Bits(window.Land()), before) << action;
    EXPECT_EQ(window.History()->count(), 1) << action;
    EXPECT_TRUE(sameAsBatch("in.tif", "out.tif")) << action;
    // A second stroke over the first starts from what the first left.
    stroke({at(150, 60), at(200, 62), at(250, 64), at(252, 100), at(200, 150)});
    EXPECT_EQ(window.History()->count(), 2) << action;
    EXPECT_TRUE(sameAsBatch("out.tif", "out2.tif")) << action;
    // With a selection the stroke sculpts only within it, weighed by it.
    QPainterPath selected;
    selected.addRect(60, 150, 60, 40);
    window.Select(selected, 3.0);
    const std::vector<uint32_t> unselected = Bits(window.Land());
    stroke({at(40, 170), at(90, 168), at(140, 172)});
    EXPECT_EQ(window.History()->count(), 3) << action;
    EXPECT_TRUE(sameAsBatch("out2.tif", "out3.tif")) << action;
    EXPECT_EQ(Bits(window.Land())[170 * 300 + 40], unselected[170 * 300 + 40]) << action;
    EXPECT_NE(Bits(window.Land())[170 * 300 + 90], unselected[170 * 300 + 90]) << action;
    window.Select({}, 0.0);
    // A release the window never saw (made while a dab's dialog held the events back): the
    // next move with no button ends the stroke, a step as any other.
    auto send = [&](QEvent::Type type, QPoint p, Qt::MouseButtons buttons) {
      QMouseEvent e(type, p, view->mapToGlobal(p),
                    type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, buttons, {});
      QApplication::sendEvent(view, &e);
    };
    send(QEvent::MouseButtonPress, at(40, 40), Qt::LeftButton);
    send(QEvent::MouseMove, at(80, 40), Qt::LeftButton);
    send(QEvent::MouseMove, at(90, 40), Qt::NoButton);
    EXPECT_EQ(window.History()->count(), 4) << action;
    // A release that comes while a dab runs the plug-in (its dialog's loop delivers it):
    // the stroke ends once the dab is done.
    QApplication::postEvent(view, new QMouseEvent(QEvent::MouseButtonRelease, at(40, 60),
                                                  view->mapToGlobal(QPointF(at(40, 60))),
                                                  Qt::LeftButton, Qt::NoButton, {}));
    send(QEvent::MouseButtonPress, at(40, 60), Qt::LeftButton);
    EXPECT_EQ(window.History()->count(), 5) << action;

    for (int i = 0; i < 5; ++i) window.History()->undo();
    EXPECT_EQ(Bits(window.Land()), before) << action;
    window.History()->setClean();
  }
}

}  // namespace
