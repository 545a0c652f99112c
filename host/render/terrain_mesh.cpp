#include "host/render/terrain_mesh.h"

#include <algorithm>
#include <cmath>
#include <tuple>

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
                             const ZeroedWeights& selection) {
  TerrainMesh mesh;
  mesh.stride = std::max(stride, 1);
  mesh.columns = Along(land.width, mesh.stride);
  mesh.rows = Along(land.height, mesh.stride);
  mesh.vertices.resize(static_cast<size_t>(mesh.columns) * static_cast<size_t>(mesh.rows));
  if (mesh.columns >= 2 && mesh.rows >= 2)
    mesh.indices.resize(static_cast<size_t>(mesh.columns - 1) * (mesh.rows - 1) * 6);
  UpdateTerrainMesh(mesh, land, range, selection, {0, 0, land.width, land.height});
  return mesh;
}

std::pair<int32_t, int32_t> UpdateTerrainMesh(TerrainMesh& mesh, const Landscape& land,
                                              std::pair<double, double> range,
                                              const ZeroedWeights& selection, const CellBox& box) {
  if (box.Empty() || mesh.vertices.empty()) return {0, 0};
  const int32_t stride = mesh.stride;
  // The vertices whose cell, or whose neighbours a stride away, lie in the box (a row
  // or column more, where the last one is nearer than a stride).
  auto vertices = [stride](int32_t from, int32_t to, int32_t count) {
    return std::pair{std::max(from - stride, 0) / stride,
                     std::min((to + stride) / stride + 2, count)};
  };
  int32_t firstRow = 0, lastRow = 0, firstColumn = 0, lastColumn = 0;
  std::tie(firstRow, lastRow) = vertices(box.y0, box.y1, mesh.rows);
  std::tie(firstColumn, lastColumn) = vertices(box.x0, box.x1, mesh.columns);
  const auto columns = static_cast<size_t>(mesh.columns);
  const size_t width = static_cast<size_t>(land.width);
  auto heightAt = [&](int32_t x, int32_t y) {
    const float h = land.heights[static_cast<size_t>(y) * width + static_cast<size_t>(x)];
    return std::isfinite(h) ? h : static_cast<float>(range.first);
  };
  const size_t rowGrain = std::max<size_t>(
      1, base::kCopyGrain / 8 / static_cast<size_t>(std::max(lastColumn - firstColumn, 1)));
  base::ForStretches(
      static_cast<size_t>(lastRow - firstRow), rowGrain, [&](size_t first, size_t last) {
        for (size_t row = first + firstRow; row < last + firstRow; ++row) {
          const int32_t y = CellOf(static_cast<int32_t>(row), land.height, stride);
          // The slope from the neighbouring vertices (one-sided at the edges).
          const int32_t up = std::max(y - stride, 0);
          const int32_t down = std::min(y + stride, land.height - 1);
          for (auto column = static_cast<size_t>(firstColumn);
               column < static_cast<size_t>(lastColumn); ++column) {
            const int32_t x = CellOf(static_cast<int32_t>(column), land.width, stride);
            const int32_t left = std::max(x - stride, 0);
            const int32_t right = std::min(x + stride, land.width - 1);
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
              const double a =
                  0.4 * selection[static_cast<size_t>(y) * width + static_cast<size_t>(x)];
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
    const int32_t x = CellOf(static_cast<int32_t>(column), land.width, stride);
    const int32_t y = CellOf(static_cast<int32_t>(row), land.height, stride);
    return !land.IsNoData(static_cast<size_t>(y) * width + static_cast<size_t>(x));
  };
  if (mesh.indices.empty()) return {firstRow, lastRow};
  const auto firstQuadRow = static_cast<size_t>(std::max(firstRow - 1, 0));
  const auto lastQuadRow = static_cast<size_t>(std::min(lastRow, mesh.rows - 1));
  const auto firstQuad = static_cast<size_t>(std::max(firstColumn - 1, 0));
  const auto lastQuad = static_cast<size_t>(std::min(lastColumn, mesh.columns - 1));
  base::ForStretches(lastQuadRow - firstQuadRow, rowGrain, [&](size_t first, size_t last) {
    for (size_t row = first + firstQuadRow; row < last + firstQuadRow; ++row) {
      uint32_t* out = mesh.indices.data() + (row * (columns - 1) + firstQuad) * 6;
      for (size_t column = firstQuad; column < lastQuad; ++column, out += 6) {
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
  return {firstRow, lastRow};
}

float MeshHeightAt(const TerrainMesh& mesh, double x, double y) {
  // The vertex before the point along a side, and how far on towards the next it lies.
  auto locate = [&](double at, int32_t count, auto cellOf) {
    if (count < 2) return std::pair{0, 0.0};
    const int32_t i = std::clamp(static_cast<int32_t>(std::floor(at / mesh.stride)), 0, count - 2);
    const double from = cellOf(i), to = cellOf(i + 1);
    return std::pair{i, std::clamp((at - from) / std::max(to - from, 1.0), 0.0, 1.0)};
  };
  const auto columns = static_cast<size_t>(mesh.columns);
  auto vertex = [&](int32_t column, int32_t row) -> const TerrainVertex& {
    return mesh.vertices[static_cast<size_t>(row) * columns + static_cast<size_t>(column)];
  };
  const auto [column, across] = locate(x, mesh.columns, [&](int32_t i) { return vertex(i, 0).x; });
  const auto [row, down] = locate(y, mesh.rows, [&](int32_t i) { return vertex(0, i).y; });
  const int32_t right = std::min(column + 1, mesh.columns - 1);
  const int32_t below = std::min(row + 1, mesh.rows - 1);
  const double top = vertex(column, row).height * (1 - across) + vertex(right, row).height * across;
  const double bottom =
      vertex(column, below).height * (1 - across) + vertex(right, below).height * across;
  return static_cast<float>(top * (1 - down) + bottom * down);
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
