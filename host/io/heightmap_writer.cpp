#include <cpl_conv.h>
#include <cpl_error.h>
#include <cpl_string.h>
#include <gdal.h>

#include <filesystem>
#include <stdexcept>

#include "host/io/error.h"
#include "host/io/formats.h"
#include "host/io/gdal_internal.h"
#include "host/io/georeference_internal.h"
#include "host/io/heightmap_io.h"
#include "host/io/replace_file.h"
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

// The defaults, then what the user asked for.
CPLStringList GeoTiffOptions(const WriteOptions& options) {
  CPLStringList list;
  for (const auto& [name, value] : kGeoTiffDefaults) list.SetNameValue(name, value);
  for (const std::string& item : options.creationOptions) {
    char* key = nullptr;
    const char* value = CPLParseNameValue(item.c_str(), &key);
    if (key && value) list.SetNameValue(key, value);
    CPLFree(key);
  }
  return list;
}

void WriteGeoTiff(FileReplacement& file, const Landscape& land, const WriteOptions& options) {
  const WrittenHeights survey = Survey(land);
  const std::optional<double> noData = FloatNoDataValue(land, survey.needsNoData);
  CPLStringList creation = GeoTiffOptions(options);
  Dataset out(GDALCreate(GDALGetDriverByName(FormatOf(FormatId::kGeoTiff).gdalDriver),
                         file.TemporaryPath().c_str(), land.width, land.height, 1, GDT_Float32,
                         creation.List()));
  if (!out) throw std::runtime_error("cannot be created (" + GdalReason("GeoTIFF") + ")");
  ApplyGeoreference(out.get(), land, noData);
  const CPLErr written =
      WriteFloatRows(out.get(), land, static_cast<float>(noData.value_or(0.0)), options.progress);
  out.reset();  // closing writes what is still cached
  if (written != CE_None || CPLGetLastErrorType() >= CE_Failure)
    throw std::runtime_error("cannot be written (" + GdalReason("write error") + ")");
}

// Formats GDAL writes from a whole copy in memory, with the georeferencing they hold;
// their side files (an ASCII grid's .prj) are replaced along with the file.
void WriteByCopy(FileReplacement& file, const Landscape& land, const char* driverName,
                 const ProgressFn& progress) {
  const WrittenHeights survey = Survey(land);
  std::optional<double> noData = land.geo.noDataValue;
  if (!noData && survey.needsNoData) noData = -9999.0;
  std::vector<float> copy(land.Count());
  for (int32_t y = 0; y < land.height; ++y)
    RowAsWritten(land, y, static_cast<float>(noData.value_or(0.0)),
                 copy.data() + static_cast<size_t>(y) * land.width);
  const Dataset memory = WrapInMemory(copy.data(), land.width, land.height, GDT_Float32);
  ApplyGeoreference(memory.get(), land, noData);
  Dataset out(GDALCreateCopy(GDALGetDriverByName(driverName), file.TemporaryPath().c_str(),
                             memory.get(), FALSE, nullptr, &GdalProgress,
                             const_cast<ProgressFn*>(&progress)));
  if (!out) throw std::runtime_error("cannot be written (" + GdalReason(driverName) + ")");
  char** files = GDALGetFileList(out.get());
  for (char** f = files; f && *f; ++f)
    if (fs::path(*f) != fs::path(file.TemporaryPath())) file.AddSideFile(*f);
  CSLDestroy(files);
  out.reset();
  if (CPLGetLastErrorType() >= CE_Failure)
    throw std::runtime_error("cannot be written (" + GdalReason(driverName) + ")");
}

SaveReport WritePng16(FileReplacement& file, const Landscape& land, const ProgressFn& progress) {
  const WrittenHeights survey = Survey(land);
  const SixteenBit steps(survey);
  std::vector<uint16_t> values(land.Count());
  for (size_t i = 0; i < land.Count(); ++i) values[i] = steps.Value(land, i);
  const Dataset memory = WrapInMemory(values.data(), land.width, land.height, GDT_UInt16);
  // A PNG holds no coordinate system; its text chunks carry the range and metadata.
  Landscape described;
  described.geo.metadata = land.geo.metadata;
  ApplyGeoreference(memory.get(), described, std::nullopt);
  if (steps.first == 1) GDALSetRasterNoDataValue(GDALGetRasterBand(memory.get(), 1), 0.0);
  const std::string s = CPLSPrintf("%.17g", steps.scale);
  const std::string o = CPLSPrintf("%.17g", steps.offset);
  GDALSetMetadataItem(memory.get(), kScaleKey, s.c_str(), nullptr);
  GDALSetMetadataItem(memory.get(), kOffsetKey, o.c_str(), nullptr);
  const char* options[] = {"WRITE_METADATA_AS_TEXT=YES", nullptr};
  Dataset out(GDALCreateCopy(GDALGetDriverByName(FormatOf(FormatId::kPng16).gdalDriver),
                             file.TemporaryPath().c_str(), memory.get(), FALSE,
                             const_cast<char**>(options), &GdalProgress,
                             const_cast<ProgressFn*>(&progress)));
  if (!out) throw std::runtime_error("cannot be written (" + GdalReason("PNG") + ")");
  out.reset();
  if (CPLGetLastErrorType() >= CE_Failure)
    throw std::runtime_error("cannot be written (" + GdalReason("PNG") + ")");
  SaveReport report;
  report.sixteenBitRange =
      std::pair{steps.offset + steps.first * steps.scale, steps.offset + 65535 * steps.scale};
  return report;
}

}  // namespace

std::string CheckCreationOptions(const std::vector<std::string>& options) {
  InitGdal();
  CPLStringList list;
  for (const std::string& item : options) {
    char* key = nullptr;
    const char* value = CPLParseNameValue(item.c_str(), &key);
    const bool ok = key && *key && value;
    CPLFree(key);
    if (!ok) return "'" + item + "' is not NAME=VALUE";
    list.AddString(item.c_str());
  }
  // GDAL reports what it refuses through the error handler; catch its words.
  struct Collected {
    std::string text;
  } collected;
  CPLPushErrorHandlerEx(
      [](CPLErr, CPLErrorNum, const char* message) {
        auto* c = static_cast<Collected*>(CPLGetErrorHandlerUserData());
        if (c->text.empty()) c->text = message;
      },
      &collected);
  const bool valid = GDALValidateCreationOptions(
      GDALGetDriverByName(FormatOf(FormatId::kGeoTiff).gdalDriver), list.List());
  CPLPopErrorHandler();
  if (valid) return {};
  return collected.text.empty() ? "not a GeoTIFF creation option" : collected.text;
}

SaveReport WriteHeightmap(const std::string& path, const Landscape& land,
                          const WriteOptions& options) {
  InitGdal();
  CPLErrorReset();
  const Format* format = FindFormat(path);
  if (!format || !format->writable)
    throw Error(path,
                "unknown format '" + Extension(path) + "' (use " + WritableExtensions() + ")");
  FileReplacement file(path, Extension(path));
  SaveReport report;
  try {
    switch (format->id) {
      case FormatId::kGeoTiff:
        WriteGeoTiff(file, land, options);
        break;
      case FormatId::kAsciiGrid:
        WriteByCopy(file, land, format->gdalDriver, options.progress);
        break;
      case FormatId::kPng16:
        report = WritePng16(file, land, options.progress);
        break;
      case FormatId::kRaw16:
      case FormatId::kRaw32:
        report = WriteRaw(file, path, land, format->id == FormatId::kRaw16, options.progress);
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
  file.Commit();
  Report(options.progress, 1.0);
  return report;
}

}  // namespace host
