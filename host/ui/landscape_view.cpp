#include "host/ui/landscape_view.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

namespace host {

namespace {
// Tiles made for one frame at most while the view moves: a few milliseconds on two cores.
// The frame after an edit makes every tile in view (up to a 4K screen's worth at 1:1):
// the user waits for the edit's result, and it shows whole at once.
constexpr int kTilesAFrame = 8;
constexpr int kTilesAnEdit = 160;
}  // namespace

void LandscapeView::SetLandscape(const Landscape* land) {
  const QSize cells = land ? QSize(land->width, land->height) : QSize();
  const bool resized = cells != cells_;
  cells_ = cells;
  tiles_.Reset(land);
  look_ = QImage();
  if (resized) Fit();
  update();
}

void LandscapeView::ShowWhileReading(const QImage& look, int32_t width, int32_t height) {
  look_ = look;
  lookCells_ = QSize(width, height);
  if (look_.isNull() || width <= 0 || height <= 0) {
    look_ = QImage();
    Fit();
    return;
  }
  scale_ = std::min(this->width() / double(width), this->height() / double(height));
  origin_ = QPointF((this->width() - width * scale_) / 2, (this->height() - height * scale_) / 2);
  update();
}

void LandscapeView::SetLook(const Shading& shading, const ZeroedWeights* selection) {
  tiles_.SetLook(shading, selection);
  update();
}

void LandscapeView::HeightsChanged(const CellBox& box, bool reduced) {
  tiles_.HeightsChanged(box, reduced);
  edited_ = true;
  update();
}

void LandscapeView::SelectionChanged(const CellBox& box) {
  tiles_.SelectionChanged(box);
  edited_ = true;
  update();
}

bool LandscapeView::Inside(QPointF cell) const {
  return cell.x() >= 0 && cell.y() >= 0 && cell.x() < tiles_.Width() && cell.y() < tiles_.Height();
}

void LandscapeView::SetOutline(const QPainterPath& outline) {
  outline_ = outline;
  update();
}

void LandscapeView::Fit() {
  const double w = tiles_.Width(), h = tiles_.Height();
  if (w == 0 || h == 0) return;
  scale_ = std::min(width() / w, height() / h);
  origin_ = QPointF((width() - w * scale_) / 2, (height() - h * scale_) / 2);
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
  // Outside the grid plain; NoData cells show a checkerboard through the map.
  painter.fillRect(rect(), palette().color(QPalette::Window).darker(140));
  if (!look_.isNull()) {
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRectF(origin_, QSizeF(lookCells_) * scale_), look_);
    if (onPainted) onPainted();
    return;
  }
  const int32_t w = tiles_.Width(), h = tiles_.Height();
  if (w == 0 || h == 0) return;
  // Tiles drawn to whole pixels, each edge where its neighbour's starts: no seams.
  auto px = [&](double cells, double origin) {
    return static_cast<int>(std::lround(origin + cells * scale_));
  };
  auto pixels = [&](double x0, double y0, double x1, double y1) {
    const int l = px(x0, origin_.x()), t = px(y0, origin_.y());
    return QRect(l, t, px(x1, origin_.x()) - l, px(y1, origin_.y()) - t);
  };
  // Under the tiles, for their NoData pixels to show as such.
  if (tiles_.HasVoids())
    painter.fillRect(pixels(0, 0, w, h), QBrush(QColor(90, 90, 90), Qt::Dense4Pattern));
  // Only the tiles in view, at the level whose cell is about a pixel.
  const int level = tiles_.LevelFor(scale_);
  tiles_.Viewing(level);
  const int32_t side = MapTiles::kTile << level;
  const QPointF from = ToCell(QPointF(0, 0)), to = ToCell(QPointF(width(), height()));
  const int32_t tx0 = std::max(0, static_cast<int32_t>(std::floor(from.x() / side)));
  const int32_t ty0 = std::max(0, static_cast<int32_t>(std::floor(from.y() / side)));
  const int32_t tx1 = std::min((w - 1) / side, static_cast<int32_t>(std::floor(to.x() / side)));
  const int32_t ty1 = std::min((h - 1) / side, static_cast<int32_t>(std::floor(to.y() / side)));
  // Smoothed while a tile's pixel is drawn smaller or larger than it is; cells zoomed in
  // stay sharp squares.
  painter.setRenderHint(QPainter::SmoothPixmapTransform, scale_ < 1.0);
  // A frame makes a few tiles, the middle first; the others follow frame by frame, each
  // drawn meanwhile from a coarser level made already.
  const int top = tiles_.Levels() - 1;  // one tile: every other has it to fall back on
  tiles_.Prepare(top, {0, 0, 1, 1});
  pending_ = tiles_.Prepare(level, {tx0, ty0, tx1 + 1, ty1 + 1},
                            edited_ ? kTilesAnEdit : kTilesAFrame) > 0;
  edited_ = false;
  if (pending_) QTimer::singleShot(0, this, [this] { update(); });
  for (int32_t ty = ty0; ty <= ty1; ++ty)
    for (int32_t tx = tx0; tx <= tx1; ++tx) {
      const double x0 = double(tx) * side, y0 = double(ty) * side;
      const QRect target =
          pixels(x0, y0, std::min<double>(w, x0 + side), std::min<double>(h, y0 + side));
      if (const QImage* tile = tiles_.Made(level, tx, ty)) {
        // The level's last tiles are cut by the grid's edge: the part over the grid.
        const int32_t cells = 1 << level;
        painter.drawImage(pixels(x0, y0, std::min<double>(w, x0 + tile->width() * cells),
                                 std::min<double>(h, y0 + tile->height() * cells)),
                          *tile);
        continue;
      }
      for (int up = 1; level + up < tiles_.Levels(); ++up) {
        const QImage* coarse = tiles_.Made(level + up, tx >> up, ty >> up);
        if (!coarse) continue;
        // This tile's share of the coarser one: 1 / 2^up of its side.
        const double part = double(MapTiles::kTile) / (1 << up);
        const QRectF source((tx % (1 << up)) * part, (ty % (1 << up)) * part, part, part);
        painter.drawImage(target, *coarse, source.intersected(QRectF(coarse->rect())));
        break;
      }
    }
  painter.save();
  painter.translate(origin_);
  painter.scale(scale_, scale_);
  const bool brushing = tool == Tool::kBrush || tool == Tool::kErase || tool == Tool::kSculpt;
  if (brushing && tool != Tool::kSculpt && !stroke_.empty()) {
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
  if (onPainted) onPainted();
}

void LandscapeView::resizeEvent(QResizeEvent*) { Fit(); }

void LandscapeView::wheelEvent(QWheelEvent* e) {
  ZoomAbout(e->position(), std::pow(1.0015, e->angleDelta().y()));
}

void HoldTheMouse(QWidget* view, Qt::MouseButton button) {
  if (QGuiApplication::mouseButtons() & button) view->grabMouse();
}

void LetTheMouseGo(QWidget* view) {
  if (QWidget::mouseGrabber() == view) view->releaseMouse();
}

void LandscapeView::mousePressEvent(QMouseEvent* e) {
  if (Reading()) return;  // a picture of a landscape not there yet: no tool acts on it
  last_ = e->position();
  Press(ToCell(e->position()), e->button());
  HoldTheMouse(this, e->button());
}

void LandscapeView::mouseMoveEvent(QMouseEvent* e) {
  if (Reading()) return;
  if (tool == Tool::kPan && (e->buttons() & Qt::LeftButton)) {
    origin_ += e->position() - last_;
    last_ = e->position();
    update();
  }
  Move(ToCell(e->position()), e->buttons());
}

void LandscapeView::mouseReleaseEvent(QMouseEvent* e) {
  LetTheMouseGo(this);
  if (!Reading()) Release(ToCell(e->position()), e->button());
}

void LandscapeView::Press(QPointF cell, Qt::MouseButton button) {
  pressCell_ = cell;
  drawing_ = QPainterPath();
  if (tool == Tool::kFreehand) drawing_.moveTo(cell);
  stroke_.clear();
  if (tool == Tool::kBrush || tool == Tool::kErase) stroke_.push_back(cell);
  if (tool == Tool::kSculpt && button == Qt::LeftButton && onDab) {
    if (sculpting_ && onStrokeEnd) onStrokeEnd();  // the last one's release never came
    sculpting_ = true;
    lastCell_ = cell;
    onDab(lastCell_, lastCell_);
  }
}

void LandscapeView::Move(QPointF cell, Qt::MouseButtons buttons) {
  if (onHover) onHover(cell, Inside(cell));
  hover_ = cell;
  if (tool == Tool::kBrush || tool == Tool::kErase || tool == Tool::kSculpt) update();
  if (!(buttons & Qt::LeftButton) && sculpting_) {
    // Released while a dab's modal loop held the events back: the stroke ends here.
    sculpting_ = false;
    if (onStrokeEnd) onStrokeEnd();
  }
  if (!(buttons & Qt::LeftButton) || tool == Tool::kPan) return;
  if (tool == Tool::kSculpt) {
    if (onDab) onDab(lastCell_, cell);
    lastCell_ = cell;
  } else if (tool == Tool::kBrush || tool == Tool::kErase) {
    stroke_.push_back(cell);
  } else if (tool == Tool::kPlace) {
    // The hill's extent as it is dragged: where its change falls to 1/e. Its width is a
    // share of each side of the map, so on a map longer than wide it is an ellipse.
    const double w = tiles_.Width(), h = tiles_.Height();
    const double share =
        std::hypot((cell.x() - pressCell_.x()) / w, (cell.y() - pressCell_.y()) / h);
    drawing_ = QPainterPath();
    drawing_.addEllipse(pressCell_, share * w, share * h);
  } else if (tool == Tool::kFreehand) {
    drawing_.lineTo(cell);  // open while it is drawn: the release closes it
  } else if (tool != Tool::kPick) {
    drawing_ = Shape(pressCell_, cell);
  }
  update();
}

void LandscapeView::Release(QPointF cell, Qt::MouseButton button) {
  if (tool == Tool::kPan) return;
  if (tool == Tool::kSculpt) {
    if (button == Qt::LeftButton && sculpting_ && onStrokeEnd) onStrokeEnd();
    sculpting_ = false;
    return;
  }
  if (tool == Tool::kBrush || tool == Tool::kErase) {
    stroke_.push_back(cell);
    const std::vector<QPointF> stroke = std::move(stroke_);
    stroke_.clear();
    update();
    if (onStroke) onStroke(stroke);
    return;
  }
  if (tool == Tool::kPlace || tool == Tool::kPick) {
    drawing_ = QPainterPath();
    update();
    if (onPlaced) onPlaced(pressCell_, cell);
    return;
  }
  QPainterPath shape = Shape(pressCell_, cell);
  drawing_ = QPainterPath();
  if (onSelected) onSelected(shape);
}

QPainterPath LandscapeView::Overlay() const {
  QPainterPath overlay = drawing_.isEmpty() ? outline_ : drawing_;
  if (!stroke_.empty()) {
    overlay.moveTo(stroke_.front());
    for (const QPointF& p : stroke_) overlay.lineTo(p);
  }
  const bool brushing = tool == Tool::kBrush || tool == Tool::kErase || tool == Tool::kSculpt;
  if (brushing && Inside(hover_)) overlay.addEllipse(hover_, brushRadius, brushRadius);
  return overlay;
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
