#include "host/ui/run_window.h"

#include <QApplication>

#include "host/ui/main_window.h"

namespace host {

int RunWindow(const Options& options) {
  Landscape land = OpenInput(options);
  Options shown = options;
  shown.waterLevel = WaterLevelOf(options);
  StorePluginSettings(options.plugin);
  MainWindow window(std::move(land), shown);
  window.show();
  return QApplication::exec();
}

}  // namespace host
