#include "host/render/shading.h"

#include <algorithm>
#include <array>
#include <cfloat>
#include <cmath>
#include <vector>

#include "base/parallel_copy.h"
#include "base/simd.h"

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

namespace {

constexpr int kRampSteps = 4096;

// Row y of `grid` over the columns [x0 - 1, x1 + 1), the grid's edge repeated beyond it,
// a height that is not finite at `missing`.
void CleanRow(const HeightGrid& grid, int32_t y, int32_t x0, int32_t x1, float missing,
              float* into) {
  const float* row = grid.heights + static_cast<size_t>(y) * static_cast<size_t>(grid.width);
  auto clean = [missing](float h) { return std::fabs(h) <= FLT_MAX ? h : missing; };
  into[0] = clean(row[std::max(x0 - 1, 0)]);
  into[x1 - x0 + 1] = clean(row[std::min(x1, grid.width - 1)]);
  for (int32_t x = x0; x < x1; ++x) into[x - x0 + 1] = clean(row[x]);
}

// What lights a row: the slope's scale, the light's direction, the colour range.
struct Lighting {
  float slope, lx, ly, lz, lo, inverseSpan;
};

// The shade and the ramp's step of n cells from their heights and those of the rows up
// and down (each readable one cell before and after): straight code on plain arrays,
// several cells to an instruction.
ROVANDEL_CLONES_AVX2 void LightRow(const float* up, const float* mid, const float* down, int32_t n,
                                   Lighting l, float* shade, int32_t* step) {
  for (int32_t i = 0; i < n; ++i) {
    const float dzdx = (mid[i + 1] - mid[i - 1]) * l.slope;
    const float dzdy = (down[i] - up[i]) * l.slope;
    const float lit =
        (dzdx * l.lx + dzdy * l.ly + l.lz) / std::sqrt(dzdx * dzdx + dzdy * dzdy + 1.0f);
    shade[i] = 0.35f + 0.65f * (lit > 0.0f ? lit : 0.0f);
    // Selects, not branches.
    const float u = (mid[i] - l.lo) * l.inverseSpan;
    const float t = u < 0.0f ? 0.0f : (u > 1.0f ? 1.0f : u);
    step[i] = static_cast<int32_t>(t * kRampSteps + 0.5f);
  }
}

}  // namespace

void ShadeArea(const HeightGrid& grid, const Shading& shading, const CellBox& area, QImage& into) {
  const double lo = shading.lo;
  const double span = shading.hi > lo ? shading.hi - lo : 1.0;
  // A level's cell spans `factor` of the landscape's: its slopes are over that distance.
  const double zFactor = shading.zFactor / grid.factor;
  const double lx = -0.5, ly = -0.5, lz = std::sqrt(0.5);  // light from the north-west
  // The ramp in steps far finer than a colour level: a lookup, not a search, per pixel.
  static const std::array<std::array<float, 3>, kRampSteps + 1> ramp = [] {
    std::array<std::array<float, 3>, kRampSteps + 1> table{};
    for (int i = 0; i <= kRampSteps; ++i) {
      double r, g, b;
      Ramp(static_cast<double>(i) / kRampSteps, r, g, b);
      table[static_cast<size_t>(i)] = {static_cast<float>(r), static_cast<float>(g),
                                       static_cast<float>(b)};
    }
    return table;
  }();
  const Lighting lighting{static_cast<float>(0.5 * zFactor),
                          static_cast<float>(-lx),
                          static_cast<float>(-ly),
                          static_cast<float>(lz),
                          static_cast<float>(lo),
                          static_cast<float>(1.0 / span)};
  const int32_t columns = area.x1 - area.x0;
  uchar* const bits = into.bits();  // detached here, once, not by each band
  const qsizetype stride = into.bytesPerLine();
  const bool water = shading.waterLevel.has_value();
  const float level = water ? static_cast<float>(*shading.waterLevel) : 0.0f;
  // A row's colours in passes of straight code on plain arrays, several cells to an
  // instruction but for the ramp's lookup.
  auto colourRow = [&](int32_t y, const float* heights, const float* shade, const int32_t* step,
                       float* rampColours, QRgb* line) {
    const int32_t n = columns;  // a local: the stores to `line` cannot change it
    float* red = rampColours;
    float* green = red + n;
    float* blue = green + n;
    for (int32_t i = 0; i < n; ++i) {
      const auto& c = ramp[static_cast<size_t>(step[i])];
      red[i] = c[0];
      green[i] = c[1];
      blue[i] = c[2];
    }
    for (int32_t i = 0; i < n; ++i)
      line[i] = qRgb(static_cast<int>(red[i] * shade[i]), static_cast<int>(green[i] * shade[i]),
                     static_cast<int>(blue[i] * shade[i]));
    if (water) {
      const float inverseSpan = lighting.inverseSpan;
      for (int32_t i = 0; i < n; ++i) {
        // std::clamp's comparisons, written out as selects.
        const float d = (level - heights[i]) * inverseSpan * 4.0f;
        const float depth = d < 0.0f ? 0.0f : (1.0f < d ? 1.0f : d);
        const QRgb sea = qRgb(static_cast<int>(40 - 25 * depth), static_cast<int>(110 - 60 * depth),
                              static_cast<int>(190 - 60 * depth));
        line[i] = heights[i] <= level ? sea : line[i];
      }
    }
    if (!grid.noData) return;
    const uint8_t* voids = grid.noData + static_cast<size_t>(y) * grid.width + area.x0;
    for (int32_t i = 0; i < n; ++i) line[i] = voids[i] ? qRgba(0, 0, 0, 0) : line[i];
  };
  // Rows in bands on every core; each pixel depends on the heights only. A band keeps
  // the rows up, at and down from the one it shades, each cleaned once.
  const size_t bandRows = std::max<size_t>(1, base::kCopyGrain / static_cast<size_t>(columns));
  base::ForStretches(static_cast<size_t>(area.y1 - area.y0), bandRows, [&](size_t r0, size_t r1) {
    const size_t n = static_cast<size_t>(columns);
    std::vector<float> rows(3 * (n + 2)), shade(n), rampColours(3 * n);
    std::vector<int32_t> step(n);
    float* up = rows.data();
    float* mid = up + n + 2;
    float* down = mid + n + 2;
    const auto y0 = area.y0 + static_cast<int32_t>(r0);
    CleanRow(grid, std::max(y0 - 1, 0), area.x0, area.x1, lighting.lo, up);
    CleanRow(grid, y0, area.x0, area.x1, lighting.lo, mid);
    for (auto y = y0; y < area.y0 + static_cast<int32_t>(r1); ++y) {
      CleanRow(grid, std::min(y + 1, grid.height - 1), area.x0, area.x1, lighting.lo, down);
      LightRow(up + 1, mid + 1, down + 1, columns, lighting, shade.data(), step.data());
      colourRow(y, mid + 1, shade.data(), step.data(), rampColours.data(),
                reinterpret_cast<QRgb*>(bits + (y - area.y0) * stride));
      float* spare = up;
      up = mid;
      mid = down;
      down = spare;
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
