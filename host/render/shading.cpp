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
  // The ramp in steps far finer than a colour level: a lookup, not a search, per pixel.
  constexpr int kSteps = 4096;
  static const std::array<std::array<float, 3>, kSteps + 1> ramp = [] {
    std::array<std::array<float, 3>, kSteps + 1> table{};
    for (int i = 0; i <= kSteps; ++i) {
      double r, g, b;
      Ramp(static_cast<double>(i) / kSteps, r, g, b);
      table[static_cast<size_t>(i)] = {static_cast<float>(r), static_cast<float>(g),
                                       static_cast<float>(b)};
    }
    return table;
  }();
  const int32_t columns = area.x1 - area.x0;
  uchar* const bits = into.bits();  // detached here, once, not by each band
  const qsizetype stride = into.bytesPerLine();
  // In float, branch-light, so that the compiler can do several pixels at once.
  const float flo = static_cast<float>(lo), inverseSpan = static_cast<float>(1.0 / span);
  const float slope = static_cast<float>(0.5 * zFactor);
  const float lzf = static_cast<float>(lz), lxf = static_cast<float>(-lx),
              lyf = static_cast<float>(-ly);
  const bool water = shading.waterLevel.has_value();
  const float level = water ? static_cast<float>(*shading.waterLevel) : 0.0f;
  auto shadeRow = [&](int32_t y, QRgb* line) {
    const size_t w = static_cast<size_t>(grid.width);
    const float* up = grid.heights + static_cast<size_t>(std::max(y - 1, 0)) * w;
    const float* mid = grid.heights + static_cast<size_t>(y) * w;
    const float* down = grid.heights + static_cast<size_t>(std::min(y + 1, grid.height - 1)) * w;
    const uint8_t* voids = grid.noData ? grid.noData + static_cast<size_t>(y) * w : nullptr;
    auto at = [flo](const float* row, int32_t x) {
      const float h = row[x];
      return std::isfinite(h) ? h : flo;
    };
    for (int32_t x = area.x0; x < area.x1; ++x) {
      const int32_t left = std::max(x - 1, 0), right = std::min(x + 1, grid.width - 1);
      const float h = at(mid, x);
      const float dzdx = (at(mid, right) - at(mid, left)) * slope;
      const float dzdy = (at(down, x) - at(up, x)) * slope;
      const float light = std::max(
          0.0f, (dzdx * lxf + dzdy * lyf + lzf) / std::sqrt(dzdx * dzdx + dzdy * dzdy + 1.0f));
      const float shade = 0.35f + 0.65f * light;
      const float t = std::clamp((h - flo) * inverseSpan, 0.0f, 1.0f);
      const auto& c = ramp[static_cast<size_t>(t * kSteps + 0.5f)];
      QRgb colour = qRgb(static_cast<int>(c[0] * shade), static_cast<int>(c[1] * shade),
                         static_cast<int>(c[2] * shade));
      if (water && h <= level) {
        const float depth = std::clamp((level - h) * inverseSpan * 4.0f, 0.0f, 1.0f);
        colour = qRgb(static_cast<int>(40 - 25 * depth), static_cast<int>(110 - 60 * depth),
                      static_cast<int>(190 - 60 * depth));
      }
      line[x - area.x0] = voids && voids[x] ? qRgba(0, 0, 0, 0) : colour;
    }
  };
  // Rows in bands on every core; each pixel depends on the heights only.
  const size_t bandRows = std::max<size_t>(1, base::kCopyGrain / static_cast<size_t>(columns));
  base::ForStretches(static_cast<size_t>(area.y1 - area.y0), bandRows, [&](size_t r0, size_t r1) {
    for (auto row = static_cast<int32_t>(r0); row < static_cast<int32_t>(r1); ++row)
      shadeRow(area.y0 + row, reinterpret_cast<QRgb*>(bits + row * stride));
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

QImage QuickLookPicture(const std::string& path, const RawOptions& raw, int32_t longest,
                        int64_t worth, QSize& cells) {
  try {
    const auto [width, height] = GridSizeOf(path, raw);
    cells = QSize(width, height);
    if (int64_t{width} * height < worth) return {};
    const std::optional<Landscape> look = ReadQuickLook(path, raw, longest);
    if (!look) return {};
    const bool sea = look->ValidRange().first < 0.0;
    return ShadeLandscape(*look, sea ? std::optional(0.0) : std::nullopt);
  } catch (const std::exception&) {
    return {};
  }
}

}  // namespace host
