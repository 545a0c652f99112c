#include "host/ui/run_window.h"

#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QScreen>
#include <QSplashScreen>
#include <cstdio>
#include <exception>
#include <memory>
#include <optional>
#include <string>

#include "host/common/exit_status.h"
#include "host/render/shading.h"
#include "host/ui/main_window.h"
#include "host/ui/raw_size_dialog.h"

namespace host {
namespace {

// A large file's quick look, shown while it is read (none for a small one, or one that
// gives none cheaply); it says how far the read has come.
class ReadingSplash {
 public:
  ReadingSplash(const std::string& path, const RawOptions& raw) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QSize room = screen ? screen->availableSize() : QSize(1280, 900);
    const int side = std::min(room.width(), room.height()) * 6 / 10;
    QSize cells;
    const QImage look = QuickLookPicture(path, raw, side, MainWindow::kWorthALook, cells);
    if (look.isNull()) return;
    name_ = QFileInfo(QString::fromLocal8Bit(path)).fileName();
    splash_ = std::make_unique<QSplashScreen>(
        QPixmap::fromImage(look.scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
    splash_->show();
    Say(0.0);
  }
  ProgressFn Progress() {
    return [this](double done) { Say(done); };
  }
  void Finish(QWidget* window) {
    if (splash_) splash_->finish(window);
  }

 private:
  void Say(double done) {
    if (!splash_) return;
    splash_->showMessage(
        QString("Reading %1... %2 %").arg(name_).arg(static_cast<int>(done * 100.0 + 0.5)),
        Qt::AlignBottom | Qt::AlignHCenter, Qt::white);
    QApplication::processEvents();
  }
  QString name_;
  std::unique_ptr<QSplashScreen> splash_;
};

}  // namespace

int RunWindow(const Options& options) {
  Options shown = options;
  Landscape land;
  std::optional<ReadingSplash> reading;  // until the window shows
  try {
    // A headerless RAW grid that cannot tell its size is asked about, as from the window.
    if (options.input)
      if (const auto samples = RawSamplesOfUnknownSize(*options.input, options.raw)) {
        const QString name = QFileInfo(QString::fromLocal8Bit(*options.input)).fileName();
        const auto asked =
            AskRawSize(nullptr, name, *samples, FindFormat(*options.input)->id == FormatId::kRaw16);
        if (!asked) {
          std::fprintf(stderr, "kelvamor-host: %s: its size was not given\n",
                       options.input->c_str());
          return kExitFailed;
        }
        shown.raw = *asked;
      }
    if (shown.input) reading.emplace(*shown.input, shown.raw);
    land = OpenInput(shown, reading ? reading->Progress() : ProgressFn{});
  } catch (const std::exception& e) {
    reading.reset();
    // Started from the desktop, stderr is nowhere to be seen: say it on the screen too.
    QMessageBox::critical(nullptr, "kelvamor-host", QString::fromLocal8Bit(e.what()));
    throw;
  }
  shown.waterLevel = WaterLevelOf(options);
  StorePluginSettings(options.plugin);
  MainWindow window(std::move(land), shown);
  window.show();
  if (reading) reading->Finish(&window);
  return QApplication::exec();
}

}  // namespace host
