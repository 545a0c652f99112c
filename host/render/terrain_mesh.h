// The landscape as a mesh for the 3D view: a vertex every `stride` cells (the last row
// and column always included, so the mesh covers the whole grid), coloured as the map
// is, and triangles only where all three corners are valid heights (the others are left
// in the list as points, which draw nothing).
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "host/model/landscape.h"

namespace host {

struct TerrainVertex {
  float x, y;       // the cell's column and row
  float height;     // the height there
  float dx, dy;     // the slope along x and y, in height per cell
  uint8_t rgba[4];  // the map's colour, with the selection's tint
};

struct TerrainMesh {
  int32_t stride = 1;
  int32_t columns = 0;  // vertices across and down
  int32_t rows = 0;
  std::vector<TerrainVertex> vertices;  // row by row
  std::vector<uint32_t> indices;        // three a triangle, six a quad
};

// The smallest stride whose mesh has at most maxQuads quads (two triangles each).
int32_t MeshStride(int32_t width, int32_t height, size_t maxQuads);

// `range` colours the heights as the map does; `selection` (one weight per cell, or
// empty) tints the selected cells.
TerrainMesh BuildTerrainMesh(const Landscape& land, int32_t stride, std::pair<double, double> range,
                             const ZeroedWeights& selection);

// Makes again the vertices and triangles of `mesh` that the cells of `box` reach (a
// vertex's slope reads the cells a stride around it), from the landscape as it is now;
// returns the rows of vertices made again, the first and one past the last.
std::pair<int32_t, int32_t> UpdateTerrainMesh(TerrainMesh& mesh, const Landscape& land,
                                              std::pair<double, double> range,
                                              const ZeroedWeights& selection, const CellBox& box);

// The height of the mesh's surface at a point of the grid (in cells: 0 is the first
// cell's centre), between its vertices.
float MeshHeightAt(const TerrainMesh& mesh, double x, double y);

// How far apart the cells' centres are, across and down, in the heights' unit: from the
// geotransform (degrees become metres at the grid's middle latitude). A grid that says
// nothing of where it lies is spaced as the map's shading has it: the heights of `range`
// rise over a fifth of its larger side.
std::pair<double, double> CellSpacing(const Landscape& land, std::pair<double, double> range);

}  // namespace host
