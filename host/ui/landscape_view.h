// The picture of the landscape, zoomed and panned, with the selection's outline.
#pragma once

#include <QPainterPath>
#include <QWidget>
#include <functional>
#include <vector>

#include "host/render/map_tiles.h"

namespace host {

// A press's later moves and its release come to `view` even when the press ran a modal
// loop of its own (a dialog, or a plug-in answered unseen for a sculpting dab): Qt lets
// the press's implicit grab go when a modal loop ends with the button held.
void HoldTheMouse(QWidget* view, Qt::MouseButton button);
void LetTheMouseGo(QWidget* view);

// The picture of the landscape, zoomed and panned; the wheel zooms about the cursor, a
// drag pans, or draws the selection when a selection tool is chosen.
class LandscapeView : public QWidget {
 public:
  // kPlace and kPick report a click (kPlace: or a drag) in cells instead of drawing;
  // kBrush and kErase a stroke, shown as it is painted and the brush under the cursor;
  // kSculpt each stretch of a stroke as the mouse moves, then its end.
  enum class Tool { kPan, kRectangle, kEllipse, kFreehand, kPlace, kPick, kBrush, kErase, kSculpt };

  explicit LandscapeView(QWidget* parent) : QWidget(parent) {
    setMinimumSize(240, 240);
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
  }
  // The landscape shown, anew (null: none); it is read when drawn, so it must outlive
  // the view or be replaced. A landscape of another size is fitted to the view.
  void SetLandscape(const Landscape* land);
  // While a landscape of width x height cells is read: a quick look at it, drawn over
  // the whole grid's place, fitted to the view. SetLandscape ends it.
  void ShowWhileReading(const QImage& look, int32_t width, int32_t height);
  bool Reading() const { return !look_.isNull(); }
  // Its colours, and the selection's weights tinted over them (null or empty: none).
  void SetLook(const Shading& shading, const ZeroedWeights* selection);
  // Only these cells of the heights or of the selection changed since it was drawn
  // (`reduced`: see MapTiles::HeightsChanged).
  void HeightsChanged(const CellBox& box, bool reduced = false);
  void SelectionChanged(const CellBox& box);
  void SetOutline(const QPainterPath& outline);
  MapTiles& Tiles() { return tiles_; }
  void Fit();
  void ActualSize();
  void ZoomAbout(QPointF at, double factor);
  QPointF ToCell(QPointF p) const;
  // The tools' gestures, in cells: from this view's mouse, or from the 3D view's.
  void Press(QPointF cell, Qt::MouseButton button);
  void Move(QPointF cell, Qt::MouseButtons buttons);  // with no button: the cursor hovers
  void Release(QPointF cell, Qt::MouseButton button);
  // What the tools draw over the landscape, in cells: the shape being drawn (or the
  // selection's outline), a brush stroke as it is painted, the brush under the cursor.
  QPainterPath Overlay() const;

  Tool tool = Tool::kPan;
  std::function<void(QPointF cell, bool inside)> onHover;
  std::function<void(const QPainterPath& outline)> onSelected;
  // Where a place or pick tool was pressed and released, in cells.
  std::function<void(QPointF from, QPointF to)> onPlaced;
  // A brush stroke, its points in cells, once the button is released.
  std::function<void(const std::vector<QPointF>& stroke)> onStroke;
  // A sculpting stroke: each stretch from the last point to the cursor (a point at the
  // press), then the release.
  std::function<void(QPointF from, QPointF to)> onDab;
  std::function<void()> onStrokeEnd;
  // Each time the map has been drawn.
  std::function<void()> onPainted;
  // Whether tiles in view are still drawn from a coarser level, to be made in the next
  // frames.
  bool Pending() const { return pending_; }
  double brushRadius = 10.0;  // cells, for the outline under the cursor

 protected:
  void paintEvent(QPaintEvent*) override;
  void resizeEvent(QResizeEvent*) override;
  void wheelEvent(QWheelEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;

 private:
  QPainterPath Shape(QPointF from, QPointF to);

  bool Inside(QPointF cell) const;

  MapTiles tiles_;
  // The size of the landscape last set: the landscape itself may have been replaced in
  // place before the view hears of it.
  QSize cells_;
  QImage look_;      // the quick look while a landscape is read
  QSize lookCells_;  // the size of that landscape
  bool pending_ = false;
  bool edited_ = false;  // cells changed since the last frame
  std::vector<QPointF> stroke_;
  QPointF hover_{-1, -1};
  QPainterPath outline_;
  QPainterPath drawing_;
  double scale_ = 1.0;
  QPointF origin_;
  QPointF pressCell_;
  QPointF last_;            // where a pan was last dragged to, in pixels
  QPointF lastCell_;        // a sculpting stroke's last point
  bool sculpting_ = false;  // a sculpting stroke's button is down
};

}  // namespace host
