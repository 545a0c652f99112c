// The host's window: the landscape shaded, zoomable and pannable; File Open / Open
// Recent / Save / Save As and files dropped on it; Edit Undo / Redo over every applied
// plug-in run; a Plug-ins menu; Help (manual, shortcuts, versions); selections
// (rectangle, ellipse, freehand, feathered) that confine what a plug-in changes; a
// water level; and a status bar with the grid, the range and the cell under the cursor.
#pragma once

#include <QMainWindow>
#include <QPainterPath>
#include <QPointF>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "host/model/landscape.h"
#include "host/plugins/module.h"
#include "host/plugins/run_options.h"

class QAction;
class QActionGroup;
class QCheckBox;
class QMenu;
class QDoubleSpinBox;
class QLabel;
class QSettings;
class QStackedWidget;
class QToolBar;
class QUndoCommand;
class QUndoStack;

namespace host {

class LandscapeChange;
using Remake = std::function<bool(Landscape& land)>;  // as the history names it
class LandscapeView;
struct SculptStroke;
class LegendPanel;
class TerrainView3D;

// The host's settings, kept per user.
QSettings HostSettings();

// The files opened or saved last, newest first, kept per user; those gone are left out.
QStringList RecentFiles();
// The open dialog's filters: every kind of file the host reads.
QString OpenFilter();
void RememberRecentFile(const QString& path);

class MainWindow : public QMainWindow {
 public:
  MainWindow(Landscape land, const Options& options);
  ~MainWindow() override;

  // The water level of terrain that reaches below it, unless the user sets another.
  static constexpr double kSeaLevel = 0.0;
  // Grids that take a moment to read (from 128 MiB of heights up) show a quick look at
  // them while they are read.
  static constexpr int64_t kWorthALook = int64_t{8192} * 4096;
  // The longer side of the 3D view's quick look: as many quads as the mesh drawn while
  // the camera moves.
  static constexpr int32_t kLookSide3D = 256;
  // The history keeps at most this many bytes of changes, and this many steps; older
  // steps are dropped.
  static constexpr size_t kHistoryBytes = size_t{1} << 30;
  static constexpr int kHistorySteps = 1000;

  // Opens a heightmap (after asking about unsaved work); false when it was not opened.
  bool Open(const QString& path);
  // Writes back to the opened file in its own format; Save As when there is none.
  bool Save();
  // Writes to path, adding the extension of `filter` ("... (*.tif)") when none is typed.
  bool SaveAs(QString path, const QString& filter = {});
  void RunPlugin(PluginModule& module);
  // Save / Discard / Cancel when there is unsaved work; true when it may be dropped.
  bool MaybeSave();

  QUndoStack* History() const { return history_; }
  // The history's bound in bytes: kHistoryBytes unless set.
  void SetHistoryBytes(size_t bytes) { historyBytes_ = bytes; }
  // The first plug-in loaded; null when none could be.
  PluginModule* Plugin() const { return modules_.empty() ? nullptr : modules_.front().get(); }
  const Landscape& Land() const { return land_; }
  const ZeroedWeights& Selection() const { return selection_; }  // empty: none
  const QString& FilePath() const { return path_; }
  // Selects outline (cell coordinates) with a feather in cells; an empty path selects
  // nothing (the whole landscape).
  void Select(const QPainterPath& outline, double feather);
  const ZeroedWeights& SelectionWeights() const { return selection_; }
  // The status bar's text for the cell at (x, y): position, map coordinates when
  // georeferenced, and the height or "NoData".
  QString CellReadout(int32_t x, int32_t y) const;
  void SetWaterLevel(std::optional<double> level);
  std::optional<double> WaterLevel() const { return waterLevel_; }
  // Every action with a shortcut and its keys, as an HTML table (Help ▸ Keyboard shortcuts).
  QString ShortcutTable() const;
  // The Sculpt tool's action: the plug-in's dialog, answered on a copy of the landscape
  // (OK keeps its settings; nothing changes); false when cancelled or none is loaded.
  bool ChooseSculpt();
  // The weights of the last sculpting stroke, times the selection's when there was one
  // (one per cell; empty before any).
  const ZeroedWeights& SculptWeights() const { return sculptWeights_; }
  // Shows the 3D view (or the map); false when 3D was asked for and there is no OpenGL.
  bool ShowIn3D(bool on);
  bool In3D() const;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void BuildViews();
  void BuildMenus();
  // The 3D view's menu entries, and its toolbar (after the others).
  void AddViewActions(QMenu* menu);
  void Build3DTools();
  // The view the user chose last time.
  void RestoreView();
  // Fit and zoom act on the view that shows.
  void FitView();
  void ZoomView(double factor);
  // The heights the colours span: the opened range, or the heights' range as they are.
  std::pair<double, double> ColourRange() const;
  void BuildTools();
  // A brush or erase stroke into the selection's weights, as a step of the history.
  void PaintSelection(const std::vector<QPointF>& stroke);
  // A place tool's click (or drag, for the hill's width) written into the plug-in's
  // stored settings as Add Hill's centre and width or Flatten's target height; then the
  // plug-in opens on them.
  void PlaceAndRun(QPointF from, QPointF to);
  // Save As: asks where, and in which format; false when the user cancels or it fails.
  bool AskAndSave();
  // How the opened file stores its heights: a GeoTIFF is saved so again.
  Storage OpenedStorage() const;
  void FillRecentMenu();
  void Remember(const QString& path);  // in File ▸ Open Recent, at once
  void Refresh();
  // Only these cells of the heights, or of the selection, changed: both views are told
  // (the 3D view follows when next shown). `reduced`: the map's pyramid was told as the
  // cells were written.
  void HeightsChanged(const CellBox& box, bool reduced = false);
  void SelectionChanged(const CellBox& box);
  // Another landscape (or every cell of it changed).
  void LandscapeReplaced();
  // While a large heightmap is read: a quick look at it on the map or the 3D view's
  // ground, if the file gives one cheaply. Whether one is shown.
  bool ShowQuickLook(const std::string& name, const RawOptions& raw);
  // The cursor over a cell of the map or of the 3D view's ground.
  void Hover(QPointF cell, bool inside);
  // Pushes an applied step, keeping the history within its bound.
  void PushStep(QUndoCommand* step);
  void KeepHistory();
  // KeepHistory from any thread, in the window's own turn.
  void KeepHistorySoon();
  // Pushes the change from `before` to the landscape as it is (cells within `reach`);
  // `remake` makes it again, when it can be.
  void PushChange(const QString& name, Landscape&& before, const CellBox& reach,
                  std::pair<Remake, size_t> remake = {});
  // How the run just made of `module` is made again (with what that keeps, in bytes):
  // this plug-in's action with the values it ran with, on the same selection (whose
  // weights are all within `reach`) and water.
  std::pair<Remake, size_t> RemakeOf(PluginModule& module, const CellBox& reach) const;
  // Undo and redo of a change of the heights.
  void ApplyChange(const LandscapeChange& change, bool back);
  // A step made again came out otherwise: the history goes, the landscape stays.
  void LoseHistory();
  // How far around a cell the chosen sculpting action reads (SculptStroke::kWhole: it is
  // run on the whole grid).
  int SculptHalo() const;
  // A stretch of a sculpting stroke (the first: a point), and its end: one step. A dab
  // that runs the plug-in spins the dialog's loop: the stretches and the end that come
  // meanwhile wait for it, in order.
  void SculptDab(QPointF from, QPointF to);
  void PaintDab(QPointF from, QPointF to);
  void EndSculpt();
  void StartHistory();
  void UpdateTitle();

  Landscape land_;
  uint64_t edits_ = 0;  // how many times the heights changed, for what is made from them
  std::unique_ptr<SculptStroke> sculpt_;
  ZeroedWeights sculptWeights_;
  bool dabbing_ = false;
  std::vector<std::pair<QPointF, QPointF>> dabsWaiting_;
  bool endWaiting_ = false;
  // A file is being read or written: no other may start inside it (a dropped file's
  // open is a queued call, which the events handled meanwhile would run).
  bool fileWork_ = false;
  QString path_;  // the opened file; empty for the built-in landscape
  std::pair<double, double> openedRange_;
  std::optional<double> waterLevel_;
  RawOptions raw_;
  WriteOptions writeOptions_;
  std::vector<std::unique_ptr<PluginModule>> modules_;
  QPainterPath outline_;
  ZeroedWeights selection_;
  QStackedWidget* views_;
  LandscapeView* view_;
  TerrainView3D* view3d_ = nullptr;  // made when first shown
  QAction* view3dAction_;
  QToolBar* tools3d_;
  QActionGroup* mapTools_;  // the map's tools: pan, the selections, place and pick
  QDoubleSpinBox* exaggerationSpin_;
  QUndoStack* history_;
  size_t historyBytes_ = kHistoryBytes;
  bool historyLost_ = false;  // until the history goes, no step is applied
  QLabel* status_;
  QLabel* cursor_;
  QAction* fixedRange_;
  QMenu* recentMenu_;
  LegendPanel* legend_;
  std::pair<int32_t, int32_t> hovered_{-1, -1};  // the cell under the cursor; -1: none
  QMenu* pluginsMenu_;
  QCheckBox* waterCheck_;
  QDoubleSpinBox* waterSpin_;
  QDoubleSpinBox* featherSpin_;
  QDoubleSpinBox* brushSpin_;
  QDoubleSpinBox* hardnessSpin_;
};

}  // namespace host
