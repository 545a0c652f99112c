// The steps of reading a heightmap, shared by the reader's files. Private to io/.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "host/io/heightmap_io.h"

namespace host::io_internal {

// Refuses an empty grid and one of more than maxPoints points (never more than
// kMaxGridPoints - 1), naming the file.
void CheckSize(const std::string& path, int64_t width, int64_t height, int64_t maxPoints);
// Sets the grid's memory aside, or says how much it needed.
void Allocate(Landscape& land, const std::string& path);

// The grid a RAW file holds, from its length and --size.
std::pair<int64_t, int64_t> RawGridSize(const std::string& path, const RawOptions& raw,
                                        bool sixteenBit, int64_t maxPoints);
Landscape ReadRaw(const std::string& path, const RawOptions& raw, bool sixteenBit,
                  int64_t maxPoints, const ProgressFn& progress);
// Every n-th cell of a RAW grid across and down, n the smallest that keeps its longer
// side within `longest`; decoded as ReadRaw decodes.
Landscape ReadRawEvery(const std::string& path, const RawOptions& raw, bool sixteenBit,
                       int32_t longest);
// The n of every n-th cell that keeps the longer side of a grid within `longest`.
int32_t EveryNth(int64_t width, int64_t height, int32_t longest);

// Marks cells that hold no height (NaN, ±inf) as NoData and fills every NoData cell
// from its valid surroundings, so that no operation sees a sentinel.
void FillNoData(Landscape& land, const std::string& path, const ProgressFn& progress);

}  // namespace host::io_internal
