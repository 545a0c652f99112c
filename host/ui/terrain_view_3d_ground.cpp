// The 3D view's ground under the pointer: the cell a pixel shows, the tools' gestures on
// it and what they draw laid over the ground; and the mouse that moves the camera.
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <tuple>

#include "host/ui/landscape_view.h"
#include "host/ui/terrain_view_3d.h"

namespace host {

QVector3D TerrainView3D::Ground(double x, double y) const {
  const double z = MeshHeightAt(levels_.front(), x, y);
  return QVector3D(static_cast<float>((x - (width_ - 1) / 2.0) * spacing_.first),
                   static_cast<float>(((height_ - 1) / 2.0 - y) * spacing_.second),
                   static_cast<float>((z - middle_) * exaggeration_));
}

std::optional<QPointF> TerrainView3D::Pixel(const QMatrix4x4& viewProjection,
                                            const QVector3D& at) const {
  const QVector4D clip = viewProjection * QVector4D(at, 1.0f);
  if (clip.w() <= 0.0f) return std::nullopt;
  return QPointF((clip.x() / clip.w() + 1.0) / 2.0 * width(),
                 (1.0 - clip.y() / clip.w()) / 2.0 * height());
}

std::optional<QPointF> TerrainView3D::CellAt(QPointF pixel) const {
  if (levels_.front().vertices.empty() || width() <= 0 || height() <= 0) return std::nullopt;
  // The ray through the pixel, from the near plane to the far one.
  bool invertible = false;
  const QMatrix4x4 inverse = ViewProjection().inverted(&invertible);
  if (!invertible) return std::nullopt;
  const auto x = static_cast<float>(2.0 * pixel.x() / width() - 1.0);
  const auto y = static_cast<float>(1.0 - 2.0 * pixel.y() / height());
  auto unproject = [&](float depth) {
    const QVector4D p = inverse * QVector4D(x, y, depth, 1.0f);
    return p.toVector3D() / p.w();
  };
  const QVector3D from = unproject(-1.0f);
  const QVector3D along = unproject(1.0f) - from;
  // The part of it over the grid.
  const double halfX = (width_ - 1) / 2.0 * spacing_.first;
  const double halfY = (height_ - 1) / 2.0 * spacing_.second;
  double enter = 0.0, leave = 1.0;
  for (const auto& [start, step, half] :
       {std::tuple{from.x(), along.x(), halfX}, std::tuple{from.y(), along.y(), halfY}}) {
    if (std::abs(step) < 1e-12) {
      if (std::abs(start) > half) return std::nullopt;
      continue;
    }
    const double a = (-half - start) / step, b = (half - start) / step;
    enter = std::max(enter, std::min(a, b));
    leave = std::min(leave, std::max(a, b));
  }
  if (enter >= leave) return std::nullopt;
  auto at = [&](double t) { return from + static_cast<float>(t) * along; };
  auto cell = [&](const QVector3D& p) {
    return QPointF(p.x() / spacing_.first + (width_ - 1) / 2.0,
                   (height_ - 1) / 2.0 - p.y() / spacing_.second);
  };
  // Above the ground or below it (the ground's height where the ray is).
  auto above = [&](double t) {
    const QVector3D p = at(t);
    const QPointF c = cell(p);
    return p.z() > Ground(c.x(), c.y()).z();
  };
  // Steps of half the finest mesh's quad, at most 20000 of them; then halved to the
  // ground.
  const double quad = std::min(spacing_.first, spacing_.second) * levels_.front().stride / 2.0;
  const double length = (leave - enter) * along.length();
  const int steps = static_cast<int>(std::clamp(std::ceil(length / quad), 1.0, 20000.0));
  double before = enter;
  if (!above(before)) return std::nullopt;  // the camera is under the ground
  for (int i = 1; i <= steps; ++i) {
    const double t = enter + (leave - enter) * i / steps;
    if (above(t)) {
      before = t;
      continue;
    }
    double after = t;
    for (int k = 0; k < 30; ++k) {
      const double middle = (before + after) / 2.0;
      (above(middle) ? before : after) = middle;
    }
    const QPointF hit = cell(at(after));
    const QPointF counted(hit.x() + 0.5, hit.y() + 0.5);  // the map counts from cells' corners
    if (counted.x() < 0 || counted.y() < 0 || counted.x() >= width_ || counted.y() >= height_)
      return std::nullopt;
    return counted;
  }
  return std::nullopt;
}

void TerrainView3D::DrawOverlay(const QMatrix4x4& viewProjection) {
  if (!overlay) return;
  const QPainterPath path = overlay();
  if (path.isEmpty()) return;
  // Each line laid on the ground in pieces of about a quad of the finest mesh (a few
  // thousand points at most), drawn over the picture.
  const double piece = std::max<double>(levels_.front().stride, std::max(width_, height_) / 2048.0);
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(QPen(Qt::yellow, 1.5, Qt::DashLine));
  for (const QPolygonF& polygon : path.toSubpathPolygons()) {
    QPolygonF onScreen;
    auto add = [&](QPointF cell) {
      const double x = std::clamp(cell.x() - 0.5, 0.0, width_ - 1.0);
      const double y = std::clamp(cell.y() - 0.5, 0.0, height_ - 1.0);
      if (const auto pixel = Pixel(viewProjection, Ground(x, y))) onScreen << *pixel;
    };
    for (qsizetype i = 0; i < polygon.size(); ++i) {
      if (i > 0) {
        const QPointF a = polygon[i - 1], b = polygon[i];
        const int pieces = std::clamp(static_cast<int>(QLineF(a, b).length() / piece), 1, 4096);
        for (int k = 1; k < pieces; ++k) add(a + (b - a) * (double(k) / pieces));
      }
      add(polygon[i]);
    }
    painter.drawPolyline(onScreen);
  }
}

void TerrainView3D::mousePressEvent(QMouseEvent* e) {
  last_ = e->position();
  if (tools && e->button() == Qt::LeftButton && !(e->modifiers() & Qt::ShiftModifier))
    if (const auto cell = CellAt(e->position())) {
      tooling_ = true;
      toolCell_ = *cell;
      if (onToolPress) onToolPress(*cell, e->button());
      HoldTheMouse(this, e->button());
      return;
    }
  dragging_ = true;
}

void TerrainView3D::mouseMoveEvent(QMouseEvent* e) {
  if (!dragging_) {
    // The ground under the cursor, for the readout and the tools.
    const std::optional<QPointF> cell = CellAt(e->position());
    if (onHover) onHover(cell.value_or(QPointF(-1, -1)), cell.has_value());
    if (cell && (tooling_ || tools)) {
      toolCell_ = *cell;
      if (onToolMove) onToolMove(*cell, tooling_ ? e->buttons() : Qt::NoButton);
    }
    // Released while the tool's work held the events back: the drag ends where it was.
    if (tooling_ && !(e->buttons() & Qt::LeftButton)) {
      tooling_ = false;
      LetTheMouseGo(this);
      if (onToolRelease) onToolRelease(toolCell_, Qt::LeftButton);
    }
    if (tools) {
      // The brush follows the pointer over the coarse mesh; the detail returns once the
      // pointer is still a moment.
      settle_.start();
      update();
    }
    return;
  }
  const QPointF delta = e->position() - last_;
  last_ = e->position();
  const bool pan =
      (e->buttons() & (Qt::RightButton | Qt::MiddleButton)) || (e->modifiers() & Qt::ShiftModifier);
  if (pan) {
    // The ground under the cursor follows it.
    const float yaw = yaw_ * kPi / 180.0f;
    const QVector3D right(std::cos(yaw), -std::sin(yaw), 0.0f);
    const QVector3D ahead(std::sin(yaw), std::cos(yaw), 0.0f);
    const float perPixel =
        2.0f * distance_ * std::tan(kFieldOfView * kPi / 360.0f) / std::max(height(), 1);
    target_ +=
        (-right * static_cast<float>(delta.x()) + ahead * static_cast<float>(delta.y())) * perPixel;
  } else {
    yaw_ = std::fmod(yaw_ + 0.4f * static_cast<float>(delta.x()), 360.0f);
    pitch_ = std::clamp(pitch_ + 0.4f * static_cast<float>(delta.y()), 5.0f, 89.0f);
  }
  update();
}

void TerrainView3D::mouseReleaseEvent(QMouseEvent* e) {
  LetTheMouseGo(this);
  if (tooling_) {
    // Released off the ground: where the tool last was on it.
    tooling_ = false;
    const QPointF cell = CellAt(e->position()).value_or(toolCell_);
    if (onToolRelease) onToolRelease(cell, e->button());
    update();
    return;
  }
  dragging_ = false;
  update();
}

void TerrainView3D::wheelEvent(QWheelEvent* e) {
  Zoom(std::pow(1.0 / 0.85, e->angleDelta().y() / 120.0));
}

}  // namespace host
