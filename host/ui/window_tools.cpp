// The window's toolbar: the view's tools (sculpting among them), the selection's feather,
// the brush, the water level; and what a brush stroke does to the selection.
#include <QAction>
#include <QActionGroup>
#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QStackedWidget>
#include <QToolBar>
#include <QUndoStack>

#include "host/ui/history.h"
#include "host/ui/landscape_view.h"
#include "host/ui/main_window.h"
#include "host/ui/selection.h"
#include "host/ui/terrain_view_3d.h"

namespace host {

void MainWindow::BuildTools() {
  QToolBar* tools = addToolBar("Tools");
  mapTools_ = new QActionGroup(this);
  const std::pair<const char*, LandscapeView::Tool> kTools[] = {
      {"Pan", LandscapeView::Tool::kPan},
      {"Rectangle", LandscapeView::Tool::kRectangle},
      {"Ellipse", LandscapeView::Tool::kEllipse},
      {"Freehand", LandscapeView::Tool::kFreehand},
      {"Place hill", LandscapeView::Tool::kPlace},
      {"Pick flatten height", LandscapeView::Tool::kPick},
      {"Brush", LandscapeView::Tool::kBrush},
      {"Erase", LandscapeView::Tool::kErase},
      {"Sculpt", LandscapeView::Tool::kSculpt}};
  QAction* pan = nullptr;
  for (const auto& [name, tool] : kTools) {
    QAction* action = tools->addAction(name);
    action->setCheckable(true);
    action->setChecked(tool == LandscapeView::Tool::kPan);
    mapTools_->addAction(action);
    if (tool == LandscapeView::Tool::kPan) pan = action;
    connect(action, &QAction::triggered, this, [this, t = tool, pan] {
      // Sculpting asks for its action first, each time it is picked; cancelled, the
      // view pans.
      if (t == LandscapeView::Tool::kSculpt && !ChooseSculpt()) {
        pan->setChecked(true);
        view_->tool = LandscapeView::Tool::kPan;
        if (view3d_) view3d_->tools = false;
        return;
      }
      view_->tool = t;
      if (view3d_) view3d_->tools = t != LandscapeView::Tool::kPan;
    });
  }
  view_->onDab = [this](QPointF from, QPointF to) { SculptDab(from, to); };
  view_->onStrokeEnd = [this] { EndSculpt(); };
  // The tools' settings on a row of their own: at any width, none behind "»".
  addToolBarBreak();
  QToolBar* settings = addToolBar("Settings");
  settings->setObjectName("SettingsBar");
  settings->addWidget(new QLabel(" Feather ", this));
  featherSpin_ = new QDoubleSpinBox(this);
  featherSpin_->setRange(0.0, 10000.0);
  featherSpin_->setSuffix(" cells");
  featherSpin_->setObjectName("FeatherSpin");
  settings->addWidget(featherSpin_);
  connect(featherSpin_, &QDoubleSpinBox::valueChanged, this,
          [this](double feather) { Select(outline_, feather); });
  // Once a value is typed, the keys go back to the view (and Ctrl+Z to the history).
  connect(featherSpin_, &QDoubleSpinBox::editingFinished, this,
          [this] { views_->currentWidget()->setFocus(); });
  settings->addAction("Select all", [this] { Select({}, featherSpin_->value()); });
  settings->addSeparator();
  // The brush: its radius ([ and ] step it) and how hard its edge is.
  settings->addWidget(new QLabel(" Brush ", this));
  brushSpin_ = new QDoubleSpinBox(this);
  brushSpin_->setObjectName("BrushSizeSpin");
  brushSpin_->setRange(0.5, 100000.0);
  brushSpin_->setValue(10.0);
  brushSpin_->setSuffix(" cells");
  settings->addWidget(brushSpin_);
  hardnessSpin_ = new QDoubleSpinBox(this);
  hardnessSpin_->setObjectName("BrushHardnessSpin");
  hardnessSpin_->setRange(0.0, 1.0);
  hardnessSpin_->setSingleStep(0.1);
  hardnessSpin_->setValue(0.5);
  hardnessSpin_->setPrefix("hardness ");
  settings->addWidget(hardnessSpin_);
  connect(brushSpin_, &QDoubleSpinBox::valueChanged, this, [this](double radius) {
    view_->brushRadius = radius;
    view_->update();
  });
  for (QDoubleSpinBox* spin : {brushSpin_, hardnessSpin_})
    connect(spin, &QDoubleSpinBox::editingFinished, this,
            [this] { views_->currentWidget()->setFocus(); });
  QAction* smaller = addAction("Smaller brush", QKeySequence(Qt::Key_BracketLeft),
                               [this] { brushSpin_->setValue(brushSpin_->value() / 1.25); });
  QAction* larger = addAction("Larger brush", QKeySequence(Qt::Key_BracketRight),
                              [this] { brushSpin_->setValue(brushSpin_->value() * 1.25); });
  smaller->setObjectName("SmallerBrush");
  larger->setObjectName("LargerBrush");
  view_->onStroke = [this](const std::vector<QPointF>& stroke) { PaintSelection(stroke); };
  settings->addSeparator();
  waterCheck_ = new QCheckBox("Water at", this);
  waterCheck_->setObjectName("WaterCheck");
  waterSpin_ = new QDoubleSpinBox(this);
  waterSpin_->setObjectName("WaterLevelSpin");
  waterSpin_->setRange(-1e9, 1e9);
  waterSpin_->setDecimals(2);
  waterSpin_->setSuffix(" m");
  settings->addWidget(waterCheck_);
  settings->addWidget(waterSpin_);
  auto waterChanged = [this] {
    waterLevel_ = waterCheck_->isChecked() ? std::optional(waterSpin_->value()) : std::nullopt;
    waterSpin_->setEnabled(waterCheck_->isChecked());
    Refresh();
  };
  connect(waterCheck_, &QCheckBox::toggled, this, waterChanged);
  connect(waterSpin_, &QDoubleSpinBox::valueChanged, this, waterChanged);
}

void MainWindow::PaintSelection(const std::vector<QPointF>& stroke) {
  const bool erase = view_->tool == LandscapeView::Tool::kErase;
  const Brush brush{brushSpin_->value(), hardnessSpin_->value()};
  const bool none = selection_.empty();
  // The weights before the stroke, kept where it can reach (the rest costs nothing): the
  // stroke paints the selection itself, not a copy of it.
  const CellBox reach = StrokeBox(land_.width, land_.height, stroke, brush);
  ZeroedWeights before(none ? 0 : land_.Count());
  for (int32_t y = reach.y0; y < reach.y1 && !none; ++y) {
    const size_t row = static_cast<size_t>(y) * land_.width;
    std::copy(selection_.begin() + static_cast<ptrdiff_t>(row + reach.x0),
              selection_.begin() + static_cast<ptrdiff_t>(row + reach.x1),
              before.begin() + static_cast<ptrdiff_t>(row + reach.x0));
  }
  PaintStroke(selection_, land_.width, land_.height, stroke, brush, erase);
  // Undone and redone with the edits; the stroke is what changed of the weights: its
  // box, unless erasing from no selection made every other cell 1.
  const CellBox within = none && erase ? CellBox{} : reach;
  auto change = std::make_shared<SelectionChange>(none ? nullptr : before.data(), selection_.data(),
                                                  land_.width, land_.height, within);
  auto shown = [this](const CellBox& box) {
    outline_ = QPainterPath();  // a painted selection is its weights; no outline tells it
    SelectionChanged(box);
    Refresh();
  };
  auto apply = [this, shown](const SelectionChange& c, bool back) {
    c.ApplyTo(selection_, back);
    shown(c.Box());
  };
  shown(change->Box());
  PushStep(new SelectionStep(apply, erase ? "Erase selection" : "Brush selection", change));
}

}  // namespace host
