// The window's Preview and OK as their user waits for them: from the press in the
// plug-in's dialog to the view repainted with the new heights, on a landscape of the side
// given (4096 unless told) under a real display (Xvfb in scripts/bench.sh). Beside them,
// in the same process, what a press cannot do without: the Soften kernel on all threads
// and the copy of the result into the landscape that the contract's SetHeights makes.
// Then the map panned and zoomed, a frame each; the landscape opened from a file; and the
// 3D view of the same landscape:
// switching to it (the mesh built and sent to OpenGL, the first frame drawn), a frame at
// rest and one while the camera moves, each drawn to the end (glFinish). Prints medians
// of seven (OK: one press):
//   latency <s> s, ok <s> s, ok unpreviewed <s> s, kernel <s> s, copy <s> s, baseline
//   <kernel + copy> s (a Preview of Soften over Soften more's heights; OK after it, the
//   heights shown already; OK again with no preview, pressed a second after the dialog
//   shows)
//   pan <s> s, zoom <s> s, sharp <s> s (a frame of the map; zoomed from 1:1 to 1:2 with
//   nothing drawn before, the frames until every tile in view is at its own level)
//   open <s> s, look <s> s, read <s> s (opening a .r32 of it until the map shows it, and
//   until its quick look shows; reading its bytes)
//   dab <s> s, first dab <s> s, next stroke <s> s (sculpting with Soften: a dab until the
//   map shows it; the first of a stroke, and of the stroke after it), select <s> s (a
//   stroke of the selection brush, nothing selected before: press to the map drawn)
//   switch3d <s> s, frame3d <s> s (every <n> cells, view <w> x <h>), moving3d <s> s (...),
//   dab3d <s> s (sculpting on the ground in 3D: a dab until the frame is drawn)
//   open3d <s> s, look3d <s> s (the .r32 opened in 3D until its ground is drawn, and
//   until its quick look is drawn while it is read; 0 when none is)
// With "history" after the side, instead of all but the first line: the steps and bytes
// the history keeps of twenty Softens of the whole grid, and three undos, each timed.
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QFile>
#include <QMouseEvent>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QTimer>
#include <QUndoStack>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "base/parallel_copy.h"
#include "host/io/heightmap_io.h"
#include "host/render/shading.h"
#include "host/ui/history.h"
#include "host/ui/landscape_view.h"
#include "host/ui/main_window.h"
#include "host/ui/terrain_view_3d.h"
#include "terrain/operations.h"

namespace {

int32_t side = 4096;
constexpr int kPresses = 7;

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

template <typename Work>
double MedianSeconds(Work&& work) {
  std::vector<double> times;
  for (int i = 0; i < kPresses; ++i) {
    QElapsedTimer timer;
    timer.start();
    work();
    times.push_back(static_cast<double>(timer.nsecsElapsed()) * 1e-9);
  }
  return Median(times);
}

// Terrain-like heights: a few octaves of smoothed noise.
host::Landscape Terrain() {
  host::Landscape land;
  land.width = land.height = side;
  land.heights.resize(land.Count());
  std::mt19937 rng(4096);
  std::normal_distribution<float> noise(0.0f, 50.0f);
  for (size_t i = 0; i < land.Count(); ++i) {
    const double x = static_cast<double>(i % side) / side, y = static_cast<double>(i / side) / side;
    land.heights[i] = static_cast<float>(600.0 * std::sin(9 * x) * std::cos(7 * y)) + noise(rng);
  }
  land.RecordRange();
  return land;
}

// Records when the map was last drawn to the end.
struct PaintWatch {
  bool painted = false;
  QElapsedTimer since;  // started at the press
  double seconds = 0.0;
  void Start() {
    painted = false;
    since.start();
  }
  // Until the map has been drawn; the seconds from the press to the end of its drawing
  // (not counting work queued after it, such as the legend's count).
  double Wait() {
    while (!painted) QApplication::processEvents(QEventLoop::AllEvents, 5);
    return seconds;
  }
};

// Once the plug-in's dialog shows (`poll` looks every 20 ms): Soften chosen, then `then`.
template <typename Then>
void WhenDialogShows(QTimer& poll, Then then) {
  QObject::connect(&poll, &QTimer::timeout, [&poll, then] {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (!dialog || dialog->objectName() != "RovandelParamsForm") return;
    poll.stop();
    dialog->findChild<QAbstractButton*>("SoftenRadio")->click();
    then(dialog);
  });
  poll.start(20);
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc > 1) side = std::atoi(argv[1]);
  host::Options options;
  options.pluginPath = ROVANDEL_MODULE;
  host::MainWindow window(Terrain(), options);
  window.resize(1200, 900);
  window.show();
  // By name: the views declare no meta-object of their own, so findChild<View*> would
  // take the first widget of their base class.
  auto* view = static_cast<host::LandscapeView*>(window.findChild<QWidget*>("Map"));
  PaintWatch watch;
  // Drawn to the end: every tile in view at its own level.
  double lookShown = 0.0;  // when a quick look was first drawn since the press
  view->onPainted = [&watch, &lookShown, view] {
    if (view->Reading() && lookShown == 0.0)
      lookShown = static_cast<double>(watch.since.nsecsElapsed()) * 1e-9;
    if (view->Pending()) return;
    watch.seconds = static_cast<double>(watch.since.nsecsElapsed()) * 1e-9;
    watch.painted = true;
  };

  std::vector<double> latencies;
  QTimer poll;
  WhenDialogShows(poll, [&](QDialog* dialog) {
    auto* preview = dialog->findChild<QAbstractButton*>("PreviewButton");
    auto press = [&](const char* radio) {
      dialog->findChild<QAbstractButton*>(radio)->click();
      QApplication::processEvents();
      watch.Start();
      preview->click();
      return watch.Wait();
    };
    for (int i = 0; i < kPresses + 1; ++i) {
      // Each press timed shows Soften where Soften more's heights were: every cell changes.
      press("SoftenMoreRadio");
      const double seconds = press("SoftenRadio");
      // The first press also sets up what later ones reuse; a user presses more often.
      if (i > 0) latencies.push_back(seconds);
    }
    // OK: the run ends, the history keeps its step, the map shows the heights.
    watch.Start();
    dialog->findChild<QAbstractButton*>("OKButton")->click();
  });
  if (!window.Plugin()) {
    std::fprintf(stderr, "preview_bench: the module %s did not load\n", ROVANDEL_MODULE);
    return 1;
  }
  window.RunPlugin(*window.Plugin());
  if (latencies.empty()) {
    std::fprintf(stderr, "preview_bench: the dialog never showed\n");
    return 1;
  }
  const double ok = watch.Wait();
  // OK with no preview before it: every cell changes at the press.
  host::SettleHistory(*window.History());
  QTimer again;
  WhenDialogShows(again, [&](QDialog* dialog) {
    // Pressed as a user presses it: a second after the dialog shows, read first.
    QTimer::singleShot(1000, dialog, [&watch, dialog] {
      watch.Start();
      dialog->findChild<QAbstractButton*>("OKButton")->click();
    });
  });
  window.RunPlugin(*window.Plugin());
  const double unpreviewed = watch.Wait();

  const host::Landscape& land = window.Land();
  const terrain::GridSize size{land.width, land.height};
  std::vector<float> result(land.Count());
  terrain::Soften(size, land.heights, result);
  const double kernel = MedianSeconds([&] { terrain::Soften(size, land.heights, result); });
  std::vector<float> copy(land.Count());
  const double copying =
      MedianSeconds([&] { base::CopyFloats(result.data(), copy.data(), copy.size()); });
  std::printf(
      "latency %.4f s, ok %.4f s, ok unpreviewed %.4f s, kernel %.4f s, copy %.4f s, baseline "
      "%.4f s\n",
      Median(latencies), ok, unpreviewed, kernel, copying, kernel + copying);

  if (argc > 2 && std::strcmp(argv[2], "history") == 0) {
    // Twenty Softens of the whole grid, each answered OK, in the history's own bound;
    // then undo step by step, each from the press to the heights back.
    QTimer answer;
    for (int run = 2; run < 20; ++run) {  // two OKs above
      WhenDialogShows(answer, [](QDialog* dialog) {
        dialog->findChild<QAbstractButton*>("OKButton")->click();
      });
      window.RunPlugin(*window.Plugin());
      host::SettleHistory(*window.History());
      QApplication::processEvents();  // the history keeps to its bound
    }
    std::printf("history %d steps, %.0f MB\n", window.History()->count(),
                static_cast<double>(host::HistoryBytes(*window.History())) / 1e6);
    for (int i = 0; i < 3; ++i) {
      QElapsedTimer undo;
      undo.start();
      window.History()->undo();
      std::printf("undo %d: %.3f s\n", i + 1, static_cast<double>(undo.nsecsElapsed()) * 1e-9);
    }
    return 0;
  }

  // The map at full resolution: dragged 40 pixels at a time over cells not drawn yet,
  // then zoomed in and out about the centre; each frame painted to the end.
  view->ActualSize();
  view->repaint();  // the tiles about the centre, at full resolution
  const QPointF centre2d = view->rect().center();
  auto drag = [&](QPointF by) {
    QMouseEvent press(QEvent::MouseButtonPress, centre2d, view->mapToGlobal(centre2d),
                      Qt::LeftButton, Qt::LeftButton, {});
    QMouseEvent move(QEvent::MouseMove, centre2d + by, view->mapToGlobal(centre2d + by),
                     Qt::LeftButton, Qt::LeftButton, {});
    QMouseEvent release(QEvent::MouseButtonRelease, centre2d + by, view->mapToGlobal(centre2d + by),
                        Qt::LeftButton, Qt::NoButton, {});
    QApplication::sendEvent(view, &press);
    QApplication::sendEvent(view, &move);
    QApplication::sendEvent(view, &release);
  };
  const double pan = MedianSeconds([&] {
    drag(QPointF(-40, -30));
    view->repaint();
  });
  int step = 0;
  const double zoom = MedianSeconds([&] {
    view->ZoomAbout(centre2d, ++step % 2 ? 0.5 : 1.3);
    view->repaint();
  });
  // Zoomed out from 1:1 to 1:2 with nothing drawn before: the frames until every tile in
  // view is at its own level, none borrowed from a coarser one.
  const double sharp = MedianSeconds([&] {
    view->ActualSize();
    view->Tiles().Forget();
    view->ZoomAbout(centre2d, 0.5);
    do {
      view->repaint();
    } while (view->Pending());
  });
  std::printf(
      "pan %.4f s, zoom %.4f s, sharp %.4f s (a frame of the map; from 1:1 to 1:2 until sharp; "
      "view %d x %d)\n",
      pan, zoom, sharp, view->width(), view->height());

  // Opening the landscape from a .r32 until the map shows it, against reading the file's
  // bytes as dd would (the page cache as warm for both: the file was just written).
  const QString r32 = QDir::temp().filePath(QString("preview_bench_%1.r32").arg(getpid()));
  host::WriteHeightmap(QFile::encodeName(r32).toStdString(), land);
  const double dd = MedianSeconds([&] {
    QFile file(r32);
    file.open(QIODevice::ReadOnly);
    std::vector<char> block(size_t{1} << 20);
    while (file.read(block.data(), static_cast<qint64>(block.size())) > 0) {
    }
  });
  // The history's work after the edits above (at 16384² it packs a whole landscape) done
  // first, as it is once a user has looked at the map a while.
  host::SettleHistory(*window.History());
  for (int i = 0; i < window.History()->count(); ++i)
    if (const auto* step = dynamic_cast<const host::LandscapeStep*>(window.History()->command(i)))
      step->Of().HasBase();       // waits for a landscape kept whole being made
  QApplication::processEvents();  // the history then kept within its bound
  window.History()->setClean();   // nothing to ask about
  watch.Start();
  lookShown = 0.0;
  window.Open(r32);
  // The first picture, drawn while the file is read: its quick look (none for a grid of
  // less than 128 MiB).
  const double look = lookShown;
  watch.painted = false;
  const double open = watch.Wait();
  std::printf("open %.4f s, look %.4f s, read %.4f s (%s)\n", open, look, dd,
              "a .r32: the map drawn, the quick look drawn while it is read");

  // Sculpting with Soften, a brush of radius 64 at 1:1: the stroke's first dab (the
  // stroke's weights made), then dabs 30 pixels apart, each until the map is drawn.
  QTimer answer;
  WhenDialogShows(
      answer, [](QDialog* dialog) { dialog->findChild<QAbstractButton*>("OKButton")->click(); });
  window.findChild<QDoubleSpinBox*>("BrushSizeSpin")->setValue(64.0);
  view->ActualSize();
  for (QAction* tool : window.findChildren<QAction*>())
    if (tool->text() == "Sculpt") tool->trigger();
  view->ActualSize();
  QPointF at = centre2d - QPointF(200, 0);
  auto mouse = [&](QEvent::Type type, Qt::MouseButtons buttons) {
    QMouseEvent event(type, at, view->mapToGlobal(at), Qt::LeftButton, buttons, {});
    watch.Start();
    QApplication::sendEvent(view, &event);
    view->update();
    return watch.Wait();
  };
  const double firstDab = mouse(QEvent::MouseButtonPress, Qt::LeftButton);
  const double dab = MedianSeconds([&] {
    at += QPointF(30, 5);
    mouse(QEvent::MouseMove, Qt::LeftButton);
  });
  mouse(QEvent::MouseButtonRelease, Qt::NoButton);
  // The next stroke's first dab: the action made again from the landscape the last
  // stroke left (under the brush, for an action that reads a halo around each cell).
  at += QPointF(0, 150);
  const double nextStroke = mouse(QEvent::MouseButtonPress, Qt::LeftButton);
  mouse(QEvent::MouseButtonRelease, Qt::NoButton);
  // A stroke of the selection brush on a landscape with nothing selected yet, from the
  // press to the map drawn with the selection on it.
  for (QAction* tool : window.findChildren<QAction*>())
    if (tool->text() == "Brush") tool->trigger();
  at += QPointF(0, -300);
  QElapsedTimer selecting;
  selecting.start();
  mouse(QEvent::MouseButtonPress, Qt::LeftButton);
  at += QPointF(60, 0);
  mouse(QEvent::MouseMove, Qt::LeftButton);
  mouse(QEvent::MouseButtonRelease, Qt::NoButton);
  const double selected = static_cast<double>(selecting.nsecsElapsed()) * 1e-9;
  std::printf(
      "dab %.4f s, first dab %.4f s, next stroke %.4f s (sculpting, radius 64), "
      "select %.4f s\n",
      dab, firstDab, nextStroke, selected);

  QElapsedTimer switching;
  switching.start();
  if (!window.ShowIn3D(true)) {
    std::fprintf(stderr, "preview_bench: no OpenGL for the 3D view\n");
    return 1;
  }
  auto* view3d = static_cast<host::TerrainView3D*>(window.findChild<QWidget*>("View3D"));
  // A frame as the event loop paints it (a repaint() while an update is pending would
  // draw nothing).
  auto frame = [view3d] {
    view3d->update();
    QApplication::processEvents();
    view3d->makeCurrent();
    view3d->context()->functions()->glFinish();
    view3d->doneCurrent();
  };
  frame();
  const double toFirstFrame = static_cast<double>(switching.nsecsElapsed()) * 1e-9;
  const double atRest = MedianSeconds(frame);
  const int32_t restingStride = view3d->DrawnStride();
  const QPointF centre = view3d->rect().center();
  // Sculpting on the ground: a dab until the 3D view has drawn it (the mesh made again
  // under the brush, the frame drawn at rest).
  auto mouse3d = [&](QEvent::Type type, QPointF point, Qt::MouseButtons buttons) {
    QMouseEvent event(type, point, view3d->mapToGlobal(point), Qt::LeftButton, buttons, {});
    QElapsedTimer timer;
    timer.start();
    QApplication::sendEvent(view3d, &event);
    frame();
    return static_cast<double>(timer.nsecsElapsed()) * 1e-9;
  };
  QPointF on = centre - QPointF(60, 0);
  mouse3d(QEvent::MouseButtonPress, on, Qt::LeftButton);
  const double dab3d = MedianSeconds([&] {
    on += QPointF(10, 2);
    mouse3d(QEvent::MouseMove, on, Qt::LeftButton);
  });
  mouse3d(QEvent::MouseButtonRelease, on, Qt::NoButton);
  for (QAction* tool : window.findChildren<QAction*>())
    if (tool->text() == "Pan") tool->trigger();
  QMouseEvent press(QEvent::MouseButtonPress, centre, view3d->mapToGlobal(centre), Qt::LeftButton,
                    Qt::LeftButton, {});
  QApplication::sendEvent(view3d, &press);
  const double moving = MedianSeconds(frame);
  QMouseEvent release(QEvent::MouseButtonRelease, centre, view3d->mapToGlobal(centre),
                      Qt::LeftButton, Qt::NoButton, {});
  QApplication::sendEvent(view3d, &release);
  std::printf(
      "switch3d %.4f s, frame3d %.4f s (every %d cells, view %d x %d), moving3d %.4f s "
      "(every %d cells), dab3d %.4f s\n",
      toFirstFrame, atRest, restingStride, view3d->width(), view3d->height(), moving,
      view3d->DrawnStride(), dab3d);

  // The .r32 opened again in 3D: until the first frame drawn while it is read (its quick
  // look), and until the whole landscape's ground is drawn.
  host::SettleHistory(*window.History());
  window.History()->setClean();
  QElapsedTimer opening;
  double look3d = 0.0;
  // The look's mesh has a vertex a cell of it; the whole landscape's (over 1024 cells a
  // side) is coarser.
  const auto swapped = QObject::connect(view3d, &QOpenGLWidget::frameSwapped, [&] {
    if (look3d == 0.0 && view3d->FinestMesh().stride == 1)
      look3d = static_cast<double>(opening.nsecsElapsed()) * 1e-9;
  });
  opening.start();
  window.Open(r32);
  const bool lookDrawn = look3d > 0.0;
  frame();
  const double open3d = static_cast<double>(opening.nsecsElapsed()) * 1e-9;
  QObject::disconnect(swapped);
  QFile::remove(r32);
  std::printf("open3d %.4f s, look3d %.4f s (%s)\n", open3d, lookDrawn ? look3d : 0.0,
              "a .r32 in 3D: the ground drawn, the quick look drawn while it is read");
  return 0;
}
