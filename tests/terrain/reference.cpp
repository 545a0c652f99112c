#include "tests/terrain/reference.h"

#include <cfloat>
#include <cmath>
#include <cstdlib>

#include "random/noise_gen.h"

namespace reference {
namespace {

using terrain::GridSize;

struct Tracker {
  float lo = 2147483648.0f;
  float hi = -2147483648.0f;
  void Float(float v) {
    if (v < lo) lo = v;
    if (v > hi) hi = v;
  }
  void Double(double v) {
    if (v < lo) lo = static_cast<float>(v);
    if (v > hi) hi = static_cast<float>(v);
  }
};

int Weight(int radius, int dx, int dy) {
  if (radius == 1) {
    static const int kSoften[3][3] = {{1, 2, 1}, {2, 3, 2}, {1, 2, 1}};
    return kSoften[dy + 1][dx + 1];
  }
  return 1 + (2 - std::abs(dx)) + (2 - std::abs(dy));
}

}  // namespace

Output Soften(GridSize size, const std::vector<float>& source, int radius) {
  Output out{std::vector<float>(source.size()), {}};
  Tracker t;
  const int centre = radius == 1 ? 3 : 5;
  for (int x = 0; x < size.width; ++x) {
    for (int y = 0; y < size.height; ++y) {
      float d = radius == 1 ? 15.0f : 65.0f;
      double sums[6] = {};
      bool started[6] = {};
      for (int w = 1; w <= centre; ++w) {
        for (int dy = -radius; dy <= radius; ++dy) {
          for (int dx = -radius; dx <= radius; ++dx) {
            if (Weight(radius, dx, dy) != w) continue;
            const int nx = x + dx, ny = y + dy;
            float sample = 0.0f;
            if (nx < 0 || nx >= size.width || ny < 0 || ny >= size.height) {
              d -= static_cast<float>(w);
            } else {
              sample = source[ny * size.width + nx];
            }
            sums[w] = started[w] ? sums[w] + sample : sample;
            started[w] = true;
          }
        }
      }
      double s = sums[1];
      for (int w = 2; w <= centre; ++w) s = s + w * sums[w];
      float v = static_cast<float>(s) / d;
      // A finite mean whose sum overflows float is divided in double.
      if (std::isinf(static_cast<float>(s)) && std::isfinite(s)) v = static_cast<float>(s / d);
      t.Float(v);
      out.heights[y * size.width + x] = v;
    }
  }
  out.range = {t.lo, t.hi};
  return out;
}

Output Flatten(GridSize size, const std::vector<float>& source,
               const terrain::FlattenParameters& p) {
  Output out{std::vector<float>(source.size()), {}};
  Tracker t;
  const double f = p.targetHeight;
  const double k = (100 - p.severityPercent) * 0.01;
  for (int x = 0; x < size.width; ++x) {
    for (int y = 0; y < size.height; ++y) {
      const double h = source[y * size.width + x];
      double v = p.severityPercent == 100 ? f : f + (h - f) * k;
      v = terrain::KeepFinite(v, h);
      t.Double(v);
      out.heights[y * size.width + x] = static_cast<float>(v);
    }
  }
  if (t.lo == t.hi) t.hi = t.hi + 1000.0f;
  out.range = {t.lo, t.hi};
  return out;
}

Output Profile(GridSize size, const std::vector<float>& source, const terrain::ProfileParameters& p,
               bool canyonize) {
  Output out{std::vector<float>(source.size()), {}};
  Tracker t;
  const double r = p.maxHeight - p.minHeight;
  const double k = p.severityPercent * 0.1;
  for (int x = 0; x < size.width; ++x) {
    for (int y = 0; y < size.height; ++y) {
      const double h = source[y * size.width + x];
      double v = h;
      if (r != 0.0 && std::isfinite(r)) {
        const double n = (h - p.minHeight) / r;
        v = canyonize ? (1 - std::exp((-k) * n)) * h : std::exp((n - 1) * k) * h;
        v = terrain::KeepFinite(v, h);
      }
      t.Double(v);
      out.heights[y * size.width + x] = static_cast<float>(v);
    }
  }
  out.range = {t.lo, t.hi};
  return out;
}

Output Hill(GridSize size, const std::vector<float>& source, const terrain::HillParameters& p) {
  Output out{std::vector<float>(source.size()), {}};
  Tracker t;
  const double w2 = p.width * p.width;
  for (int y = 0; y < size.height; ++y) {
    const double dy2 =
        ((y + 0.5) / size.height - p.centreY) * ((y + 0.5) / size.height - p.centreY);
    for (int x = 0; x < size.width; ++x) {
      const int i = y * size.width + x;
      const double src = source[i];
      const double dx2 =
          ((x + 0.5) / size.width - p.centreX) * ((x + 0.5) / size.width - p.centreX);
      const double g = w2 == 0.0 ? 0.0 : std::exp(-(dx2 + dy2) / w2);
      double bump = p.heightChange * g;
      if (std::isnan(bump)) bump = 0.0;
      double h = src + bump;
      if (!(h > -1001.0)) h = -1000.0;
      if (h > FLT_MAX && std::isfinite(src)) h = FLT_MAX;
      t.Double(h);
      out.heights[i] = static_cast<float>(h);
    }
  }
  out.range = {t.lo, t.hi};
  return out;
}

Output Noise(GridSize size, const std::vector<float>& source, const terrain::NoiseParameters& p,
             const terrain::WaterTest& isWater) {
  Output out{source, {}};
  Tracker t;
  CNoiseGen gen;
  gen.SetMode(0);
  gen.Seed(p.seed);
  auto toInt = [](double v) -> long long {
    if (std::isnan(v)) return 0;
    return static_cast<long long>(std::fmax(-2147483648.0, std::fmin(2147483647.0, v)));
  };
  long long range = toInt(std::ceil(p.maxHeight)) - toInt(std::floor(p.minHeight));
  if (range == 0) range = (static_cast<long long>(size.width) + size.height) / 2;
  const float amplitude =
      p.noiseType == 1 ? terrain::kFixedNoiseAmplitude
                       : static_cast<float>(static_cast<double>(p.amplitudePercent * range) * 0.01);
  gen.SetRange(-amplitude, amplitude);
  const float coverage = static_cast<float>(p.coveragePercent * 0.01);
  for (int x = 0; x < size.width; ++x) {
    for (int y = 0; y < size.height; ++y) {
      if (p.ignoreWater && isWater && isWater(x, y)) continue;
      float& h = out.heights[static_cast<size_t>(y) * size.width + x];
      if (gen.Next(0) <= coverage) h = h + gen.Next(3);
      t.Float(h);
    }
  }
  out.range = {t.lo, t.hi};
  return out;
}

}  // namespace reference
