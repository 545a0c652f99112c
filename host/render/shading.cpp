#include "host/render/shading.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "base/parallel_copy.h"

namespace host {
namespace {

struct Stop {
  double at;
  double r, g, b;
};

// Lowland green, hills brown, rock grey, snow white.
constexpr std::array<Stop, 5> kRamp{{{0.0, 70, 120, 60},
                                     {0.35, 140, 160, 80},
                                     {0.6, 150, 115, 75},
                                     {0.82, 140, 135, 130},
                                     {1.0, 250, 250, 250}}};

void Ramp(double t, double& r, double& g, double& b) {
  t = std::clamp(t, 0.0, 1.0);
  size_t i = 1;
  while (i + 1 < kRamp.size() && t > kRamp[i].at) ++i;
  const Stop& a = kRamp[i - 1];
  const Stop& c = kRamp[i];
  const double f = (t - a.at) / (c.at - a.at);
  r = a.r + (c.r - a.r) * f;
  g = a.g + (c.g - a.g) * f;
  b = a.b + (c.b - a.b) * f;
}

// Shallow sea light blue, the deepest dark blue.
void SeaRamp(double depth, double& r, double& g, double& b) {
  depth = std::clamp(depth, 0.0, 1.0);
  r = 165 - 145 * depth;
  g = 205 - 150 * depth;
  b = 235 - 115 * depth;
}

}  // namespace

void HeightColour(double h, double lo, double hi, double& r, double& g, double& b) {
  const double span = hi > lo ? hi - lo : 1.0;
  if (lo < 0.0 && hi > 0.0) {
    // Sea level splits the colours: land over 0 .. hi, the sea floor over lo .. 0.
    if (h < 0.0) {
      SeaRamp(h / lo, r, g, b);
    } else {
      Ramp(h / hi, r, g, b);
    }
    return;
  }
  Ramp((h - lo) / span, r, g, b);
}

QImage ShadeLandscape(const Landscape& land, std::optional<double> waterLevel,
                      std::optional<std::pair<double, double>> range) {
  QImage image(std::max(land.width, 1), std::max(land.height, 1), QImage::Format_ARGB32);
  // A grid beyond what a picture can hold (Qt refuses the memory) gets none.
  if (image.isNull()) return image;
  image.fill(Qt::transparent);
  if (land.Count() == 0) return image;
  const double lo = range ? range->first : land.minHeight;
  const double hi = range ? range->second : land.maxHeight;
  const double span = hi > lo ? hi - lo : 1.0;
  // Relief exaggerated so the whole range rises over about a fifth of the map.
  const double zFactor = std::max(land.width, land.height) * 0.2 / span;
  const double lx = -0.5, ly = -0.5, lz = std::sqrt(0.5);  // light from the north-west
  auto at = [&](int32_t x, int32_t y) {
    x = std::clamp(x, 0, land.width - 1);
    y = std::clamp(y, 0, land.height - 1);
    const double h = land.heights[static_cast<size_t>(y) * land.width + x];
    return std::isfinite(h) ? h : lo;
  };
  // Rows in bands on every core; each pixel depends on the heights only.
  const size_t bandRows = std::max<size_t>(1, base::kCopyGrain / static_cast<size_t>(land.width));
  uchar* const bits = image.bits();  // detached here, once, not by each band
  const qsizetype stride = image.bytesPerLine();
  base::ForStretches(static_cast<size_t>(land.height), bandRows, [&](size_t y0, size_t y1) {
    for (auto y = static_cast<int32_t>(y0); y < static_cast<int32_t>(y1); ++y) {
      auto* line = reinterpret_cast<QRgb*>(bits + y * stride);
      for (int32_t x = 0; x < land.width; ++x) {
        if (land.IsNoData(static_cast<size_t>(y) * land.width + x)) {
          line[x] = qRgba(0, 0, 0, 0);
          continue;
        }
        const double h = at(x, y);
        const double dzdx = (at(x + 1, y) - at(x - 1, y)) * 0.5 * zFactor;
        const double dzdy = (at(x, y + 1) - at(x, y - 1)) * 0.5 * zFactor;
        const double norm = std::sqrt(dzdx * dzdx + dzdy * dzdy + 1.0);
        const double light = std::max(0.0, (-dzdx * lx - dzdy * ly + lz) / norm);
        const double shade = 0.35 + 0.65 * light;
        double r, g, b;
        if (waterLevel && h <= *waterLevel) {
          const double depth = std::clamp((*waterLevel - h) / span * 4.0, 0.0, 1.0);
          r = 40 - 25 * depth;
          g = 110 - 60 * depth;
          b = 190 - 60 * depth;
        } else {
          Ramp((h - lo) / span, r, g, b);
          r *= shade;
          g *= shade;
          b *= shade;
        }
        line[x] = qRgb(static_cast<int>(r), static_cast<int>(g), static_cast<int>(b));
      }
    }
  });
  return image;
}

}  // namespace host
