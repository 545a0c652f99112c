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

std::vector<float> SelectionWeights(const QPainterPath& outline, double feather, int32_t width,
                                    int32_t height) {
  std::vector<float> weights(static_cast<size_t>(width) * static_cast<size_t>(height), 0.0f);
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

}  // namespace host
