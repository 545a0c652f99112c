// Headerless RAW grids: .r16 unsigned 16-bit and .r32 float32, little-endian, row by row.
#include <fcntl.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <optional>

#include "base/parallel_copy.h"
#include "host/common/error.h"
#include "host/common/replace_file.h"
#include "host/io/gdal_internal.h"
#include "host/io/reading_internal.h"
#include "host/io/writing_internal.h"
#include "host/io/written_heights_internal.h"

namespace host::io_internal {

namespace fs = std::filesystem;

namespace {

// The ENVI-style header a .r16 save writes beside the file ("map.hdr" for "map.r16"),
// so that the file says how its steps become heights to GIS programs and to us.
std::string HeaderPath(const std::string& path) {
  return (fs::path(path).parent_path() / fs::path(path).stem()).string() + ".hdr";
}

// The line that marks a header as one a .r16 save wrote.
constexpr char kHeaderDescription[] =
    "description = {16-bit heights: height = value * gain + offset}";

struct RawHeader {
  std::optional<std::pair<int64_t, int64_t>> size;
  std::optional<std::pair<double, double>> scaleOffset;
};

// "key = value" lines; braces around a list of one value are dropped.
RawHeader ReadHeader(const std::string& path) {
  RawHeader header;
  std::ifstream in(HeaderPath(path));
  std::string line;
  if (!in || !std::getline(in, line) || line.rfind("ENVI", 0) != 0) return header;
  std::map<std::string, std::string> items;
  while (std::getline(in, line)) {
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    auto trim = [](std::string t) {
      const char* blank = " \t\r{}";
      t.erase(0, t.find_first_not_of(blank));
      t.erase(t.find_last_not_of(blank) + 1);
      return t;
    };
    items[trim(line.substr(0, eq))] = trim(line.substr(eq + 1));
  }
  auto number = [&](const char* key) -> std::optional<double> {
    const auto it = items.find(key);
    if (it == items.end()) return std::nullopt;
    char* end = nullptr;
    const double v = std::strtod(it->second.c_str(), &end);
    if (end == it->second.c_str() || !std::isfinite(v)) return std::nullopt;
    return v;
  };
  // Only the layout a .r16 has: one band of little-endian unsigned 16-bit values from
  // the first byte.
  const auto type = number("data type"), order = number("byte order"),
             skip = number("header offset"), bands = number("bands");
  if ((type && *type != 12) || (order && *order != 0) || (skip && *skip != 0) ||
      (bands && *bands != 1))
    throw Error(path, HeaderPath(path) +
                          " describes another layout than one band of little-endian unsigned "
                          "16-bit values");
  const auto samples = number("samples"), lines = number("lines");
  if (samples && lines)
    header.size = std::pair{static_cast<int64_t>(*samples), static_cast<int64_t>(*lines)};
  const auto gain = number("data gain values"), offset = number("data offset values");
  if (gain && offset && *gain > 0) header.scaleOffset = std::pair{*gain, *offset};
  return header;
}

}  // namespace

std::pair<int64_t, int64_t> RawGridSize(const std::string& path, const RawOptions& given,
                                        bool sixteenBit, int64_t maxPoints) {
  RawOptions raw = given;
  if (!raw.size && sixteenBit) {
    if (const auto size = ReadHeader(path).size)
      if (*size >= std::pair<int64_t, int64_t>{1, 1} && size->first < INT32_MAX &&
          size->second < INT32_MAX)
        raw.size = std::pair{static_cast<int32_t>(size->first), static_cast<int32_t>(size->second)};
  }
  std::error_code ec;
  const auto bytes = fs::file_size(path, ec);
  if (ec) throw Error(path, ec.message());
  if (bytes == 0) throw Error(path, "the file is empty");
  const uint64_t sampleSize = sixteenBit ? 2 : 4;
  const std::string kind = sixteenBit ? "16-bit heights" : "32-bit float heights";
  // The size given fits the other kind of RAW: most likely the file's name is the wrong
  // one. (Without a size, a length is often both: 1000 x 500 shorts, 500 x 500 floats.)
  const uint64_t otherSize = sixteenBit ? 4 : 2;
  auto hint = [&](int64_t width, int64_t height) {
    if (bytes % otherSize != 0 || static_cast<uint64_t>(width * height) != bytes / otherSize)
      return std::string();
    return "; it is the length of " + std::to_string(width) + " x " + std::to_string(height) +
           (sixteenBit ? " 32-bit float heights, which a .r32 file holds"
                       : " 16-bit heights, which a .r16 or .raw file holds");
  };
  if (bytes % sampleSize != 0)
    throw Error(path, "the length (" + std::to_string(bytes) + " bytes) is not a whole number of " +
                          kind + (raw.size ? hint(raw.size->first, raw.size->second) : ""));
  const uint64_t samples = bytes / sampleSize;
  int64_t width, height;
  if (raw.size) {
    width = raw.size->first;
    height = raw.size->second;
    CheckSize(path, width, height, maxPoints);
    if (static_cast<uint64_t>(width * height) != samples)
      throw Error(path, "the length (" + std::to_string(bytes) + " bytes) does not match " +
                            std::to_string(width) + " x " + std::to_string(height) + " " + kind +
                            hint(width, height));
  } else {
    width = height = static_cast<int64_t>(std::llround(std::sqrt(static_cast<double>(samples))));
    if (static_cast<uint64_t>(width * height) != samples || samples == 0)
      throw Error(path, "the length (" + std::to_string(bytes) +
                            " bytes) is not a square grid of " + kind +
                            "; give the size with --size WxH");
    CheckSize(path, width, height, maxPoints);
  }
  return {width, height};
}

namespace {

// A file opened for reading, closed with this; reads fill what they are asked for.
class FileForReading {
 public:
  explicit FileForReading(const std::string& path)
      : path_(path), fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
    if (fd_ < 0) throw Error(path, std::string("cannot be opened (") + std::strerror(errno) + ")");
  }
  ~FileForReading() { ::close(fd_); }
  FileForReading(const FileForReading&) = delete;
  FileForReading& operator=(const FileForReading&) = delete;
  // `size` bytes from `at` (from any thread).
  void ReadAt(char* into, size_t size, size_t at) const {
    for (size_t done = 0; done < size;) {
      const ssize_t n = ::pread(fd_, into + done, size - done, static_cast<off_t>(at + done));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) throw Error(path_, std::string("cannot be read (") + std::strerror(errno) + ")");
      if (n == 0) throw Error(path_, "the file ended early");
      done += static_cast<size_t>(n);
    }
  }

 private:
  std::string path_;
  int fd_;
};

// Reads count floats from the start of the file straight into the grid, stretches of it
// on every core: the grid's pages are first touched here, and the kernel serves those
// faults one at a time per thread. Progress is told on the calling thread, between
// parts of 64 MiB.
void ReadFloatsInto(const std::string& path, float* heights, size_t count,
                    const ProgressFn& progress) {
  const FileForReading file(path);
  auto* bytes = reinterpret_cast<char*>(heights);
  const size_t total = count * sizeof(float);
  constexpr size_t kPart = size_t{64} << 20;
  for (size_t part = 0; part < total; part += kPart) {
    const size_t partEnd = std::min(total, part + kPart);
    base::ForStretches(partEnd - part, base::kCopyGrain * sizeof(float),
                       [&](size_t b, size_t e) { file.ReadAt(bytes + part + b, e - b, part + b); });
    Report(progress, static_cast<double>(partEnd) / static_cast<double>(total));
  }
}

}  // namespace

namespace {

// A 16-bit RAW's heights: --range, else the header's mapping, else the steps as they are.
std::optional<std::pair<double, double>> SixteenBitMapping(const std::string& path,
                                                           const RawOptions& raw) {
  return raw.range ? std::pair{(raw.range->second - raw.range->first) / 65535.0, raw.range->first}
                   : ReadHeader(path).scaleOffset;
}

// A sample of a RAW file (little-endian) as a height.
struct RawSample {
  bool sixteenBit;
  double step = 1.0, lo = 0.0;  // of a 16-bit one
  float operator()(const uint8_t* bytes) const {
    if (sixteenBit)
      return static_cast<float>(lo + static_cast<uint16_t>(bytes[0] | bytes[1] << 8) * step);
    uint32_t bits = 0;
    std::memcpy(&bits, bytes, sizeof bits);
    if constexpr (std::endian::native == std::endian::big) bits = __builtin_bswap32(bits);
    return std::bit_cast<float>(bits);
  }
};

RawSample SampleOf(const std::string& path, const RawOptions& raw, bool sixteenBit,
                   Landscape& land) {
  RawSample sample{sixteenBit};
  if (!sixteenBit) return sample;
  const auto mapping = SixteenBitMapping(path, raw);
  land.geo.scaleOffset = mapping;
  if (mapping) sample.step = mapping->first, sample.lo = mapping->second;
  return sample;
}

}  // namespace

Landscape ReadRaw(const std::string& path, const RawOptions& raw, bool sixteenBit,
                  int64_t maxPoints, const ProgressFn& progress) {
  const auto [width, height] = RawGridSize(path, raw, sixteenBit, maxPoints);
  Landscape land;
  land.width = static_cast<int32_t>(width);
  land.height = static_cast<int32_t>(height);
  Allocate(land, path);
  const RawSample sample = SampleOf(path, raw, sixteenBit, land);
  if (sixteenBit) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw Error(path, "cannot be opened");
    std::vector<uint8_t> row(static_cast<size_t>(width) * 2);
    for (int64_t y = 0; y < height; ++y) {
      if (!in.read(reinterpret_cast<char*>(row.data()), static_cast<std::streamsize>(row.size())))
        throw Error(path, "the file ended early");
      for (int64_t x = 0; x < width; ++x)
        land.heights[static_cast<size_t>(y * width + x)] = sample(&row[2 * x]);
      if (y % 256 == 0) Report(progress, static_cast<double>(y) / height);
    }
  } else {
    ReadFloatsInto(path, land.heights.data(), land.Count(), progress);
    if constexpr (std::endian::native == std::endian::big)
      for (float& h : land.heights)
        h = std::bit_cast<float>(__builtin_bswap32(std::bit_cast<uint32_t>(h)));
  }
  return land;
}

int32_t EveryNth(int64_t width, int64_t height, int32_t longest) {
  const int64_t side = std::max(width, height);
  return static_cast<int32_t>(std::max<int64_t>(1, (side + longest - 1) / std::max(longest, 1)));
}

Landscape ReadRawEvery(const std::string& path, const RawOptions& raw, bool sixteenBit,
                       int32_t longest) {
  const auto [width, height] = RawGridSize(path, raw, sixteenBit, kMaxGridPoints - 1);
  const int32_t every = EveryNth(width, height, longest);
  Landscape land;
  land.width = static_cast<int32_t>((width + every - 1) / every);
  land.height = static_cast<int32_t>((height + every - 1) / every);
  Allocate(land, path);
  const RawSample sample = SampleOf(path, raw, sixteenBit, land);
  const FileForReading file(path);
  // The rows wanted, each whole (a row is one read), the cells wanted taken from it.
  const size_t bytes = sixteenBit ? 2 : 4;
  std::vector<uint8_t> row(static_cast<size_t>(width) * bytes);
  for (int32_t y = 0; y < land.height; ++y) {
    file.ReadAt(reinterpret_cast<char*>(row.data()), row.size(),
                static_cast<size_t>(y) * every * static_cast<size_t>(width) * bytes);
    for (int32_t x = 0; x < land.width; ++x)
      land.heights[static_cast<size_t>(y) * land.width + x] =
          sample(&row[static_cast<size_t>(x) * every * bytes]);
  }
  return land;
}

namespace {

// The header beside the temporary, named like it: it is put in place with the file.
void WriteHeader(FileReplacement& file, const Landscape& land, const SixteenBit& steps) {
  char text[512];
  std::snprintf(text, sizeof text,
                "ENVI\n%s\n"
                "samples = %d\nlines = %d\nbands = 1\nheader offset = 0\n"
                "file type = ENVI Standard\ndata type = 12\ninterleave = bsq\nbyte order = 0\n"
                "data gain values = {%.17g}\ndata offset values = {%.17g}\n",
                kHeaderDescription, land.width, land.height, steps.scale, steps.offset);
  file.WriteSideFile(".hdr", text);
}

}  // namespace

std::string RawHeaderProblem(const std::string& path) {
  const std::string header = HeaderPath(FollowLinks(path));
  std::error_code ec;
  if (!fs::exists(fs::symlink_status(header, ec))) return {};
  // Ours when it says so; any other (a BIL grid's, another program's) may describe
  // another file of the same name, whose data it would take with it.
  std::ifstream in(header);
  std::string line;
  bool ours = in && std::getline(in, line) && line.rfind("ENVI", 0) == 0;
  ours = ours && std::getline(in, line) && line == kHeaderDescription;
  if (ours) return {};
  return fs::path(header).filename().string() +
         " beside it was not written by a save of a .r16 file and may describe another "
         "file; it is not replaced (move it away, or save under another name)";
}

SaveReport WriteRaw(FileReplacement& file, const std::string& path, const Landscape& land,
                    bool sixteenBit, const ProgressFn& progress) {
  SaveReport report;
  report.georeferenceDropped = !land.geo.projection.empty() || land.geo.geoTransform;
  std::vector<uint8_t> row(static_cast<size_t>(land.width) * (sixteenBit ? 2 : 4));
  std::optional<SixteenBit> steps;
  if (sixteenBit) {
    const WrittenHeights survey = Survey(land);
    if (survey.needsNoData)
      throw Error(path,
                  "a .r16 file cannot mark NoData, and this landscape has cells "
                  "without a height; save it as .tif, .png or .r32");
    steps.emplace(survey, land.geo.scaleOffset);
    report.sixteenBitRange = std::pair{steps->offset, steps->offset + 65535 * steps->scale};
    report.mappingFile = ".hdr";
    if (const std::string problem = RawHeaderProblem(path); !problem.empty())
      throw Error(path, problem);
    WriteHeader(file, land, *steps);
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
    if (const int error = WriteAll(file.Descriptor(), row.data(), row.size()))
      throw std::runtime_error(std::string("cannot be written (") + std::strerror(error) + ")");
    if (y % 256 == 0) Report(progress, static_cast<double>(y) / land.height);
  }
  return report;
}

}  // namespace host::io_internal

namespace host {

std::optional<uint64_t> RawSamplesOfUnknownSize(const std::string& path, const RawOptions& raw) {
  const Format* format = FindFormat(path);
  if (!format || format->gdalDriver || raw.size) return std::nullopt;
  const bool sixteenBit = format->id == FormatId::kRaw16;
  if (sixteenBit && io_internal::ReadHeader(path).size) return std::nullopt;
  std::error_code ec;
  const uint64_t bytes = std::filesystem::file_size(path, ec);
  const uint64_t sampleSize = sixteenBit ? 2 : 4;
  if (ec || bytes == 0 || bytes % sampleSize != 0) return std::nullopt;  // reading says why
  const uint64_t samples = bytes / sampleSize;
  const auto side = static_cast<uint64_t>(std::llround(std::sqrt(static_cast<double>(samples))));
  if (side * side == samples) return std::nullopt;
  return samples;
}

std::pair<int64_t, int64_t> GuessGridSize(uint64_t samples) {
  // The divisor nearest the square root, from below: the grid closest to square.
  auto height = static_cast<uint64_t>(std::sqrt(static_cast<double>(samples)));
  while (height > 1 && samples % height != 0) --height;
  height = std::max<uint64_t>(height, 1);
  return {static_cast<int64_t>(samples / height), static_cast<int64_t>(height)};
}

}  // namespace host
