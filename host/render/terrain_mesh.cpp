#include "host/render/terrain_mesh.h"

#include <algorithm>
#include <cmath>

#include "base/parallel_copy.h"
#include "host/io/heightmap_io.h"
#include "host/render/shading.h"

namespace host {
namespace {

// Vertices along a side of `cells` cells at `stride`: every stride-th cell and the last.
int32_t Along(int32_t cells, int32_t stride) {
  return cells <= 1 ? cells : (cells - 2) / stride + 2;
}

// The cell of the i-th vertex along a side.
int32_t CellOf(int32_t i, int32_t cells, int32_t stride) { return std::min(i * stride, cells - 1); }

uint8_t Channel(double v) { return static_cast<uint8_t>(std::clamp(std::lround(v), 0L, 255L)); }

}  // namespace

int32_t MeshStride(int32_t width, int32_t height, size_t maxQuads) {
  auto quads = [&](int32_t stride) {
    return static_cast<size_t>(std::max(Along(width, stride) - 1, 0)) *
           static_cast<size_t>(std::max(Along(height, stride) - 1, 0));
  };
  int32_t stride = 1;
  while (quads(stride) > maxQuads && stride < std::max(width, height)) stride *= 2;
  return stride;
}

TerrainMesh BuildTerrainMesh(const Landscape& land, int32_t stride, std::pair<double, double> range,
                             const std::vector<float>& selection) {
  TerrainMesh mesh;
  mesh.stride = std::max(stride, 1);
  mesh.columns = Along(land.width, mesh.stride);
  mesh.rows = Along(land.height, mesh.stride);
  const auto columns = static_cast<size_t>(mesh.columns);
  mesh.vertices.resize(columns * static_cast<size_t>(mesh.rows));
  const size_t width = static_cast<size_t>(land.width);
  auto heightAt = [&](int32_t x, int32_t y) {
    const float h = land.heights[static_cast<size_t>(y) * width + static_cast<size_t>(x)];
    return std::isfinite(h) ? h : static_cast<float>(range.first);
  };
  const size_t rowGrain = std::max<size_t>(1, base::kCopyGrain / 8 / std::max<size_t>(columns, 1));
  base::ForStretches(static_cast<size_t>(mesh.rows), rowGrain, [&](size_t first, size_t last) {
    for (size_t row = first; row < last; ++row) {
      const int32_t y = CellOf(static_cast<int32_t>(row), land.height, mesh.stride);
      // The slope from the neighbouring vertices (one-sided at the edges).
      const int32_t up = std::max(y - mesh.stride, 0);
      const int32_t down = std::min(y + mesh.stride, land.height - 1);
      for (size_t column = 0; column < columns; ++column) {
        const int32_t x = CellOf(static_cast<int32_t>(column), land.width, mesh.stride);
        const int32_t left = std::max(x - mesh.stride, 0);
        const int32_t right = std::min(x + mesh.stride, land.width - 1);
        TerrainVertex& v = mesh.vertices[row * columns + column];
        v.x = static_cast<float>(x);
        v.y = static_cast<float>(y);
        v.height = heightAt(x, y);
        v.dx = right > left
                   ? (heightAt(right, y) - heightAt(left, y)) / static_cast<float>(right - left)
                   : 0.0f;
        v.dy = down > up ? (heightAt(x, down) - heightAt(x, up)) / static_cast<float>(down - up)
                         : 0.0f;
        double r = 0, g = 0, b = 0;
        HeightColour(v.height, range.first, range.second, r, g, b);
        if (!selection.empty()) {
          // The map's tint: orange, as opaque as the weight, at most 40 %.
          const double a = 0.4 * selection[static_cast<size_t>(y) * width + static_cast<size_t>(x)];
          r += (255.0 - r) * a;
          g += (160.0 - g) * a;
          b += (0.0 - b) * a;
        }
        v.rgba[0] = Channel(r);
        v.rgba[1] = Channel(g);
        v.rgba[2] = Channel(b);
        v.rgba[3] = 255;
      }
    }
  });
  // Two triangles a quad of vertices, unless a corner is NoData: a void stays a hole (its
  // triangles are left as points, which draw nothing, so that every row of quads has its
  // place in the list and rows are filled on every core).
  auto valid = [&](size_t column, size_t row) {
    const int32_t x = CellOf(static_cast<int32_t>(column), land.width, mesh.stride);
    const int32_t y = CellOf(static_cast<int32_t>(row), land.height, mesh.stride);
    return !land.IsNoData(static_cast<size_t>(y) * width + static_cast<size_t>(x));
  };
  if (mesh.columns < 2 || mesh.rows < 2) return mesh;
  const size_t quadRows = static_cast<size_t>(mesh.rows) - 1;
  mesh.indices.resize((columns - 1) * quadRows * 6);
  base::ForStretches(quadRows, rowGrain, [&](size_t first, size_t last) {
    for (size_t row = first; row < last; ++row) {
      uint32_t* out = mesh.indices.data() + row * (columns - 1) * 6;
      for (size_t column = 0; column + 1 < columns; ++column, out += 6) {
        const auto a = static_cast<uint32_t>(row * columns + column);
        const auto b = a + 1;
        const auto c = a + static_cast<uint32_t>(columns);
        const auto d = c + 1;
        const bool vb = valid(column + 1, row), vc = valid(column, row + 1);
        const bool upper = vb && vc && valid(column, row);
        const bool lower = vb && vc && valid(column + 1, row + 1);
        out[0] = a;
        out[1] = upper ? c : a;
        out[2] = upper ? b : a;
        out[3] = b;
        out[4] = lower ? c : b;
        out[5] = lower ? d : b;
      }
    }
  });
  return mesh;
}

std::pair<double, double> CellSpacing(const Landscape& land, std::pair<double, double> range) {
  if (!land.geo.geoTransform) {
    const double side = std::max({land.width, land.height, 1});
    const double spacing = (range.second - range.first) * 5.0 / side;
    return spacing > 0.0 && std::isfinite(spacing) ? std::pair{spacing, spacing}
                                                   : std::pair{1.0, 1.0};
  }
  const auto& t = *land.geo.geoTransform;
  double across = std::hypot(t[1], t[4]);
  double down = std::hypot(t[2], t[5]);
  if (SummariseCrs(land.geo.projection).unit.find("degree") != std::string::npos) {
    // A degree of latitude is about 111 km; of longitude, that by the latitude's cosine.
    constexpr double kMetresPerDegree = 111320.0;
    constexpr double kPi = 3.14159265358979323846;
    const double latitude = t[3] + t[5] * land.height / 2.0;
    across *= kMetresPerDegree * std::cos(latitude * kPi / 180.0);
    down *= kMetresPerDegree;
  }
  if (!(across > 0.0) || !std::isfinite(across)) across = 1.0;
  if (!(down > 0.0) || !std::isfinite(down)) down = 1.0;
  return {across, down};
}

}  // namespace host
