#include "host/ui/main_window.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDockWidget>
#include <QDoubleSpinBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QScopedValueRollback>
#include <QScreen>
#include <QSettings>
#include <QStackedWidget>
#include <QStatusBar>
#include <QUndoStack>
#include <cmath>

#include "host/io/heightmap_io.h"
#include "host/render/shading.h"
#include "host/ui/file_progress.h"
#include "host/ui/history.h"
#include "host/ui/landscape_view.h"
#include "host/ui/raw_size_dialog.h"
#include "host/ui/sculpt.h"
#include "host/ui/selection.h"
#include "host/ui/terrain_info.h"
#include "host/ui/terrain_view_3d.h"

namespace host {

namespace {

// Where the window's size and place are kept between sessions.
constexpr char kGeometryKey[] = "WindowGeometry";

}  // namespace

MainWindow::MainWindow(Landscape land, const Options& options)
    : land_(std::move(land)),
      path_(options.input ? QString::fromStdString(*options.input) : QString()),
      waterLevel_(options.waterLevel),
      raw_(options.raw),
      writeOptions_(options.write) {
  BuildViews();
  history_ = new QUndoStack(this);
  status_ = new QLabel(this);
  cursor_ = new QLabel(this);
  cursor_->setObjectName("CellReadout");
  statusBar()->addWidget(status_);
  statusBar()->addPermanentWidget(cursor_);
  legend_ = new LegendPanel(this);
  auto* legendDock = new QDockWidget("Legend", this);
  legendDock->setObjectName("LegendDock");
  legendDock->setWidget(legend_);
  addDockWidget(Qt::RightDockWidgetArea, legendDock);

  BuildMenus();
  setAcceptDrops(true);

  BuildTools();
  Build3DTools();
  StartHistory();

  // Terrain that reaches below sea level has its sea: water at 0 unless the user chose.
  if (!waterLevel_ && land_.ValidRange().first < 0.0) waterLevel_ = kSeaLevel;
  SetWaterLevel(waterLevel_);  // and draws the map

  view_->onHover = [this](QPointF cell, bool inside) { Hover(cell, inside); };
  view_->onPlaced = [this](QPointF from, QPointF to) { PlaceAndRun(from, to); };
  view_->onSelected = [this](const QPainterPath& outline) {
    Select(outline, featherSpin_->value());
  };

  try {
    modules_.push_back(std::make_unique<PluginModule>(options.pluginPath));
  } catch (const std::exception& e) {
    QMessageBox::warning(this, "kelvamor-host", e.what());
  }
  for (auto& module : modules_) {
    PluginModule* m = module.get();
    pluginsMenu_->addAction(QString::fromStdString(m->Name()) + "...",
                            [this, m] { RunPlugin(*m); });
  }
  if (modules_.empty()) pluginsMenu_->addAction("(no plug-in loaded)")->setEnabled(false);

  // The size it was left at; else room for every tool, within 90 % of the screen.
  if (!restoreGeometry(HostSettings().value(kGeometryKey).toByteArray())) {
    const QRect room = screen() ? screen()->availableGeometry() : QRect(0, 0, 1280, 900);
    resize(std::min(1280, room.width() * 9 / 10), std::min(900, room.height() * 9 / 10));
  }
  if (!path_.isEmpty()) Remember(path_);
  RestoreView();
}

MainWindow::~MainWindow() {
  // The steps hold landscapes and point back here: let them go first.
  history_->clear();
}

void MainWindow::StartHistory() {
  history_->clear();
  openedRange_ = {land_.minHeight, land_.maxHeight};
  history_->setUndoLimit(kHistorySteps);
  history_->setClean();
  UpdateTitle();
}

void MainWindow::UpdateTitle() {
  const QString name = path_.isEmpty() ? QString("default landscape") : QFileInfo(path_).fileName();
  setWindowTitle(name + "[*] - kelvamor-host");
  setWindowModified(UnsavedHeights(*history_));
}

std::pair<double, double> MainWindow::ColourRange() const {
  return fixedRange_->isChecked() ? openedRange_ : std::pair{land_.minHeight, land_.maxHeight};
}

void MainWindow::Refresh() {
  const std::pair<double, double> range = ColourRange();
  if (In3D()) {
    view3d_->Show(land_, range, selection_, waterLevel_, openedRange_);  // the map: when shown
  } else {
    view_->SetLook(ShadingOf(land_, waterLevel_, range), &selection_);
    view_->SetOutline(outline_);
  }
  legend_->Show(land_, range, waterLevel_);
  QString text = QString("%1 x %2   range %3 .. %4")
                     .arg(land_.width)
                     .arg(land_.height)
                     .arg(HeightText(land_, land_.minHeight), HeightText(land_, land_.maxHeight));
  const CrsSummary crs = SummariseCrs(land_.geo.projection);
  if (!crs.name.empty()) text += "   " + QString::fromStdString(crs.name);
  if (waterLevel_) text += "   water at " + HeightText(land_, *waterLevel_);
  if (!selection_.empty()) text += "   selection";
  status_->setText(text);
  // The readout follows the heights under a still cursor (after an edit, an undo, an open).
  cursor_->setText(CellReadout(hovered_.first, hovered_.second));
}

void MainWindow::Hover(QPointF cell, bool inside) {
  hovered_ = inside ? std::pair{static_cast<int32_t>(cell.x()), static_cast<int32_t>(cell.y())}
                    : std::pair{-1, -1};
  cursor_->setText(CellReadout(hovered_.first, hovered_.second));
}

void MainWindow::HeightsChanged(const CellBox& box, bool reduced) {
  view_->HeightsChanged(box, reduced);
  if (view3d_) view3d_->Changed(box);
}

void MainWindow::SelectionChanged(const CellBox& box) {
  view_->SelectionChanged(box);
  if (view3d_) view3d_->Changed(box);
}

void MainWindow::LandscapeReplaced() {
  view_->SetLandscape(&land_);
  if (view3d_) view3d_->Forget();
}

bool MainWindow::ShowQuickLook(const std::string& name, const RawOptions& raw) {
  if (In3D()) {
    // The ground as coarse as while the camera moves: a frame in a moment.
    try {
      const auto [width, height] = GridSizeOf(name, raw);
      if (int64_t{width} * height < kWorthALook) return false;
      const std::optional<Landscape> look = ReadQuickLook(name, raw, kLookSide3D);
      if (!look) return false;
      const std::pair<double, double> range = look->ValidRange();
      view3d_->Forget();
      view3d_->Show(*look, range, ZeroedWeights{},
                    range.first < 0.0 ? std::optional(kSeaLevel) : std::nullopt, range);
      view3d_->repaint();
      return true;
    } catch (const std::exception&) {
      return false;  // the whole read says what is wrong
    }
  }
  // About a cell a pixel of the view.
  const double side = std::max(view_->width(), view_->height()) * view_->devicePixelRatio();
  QSize cells;
  const QImage look = QuickLookPicture(
      name, raw, static_cast<int32_t>(std::clamp(side, 256.0, 2048.0)), kWorthALook, cells);
  if (look.isNull()) return false;
  view_->ShowWhileReading(look, cells.width(), cells.height());
  view_->repaint();
  return true;
}

QString MainWindow::CellReadout(int32_t x, int32_t y) const {
  return host::CellReadout(land_, x, y);
}

void MainWindow::SetWaterLevel(std::optional<double> level) {
  waterLevel_ = level;
  const QSignalBlocker blockCheck(waterCheck_), blockSpin(waterSpin_);
  waterCheck_->setChecked(level.has_value());
  waterSpin_->setEnabled(level.has_value());
  if (level) waterSpin_->setValue(*level);
  Refresh();
}

void MainWindow::Select(const QPainterPath& outline, double feather) {
  outline_ = outline;
  const QSignalBlocker block(featherSpin_);
  featherSpin_->setValue(feather);
  selection_ = outline.isEmpty()
                   ? ZeroedWeights{}
                   : host::SelectionWeights(outline, feather, land_.width, land_.height);
  SelectionChanged({0, 0, land_.width, land_.height});
  Refresh();
}

bool MainWindow::MaybeSave() {
  if (!UnsavedHeights(*history_)) return true;
  const auto answer = QMessageBox::warning(
      this, "kelvamor-host", "The landscape has changes that are not saved.",
      QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, QMessageBox::Save);
  if (answer == QMessageBox::Save) return Save();
  return answer == QMessageBox::Discard;
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (MaybeSave()) {
    HostSettings().setValue(kGeometryKey, saveGeometry());
    event->accept();
  } else {
    event->ignore();
  }
}

bool MainWindow::Open(const QString& path) {
  if (fileWork_ || !MaybeSave()) return false;
  const std::string name = QFile::encodeName(path).toStdString();
  RawOptions raw = raw_;
  const int bands = RasterBandCount(name).value_or(1);
  if (bands > 1) {
    const auto band = AskBand(this, QFileInfo(path).fileName(), bands,
                              raw.band >= 1 && raw.band <= bands ? raw.band : 1);
    if (!band) return false;
    raw.band = *band;
  }
  if (const auto samples = RawSamplesOfUnknownSize(name, raw_)) {
    const auto asked = AskRawSize(this, QFileInfo(path).fileName(), *samples,
                                  FindFormat(name)->id == FormatId::kRaw16);
    if (!asked) return false;
    raw = *asked;
  }
  const QScopedValueRollback working(fileWork_, true);
  FileProgress progress(this, "Opening " + QFileInfo(path).fileName() + "...");
  SettleHistory(*history_);
  const bool looked = ShowQuickLook(name, raw);
  try {
    land_ = ReadHeightmap(name, raw, kMaxGridPoints - 1, progress.Callback());
  } catch (const std::exception& e) {
    progress.Close();
    // The landscape as it was.
    view_->ShowWhileReading({}, 0, 0);
    if (looked && In3D()) {
      view3d_->Forget();
      Refresh();
    }
    if (!progress.WasCancelled()) QMessageBox::warning(this, "Open heightmap", e.what());
    return false;
  }
  path_ = path;
  ++edits_;
  if (sculpt_) sculpt_->before = sculpt_->source = Landscape();  // made again at the next stroke
  outline_ = QPainterPath();
  selection_.clear();
  LandscapeReplaced();
  StartHistory();  // a new file starts a new history
  // The water of the last file says nothing of this one: sea level where it dips below
  // (the range reading recorded).
  SetWaterLevel(land_.minHeight < 0.0 ? std::optional(kSeaLevel) : std::nullopt);
  Remember(path);
  views_->currentWidget()->setFocus();
  return true;
}

bool MainWindow::Save() {
  // A file of several bands is never replaced by the one band edited: a name is asked.
  const std::string name = QFile::encodeName(path_).toStdString();
  if (path_.isEmpty() || !IsHeightmapFormat(name) || RasterBandCount(name).value_or(1) > 1)
    return AskAndSave();
  return SaveAs(path_);
}

Storage MainWindow::OpenedStorage() const {
  if (land_.geo.dataType == "Int16") return Storage::kInt16;
  if (land_.geo.dataType == "UInt16") return Storage::kUInt16;
  return Storage::kFloat32;
}

bool MainWindow::SaveAs(QString path, const QString& filter) {
  if (fileWork_) return false;
  if (QFileInfo(path).suffix().isEmpty()) {
    // The type chosen in the dialog gives the extension the user did not type.
    const qsizetype star = filter.indexOf("(*.");
    path +=
        star >= 0 ? filter.mid(star + 2, filter.indexOf(')', star) - star - 2) : QString(".tif");
  }
  SaveReport saved;
  {
    const QScopedValueRollback working(fileWork_, true);
    FileProgress progress(this, "Saving " + QFileInfo(path).fileName() + "...");
    WriteOptions options = writeOptions_;
    options.progress = progress.Callback();
    // A GeoTIFF keeps the opened file's kind of numbers (whole steps of its scale, a
    // height that does not fit refused before anything is written) unless Save As chose.
    if (filter.startsWith("GeoTIFF Int16")) {
      options.storage = Storage::kInt16;
    } else if (filter.startsWith("GeoTIFF UInt16")) {
      options.storage = Storage::kUInt16;
    } else if (filter.isEmpty() && options.storage == Storage::kFloat32) {
      options.storage = OpenedStorage();
    }
    try {
      saved = WriteHeightmap(QFile::encodeName(path).toStdString(), land_, options);
    } catch (const std::exception& e) {
      progress.Close();
      if (!progress.WasCancelled()) QMessageBox::warning(this, "Save heightmap", e.what());
      return false;
    }
  }
  if (saved.noDataChanged)
    QMessageBox::information(this, "Save heightmap",
                             QString("A height equals the file's NoData value %1, so NoData is "
                                     "written as %2: no height becomes a void.")
                                 .arg(saved.noDataChanged->first)
                                 .arg(saved.noDataChanged->second));
  QStringList said;
  if (saved.sixteenBitRange)
    said << QString("16-bit steps span %1 .. %2 (stored in %3)")
                .arg(saved.sixteenBitRange->first, 0, 'g', 9)
                .arg(saved.sixteenBitRange->second, 0, 'g', 9)
                .arg(QString::fromStdString(saved.mappingFile));
  if (saved.georeferenceDropped) said << "a RAW grid keeps no coordinate system or geotransform";
  if (!said.isEmpty()) status_->setText(said.join("; "));
  path_ = path;
  history_->setClean();
  UpdateTitle();
  Remember(path);
  return true;
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
  for (const QUrl& url : event->mimeData()->urls())
    if (url.isLocalFile()) {
      event->acceptProposedAction();
      return;
    }
}

void MainWindow::dropEvent(QDropEvent* event) {
  for (const QUrl& url : event->mimeData()->urls())
    if (url.isLocalFile()) {
      event->acceptProposedAction();
      // Opened once the drop is over, so that questions about unsaved work come after it.
      QMetaObject::invokeMethod(
          this, [this, path = url.toLocalFile()] { Open(path); }, Qt::QueuedConnection);
      return;
    }
}

}  // namespace host
