#include "host/ui/run_window.h"

#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <cstdio>
#include <exception>

#include "host/common/exit_status.h"
#include "host/ui/main_window.h"
#include "host/ui/raw_size_dialog.h"

namespace host {

int RunWindow(const Options& options) {
  Options shown = options;
  Landscape land;
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
    land = OpenInput(shown);
  } catch (const std::exception& e) {
    // Started from the desktop, stderr is nowhere to be seen: say it on the screen too.
    QMessageBox::critical(nullptr, "kelvamor-host", QString::fromLocal8Bit(e.what()));
    throw;
  }
  shown.waterLevel = WaterLevelOf(options);
  StorePluginSettings(options.plugin);
  MainWindow window(std::move(land), shown);
  window.show();
  return QApplication::exec();
}

}  // namespace host
