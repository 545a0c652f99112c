// The heightmap formats the host knows: one row each, with the extensions that name it
// and what a file of it can hold. Reading, writing, the command line's checks and the
// window's file dialogs all read this table.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <utility>

namespace host {

enum class FormatId { kGeoTiff, kAsciiGrid, kPng16, kHgt, kRaw16, kRaw32 };

struct Format {
  FormatId id;
  const char* name;                       // as file dialogs show it
  std::array<const char*, 2> extensions;  // lower case, the first is the usual one
  const char* gdalDriver;                 // nullptr: headerless RAW, read and written here
  bool writable;                          // the host writes it (else it only reads it)
  bool holdsCrs;                          // coordinate system and geotransform
  bool holdsNoData;                       // cells can be marked NoData
  int bits;                               // bits of a written height
};

inline constexpr std::array<Format, 6> kFormats{{
    {FormatId::kGeoTiff, "GeoTIFF float32", {".tif", ".tiff"}, "GTiff", true, true, true, 32},
    {FormatId::kAsciiGrid, "ASCII grid", {".asc", nullptr}, "AAIGrid", true, true, true, 32},
    {FormatId::kPng16, "16-bit PNG", {".png", nullptr}, "PNG", true, false, true, 16},
    {FormatId::kHgt, "SRTM HGT", {".hgt", nullptr}, "SRTMHGT", false, true, true, 16},
    {FormatId::kRaw16, "RAW 16-bit", {".r16", ".raw"}, nullptr, true, false, false, 16},
    {FormatId::kRaw32, "RAW float32", {".r32", nullptr}, nullptr, true, false, true, 32},
}};

// GeoTIFF creation options every save starts from; --co overrides or adds to them.
// Tiles, DEFLATE at a low level with the floating-point predictor, every core
// compressing: what keeps terrain saves fast and small.
inline constexpr std::array<std::pair<const char*, const char*>, 6> kGeoTiffDefaults{{
    {"TILED", "YES"},
    {"COMPRESS", "DEFLATE"},
    {"ZLEVEL", "1"},
    {"PREDICTOR", "3"},
    {"NUM_THREADS", "ALL_CPUS"},
    {"BIGTIFF", "IF_SAFER"},
}};

// The lower-case extension of `path`, with its dot ("" when none).
std::string Extension(std::string_view path);
// The table's row of a format.
const Format& FormatOf(FormatId id);
// The table's row for `path`'s extension; null when no row names it.
const Format* FindFormat(std::string_view path);
// Whether the host writes the format of `path`.
bool IsHeightmapFormat(std::string_view path);
// The usual extensions of the formats written: ".tif, .asc, .png, .r16 or .r32".
std::string WritableExtensions();
// "TILED=YES, COMPRESS=DEFLATE, ...".
std::string GeoTiffDefaultsText();

}  // namespace host
