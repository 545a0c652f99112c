// The host's window: the landscape shaded, File Open / Save As, Edit / Undo, a
// Plug-ins menu, and a status bar with the grid size, height range and water level.
#pragma once

#include <QMainWindow>
#include <memory>
#include <optional>
#include <vector>

#include "host/landscape.h"
#include "host/options.h"
#include "host/plugin_host.h"

class QLabel;

namespace host {

class LandscapeView;

class MainWindow : public QMainWindow {
 public:
  MainWindow(Landscape land, const Options& options);
  ~MainWindow() override;

  // Opens a heightmap; false (after telling the user) when it cannot be read.
  bool Open(const QString& path);
  bool SaveAs(const QString& path);
  void RunPlugin(PluginModule& module);
  void Undo();

 private:
  void Refresh();

  Landscape land_;
  std::optional<Landscape> undo_;
  std::optional<double> waterLevel_;
  RawOptions raw_;
  WriteOptions writeOptions_;
  std::vector<std::unique_ptr<PluginModule>> modules_;
  LandscapeView* view_;
  QLabel* status_;
  QAction* undoAction_;
};

}  // namespace host
