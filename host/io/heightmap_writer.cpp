#include <cpl_conv.h>
#include <cpl_error.h>
#include <cpl_string.h>
#include <cpl_vsi.h>
#include <gdal.h>
#include <sys/stat.h>

#include <cmath>
#include <filesystem>
#include <stdexcept>
#include <vector>

#include "base/parallel_copy.h"
#include "host/common/error.h"
#include "host/common/replace_file.h"
#include "host/io/formats.h"
#include "host/io/gdal_internal.h"
#include "host/io/georeference_internal.h"
#include "host/io/heightmap_io.h"
#include "host/io/memory_file_internal.h"
#include "host/io/writing_internal.h"
#include "host/io/written_heights_internal.h"

namespace host {

using namespace io_internal;

namespace {

namespace fs = std::filesystem;

// Rows written to GDAL at a time, through a buffer where NoData cells get their value.
constexpr int32_t kRowsPerBlock = 256;

// Writes the heights (NoData cells as `noData`) into band 1, a block of rows at a time.
CPLErr WriteFloatRows(GDALDatasetH dataset, const Landscape& land, float noData,
                      const ProgressFn& progress) {
  GDALRasterBandH band = GDALGetRasterBand(dataset, 1);
  std::vector<float> block(static_cast<size_t>(land.width) * kRowsPerBlock);
  for (int32_t y0 = 0; y0 < land.height; y0 += kRowsPerBlock) {
    const int32_t rows = std::min(kRowsPerBlock, land.height - y0);
    for (int32_t y = 0; y < rows; ++y)
      RowAsWritten(land, y0 + y, noData, block.data() + static_cast<size_t>(y) * land.width);
    if (GDALRasterIO(band, GF_Write, 0, y0, land.width, rows, block.data(), land.width, rows,
                     GDT_Float32, 0, 0) != CE_None)
      return CE_Failure;
    // Closing the file writes what is still cached: leave room for it.
    Report(progress, 0.9 * (y0 + rows) / land.height);
  }
  return CE_None;
}

// The opened file's overviews, built again from the heights just written (averages,
// NoData left out): a GIS that drew the input quickly draws the output as quickly.
CPLErr RebuildOverviews(GDALDatasetH dataset, const Landscape& land) {
  if (land.geo.overviews.empty()) return CE_None;
  std::vector<int> factors = land.geo.overviews;
  return GDALBuildOverviews(dataset, "AVERAGE", static_cast<int>(factors.size()), factors.data(), 0,
                            nullptr, nullptr, nullptr);
}

// Whether GDAL's writing failed, in any of its threads, or left an empty file.
void CheckWritten(const GdalFailures& failures, bool wrote, const FileReplacement& file,
                  const char* what) {
  struct stat st {};
  if (!wrote || failures.Any())
    throw std::runtime_error("cannot be written (" + failures.Reason(what) + ")");
  if (::fstat(file.Descriptor(), &st) != 0 || st.st_size == 0)
    throw std::runtime_error("cannot be written (nothing reached the file)");
}

// A GeoTIFF of whole numbers: each height rounded to a whole step (WholeSteps), all of
// them checked to fit the type before the file is made. NoData takes the file's value
// when no height uses it, else the first free one of the type's extremes and the values
// next to them.
void WriteWholeGeoTiff(FileReplacement& file, const Landscape& land, const WriteOptions& options,
                       SaveReport& report) {
  const GdalFailures failures;
  const WholeSteps steps(options.storage, land.geo);
  auto stored = [&](size_t i) { return steps.Step(land.heights[i]); };
  std::vector<bool> used(65536, false);
  bool needsNoData = land.geo.noDataValue.has_value();
  double low = steps.highest, high = steps.lowest;
  for (size_t i = 0; i < land.Count(); ++i) {
    if (land.IsNoData(i) || !std::isfinite(land.heights[i])) {
      needsNoData = true;
      continue;
    }
    const double v = stored(i);
    low = std::min(low, v);
    high = std::max(high, v);
    if (v >= steps.lowest && v <= steps.highest) used[static_cast<size_t>(v - steps.lowest)] = true;
  }
  steps.CheckFits(low, high);
  std::optional<double> noData;
  if (needsNoData) {
    noData = steps.FreeValue(used, land.geo.noDataValue);
    if (land.geo.noDataValue && *land.geo.noDataValue != *noData)
      report.noDataChanged = std::pair{*land.geo.noDataValue, *noData};
  }
  if (!land.geo.geoTransform) file.DescribedBy({".tfw", ".tifw", ".wld"});
  const CPLStringList creation = GeoTiffOptions(options.creationOptions, options.storage);
  Dataset out(GDALCreate(GDALGetDriverByName(FormatOf(FormatId::kGeoTiff).gdalDriver),
                         file.TemporaryPath().c_str(), land.width, land.height, 1,
                         GdalTypeOf(options.storage), creation.List()));
  if (!out) throw std::runtime_error("cannot be created (" + failures.Reason("GeoTIFF") + ")");
  ApplyGeoreference(out.get(), land, noData);
  GDALRasterBandH band = GDALGetRasterBand(out.get(), 1);
  ApplySteps(band, steps);
  // Whole numbers within the type's range, as floats: GDAL stores them exactly.
  std::vector<float> block(static_cast<size_t>(land.width) * kRowsPerBlock);
  CPLErr written = CE_None;
  for (int32_t y0 = 0; y0 < land.height && written == CE_None; y0 += kRowsPerBlock) {
    const int32_t rows = std::min(kRowsPerBlock, land.height - y0);
    const size_t first = static_cast<size_t>(y0) * land.width;
    for (size_t k = 0; k < static_cast<size_t>(rows) * land.width; ++k) {
      const size_t i = first + k;
      const bool valid = !land.IsNoData(i) && std::isfinite(land.heights[i]);
      block[k] = static_cast<float>(valid ? stored(i) : noData.value_or(0.0));
    }
    written = GDALRasterIO(band, GF_Write, 0, y0, land.width, rows, block.data(), land.width, rows,
                           GDT_Float32, 0, 0);
    Report(options.progress, 0.9 * (y0 + rows) / land.height);
  }
  out.reset();
  CheckWritten(failures, written == CE_None, file, "write error");
}

void WriteGeoTiff(FileReplacement& file, const Landscape& land, const WriteOptions& options,
                  SaveReport& report) {
  if (options.storage != Storage::kFloat32) return WriteWholeGeoTiff(file, land, options, report);
  const GdalFailures failures;
  const NoDataChoice noData = ChooseNoData(land, Survey(land), true);
  report.noDataChanged = noData.changed;
  // Without a geotransform in the new file, an old world file would still place it.
  if (!land.geo.geoTransform) file.DescribedBy({".tfw", ".tifw", ".wld"});
  CPLStringList creation = GeoTiffOptions(options.creationOptions);
  Dataset out(GDALCreate(GDALGetDriverByName(FormatOf(FormatId::kGeoTiff).gdalDriver),
                         file.TemporaryPath().c_str(), land.width, land.height, 1, GDT_Float32,
                         creation.List()));
  if (!out) throw std::runtime_error("cannot be created (" + failures.Reason("GeoTIFF") + ")");
  ApplyGeoreference(out.get(), land, noData.value);
  CPLErr written = WriteFloatRows(out.get(), land, static_cast<float>(noData.value.value_or(0.0)),
                                  options.progress);
  if (written == CE_None) written = RebuildOverviews(out.get(), land);
  out.reset();  // closing writes what is still cached
  CheckWritten(failures, written == CE_None, file, "write error");
}

// Formats GDAL writes from a whole copy in memory, with the georeferencing they hold;
// their side files (an ASCII grid's .prj) are replaced along with the file.
void WriteByCopy(FileReplacement& file, const Landscape& land, const char* driverName,
                 const ProgressFn& progress, SaveReport& report) {
  const GdalFailures failures;
  const NoDataChoice noData = ChooseNoData(land, Survey(land), false);
  report.noDataChanged = noData.changed;
  // What the format cannot hold (the band's description and unit, the metadata) goes to
  // GDAL's .aux.xml beside it, where GIS programs read it.
  const std::string aux = fs::path(file.TemporaryPath()).extension().string() + ".aux.xml";
  file.DescribedBy({".prj", aux});
  std::vector<float> copy(land.Count());
  for (int32_t y = 0; y < land.height; ++y)
    RowAsWritten(land, y, static_cast<float>(noData.value.value_or(0.0)),
                 copy.data() + static_cast<size_t>(y) * land.width);
  const Dataset memory = WrapInMemory(copy.data(), land.width, land.height, GDT_Float32);
  ApplyGeoreference(memory.get(), land, noData.value);
  const MemoryFile written(file);
  CPLSetThreadLocalConfigOption("GDAL_PAM_ENABLED", "YES");
  Dataset out(GDALCreateCopy(GDALGetDriverByName(driverName), written.Name().c_str(), memory.get(),
                             FALSE, nullptr, &GdalProgress, const_cast<ProgressFn*>(&progress)));
  const bool wrote = out != nullptr;
  out.reset();
  CPLSetThreadLocalConfigOption("GDAL_PAM_ENABLED", nullptr);
  if (!wrote || failures.Any())
    throw std::runtime_error("cannot be written (" + failures.Reason(driverName) + ")");
  written.CopyTo(file, {".prj", aux});
  CheckWritten(failures, wrote, file, driverName);
}

SaveReport WritePng16(FileReplacement& file, const Landscape& land, const ProgressFn& progress) {
  const GdalFailures failures;
  const WrittenHeights survey = Survey(land);
  const SixteenBit steps(survey, land.geo.scaleOffset);
  std::vector<uint16_t> values(land.Count());
  for (size_t i = 0; i < land.Count(); ++i) values[i] = steps.Value(land, i);
  const Dataset memory = WrapInMemory(values.data(), land.width, land.height, GDT_UInt16);
  // A PNG holds no coordinate system. It, the geotransform, the scale and the offset go
  // where GIS programs read them, the .aux.xml beside it; its text chunks carry the
  // scale and offset too.
  ApplyGeoreference(memory.get(), land, std::nullopt);
  GDALRasterBandH band = GDALGetRasterBand(memory.get(), 1);
  if (steps.first == 1) GDALSetRasterNoDataValue(band, 0.0);
  // Steps that are the heights themselves need no mapping beside them.
  const bool identity = steps.scale == 1.0 && steps.offset == 0.0;
  if (!identity) {
    GDALSetRasterScale(band, steps.scale);
    GDALSetRasterOffset(band, steps.offset);
    const std::string s = CPLSPrintf("%.17g", steps.scale);
    const std::string o = CPLSPrintf("%.17g", steps.offset);
    GDALSetMetadataItem(memory.get(), kScaleKey, s.c_str(), nullptr);
    GDALSetMetadataItem(memory.get(), kOffsetKey, o.c_str(), nullptr);
  }
  const std::string aux = fs::path(file.TemporaryPath()).extension().string() + ".aux.xml";
  file.DescribedBy({aux});
  const char* options[] = {"WRITE_METADATA_AS_TEXT=YES", nullptr};
  const MemoryFile written(file);
  CPLSetThreadLocalConfigOption("GDAL_PAM_ENABLED", "YES");
  Dataset out(GDALCreateCopy(GDALGetDriverByName(FormatOf(FormatId::kPng16).gdalDriver),
                             written.Name().c_str(), memory.get(), FALSE,
                             const_cast<char**>(options), &GdalProgress,
                             const_cast<ProgressFn*>(&progress)));
  const bool wrote = out != nullptr;
  out.reset();
  CPLSetThreadLocalConfigOption("GDAL_PAM_ENABLED", nullptr);
  if (!wrote || failures.Any())
    throw std::runtime_error("cannot be written (" + failures.Reason("PNG") + ")");
  written.CopyTo(file, {aux});
  CheckWritten(failures, wrote, file, "PNG");
  SaveReport report;
  if (!identity) {
    report.sixteenBitRange =
        std::pair{steps.offset + steps.first * steps.scale, steps.offset + 65535 * steps.scale};
    report.mappingFile = aux;
  }
  return report;
}

}  // namespace

std::string CheckCreationOptions(const std::vector<std::string>& options) {
  InitGdal();
  CPLStringList list;
  WriteOptions write;
  for (const std::string& item : options) {
    char* key = nullptr;
    const char* value = CPLParseNameValue(item.c_str(), &key);
    const bool ok = key && *key && value;
    CPLFree(key);
    if (!ok) return "'" + item + "' is not NAME=VALUE";
    list.AddString(item.c_str());
    write.creationOptions.push_back(item);
  }
  // GDAL reports what it refuses through the error handler; catch its words.
  struct Collected {
    std::string text;
  } collected;
  CPLPushErrorHandlerEx(
      [](CPLErr level, CPLErrorNum, const char* message) {
        auto* c = static_cast<Collected*>(CPLGetErrorHandlerUserData());
        if (c->text.empty() && level >= CE_Warning) c->text = message;
      },
      &collected);
  GDALDriverH driver = GDALGetDriverByName(FormatOf(FormatId::kGeoTiff).gdalDriver);
  bool valid = GDALValidateCreationOptions(driver, list.List());
  if (valid) {
    // Some values only the writing itself refuses (a block size GDAL cannot tile with,
    // a compression that takes no floats), some in its worker threads: try them on a
    // small grid in memory.
    const GdalFailures failures;
    const char* trial = "/vsimem/kelvamor-options/trial.tif";
    constexpr int kSide = 64;
    std::vector<float> zeros(kSide * kSide);
    const CPLStringList creation = GeoTiffOptions(write.creationOptions);
    Dataset out(GDALCreate(driver, trial, kSide, kSide, 1, GDT_Float32, creation.List()));
    valid = out && GDALRasterIO(GDALGetRasterBand(out.get(), 1), GF_Write, 0, 0, kSide, kSide,
                                zeros.data(), kSide, kSide, GDT_Float32, 0, 0) == CE_None;
    out.reset();
    valid = valid && !failures.Any();
    if (!valid && collected.text.empty()) collected.text = failures.Reason("");
    VSIRmdirRecursive("/vsimem/kelvamor-options");
  }
  CPLPopErrorHandler();
  if (valid) return {};
  // GDAL names the trial file; the user never named it.
  for (size_t at;
       (at = collected.text.find("/vsimem/kelvamor-options/trial.tif")) != std::string::npos;)
    collected.text.replace(at, 34, "the GeoTIFF");
  return collected.text.empty() ? "not a GeoTIFF creation option" : collected.text;
}

PendingSave::PendingSave(const std::string& path, const Landscape& land,
                         const WriteOptions& options) {
  InitGdal();
  CPLErrorReset();
  const Format* format = FindFormat(path);
  if (!format || !format->writable)
    throw Error(path,
                "unknown format '" + Extension(path) + "' (use " + WritableExtensions() + ")");
  file_ = std::make_unique<FileReplacement>(path);
  FileReplacement& file = *file_;
  try {
    switch (format->id) {
      case FormatId::kGeoTiff:
        WriteGeoTiff(file, land, options, report_);
        break;
      case FormatId::kAsciiGrid:
        // Its header places the grid by a corner and the cells' sides, north up; GDAL
        // would write a rotated grid's there, quietly at another place.
        if (const auto& t = land.geo.geoTransform; t && ((*t)[2] != 0.0 || (*t)[4] != 0.0))
          throw Error(path,
                      "an ASCII grid cannot hold the rotation of this landscape's "
                      "geotransform; save it as .tif or .png");
        WriteByCopy(file, land, format->gdalDriver, options.progress, report_);
        break;
      case FormatId::kPng16:
        report_ = WritePng16(file, land, options.progress);
        break;
      case FormatId::kRaw16:
      case FormatId::kRaw32:
        report_ = WriteRaw(file, path, land, format->id == FormatId::kRaw16, options.progress);
        break;
      case FormatId::kHgt:
        break;  // not writable: refused above
    }
  } catch (const Error&) {
    throw;
  } catch (const std::runtime_error& e) {
    // The writers name no file: the user knows the target, not the temporary one.
    throw Error(path, e.what());
  } catch (const std::bad_alloc&) {
    throw Error(path, "not enough memory to write it");
  }
  // Side files are named after the target.
  if (!report_.mappingFile.empty())
    report_.mappingFile =
        (fs::path(path).parent_path() / fs::path(path).stem()).string() + report_.mappingFile;
  io_internal::Report(options.progress, 1.0);
}

PendingSave::~PendingSave() = default;
PendingSave::PendingSave(PendingSave&&) noexcept = default;

std::string SaveSideFilesProblem(const std::string& path) {
  const Format* format = FindFormat(path);
  if (!format || format->id != FormatId::kRaw16) return {};
  try {
    return RawHeaderProblem(path);
  } catch (const std::exception& e) {
    return e.what();
  }
}

void PendingSave::Commit() { file_->Commit(); }

WholeSteps::WholeSteps(Storage storage, const Georeference& geo)
    : storage(storage),
      lowest(storage == Storage::kInt16 ? -32768.0 : 0.0),
      highest(storage == Storage::kInt16 ? 32767.0 : 65535.0) {
  if (const auto& kept = geo.scaleOffset;
      kept && kept->first > 0 && std::isfinite(kept->first) && std::isfinite(kept->second))
    std::tie(scale, offset) = *kept;
}

void WholeSteps::CheckFits(double low, double high) const {
  if (low >= lowest && high <= highest) return;
  throw std::runtime_error(CPLSPrintf(
      "cannot hold these heights as %s: they come to %.17g .. %.17g%s, beyond %.0f .. %.0f "
      "(write Float32, the default)",
      TypeName(), low, high, scale != 1.0 || offset != 0.0 ? " in the file's steps" : "", lowest,
      highest));
}

double WholeSteps::FreeValue(const std::vector<bool>& used, std::optional<double> own) const {
  const auto free = [&](double v) { return !used[static_cast<size_t>(v - lowest)]; };
  if (own && *own == std::round(*own) && *own >= lowest && *own <= highest && free(*own))
    return *own;
  for (double step = 0; step <= highest - lowest; ++step) {
    if (free(lowest + step)) return lowest + step;
    if (free(highest - step)) return highest - step;
  }
  throw std::runtime_error(std::string("has no value of ") + TypeName() + " left for NoData");
}

void RoundToStoredSteps(Landscape& land, Storage storage) {
  if (storage == Storage::kFloat32) return;
  const WholeSteps steps(storage, land.geo);
  const double scale = steps.scale, offset = steps.offset;
  base::ForStretches(land.Count(), base::kCopyGrain, [&](size_t begin, size_t end) {
    for (size_t i = begin; i < end; ++i) {
      float& h = land.heights[i];
      if (!land.IsNoData(i) && std::isfinite(h))
        h = static_cast<float>(steps.Step(h) * scale + offset);
    }
  });
}

SaveReport WriteHeightmap(const std::string& path, const Landscape& land,
                          const WriteOptions& options) {
  PendingSave save(path, land, options);
  save.Commit();
  return save.Report();
}

}  // namespace host
