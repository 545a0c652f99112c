#include "host/batch.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QMessageBox>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ostream>

#include "host/heightmap_io.h"
#include "host/plugin_host.h"
#include "host/shading.h"

namespace host {

AutoAnswer::AutoAnswer() {
  QObject::connect(&timer_, &QTimer::timeout, [this] {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || !modal->isVisible()) return;
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
      std::fprintf(stderr, "message: %s\n", qPrintable(box->text()));
      ++messages_;
      QAbstractButton* ok = box->button(QMessageBox::Ok);
      if (!ok && !box->buttons().isEmpty()) ok = box->buttons().first();
      if (ok) ok->click();
      return;
    }
    if (qobject_cast<QDialog*>(modal)) {
      // Enter, as the user would press it: the dialog's default button takes it.
      QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
      QKeyEvent release(QEvent::KeyRelease, Qt::Key_Return, Qt::NoModifier);
      QWidget* target = modal->focusWidget() ? modal->focusWidget() : modal;
      QApplication::sendEvent(target, &press);
      QApplication::sendEvent(target, &release);
    }
  });
  timer_.start(20);
}

namespace {

std::string Range(std::pair<double, double> range) {
  char text[96];
  std::snprintf(text, sizeof text, "%.9g .. %.9g", range.first, range.second);
  return text;
}

std::string Range(const Landscape& land) {
  char text[96];
  std::snprintf(text, sizeof text, "%.6g .. %.6g", land.minHeight, land.maxHeight);
  return text;
}

// " in 1.234 s", the time since `start`.
std::string Since(std::chrono::steady_clock::time_point start) {
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  char text[48];
  std::snprintf(text, sizeof text, " in %.3f s", seconds);
  return text;
}

}  // namespace

int RunBatch(const Options& options, std::ostream& out) {
  try {
    auto start = std::chrono::steady_clock::now();
    Landscape land =
        options.input ? ReadHeightmap(*options.input, options.raw) : MakeDefaultLandscape();
    std::optional<double> waterLevel = options.waterLevel;
    if (!options.input && !waterLevel) waterLevel = kDefaultSeaLevel;
    out << "landscape: " << (options.input ? *options.input : std::string("default (fractal)"))
        << ", " << land.width << " x " << land.height << ", range " << Range(land);
    if (!land.noData.empty())
      out << ", " << std::count(land.noData.begin(), land.noData.end(), 1)
          << " NoData cells filled for the plug-in";
    out << ", read" << Since(start) << "\n";

    StorePluginSettings(options);
    PluginModule module(options.pluginPath);
    HostSession session(land);
    session.waterLevel = waterLevel;

    AutoAnswer answer;
    start = std::chrono::steady_clock::now();
    const bool applied = module.Run(session);
    out << "plug-in: " << module.Name() << ", action " << StoredActionName() << ", "
        << (applied ? "applied" : "not applied") << Since(start) << "\n";
    if (!applied) {
      out << "nothing written: the plug-in did not apply its action\n";
      return 2;
    }
    out << "range after: " << Range(land) << "\n";
    if (options.output) {
      start = std::chrono::steady_clock::now();
      const SaveReport report = WriteHeightmap(*options.output, land, options.write);
      out << "wrote " << *options.output;
      if (report.sixteenBitRange)
        out << " (16-bit steps span " << Range(*report.sixteenBitRange) << ")";
      out << Since(start) << "\n";
    }
    if (options.picture) {
      SavePicture(*options.picture, ShadeLandscape(land, waterLevel));
      out << "wrote " << *options.picture << "\n";
    }
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "kelvamor-host: %s\n", e.what());
    return 1;
  }
}

}  // namespace host
