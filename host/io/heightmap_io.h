// Reading and writing heightmap files: any single-band raster GDAL reads, and
// headerless RAW grids (.r16 unsigned 16-bit, .r32 float32, little-endian).
#pragma once

#include <cmath>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "host/common/error.h"
#include "host/common/progress.h"
#include "host/io/formats.h"
#include "host/model/landscape.h"

namespace host {

// How to read an input that does not say everything itself.
struct RawOptions {
  std::optional<std::pair<int32_t, int32_t>> size;  // width x height; square when unset
  std::optional<std::pair<double, double>> range;   // heights of r16 0 and 65535
  int band = 0;  // of a raster with several bands, this one (from 1); 0: the only one
};

// Reads a heightmap with its georeferencing. Cells the file marks as NoData (its NoData
// value, its mask, NaN) are remembered and filled with heights interpolated from their
// valid surroundings; the recorded range is that of the valid cells. Refuses grids of
// more than maxPoints points (never more than kMaxGridPoints - 1) before any memory is
// set aside for them, and a grid without a single valid height.
Landscape ReadHeightmap(const std::string& path, const RawOptions& raw = {},
                        int64_t maxPoints = kMaxGridPoints - 1, const ProgressFn& progress = {});

// A stored value's height by its band's scale and offset: the rule every reader of
// scaled values uses.
inline float StoredHeight(float stored, double scale, double offset) {
  return static_cast<float>(stored * scale + offset);
}

// One band of a raster GDAL reads, as the host reads its heights, a window at a time: for
// grids too large to hold at once. The band's scale and offset are applied and every void
// (its NoData value, its mask, NaN) is NaN. Refuses what ReadHeightmap refuses of the
// file itself (no such file, a FIFO, an unknown format, several bands without a choice,
// a headerless RAW grid). Throws Error naming the file.
class RasterHeights {
 public:
  RasterHeights(const std::string& path, int band = 0);  // band from 1; 0: the only one
  ~RasterHeights();
  RasterHeights(RasterHeights&&) noexcept;
  int32_t Width() const { return width_; }
  int32_t Height() const { return height_; }
  // What the file carries besides its heights, as ReadHeightmap gives it.
  const Georeference& Geo() const { return geo_; }
  // The heights of the window of w x h cells from column x0, row y0, row by row into out;
  // or, given outW x outH, that many cells spread over the window (the nearest cell to
  // each, from the file's overviews where it has them).
  void Read(int32_t x0, int32_t y0, int32_t w, int32_t h, float* out,
            const ProgressFn& progress = {}, int32_t outW = 0, int32_t outH = 0) const;
  // Whether a few cells spread over the grid are read at a small part of the cost of
  // all of them: the file has overviews, or is stored uncompressed in a format read in
  // place.
  bool CheapToSample() const;

 private:
  struct Band;
  std::string path_;
  std::unique_ptr<Band> band_;
  int32_t width_ = 0, height_ = 0;
  Georeference geo_;
};

// How a GeoTIFF stores its heights: as they are, or rounded to whole units (of the
// opened file's scale, when it had one).
enum class Storage { kFloat32, kInt16, kUInt16 };

// A GeoTIFF of whole numbers (kInt16, kUInt16): the step each height is rounded to (the
// opened file's scale and offset when it had them, else one unit from 0) and the values
// the type holds. The one rule of a save and of anything that writes such a file by parts.
struct WholeSteps {
  WholeSteps(Storage storage, const Georeference& geo);
  Storage storage;
  double scale = 1.0, offset = 0.0;  // height = value * scale + offset
  double lowest, highest;            // the type's values
  const char* TypeName() const { return storage == Storage::kInt16 ? "Int16" : "UInt16"; }
  double Step(double height) const { return std::round((height - offset) / scale); }
  // Throws std::runtime_error, saying why, when steps low..high do not all fit the type.
  void CheckFits(double low, double high) const;
  // The NoData value: `own` when it is a value of the type that no height uses, else the
  // first free one of the type's extremes and the values next to them. `used` holds a
  // flag per value of the type, from `lowest`. Throws when every value is used.
  double FreeValue(const std::vector<bool>& used, std::optional<double> own) const;
};

struct WriteOptions {
  std::vector<std::string> creationOptions;  // GeoTIFF NAME=VALUE, over the defaults
  Storage storage = Storage::kFloat32;       // GeoTIFF only
  ProgressFn progress;                       // told how far the write has come
};

// What a save did that the user needs to know to read the file back.
struct SaveReport {
  // The heights a 16-bit file's steps 0 (1 when step 0 is NoData) and 65535 stand for.
  std::optional<std::pair<double, double>> sixteenBitRange;
  // The side file that says so to GIS programs ("map.png.aux.xml", "map.hdr").
  std::string mappingFile;
  // The file's NoData value and the one written instead, because a valid height
  // equalled the file's: a height is never written as a void.
  std::optional<std::pair<double, double>> noDataChanged;
  // The landscape's coordinate system or geotransform, which the format (headerless RAW)
  // has no place for, was not written.
  bool georeferenceDropped = false;
};

// A save written in full to a temporary beside its target, not yet in place: a run that
// writes several files commits them only once every one is complete. The temporary is
// removed unless committed.
class PendingSave {
 public:
  // The format follows the extension: .tif/.tiff GeoTIFF float32 and .asc ASCII grid
  // with the georeferencing; .png 16-bit with its scale and offset beside it in a
  // .aux.xml; .r16 with an ENVI header beside it (refused when a cell is NoData or not
  // finite); .r32 (NoData written as NaN). A 16-bit file keeps the opened file's
  // mapping while the heights fit it, else spans the finite heights of the valid cells.
  // Every write and GDAL's errors from all its threads are checked. Throws Error naming
  // `path`.
  PendingSave(const std::string& path, const Landscape& land, const WriteOptions& options = {});
  ~PendingSave();
  PendingSave(PendingSave&&) noexcept;
  const SaveReport& Report() const { return report_; }
  // Puts the file (and its side files) in place; see FileReplacement.
  void Commit();

 private:
  std::unique_ptr<class FileReplacement> file_;
  SaveReport report_;
};

// Why a save to `path` would take another file's data with it, or "": a .r16 save's
// header ("map.hdr") that it did not write may describe another file, and is not
// replaced. Said before any work; the save itself refuses too.
std::string SaveSideFilesProblem(const std::string& path);

// Whether a float32 file keeps `value` as its NoData value exactly (NaN it does). A save
// keeps the file's own value when it does and no valid height equals it; else a float32
// GeoTIFF's NoData is NaN.
bool FloatHoldsNoData(double value);

// The heights as a GeoTIFF of `storage` holds them: each valid height rounded to a whole
// step of the file's scale (of one unit when it has none); none changed for Float32.
void RoundToStoredSteps(Landscape& land, Storage storage);

// Writes and commits at once.
SaveReport WriteHeightmap(const std::string& path, const Landscape& land,
                          const WriteOptions& options = {});

// How many bands a raster GDAL opens has; nullopt when it cannot be opened (reading it
// says why) or is a headerless RAW grid.
std::optional<int> RasterBandCount(const std::string& path);

// The kinds of raster the host reads beyond its formats table (Erdas Imagine, ESRI .bil,
// Surfer grids, XYZ, ...): GDAL's name for each and its extensions ("img"), from the
// drivers the host keeps, for file dialogs.
struct RasterKind {
  std::string name;
  std::vector<std::string> extensions;
};
std::vector<RasterKind> OtherReadableKinds();

// A quick look at a heightmap while it is read whole: every n-th cell across and down, n
// the smallest that keeps the longer side within `longest`, read with the rules
// ReadHeightmap reads by (NoData, scale and offset, the band), its geotransform's cells
// as large as the file's cells each stands for. None when the file could
// not give it at a small part of the cost of a whole read (a compressed or text raster
// without overviews). Throws Error as ReadHeightmap does.
std::optional<Landscape> ReadQuickLook(const std::string& path, const RawOptions& raw,
                                       int32_t longest);

// The grid size of a heightmap file, from its header (or length and --size) alone.
std::pair<int32_t, int32_t> GridSizeOf(const std::string& path, const RawOptions& raw = {});

// A selection mask: any single-band raster of the landscape's size. Weights follow the
// band's data type: 8-bit 0..255, other integers 0..their largest value, floats 0..1
// (values outside are clamped and counted); NoData cells weigh 0.
struct Weights {
  ZeroedWeights values;
  size_t clamped = 0;  // float values outside 0..1
};
Weights ReadWeights(const std::string& path, int32_t width, int32_t height);

// Empty when GDAL's GeoTIFF writer takes these NAME=VALUE options (a small trial write
// with them succeeds); else what is wrong.
std::string CheckCreationOptions(const std::vector<std::string>& options);

// Lets GDAL reach the network (/vsicurl/ and the like, in a path or inside a VRT).
// Without it, no file the host opens makes a network request. Call before any reading.
void AllowNetworkAccess();

// A headerless RAW grid whose size the file cannot tell (no size given, no header that
// says it, not square): its number of samples, so that the user can be asked; nullopt
// for any other file.
std::optional<uint64_t> RawSamplesOfUnknownSize(const std::string& path, const RawOptions& raw);
// The grid of `samples` points closest to square, the wider side first.
std::pair<int64_t, int64_t> GuessGridSize(uint64_t samples);

// What a coordinate system is called ("WGS 84 / UTM zone 32N") and the unit of its
// horizontal axes ("metre", "degree"); empty for an empty or unreadable WKT.
struct CrsSummary {
  std::string name;
  std::string unit;
};
CrsSummary SummariseCrs(const std::string& wkt);

// The GDAL release the host reads and writes with ("3.6.2").
std::string GdalRelease();

// Whether `path` names a network location (/vsicurl/, http://, ...).
bool IsNetworkPath(const std::string& path);

}  // namespace host
