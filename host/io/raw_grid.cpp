// Headerless RAW grids: .r16 unsigned 16-bit and .r32 float32, little-endian, row by row.
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>

#include "host/io/error.h"
#include "host/io/gdal_internal.h"
#include "host/io/reading_internal.h"
#include "host/io/writing_internal.h"
#include "host/io/written_heights_internal.h"

namespace host::io_internal {

namespace fs = std::filesystem;

std::pair<int64_t, int64_t> RawGridSize(const std::string& path, const RawOptions& raw,
                                        bool sixteenBit, int64_t maxPoints) {
  std::error_code ec;
  const auto bytes = fs::file_size(path, ec);
  if (ec) throw Error(path, ec.message());
  if (bytes == 0) throw Error(path, "the file is empty");
  const uint64_t sampleSize = sixteenBit ? 2 : 4;
  if (bytes % sampleSize != 0)
    throw Error(
        path, "the length (" + std::to_string(bytes) + " bytes) is not a whole number of samples");
  const uint64_t samples = bytes / sampleSize;
  int64_t width, height;
  if (raw.size) {
    width = raw.size->first;
    height = raw.size->second;
    CheckSize(path, width, height, maxPoints);
    if (static_cast<uint64_t>(width * height) != samples)
      throw Error(path, "the length (" + std::to_string(bytes) + " bytes) does not match " +
                            std::to_string(width) + " x " + std::to_string(height));
  } else {
    width = height = static_cast<int64_t>(std::llround(std::sqrt(static_cast<double>(samples))));
    if (static_cast<uint64_t>(width * height) != samples || samples == 0)
      throw Error(path, "the length (" + std::to_string(bytes) +
                            " bytes) is not a square grid; give the size with --size WxH");
    CheckSize(path, width, height, maxPoints);
  }
  return {width, height};
}

Landscape ReadRaw(const std::string& path, const RawOptions& raw, bool sixteenBit,
                  int64_t maxPoints, const ProgressFn& progress) {
  const auto [width, height] = RawGridSize(path, raw, sixteenBit, maxPoints);
  Landscape land;
  land.width = static_cast<int32_t>(width);
  land.height = static_cast<int32_t>(height);
  Allocate(land, path);
  std::ifstream in(path, std::ios::binary);
  if (!in) throw Error(path, "cannot be opened");
  if (sixteenBit) {
    const double lo = raw.range ? raw.range->first : 0.0;
    const double step = raw.range ? (raw.range->second - raw.range->first) / 65535.0 : 1.0;
    std::vector<uint8_t> row(static_cast<size_t>(width) * 2);
    for (int64_t y = 0; y < height; ++y) {
      if (!in.read(reinterpret_cast<char*>(row.data()), static_cast<std::streamsize>(row.size())))
        throw Error(path, "the file ended early");
      for (int64_t x = 0; x < width; ++x) {
        const uint16_t v = static_cast<uint16_t>(row[2 * x] | (row[2 * x + 1] << 8));
        land.heights[static_cast<size_t>(y * width + x)] = static_cast<float>(lo + v * step);
      }
      if (y % 256 == 0) Report(progress, static_cast<double>(y) / height);
    }
  } else {
    for (int64_t y0 = 0; y0 < height; y0 += 256) {
      const int64_t rows = std::min<int64_t>(256, height - y0);
      if (!in.read(reinterpret_cast<char*>(land.heights.data() + y0 * width),
                   static_cast<std::streamsize>(rows * width * 4)))
        throw Error(path, "the file ended early");
      Report(progress, static_cast<double>(y0 + rows) / height);
    }
    if constexpr (std::endian::native == std::endian::big)
      for (float& h : land.heights)
        h = std::bit_cast<float>(__builtin_bswap32(std::bit_cast<uint32_t>(h)));
  }
  return land;
}

SaveReport WriteRaw(FileReplacement& file, const std::string& path, const Landscape& land,
                    bool sixteenBit, const ProgressFn& progress) {
  SaveReport report;
  std::vector<uint8_t> row(static_cast<size_t>(land.width) * (sixteenBit ? 2 : 4));
  std::optional<SixteenBit> steps;
  if (sixteenBit) {
    const WrittenHeights survey = Survey(land);
    if (survey.needsNoData)
      throw Error(path,
                  "a .r16 file cannot mark NoData, and this landscape has cells "
                  "without a height; save it as .tif, .png or .r32");
    steps.emplace(survey);
    report.sixteenBitRange = std::pair{survey.minimum, steps->offset + 65535 * steps->scale};
  }
  std::vector<float> heights(static_cast<size_t>(land.width));
  for (int32_t y = 0; y < land.height; ++y) {
    const size_t start = static_cast<size_t>(y) * land.width;
    if (steps) {
      for (int32_t x = 0; x < land.width; ++x) {
        const uint16_t v = steps->Value(land, start + x);
        row[2 * x] = static_cast<uint8_t>(v & 0xFF);
        row[2 * x + 1] = static_cast<uint8_t>(v >> 8);
      }
    } else {
      RowAsWritten(land, y, std::numeric_limits<float>::quiet_NaN(), heights.data());
      if constexpr (std::endian::native == std::endian::big)
        for (float& h : heights)
          h = std::bit_cast<float>(__builtin_bswap32(std::bit_cast<uint32_t>(h)));
      std::memcpy(row.data(), heights.data(), row.size());
    }
    for (size_t done = 0; done < row.size();) {
      const ssize_t n = ::write(file.Descriptor(), row.data() + done, row.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0)
        throw std::runtime_error(std::string("cannot be written (") + std::strerror(errno) + ")");
      done += static_cast<size_t>(n);
    }
    if (y % 256 == 0) Report(progress, static_cast<double>(y) / land.height);
  }
  return report;
}

}  // namespace host::io_internal
