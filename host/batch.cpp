#include "host/batch.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QMessageBox>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iomanip>
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

std::string Range(const Landscape& land) {
  char text[96];
  std::snprintf(text, sizeof text, "%.6g .. %.6g", land.minHeight, land.maxHeight);
  return text;
}

void EnsureFolderOf(const std::string& path) {
  const auto folder = std::filesystem::path(path).parent_path();
  if (!folder.empty()) std::filesystem::create_directories(folder);
}

}  // namespace

int RunBatch(const Options& options, std::ostream& out) {
  try {
    Landscape land =
        options.input ? ReadHeightmap(*options.input, options.raw) : MakeDefaultLandscape();
    std::optional<double> waterLevel = options.waterLevel;
    if (!options.input && !waterLevel) waterLevel = kDefaultSeaLevel;
    out << "landscape: " << (options.input ? *options.input : std::string("default (fractal)"))
        << ", " << land.width << " x " << land.height << ", range " << Range(land) << "\n";

    StorePluginSettings(options);
    PluginModule module(options.pluginPath);
    HostSession session(land);
    session.waterLevel = waterLevel;

    AutoAnswer answer;
    const auto start = std::chrono::steady_clock::now();
    const bool applied = module.Run(session);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    out << "plug-in: " << module.Name() << ", action " << StoredActionName() << ", "
        << (applied ? "applied" : "not applied") << " in " << std::fixed << std::setprecision(3)
        << seconds << " s" << std::defaultfloat << "\n";
    if (!applied) {
      out << "nothing written: the plug-in did not apply its action\n";
      return 2;
    }
    out << "range after: " << Range(land) << "\n";
    if (options.output) {
      EnsureFolderOf(*options.output);
      WriteHeightmap(*options.output, land);
      out << "wrote " << *options.output << "\n";
    }
    if (options.picture) {
      EnsureFolderOf(*options.picture);
      if (!ShadeLandscape(land, waterLevel).save(QString::fromStdString(*options.picture)))
        throw HeightmapError(*options.picture, "the picture cannot be written");
      out << "wrote " << *options.picture << "\n";
    }
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "kelvamor-host: %s\n", e.what());
    return 1;
  }
}

}  // namespace host
