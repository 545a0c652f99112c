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

Shading ShadingOf(const Landscape& land, std::optional<double> waterLevel,
                  std::optional<std::pair<double, double>> range) {
  Shading s;
  s.lo = range ? range->first : land.minHeight;
  s.hi = range ? range->second : land.maxHeight;
  s.waterLevel = waterLevel;
  // Relief exaggerated so the whole range rises over about a fifth of the map.
  s.zFactor = std::max(land.width, land.height) * 0.2 / (s.hi > s.lo ? s.hi - s.lo : 1.0);
  return s;
}

void ShadeArea(const HeightGrid& grid, const Shading& shading, const CellBox& area, QImage& into) {
  const double lo = shading.lo;
  const double span = shading.hi > lo ? shading.hi - lo : 1.0;
  // A level's cell spans `factor` of the landscape's: its slopes are over that distance.
  const double zFactor = shading.zFactor / grid.factor;
  const double lx = -0.5, ly = -0.5, lz = std::sqrt(0.5);  // light from the north-west
  auto at = [&](int32_t x, int32_t y) {
    x = std::clamp(x, 0, grid.width - 1);
    y = std::clamp(y, 0, grid.height - 1);
    const double h = grid.heights[static_cast<size_t>(y) * grid.width + x];
    return std::isfinite(h) ? h : lo;
  };
  const int32_t columns = area.x1 - area.x0;
  // Rows in bands on every core; each pixel depends on the heights only.
  const size_t bandRows = std::max<size_t>(1, base::kCopyGrain / static_cast<size_t>(columns));
  uchar* const bits = into.bits();  // detached here, once, not by each band
  const qsizetype stride = into.bytesPerLine();
  base::ForStretches(static_cast<size_t>(area.y1 - area.y0), bandRows, [&](size_t r0, size_t r1) {
    for (auto row = static_cast<int32_t>(r0); row < static_cast<int32_t>(r1); ++row) {
      const int32_t y = area.y0 + row;
      auto* line = reinterpret_cast<QRgb*>(bits + row * stride);
      for (int32_t x = area.x0; x < area.x1; ++x) {
        const size_t i = static_cast<size_t>(y) * grid.width + x;
        if (grid.noData && grid.noData[i]) {
          line[x - area.x0] = qRgba(0, 0, 0, 0);
          continue;
        }
        const double h = at(x, y);
        const double dzdx = (at(x + 1, y) - at(x - 1, y)) * 0.5 * zFactor;
        const double dzdy = (at(x, y + 1) - at(x, y - 1)) * 0.5 * zFactor;
        const double norm = std::sqrt(dzdx * dzdx + dzdy * dzdy + 1.0);
        const double light = std::max(0.0, (-dzdx * lx - dzdy * ly + lz) / norm);
        const double shade = 0.35 + 0.65 * light;
        double r, g, b;
        if (shading.waterLevel && h <= *shading.waterLevel) {
          const double depth = std::clamp((*shading.waterLevel - h) / span * 4.0, 0.0, 1.0);
          r = 40 - 25 * depth;
          g = 110 - 60 * depth;
          b = 190 - 60 * depth;
        } else {
          Ramp((h - lo) / span, r, g, b);
          r *= shade;
          g *= shade;
          b *= shade;
        }
        line[x - area.x0] = qRgb(static_cast<int>(r), static_cast<int>(g), static_cast<int>(b));
      }
    }
  });
}

QImage ShadeLandscape(const Landscape& land, std::optional<double> waterLevel,
                      std::optional<std::pair<double, double>> range) {
  QImage image(std::max(land.width, 1), std::max(land.height, 1), QImage::Format_ARGB32);
  // A grid beyond what a picture can hold (Qt refuses the memory) gets none.
  if (image.isNull()) return image;
  image.fill(Qt::transparent);
  if (land.Count() == 0) return image;
  const HeightGrid grid{land.heights.data(), land.noData.empty() ? nullptr : land.noData.data(),
                        land.width, land.height};
  ShadeArea(grid, ShadingOf(land, waterLevel, range), {0, 0, land.width, land.height}, image);
  return image;
}

}  // namespace host
