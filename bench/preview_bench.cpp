// The window's Preview as its user waits for it: from the press of Preview in the
// plug-in's dialog to the view repainted with the previewed heights, on a 4096² landscape
// under a real display (Xvfb in scripts/bench.sh). Beside it, in the same process, what
// the press cannot do without: the Soften kernel on all threads and the hill-shading of
// the whole grid. Then the 3D view of the same landscape: switching to it (the mesh
// built and sent to OpenGL, the first frame drawn), a frame at rest and one while the
// camera moves, each drawn to the end (glFinish). Prints medians of seven:
//   latency <s> s, kernel <s> s, shading <s> s, baseline <kernel + shading> s
//   switch3d <s> s, frame3d <s> s (every <n> cells, view <w> x <h>), moving3d <s> s (...)
#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <random>
#include <vector>

#include "host/render/shading.h"
#include "host/ui/landscape_view.h"
#include "host/ui/main_window.h"
#include "host/ui/terrain_view_3d.h"
#include "terrain/operations.h"

namespace {

constexpr int32_t kSide = 4096;
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
  land.width = land.height = kSide;
  land.heights.resize(land.Count());
  std::mt19937 rng(4096);
  std::normal_distribution<float> noise(0.0f, 50.0f);
  for (float& h : land.heights) h = noise(rng);
  land.RecordRange();
  return land;
}

// Records that the view painted.
class PaintWatch : public QObject {
 public:
  bool painted = false;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint) painted = true;
    return QObject::eventFilter(watched, event);
  }
};

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  host::Options options;
  options.pluginPath = ROVANDEL_MODULE;
  host::MainWindow window(Terrain(), options);
  window.resize(1200, 900);
  window.show();
  auto* view = window.findChild<host::LandscapeView*>();
  PaintWatch watch;
  view->installEventFilter(&watch);

  std::vector<double> latencies;
  QTimer poll;
  poll.setInterval(20);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (!dialog || dialog->objectName() != "RovandelParamsForm") return;
    poll.stop();
    dialog->findChild<QAbstractButton*>("SoftenRadio")->click();
    auto* preview = dialog->findChild<QAbstractButton*>("PreviewButton");
    for (int i = 0; i < kPresses + 1; ++i) {
      QApplication::processEvents();
      watch.painted = false;
      QElapsedTimer timer;
      timer.start();
      preview->click();
      while (!watch.painted) QApplication::processEvents(QEventLoop::AllEvents, 5);
      // The first press also sets up what later ones reuse; a user presses more often.
      if (i > 0) latencies.push_back(static_cast<double>(timer.nsecsElapsed()) * 1e-9);
    }
    dialog->findChild<QAbstractButton*>("CancelButton")->click();
  });
  poll.start();
  if (!window.Plugin()) {
    std::fprintf(stderr, "preview_bench: the module %s did not load\n", ROVANDEL_MODULE);
    return 1;
  }
  window.RunPlugin(*window.Plugin());
  if (latencies.empty()) {
    std::fprintf(stderr, "preview_bench: the dialog never showed\n");
    return 1;
  }

  const host::Landscape& land = window.Land();
  const terrain::GridSize size{land.width, land.height};
  std::vector<float> result(land.Count());
  terrain::Soften(size, land.heights, result);
  const double kernel = MedianSeconds([&] { terrain::Soften(size, land.heights, result); });
  const double shading = MedianSeconds([&] { (void)host::ShadeLandscape(land, std::nullopt); });
  std::printf("latency %.4f s, kernel %.4f s, shading %.4f s, baseline %.4f s\n", Median(latencies),
              kernel, shading, kernel + shading);

  QElapsedTimer switching;
  switching.start();
  if (!window.ShowIn3D(true)) {
    std::fprintf(stderr, "preview_bench: no OpenGL for the 3D view\n");
    return 1;
  }
  auto* view3d = window.findChild<host::TerrainView3D*>();
  auto frame = [view3d] {
    view3d->repaint();
    view3d->makeCurrent();
    view3d->context()->functions()->glFinish();
    view3d->doneCurrent();
  };
  frame();
  const double toFirstFrame = static_cast<double>(switching.nsecsElapsed()) * 1e-9;
  const double atRest = MedianSeconds(frame);
  const int32_t restingStride = view3d->DrawnStride();
  const QPointF centre = view3d->rect().center();
  QMouseEvent press(QEvent::MouseButtonPress, centre, view3d->mapToGlobal(centre), Qt::LeftButton,
                    Qt::LeftButton, {});
  QApplication::sendEvent(view3d, &press);
  const double moving = MedianSeconds(frame);
  std::printf(
      "switch3d %.4f s, frame3d %.4f s (every %d cells, view %d x %d), moving3d %.4f s "
      "(every %d cells)\n",
      toFirstFrame, atRest, restingStride, view3d->width(), view3d->height(), moving,
      view3d->DrawnStride());
  return 0;
}
