// The writers of the formats that GDAL does not write for us. Private to io/.
#pragma once

#include <string>

#include "host/common/replace_file.h"
#include "host/io/heightmap_io.h"

namespace host::io_internal {

// Why a .r16 save to `path` would not replace the header beside it, or "": one it did
// not write may describe another file.
std::string RawHeaderProblem(const std::string& path);

// A headerless RAW grid, little-endian: 16-bit steps over the written range, or float32
// with NoData as NaN.
SaveReport WriteRaw(FileReplacement& file, const std::string& path, const Landscape& land,
                    bool sixteenBit, const ProgressFn& progress);

}  // namespace host::io_internal
