#include "host/main_window.h"

#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QStatusBar>

#include "host/heightmap_io.h"
#include "host/shading.h"

namespace host {

class LandscapeView : public QWidget {
 public:
  explicit LandscapeView(QWidget* parent) : QWidget(parent) { setMinimumSize(320, 320); }
  void SetImage(QImage image) {
    image_ = std::move(image);
    update();
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
    if (image_.isNull()) return;
    const QSize size = image_.size().scaled(this->size(), Qt::KeepAspectRatio);
    const QRect target(QPoint((width() - size.width()) / 2, (height() - size.height()) / 2), size);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, image_);
  }

 private:
  QImage image_;
};

namespace {

// A busy cursor for as long as it lives.
struct BusyCursor {
  BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~BusyCursor() { QApplication::restoreOverrideCursor(); }
};

}  // namespace

MainWindow::MainWindow(Landscape land, const Options& options)
    : land_(std::move(land)),
      waterLevel_(options.waterLevel),
      raw_(options.raw),
      writeOptions_(options.write) {
  setWindowTitle("kelvamor-host");
  view_ = new LandscapeView(this);
  setCentralWidget(view_);
  status_ = new QLabel(this);
  statusBar()->addWidget(status_);

  QMenu* file = menuBar()->addMenu("&File");
  file->addAction("&Open...", QKeySequence::Open, [this] {
    const QString path = QFileDialog::getOpenFileName(
        this, "Open heightmap", {},
        "Heightmaps (*.tif *.tiff *.png *.asc *.hgt *.r16 *.r32 *.raw);;All files (*)");
    if (!path.isEmpty()) Open(path);
  });
  file->addAction("Save &As...", QKeySequence::SaveAs, [this] {
    const QString path =
        QFileDialog::getSaveFileName(this, "Save heightmap", {},
                                     "GeoTIFF float32 (*.tif);;ASCII grid (*.asc);;16-bit PNG "
                                     "(*.png);;RAW 16-bit (*.r16);;RAW float32 (*.r32)");
    if (!path.isEmpty()) SaveAs(path);
  });
  file->addSeparator();
  file->addAction("&Quit", QKeySequence::Quit, this, &QWidget::close);

  QMenu* edit = menuBar()->addMenu("&Edit");
  undoAction_ = edit->addAction("&Undo", QKeySequence::Undo, [this] { Undo(); });
  undoAction_->setEnabled(false);

  QMenu* plugins = menuBar()->addMenu("&Plug-ins");
  try {
    modules_.push_back(std::make_unique<PluginModule>(options.pluginPath));
  } catch (const std::exception& e) {
    QMessageBox::warning(this, "kelvamor-host", e.what());
  }
  for (auto& module : modules_) {
    PluginModule* m = module.get();
    plugins->addAction(QString::fromStdString(m->Name()) + "...", [this, m] { RunPlugin(*m); });
  }
  if (modules_.empty()) plugins->addAction("(no plug-in loaded)")->setEnabled(false);
  resize(760, 720);
  Refresh();
}

MainWindow::~MainWindow() = default;

void MainWindow::Refresh() {
  view_->SetImage(ShadeLandscape(land_, waterLevel_));
  QString text = QString("%1 x %2   range %3 .. %4")
                     .arg(land_.width)
                     .arg(land_.height)
                     .arg(land_.minHeight, 0, 'g', 6)
                     .arg(land_.maxHeight, 0, 'g', 6);
  text += waterLevel_ ? QString("   water level %1").arg(*waterLevel_, 0, 'g', 6)
                      : QString("   no water");
  status_->setText(text);
}

bool MainWindow::Open(const QString& path) {
  try {
    BusyCursor busy;
    land_ = ReadHeightmap(path.toStdString(), raw_);
  } catch (const std::exception& e) {
    QMessageBox::warning(this, "Open heightmap", e.what());
    return false;
  }
  undo_.reset();
  undoAction_->setEnabled(false);
  setWindowTitle("kelvamor-host - " + path);
  Refresh();
  return true;
}

bool MainWindow::SaveAs(const QString& path) {
  try {
    BusyCursor busy;
    WriteHeightmap(path.toStdString(), land_, writeOptions_);
  } catch (const std::exception& e) {
    QMessageBox::warning(this, "Save heightmap", e.what());
    return false;
  }
  return true;
}

void MainWindow::RunPlugin(PluginModule& module) {
  Landscape before = land_;
  HostSession session(land_);
  session.waterLevel = waterLevel_;
  session.onRedraw = [this] { Refresh(); };  // previews show while the dialog is open
  if (module.Run(session)) {
    undo_ = std::move(before);
    undoAction_->setEnabled(true);
  }
  Refresh();
}

void MainWindow::Undo() {
  if (!undo_) return;
  std::swap(land_, *undo_);
  undo_.reset();
  undoAction_->setEnabled(false);
  Refresh();
}

}  // namespace host
