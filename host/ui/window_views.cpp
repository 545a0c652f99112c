// The window's two views of the landscape, the map and 3D, one at a time; which one
// shows and how tall the 3D view draws the heights are kept per user.
#include <QAction>
#include <QActionGroup>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QMenu>
#include <QOpenGLContext>
#include <QSettings>
#include <QStackedWidget>
#include <QStatusBar>
#include <QToolBar>

#include "host/ui/landscape_view.h"
#include "host/ui/main_window.h"
#include "host/ui/terrain_view_3d.h"

namespace host {
namespace {

constexpr char k3DKey[] = "View3D";
constexpr char kExaggerationKey[] = "Exaggeration";

}  // namespace

void MainWindow::BuildViews() {
  views_ = new QStackedWidget(this);
  view_ = new LandscapeView(views_);
  view_->setObjectName("Map");
  view_->SetLandscape(&land_);
  views_->addWidget(view_);
  setCentralWidget(views_);
}

void MainWindow::AddViewActions(QMenu* menu) {
  view3dAction_ = menu->addAction("&3D view", QKeySequence(Qt::Key_F3), [this] {
    HostSettings().setValue(k3DKey, view3dAction_->isChecked());
    ShowIn3D(view3dAction_->isChecked());
  });
  view3dAction_->setObjectName("View3DAction");
  view3dAction_->setCheckable(true);
  QAction* reset = menu->addAction("&Reset 3D camera", [this] {
    if (view3d_) view3d_->ResetCamera();
  });
  reset->setObjectName("ResetCamera");
}

void MainWindow::Build3DTools() {
  addToolBarBreak();  // a row of its own, shown with the 3D view
  tools3d_ = addToolBar("3D view");
  tools3d_->setObjectName("Tools3D");
  tools3d_->addAction(findChild<QAction*>("ResetCamera"));
  tools3d_->addWidget(new QLabel(" Heights x ", this));
  exaggerationSpin_ = new QDoubleSpinBox(this);
  exaggerationSpin_->setObjectName("ExaggerationSpin");
  exaggerationSpin_->setToolTip(
      "How many times taller than the ground's scale the heights are drawn");
  exaggerationSpin_->setRange(0.01, 10000.0);
  exaggerationSpin_->setDecimals(2);
  exaggerationSpin_->setValue(HostSettings().value(kExaggerationKey, 1.0).toDouble());
  tools3d_->addWidget(exaggerationSpin_);
  connect(exaggerationSpin_, &QDoubleSpinBox::valueChanged, this, [this](double factor) {
    HostSettings().setValue(kExaggerationKey, factor);
    if (view3d_) view3d_->SetExaggeration(factor);
  });
  connect(exaggerationSpin_, &QDoubleSpinBox::editingFinished, this,
          [this] { views_->currentWidget()->setFocus(); });
  tools3d_->setVisible(false);
}

void MainWindow::RestoreView() { ShowIn3D(HostSettings().value(k3DKey, false).toBool()); }

bool MainWindow::ShowIn3D(bool on) {
  if (on && !view3d_) {
    // Made when first asked for: the map alone needs no OpenGL.
    QOpenGLContext probe;
    if (!probe.create()) {
      statusBar()->showMessage("The 3D view needs OpenGL, which this display does not offer.");
      on = false;
    } else {
      view3d_ = new TerrainView3D(views_);
      view3d_->SetExaggeration(exaggerationSpin_->value());
      // The map's tools work on the ground in 3D: the same gestures, in cells.
      view3d_->tools = view_->tool != LandscapeView::Tool::kPan;
      view3d_->onHover = [this](QPointF cell, bool inside) { Hover(cell, inside); };
      view3d_->onToolPress = [this](QPointF cell, Qt::MouseButton b) { view_->Press(cell, b); };
      view3d_->onToolMove = [this](QPointF cell, Qt::MouseButtons b) { view_->Move(cell, b); };
      view3d_->onToolRelease = [this](QPointF cell, Qt::MouseButton b) { view_->Release(cell, b); };
      view3d_->overlay = [this] { return view_->Overlay(); };
      views_->addWidget(view3d_);
    }
  }
  {
    const QSignalBlocker block(view3dAction_);
    view3dAction_->setChecked(on);
  }
  tools3d_->setVisible(on);
  QWidget* shown = on ? static_cast<QWidget*>(view3d_) : view_;
  const bool changed = views_->currentWidget() != shown;
  views_->setCurrentWidget(shown);
  if (changed) Refresh();  // only the view that shows is kept up to date
  shown->setFocus();
  return on;
}

bool MainWindow::In3D() const { return view3d_ && views_->currentWidget() == view3d_; }

void MainWindow::FitView() {
  if (In3D()) {
    view3d_->ResetCamera();
  } else {
    view_->Fit();
  }
}

void MainWindow::ZoomView(double factor) {
  if (In3D()) {
    view3d_->Zoom(factor);
  } else {
    view_->ZoomAbout(view_->rect().center(), factor);
  }
}

}  // namespace host
