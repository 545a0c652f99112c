#include "host/ui/selection.h"

#include <QImage>
#include <QPainter>
#include <algorithm>
#include <cmath>

namespace host {
namespace {

// A running mean over 2 r + 1 cells along one line (stride apart); cells beyond the ends
// count as 0, as the outside of the selection does.
void BoxLine(float* line, size_t count, size_t stride, int r, std::vector<double>& scratch) {
  scratch.assign(count, 0.0);
  double sum = 0.0;
  const auto n = static_cast<ptrdiff_t>(count);
  for (ptrdiff_t i = 0; i < std::min<ptrdiff_t>(r, n); ++i) sum += line[i * stride];
  for (ptrdiff_t i = 0; i < n; ++i) {
    if (i + r < n) sum += line[(i + r) * stride];
    if (i - r - 1 >= 0) sum -= line[(i - r - 1) * stride];
    scratch[static_cast<size_t>(i)] = sum / (2 * r + 1);
  }
  for (size_t i = 0; i < count; ++i) line[i * stride] = static_cast<float>(scratch[i]);
}

}  // namespace

ZeroedWeights SelectionWeights(const QPainterPath& outline, double feather, int32_t width,
                               int32_t height) {
  ZeroedWeights weights(static_cast<size_t>(width) * static_cast<size_t>(height));
  if (weights.empty()) return weights;
  QImage inside(width, height, QImage::Format_Grayscale8);
  inside.fill(0);
  {
    QPainter painter(&inside);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.fillPath(outline, QColor(255, 255, 255));
  }
  for (int32_t y = 0; y < height; ++y) {
    const uchar* line = inside.constScanLine(y);
    for (int32_t x = 0; x < width; ++x)
      weights[static_cast<size_t>(y) * width + x] = line[x] ? 1.0f : 0.0f;
  }
  const int r = static_cast<int>(std::ceil(feather / 6.0));
  if (feather <= 0.0 || r <= 0) return weights;
  std::vector<double> scratch;
  for (int pass = 0; pass < 3; ++pass) {
    for (int32_t y = 0; y < height; ++y)
      BoxLine(weights.data() + static_cast<size_t>(y) * width, static_cast<size_t>(width), 1, r,
              scratch);
    for (int32_t x = 0; x < width; ++x)
      BoxLine(weights.data() + x, static_cast<size_t>(height), static_cast<size_t>(width), r,
              scratch);
  }
  for (float& w : weights) w = std::clamp(w, 0.0f, 1.0f);
  return weights;
}

double Brush::WeightAt(double distance) const {
  if (radius <= 0.0 || distance >= radius) return 0.0;
  const double inner = std::clamp(hardness, 0.0, 1.0) * radius;
  if (distance <= inner) return 1.0;
  const double t = (distance - inner) / (radius - inner);  // 0 .. 1 across the falloff
  return 1.0 - t * t * (3.0 - 2.0 * t);                    // smoothstep down
}

namespace {

// The cells a dab of the brush at `at` reaches (inclusive), cut off at the grid's edge.
CellBox DabBox(QPointF at, double radius, int32_t width, int32_t height) {
  return {std::max(0, static_cast<int32_t>(std::floor(at.x() - radius))),
          std::max(0, static_cast<int32_t>(std::floor(at.y() - radius))),
          std::min(width - 1, static_cast<int32_t>(std::ceil(at.x() + radius))) + 1,
          std::min(height - 1, static_cast<int32_t>(std::ceil(at.y() + radius))) + 1};
}

}  // namespace

CellBox StrokeBox(int32_t width, int32_t height, const std::vector<QPointF>& stroke,
                  const Brush& brush) {
  // Every dab lies between two points of the stroke, and so does its box.
  CellBox box;
  for (const QPointF& at : stroke) {
    const CellBox dab = DabBox(at, brush.radius, width, height);
    if (!dab.Empty()) box = box.Union(dab);
  }
  return box;
}

CellBox PaintStroke(ZeroedWeights& weights, int32_t width, int32_t height,
                    const std::vector<QPointF>& stroke, const Brush& brush, bool erase) {
  if (stroke.empty() || width <= 0 || height <= 0) return {};
  if (weights.empty()) {
    // Nothing selected: zeros, of which the stroke makes only the pages it paints.
    if (erase)
      weights.assign(static_cast<size_t>(width) * height, 1.0f);
    else
      weights.resize(static_cast<size_t>(width) * height);
  }
  return PaintStroke(weights.data(), width, height, stroke, brush, erase);
}

CellBox PaintStroke(float* weights, int32_t width, int32_t height,
                    const std::vector<QPointF>& stroke, const Brush& brush, bool erase) {
  if (stroke.empty() || width <= 0 || height <= 0) return {};
  // A cell takes the most any point along the stroke gives it (dabs a quarter of the
  // radius apart, so the stroke's edge does not scallop): max and min are taken dab by
  // dab, in any order the same.
  const double step = std::max(0.25, brush.radius / 4.0);
  CellBox touched;
  auto dab = [&](QPointF at) {
    const CellBox box = DabBox(at, brush.radius, width, height);
    if (box.Empty()) return;
    touched = touched.Union(box);
    for (int32_t y = box.y0; y < box.y1; ++y)
      for (int32_t x = box.x0; x < box.x1; ++x) {
        const auto given =
            static_cast<float>(brush.WeightAt(std::hypot(x + 0.5 - at.x(), y + 0.5 - at.y())));
        float& w = weights[static_cast<size_t>(y) * width + x];
        w = erase ? std::min(w, 1.0f - given) : std::max(w, given);
      }
  };
  dab(stroke.front());
  for (size_t k = 1; k < stroke.size(); ++k) {
    const QPointF from = stroke[k - 1], to = stroke[k];
    const double length = std::hypot(to.x() - from.x(), to.y() - from.y());
    const int dabs = static_cast<int>(std::ceil(length / step));
    for (int i = 1; i <= dabs; ++i) dab(from + (to - from) * (static_cast<double>(i) / dabs));
  }
  return touched;
}

CellBox SelectedBox(const ZeroedWeights& weights, int32_t width, int32_t height) {
  CellBox box;
  for (int32_t y = 0; y < height; ++y) {
    const float* row = weights.data() + static_cast<size_t>(y) * width;
    int32_t first = 0, last = width - 1;
    while (first < width && !(row[first] > 0.0f)) ++first;
    if (first == width) continue;
    while (!(row[last] > 0.0f)) --last;
    box = box.Union({first, y, last + 1, y + 1});
  }
  return box;
}

}  // namespace host
