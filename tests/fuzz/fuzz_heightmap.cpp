// The host's open path on any file: a landscape that is whole and consistent, or a
// Error; never a crash. The first byte picks the kind of file, the next four
// an optional RAW size.
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "host/io/heightmap_io.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 5) return 0;
  static const char* kKinds[] = {".r16", ".r32", ".tif", ".asc", ".png", ".hgt"};
  const std::string path = "/tmp/rovandel-fuzz-" + std::to_string(::getpid()) +
                           kKinds[data[0] % (sizeof kKinds / sizeof *kKinds)];
  host::RawOptions raw;
  if (data[1] & 1) raw.size = std::pair<int32_t, int32_t>{data[1] >> 1, data[2] | (data[3] << 8)};
  if (data[4] & 1) raw.range = std::pair<double, double>{-data[4], data[4] * 3.0};
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data + 5), static_cast<std::streamsize>(size - 5));
  try {
    // A header may claim any size; grids beyond a few million points are refused
    // before memory is set aside, which is what this bound exercises.
    const host::Landscape land = host::ReadHeightmap(path, raw, int64_t{1} << 22);
    if (land.width <= 0 || land.height <= 0 || land.heights.size() != land.Count()) std::abort();
    if (!std::isfinite(land.minHeight) || !std::isfinite(land.maxHeight)) std::abort();
    if (land.minHeight > land.maxHeight) std::abort();
  } catch (const host::Error&) {
  }
  ::unlink(path.c_str());
  return 0;
}
