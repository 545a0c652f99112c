#include "host/batch.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QMessageBox>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <ostream>

#include "host/heightmap_io.h"
#include "host/plugin_host.h"
#include "host/progress.h"
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

// Lines for stdout, unless the run is quiet.
class Report {
 public:
  Report(std::ostream& out, int verbosity) : out_(out), verbosity_(verbosity) {}
  template <typename... Parts>
  void Line(int level, const Parts&... parts) {
    if (verbosity_ < level) return;
    (out_ << ... << parts) << std::endl;
  }

 private:
  std::ostream& out_;
  int verbosity_;
};

}  // namespace

int RunBatch(const Options& options, std::ostream& out) {
  Report report(out, options.verbosity);
  try {
    auto start = std::chrono::steady_clock::now();
    Landscape land;
    {
      TermProgress progress(options.progress, "reading");
      land = options.input ? ReadHeightmap(*options.input, options.raw, kMaxGridPoints - 1,
                                           progress.Callback())
                           : MakeDefaultLandscape();
    }
    std::optional<double> waterLevel = options.waterLevel;
    if (!options.input && !waterLevel) waterLevel = kDefaultSeaLevel;
    const std::string noData =
        land.noData.empty()
            ? ""
            : ", " + std::to_string(std::count(land.noData.begin(), land.noData.end(), 1)) +
                  " NoData cells filled for the plug-in";
    report.Line(1, "landscape: ", options.input ? *options.input : "default (fractal)", ", ",
                land.width, " x ", land.height, ", range ", Range(land), noData, ", read",
                Since(start));

    PrivateSettings settings(options, std::cerr);
    PluginModule module(options.pluginPath);
    report.Line(2, "plug-in module: ", module.Path());
    HostSession session(land);
    session.waterLevel = waterLevel;
    if (options.mask) {
      session.Select(ReadWeights(*options.mask, land.width, land.height));
      report.Line(2, "selection: ", *options.mask);
    }

    AutoAnswer answer;
    start = std::chrono::steady_clock::now();
    if (options.progress) std::fprintf(stderr, "running %s...\n", settings.ActionName().c_str());
    const bool applied = module.Run(session);
    report.Line(1, "plug-in: ", module.Name(), ", action ", settings.ActionName(), ", ",
                applied ? "applied" : "not applied", Since(start));
    if (!applied) {
      std::fprintf(stderr,
                   "kelvamor-host: the plug-in did not apply its action; nothing written\n");
      return 1;
    }
    report.Line(1, "range after: ", Range(land));
    if (options.saveSettings) {
      settings.SaveToUser();
      report.Line(2, "settings kept as the user's");
    }
    if (options.output) {
      start = std::chrono::steady_clock::now();
      TermProgress progress(options.progress, "writing");
      WriteOptions write = options.write;
      write.progress = progress.Callback();
      const SaveReport saved = WriteHeightmap(*options.output, land, write);
      report.Line(1, "wrote ", *options.output,
                  saved.sixteenBitRange
                      ? " (16-bit steps span " + Range(*saved.sixteenBitRange) + ")"
                      : std::string(),
                  Since(start));
    }
    if (options.picture) {
      SavePicture(*options.picture, ShadeLandscape(land, waterLevel));
      report.Line(1, "wrote ", *options.picture);
    }
    return 0;
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "kelvamor-host: not enough memory\n");
    return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "kelvamor-host: %s\n", e.what());
    return 1;
  }
}

}  // namespace host
