#include "host/model/grid_change.h"

#include <zstd.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>
#include <stdexcept>

#include "base/parallel_copy.h"

namespace host {

namespace {

// A band's raw planes: large enough that zstd finds the runs of equal high bytes, small
// enough that two cores share a stroke's box.
constexpr size_t kBandBytes = size_t{4} << 20;
// Fast: a step of a 16384² grid is made within a second of OK, on one core.
constexpr int kLevel = 1;

const unsigned char* Row(const void* grid, size_t size, int32_t width, int32_t y) {
  return static_cast<const unsigned char*>(grid) + static_cast<size_t>(y) * width * size;
}

// The XOR of `count` values of a and b, byte p of each into plane p (planes `n` apart).
void Split(const unsigned char* a, const unsigned char* b, size_t size, size_t count,
           unsigned char* planes, size_t n) {
  if (size == sizeof(uint32_t)) {  // heights and weights: words, not bytes
    for (size_t x = 0; x < count; ++x) {
      uint32_t u, v;
      std::memcpy(&u, a + 4 * x, 4);
      std::memcpy(&v, b + 4 * x, 4);
      const uint32_t d = u ^ v;
      planes[x] = static_cast<unsigned char>(d);
      planes[n + x] = static_cast<unsigned char>(d >> 8);
      planes[2 * n + x] = static_cast<unsigned char>(d >> 16);
      planes[3 * n + x] = static_cast<unsigned char>(d >> 24);
    }
    return;
  }
  for (size_t x = 0; x < count; ++x)
    for (size_t p = 0; p < size; ++p) planes[p * n + x] = a[x * size + p] ^ b[x * size + p];
}

// XORs the planes' values back into `count` values of grid.
void Join(const unsigned char* planes, size_t n, size_t size, size_t count, unsigned char* grid) {
  if (size == sizeof(uint32_t)) {
    for (size_t x = 0; x < count; ++x) {
      uint32_t u;
      std::memcpy(&u, grid + 4 * x, 4);
      u ^= uint32_t{planes[x]} | uint32_t{planes[n + x]} << 8 | uint32_t{planes[2 * n + x]} << 16 |
           uint32_t{planes[3 * n + x]} << 24;
      std::memcpy(grid + 4 * x, &u, 4);
    }
    return;
  }
  for (size_t x = 0; x < count; ++x)
    for (size_t p = 0; p < size; ++p) grid[x * size + p] ^= planes[p * n + x];
}

// The box of the cells where two grids of one size differ (empty when none does), looked
// for within `within` (empty: the whole grid).
CellBox DifferingCells(const void* before, const void* after, size_t size, int32_t width,
                       int32_t height, const CellBox& within) {
  const CellBox in = within.Empty() ? CellBox{0, 0, width, height} : within;
  const size_t columns = static_cast<size_t>(in.x1 - in.x0);
  CellBox box;
  std::mutex merge;
  const size_t grain = std::max<size_t>(1, base::kCopyGrain / std::max<size_t>(columns, 1));
  base::ForStretches(static_cast<size_t>(in.y1 - in.y0), grain, [&](size_t r0, size_t r1) {
    CellBox mine;
    for (auto y = in.y0 + static_cast<int32_t>(r0); y < in.y0 + static_cast<int32_t>(r1); ++y) {
      const unsigned char* a = Row(before, size, width, y) + in.x0 * size;
      const unsigned char* b = Row(after, size, width, y) + in.x0 * size;
      if (std::memcmp(a, b, columns * size) == 0) continue;
      int32_t first = 0, last = static_cast<int32_t>(columns) - 1;
      while (std::memcmp(a + first * size, b + first * size, size) == 0) ++first;
      while (std::memcmp(a + last * size, b + last * size, size) == 0) --last;
      mine = mine.Union({in.x0 + first, y, in.x0 + last + 1, y + 1});
    }
    if (mine.Empty()) return;
    const std::lock_guard lock(merge);
    box = box.Union(mine);
  });
  return box;
}

}  // namespace

template <typename Body>
void GridChange::ForBands(size_t size, Body&& body) const {
  const size_t columns = static_cast<size_t>(box_.x1 - box_.x0);
  base::ForStretches(bands_.size(), 1, [&](size_t b0, size_t b1) {
    std::vector<unsigned char> planes;  // a band's values, byte plane after byte plane
    for (size_t band = b0; band < b1; ++band) {
      const int32_t y0 = box_.y0 + static_cast<int32_t>(band) * bandRows_;
      const int32_t y1 = std::min(box_.y1, y0 + bandRows_);
      const size_t n = static_cast<size_t>(y1 - y0) * columns;
      planes.resize(n * size);
      body(band, y0, y1, planes, n);
    }
  });
}

GridChange::GridChange(const void* before, const void* after, size_t size, int32_t width,
                       int32_t height, const CellBox& within)
    : width_(width), box_(DifferingCells(before, after, size, width, height, within)) {
  if (box_.Empty()) return;
  const size_t columns = static_cast<size_t>(box_.x1 - box_.x0);
  bandRows_ = static_cast<int32_t>(std::max<size_t>(1, kBandBytes / size / columns));
  const int32_t rows = box_.y1 - box_.y0;
  bands_.resize(static_cast<size_t>((rows + bandRows_ - 1) / bandRows_));
  ForBands(size,
           [&](size_t band, int32_t y0, int32_t y1, std::vector<unsigned char>& planes, size_t n) {
             for (int32_t y = y0; y < y1; ++y)
               Split(Row(before, size, width, y) + box_.x0 * size,
                     Row(after, size, width, y) + box_.x0 * size, size, columns,
                     planes.data() + static_cast<size_t>(y - y0) * columns, n);
             std::vector<char>& packed = bands_[band];
             packed.resize(ZSTD_compressBound(planes.size()));
             const size_t got =
                 ZSTD_compress(packed.data(), packed.size(), planes.data(), planes.size(), kLevel);
             if (ZSTD_isError(got)) throw std::bad_alloc();  // zstd fails only for want of memory
             packed.resize(got);
             packed.shrink_to_fit();
           });
}

void GridChange::Apply(void* grid, size_t size) const {
  if (box_.Empty()) return;
  const size_t columns = static_cast<size_t>(box_.x1 - box_.x0);
  ForBands(size,
           [&](size_t band, int32_t y0, int32_t y1, std::vector<unsigned char>& planes, size_t n) {
             const std::vector<char>& packed = bands_[band];
             if (ZSTD_decompress(planes.data(), planes.size(), packed.data(), packed.size()) !=
                 planes.size())
               throw std::logic_error("a step of the history does not unpack to its size");
             for (int32_t y = y0; y < y1; ++y)
               Join(planes.data() + static_cast<size_t>(y - y0) * columns, n, size, columns,
                    const_cast<unsigned char*>(Row(grid, size, width_, y)) + box_.x0 * size);
           });
}

size_t GridChange::Bytes() const {
  size_t bytes = sizeof *this + bands_.size() * sizeof(std::vector<char>);
  for (const auto& band : bands_) bytes += band.size();
  return bytes;
}

}  // namespace host
