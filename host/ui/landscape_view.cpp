#include "host/ui/landscape_view.h"

#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

namespace host {

void LandscapeView::SetImage(QImage image) {
  const bool first = image_.isNull() || image.size() != image_.size();
  image_ = std::move(image);
  if (first) Fit();
  update();
}

void LandscapeView::SetOutline(const QPainterPath& outline) {
  outline_ = outline;
  update();
}

void LandscapeView::SetTint(QImage tint) {
  tint_ = std::move(tint);
  update();
}

void LandscapeView::Fit() {
  if (image_.isNull()) return;
  scale_ = std::min(width() / double(image_.width()), height() / double(image_.height()));
  origin_ =
      QPointF((width() - image_.width() * scale_) / 2, (height() - image_.height() * scale_) / 2);
  update();
}

void LandscapeView::ActualSize() { ZoomAbout(rect().center(), 1.0 / scale_); }

void LandscapeView::ZoomAbout(QPointF at, double factor) {
  const QPointF cell = ToCell(at);
  scale_ = std::clamp(scale_ * factor, 0.02, 64.0);
  origin_ = at - cell * scale_;
  update();
}

QPointF LandscapeView::ToCell(QPointF p) const { return (p - origin_) / scale_; }

void LandscapeView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  // NoData shows as a checkerboard through the transparent cells.
  painter.fillRect(rect(), QBrush(QColor(90, 90, 90), Qt::Dense4Pattern));
  if (image_.isNull()) return;
  painter.save();
  painter.translate(origin_);
  painter.scale(scale_, scale_);
  // Smoothed while a cell is smaller than a pixel; cells stay sharp squares above.
  painter.setRenderHint(QPainter::SmoothPixmapTransform, scale_ < 1.0);
  painter.drawImage(QPointF(0, 0), image_);
  if (!tint_.isNull()) painter.drawImage(QPointF(0, 0), tint_);
  const bool brushing = tool == Tool::kBrush || tool == Tool::kErase;
  if (brushing && !stroke_.empty()) {
    // The stroke as it is painted: as wide as the brush.
    QPainterPath path(stroke_.front());
    for (const QPointF& p : stroke_) path.lineTo(p);
    painter.setPen(QPen(QColor(255, 160, 0, tool == Tool::kErase ? 60 : 110), 2 * brushRadius,
                        Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPath(path);
  }
  if (brushing && hover_.x() >= 0) {
    painter.setPen(QPen(Qt::white, 0, Qt::DashLine));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(hover_, brushRadius, brushRadius);
  }
  if (!outline_.isEmpty() || !drawing_.isEmpty()) {
    QPen pen(Qt::yellow, 0, Qt::DashLine);
    painter.setPen(pen);
    painter.drawPath(drawing_.isEmpty() ? outline_ : drawing_);
  }
  painter.restore();
}

void LandscapeView::resizeEvent(QResizeEvent*) { Fit(); }

void LandscapeView::wheelEvent(QWheelEvent* e) {
  ZoomAbout(e->position(), std::pow(1.0015, e->angleDelta().y()));
}

void LandscapeView::mousePressEvent(QMouseEvent* e) {
  press_ = e->position();
  last_ = press_;
  drawing_ = QPainterPath();
  if (tool == Tool::kFreehand) drawing_.moveTo(ToCell(press_));
  stroke_.clear();
  if (tool == Tool::kBrush || tool == Tool::kErase) stroke_.push_back(ToCell(press_));
}

void LandscapeView::mouseMoveEvent(QMouseEvent* e) {
  const QPointF cell = ToCell(e->position());
  if (onHover)
    onHover(cell, cell.x() >= 0 && cell.y() >= 0 && cell.x() < image_.width() &&
                      cell.y() < image_.height());
  hover_ = cell;
  if (tool == Tool::kBrush || tool == Tool::kErase) update();
  if (!(e->buttons() & Qt::LeftButton)) return;
  if (tool == Tool::kBrush || tool == Tool::kErase) {
    stroke_.push_back(cell);
  } else if (tool == Tool::kPan) {
    origin_ += e->position() - last_;
    last_ = e->position();
  } else if (tool == Tool::kPlace) {
    // The hill's extent as it is dragged: the circle where its change falls to 1/e.
    const QPointF centre = ToCell(press_);
    const QPointF reach = cell - centre;
    const double r = std::hypot(reach.x(), reach.y());
    drawing_ = QPainterPath();
    drawing_.addEllipse(centre, r, r);
  } else if (tool != Tool::kPick) {
    drawing_ = Shape(ToCell(press_), cell);
  }
  update();
}

void LandscapeView::mouseReleaseEvent(QMouseEvent* e) {
  if (tool == Tool::kPan) return;
  if (tool == Tool::kBrush || tool == Tool::kErase) {
    stroke_.push_back(ToCell(e->position()));
    const std::vector<QPointF> stroke = std::move(stroke_);
    stroke_.clear();
    update();
    if (onStroke) onStroke(stroke);
    return;
  }
  if (tool == Tool::kPlace || tool == Tool::kPick) {
    drawing_ = QPainterPath();
    update();
    if (onPlaced) onPlaced(ToCell(press_), ToCell(e->position()));
    return;
  }
  QPainterPath shape = Shape(ToCell(press_), ToCell(e->position()));
  drawing_ = QPainterPath();
  if (onSelected) onSelected(shape);
}

QPainterPath LandscapeView::Shape(QPointF from, QPointF to) {
  QPainterPath path;
  const QRectF box = QRectF(from, to).normalized();
  if (tool == Tool::kRectangle) path.addRect(box);
  if (tool == Tool::kEllipse) path.addEllipse(box);
  if (tool == Tool::kFreehand) {
    path = drawing_.isEmpty() ? QPainterPath(from) : drawing_;
    path.lineTo(to);
  }
  path.closeSubpath();
  return path;
}

}  // namespace host
