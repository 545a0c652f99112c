// What an edit changed in a grid, kept small: the history holds these instead of whole
// grids, so a stroke costs its bounding box and a whole-grid edit what its difference
// compresses to.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "host/model/landscape.h"

namespace host {

// How two grids of one size differ: the XOR of their bits over the smallest box that
// holds every difference, each byte of a value in a plane of its own (neighbouring
// heights mostly share their high bytes, so those planes pack to almost nothing), in
// bands of rows compressed with zstd on every core. Applying it to either grid gives
// the other, bit for bit: undo and redo are the same operation.
class GridChange {
 public:
  GridChange() = default;  // no change
  // `within`: where the grids may differ, when the caller knows (empty: anywhere).
  template <typename T>
  GridChange(const T* before, const T* after, int32_t width, int32_t height,
             const CellBox& within = {})
      : GridChange(before, after, sizeof(T), width, height, within) {}

  template <typename T>
  void ApplyTo(T* grid) const {
    Apply(grid, sizeof(T));
  }
  const CellBox& Box() const { return box_; }
  // What it keeps, in bytes.
  size_t Bytes() const;

 private:
  GridChange(const void* before, const void* after, size_t size, int32_t width, int32_t height,
             const CellBox& within);
  void Apply(void* grid, size_t size) const;
  // body(band, y0, y1, planes, n) for each band of rows [y0, y1) of the box, on every
  // core; `planes` sized for its n values.
  template <typename Body>
  void ForBands(size_t size, Body&& body) const;

  int32_t width_ = 0;
  int32_t bandRows_ = 1;
  CellBox box_;
  std::vector<std::vector<char>> bands_;
};

}  // namespace host
