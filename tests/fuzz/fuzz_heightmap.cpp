// The host's open path on any file: a landscape that is whole and consistent, or a
// Error; never a crash. The first byte picks the kind of file, the next four
// an optional RAW size and range; for a RAW grid with bit 1 of the fifth byte set, the
// bytes up to the first NUL are the ENVI header written beside it.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>

#include "host/io/heightmap_io.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 5) return 0;
  static const char* kKinds[] = {".r16", ".r32", ".tif", ".asc", ".png", ".hgt"};
  const std::string path = "/tmp/rovandel-fuzz-" + std::to_string(::getpid()) +
                           kKinds[data[0] % (sizeof kKinds / sizeof *kKinds)];
  host::RawOptions raw;
  if (data[1] & 1) raw.size = std::pair<int32_t, int32_t>{data[1] >> 1, data[2] | (data[3] << 8)};
  if (data[4] & 1) raw.range = std::pair<double, double>{-data[4], data[4] * 3.0};
  const char* body = reinterpret_cast<const char*>(data + 5);
  size_t length = size - 5;
  const std::string header = path.substr(0, path.size() - 4) + ".hdr";
  const bool raw16 = path.ends_with(".r16") || path.ends_with(".r32");
  if (raw16 && (data[4] & 2)) {
    const size_t end = std::string_view(body, length).find('\0');
    const size_t text = end == std::string_view::npos ? length : end;
    std::ofstream(header, std::ios::binary | std::ios::trunc)
        .write(body, static_cast<std::streamsize>(text));
    body += std::min(length, text + 1);
    length -= std::min(length, text + 1);
  }
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(body, static_cast<std::streamsize>(length));
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
  ::unlink(header.c_str());
  return 0;
}
