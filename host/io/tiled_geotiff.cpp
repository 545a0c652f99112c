#include "host/io/tiled_geotiff.h"

#include <cpl_string.h>
#include <cpl_vsi.h>
#include <fcntl.h>
#include <gdal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <bit>
#include <cerrno>
#include <cstring>
#include <functional>
#include <stdexcept>

#include "host/common/error.h"
#include "host/common/replace_file.h"
#include "host/io/formats.h"
#include "host/io/gdal_internal.h"
#include "host/io/georeference_internal.h"

namespace host {
namespace {

using io_internal::Dataset;

constexpr uint16_t kTileOffsets = 324;
constexpr uint16_t kTileByteCounts = 325;

// Where a TIFF keeps the offsets and byte counts of its tiles.
struct BlockTable {
  bool swap = false;
  uint64_t blocks = 0;
  uint64_t offsetsAt = 0, countsAt = 0;
  int offsetSize = 0, countSize = 0;
};

using ReadAt = std::function<void(uint64_t at, void* out, size_t size)>;

uint64_t Value(const ReadAt& read, uint64_t at, int size, bool swap) {
  uint8_t bytes[8] = {};
  read(at, bytes, static_cast<size_t>(size));
  if (swap) std::reverse(bytes, bytes + size);
  uint64_t value = 0;
  for (int i = size - 1; i >= 0; --i) value = value << 8 | bytes[i];
  return value;
}

// The first directory's tile arrays, classic TIFF or BigTIFF, in either byte order.
BlockTable ReadBlockTable(const ReadAt& read) {
  uint8_t header[4];
  read(0, header, 4);
  BlockTable table;
  const bool little = header[0] == 'I' && header[1] == 'I';
  if (!little && !(header[0] == 'M' && header[1] == 'M')) throw std::runtime_error("not a TIFF");
  table.swap = little != (std::endian::native == std::endian::little);
  const uint64_t version = Value(read, 2, 2, table.swap);
  const bool big = version == 43;
  if (!big && version != 42) throw std::runtime_error("not a TIFF");
  const uint64_t directory = big ? Value(read, 8, 8, table.swap) : Value(read, 4, 4, table.swap);
  const uint64_t entries = Value(read, directory, big ? 8 : 2, table.swap);
  const uint64_t entrySize = big ? 20 : 12, first = directory + (big ? 8 : 2);
  for (uint64_t e = 0; e < entries; ++e) {
    const uint64_t at = first + e * entrySize;
    const auto tag = static_cast<uint16_t>(Value(read, at, 2, table.swap));
    if (tag != kTileOffsets && tag != kTileByteCounts) continue;
    const uint64_t type = Value(read, at + 2, 2, table.swap);
    const int size = type == 3 ? 2 : type == 4 ? 4 : type == 16 ? 8 : 0;
    if (size == 0) throw std::runtime_error("tile arrays of an unknown type");
    const uint64_t count = Value(read, at + 4, big ? 8 : 4, table.swap);
    const uint64_t field = at + (big ? 12 : 8);
    const uint64_t inlineRoom = big ? 8 : 4;
    const uint64_t values =
        count * size <= inlineRoom ? field : Value(read, field, big ? 8 : 4, table.swap);
    table.blocks = count;
    if (tag == kTileOffsets) {
      table.offsetsAt = values;
      table.offsetSize = size;
    } else {
      table.countsAt = values;
      table.countSize = size;
    }
  }
  if (table.offsetSize == 0 || table.countSize == 0) throw std::runtime_error("not a tiled TIFF");
  return table;
}

// The save's GeoTIFF options for this layout of blocks.
CPLStringList Options(const BlockFormat& format) {
  CPLStringList list = io_internal::GeoTiffOptions(format.options, format.storage);
  list.SetNameValue("TILED", "YES");
  list.SetNameValue("BLOCKXSIZE", std::to_string(format.block).c_str());
  list.SetNameValue("BLOCKYSIZE", std::to_string(format.block).c_str());
  if (format.threads > 0) list.SetNameValue("NUM_THREADS", std::to_string(format.threads).c_str());
  return list;
}

GDALDriverH GeoTiffDriver() {
  io_internal::InitGdal();
  return GDALGetDriverByName(FormatOf(FormatId::kGeoTiff).gdalDriver);
}

}  // namespace

WholeWindow StoreSteps(const float* heights, size_t count, const WholeSteps& steps, double noData,
                       float* out) {
  WholeWindow window;
  window.used.assign(static_cast<size_t>(steps.highest - steps.lowest) + 1, false);
  for (size_t i = 0; i < count; ++i) {
    if (!std::isfinite(heights[i])) {
      out[i] = static_cast<float>(noData);
      continue;
    }
    const double v = steps.Step(heights[i]);
    window.low = std::min(window.low, v);
    window.high = std::max(window.high, v);
    if (v >= steps.lowest && v <= steps.highest)
      window.used[static_cast<size_t>(v - steps.lowest)] = true;
    out[i] = static_cast<float>(std::clamp(v, steps.lowest, steps.highest));
  }
  return window;
}

std::vector<std::string> CompressBlocks(const float* heights, int32_t w, int32_t h,
                                        const BlockFormat& format) {
  if (w <= 0 || h <= 0 || format.block <= 0 || format.block % 16 != 0)
    throw std::invalid_argument("blocks of a multiple of 16 cells over a window of one or more");
  static std::atomic<uint64_t> made{0};
  const std::string name = "/vsimem/rovandel-blocks-" + std::to_string(::getpid()) + "-" +
                           std::to_string(made++) + ".tif";
  const io_internal::GdalFailures failures;
  {
    Dataset part(GDALCreate(GeoTiffDriver(), name.c_str(), w, h, 1,
                            io_internal::GdalTypeOf(format.storage), Options(format).List()));
    if (!part) throw std::runtime_error("cannot compress (" + failures.Reason("GeoTIFF") + ")");
    if (GDALRasterIO(GDALGetRasterBand(part.get(), 1), GF_Write, 0, 0, w, h,
                     const_cast<float*>(heights), w, h, GDT_Float32, 0, 0) != CE_None)
      throw std::runtime_error("cannot compress (" + failures.Reason("write error") + ")");
  }
  vsi_l_offset length = 0;
  GByte* file = VSIGetMemFileBuffer(name.c_str(), &length, TRUE);
  const std::unique_ptr<GByte, decltype(&VSIFree)> owned(file, &VSIFree);
  if (!file || failures.Any())
    throw std::runtime_error("cannot compress (" + failures.Reason("GeoTIFF") + ")");
  const ReadAt read = [&](uint64_t at, void* out, size_t size) {
    if (at > length || size > length - at) throw std::runtime_error("a cut TIFF");
    std::memcpy(out, file + at, size);
  };
  const BlockTable table = ReadBlockTable(read);
  std::vector<std::string> blocks(table.blocks);
  for (uint64_t b = 0; b < table.blocks; ++b) {
    const uint64_t at =
        Value(read, table.offsetsAt + b * table.offsetSize, table.offsetSize, table.swap);
    const uint64_t size =
        Value(read, table.countsAt + b * table.countSize, table.countSize, table.swap);
    blocks[b].resize(size);
    read(at, blocks[b].data(), size);
  }
  return blocks;
}

BlockAssembly::BlockAssembly(const std::string& path, int32_t width, int32_t height,
                             const Georeference& geo, std::optional<double> noData,
                             const BlockFormat& format)
    : path_(path) {
  const io_internal::GdalFailures failures;
  {
    CPLStringList options = Options(format);
    options.SetNameValue("SPARSE_OK", "TRUE");  // no block written: each comes later
    Dataset out(GDALCreate(GeoTiffDriver(), path.c_str(), width, height, 1,
                           io_internal::GdalTypeOf(format.storage), options.List()));
    if (!out) throw Error(path, "cannot be created (" + failures.Reason("GeoTIFF") + ")");
    Landscape described;
    described.geo = geo;
    io_internal::ApplyGeoreference(out.get(), described, noData);
    if (format.storage != Storage::kFloat32)
      io_internal::ApplySteps(GDALGetRasterBand(out.get(), 1), WholeSteps(format.storage, geo));
  }
  if (failures.Any()) throw Error(path, "cannot be written (" + failures.Reason("GeoTIFF") + ")");
  fd_ = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
  if (fd_ < 0) throw Error(path, std::strerror(errno));
  const ReadAt read = [this](uint64_t at, void* out, size_t size) {
    if (::pread(fd_, out, size, static_cast<off_t>(at)) != static_cast<ssize_t>(size))
      throw Error(path_, "cannot be read back");
  };
  try {
    const BlockTable table = ReadBlockTable(read);
    swap_ = table.swap;
    offsetsAt_ = table.offsetsAt;
    countsAt_ = table.countsAt;
    offsetSize_ = table.offsetSize;
    countSize_ = table.countSize;
    across_ = (width + format.block - 1) / format.block;
    down_ = (height + format.block - 1) / format.block;
    if (table.blocks != static_cast<uint64_t>(across_) * down_)
      throw std::runtime_error("an unexpected layout of blocks");
  } catch (const std::runtime_error& e) {
    ::close(fd_);
    throw Error(path, e.what());
  }
  struct stat st {};
  ::fstat(fd_, &st);
  end_ = static_cast<uint64_t>(st.st_size);
  done_.assign(static_cast<size_t>(across_) * down_, 0);
}

BlockAssembly::~BlockAssembly() {
  if (fd_ >= 0) ::close(fd_);
}

void BlockAssembly::WriteValue(uint64_t at, int size, uint64_t value) {
  if (size < 8 && value >> (8 * size) != 0)
    throw Error(path_, "is past what a classic TIFF can address (use --co BIGTIFF=YES)");
  uint8_t bytes[8];
  for (int i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * i));
  if (swap_) std::reverse(bytes, bytes + size);
  if (::pwrite(fd_, bytes, static_cast<size_t>(size), static_cast<off_t>(at)) != size)
    throw Error(path_, std::strerror(errno));
}

void BlockAssembly::Put(int32_t bx, int32_t by, std::string_view bytes) {
  if (bx < 0 || by < 0 || bx >= across_ || by >= down_)
    throw std::invalid_argument("no block " + std::to_string(bx) + ", " + std::to_string(by));
  const size_t index = static_cast<size_t>(by) * across_ + bx;
  const uint64_t at = end_;
  if (::lseek(fd_, static_cast<off_t>(at), SEEK_SET) < 0) throw Error(path_, std::strerror(errno));
  if (const int error = WriteAll(fd_, bytes.data(), bytes.size()); error != 0)
    throw Error(path_, std::strerror(error));
  end_ += bytes.size();
  WriteValue(offsetsAt_ + index * offsetSize_, offsetSize_, at);
  WriteValue(countsAt_ + index * countSize_, countSize_, bytes.size());
  placed_ += done_[index] ? 0 : 1;
  done_[index] = 1;
}

void SetNoData(const std::string& path, double noData) {
  const io_internal::GdalFailures failures;
  const char* const drivers[] = {FormatOf(FormatId::kGeoTiff).gdalDriver, nullptr};
  GeoTiffDriver();
  {
    Dataset out(
        GDALOpenEx(path.c_str(), GDAL_OF_RASTER | GDAL_OF_UPDATE, drivers, nullptr, nullptr));
    if (!out) throw Error(path, "cannot be opened (" + failures.Reason("GeoTIFF") + ")");
    GDALSetRasterNoDataValue(GDALGetRasterBand(out.get(), 1), noData);
  }
  if (failures.Any()) throw Error(path, "cannot be written (" + failures.Reason("GeoTIFF") + ")");
}

}  // namespace host
