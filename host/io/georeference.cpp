#include <cpl_string.h>
#include <ogr_srs_api.h>

#include <cmath>

#include "host/io/georeference_internal.h"
#include "host/io/heightmap_io.h"

namespace host::io_internal {

Georeference ReadGeoreference(GDALDatasetH dataset, GDALRasterBandH band) {
  Georeference geo;
  if (const char* wkt = GDALGetProjectionRef(dataset)) geo.projection = wkt;
  std::array<double, 6> transform{};
  if (GDALGetGeoTransform(dataset, transform.data()) == CE_None) geo.geoTransform = transform;
  int hasNoData = 0;
  const double noData = GDALGetRasterNoDataValue(band, &hasNoData);
  if (hasNoData) geo.noDataValue = noData;
  if (const char* text = GDALGetDescription(band)) geo.description = text;
  if (const char* unit = GDALGetRasterUnitType(band)) geo.unit = unit;
  if (const char* type = GDALGetDataTypeName(GDALGetRasterDataType(band))) geo.dataType = type;
  // Overviews as factors of the full size (2, 4, 8, ...).
  for (int k = 0; k < GDALGetOverviewCount(band); ++k) {
    GDALRasterBandH overview = GDALGetOverview(band, k);
    const int side = overview ? GDALGetRasterBandXSize(overview) : 0;
    if (side > 0)
      geo.overviews.push_back(
          static_cast<int>(std::lround(static_cast<double>(GDALGetRasterXSize(dataset)) / side)));
  }
  for (char** item = GDALGetMetadata(dataset, nullptr); item && *item; ++item) {
    const std::string entry = *item;
    // The 16-bit range is this program's, remade by every 16-bit save.
    if (entry.rfind(std::string(kScaleKey) + "=", 0) == 0 ||
        entry.rfind(std::string(kOffsetKey) + "=", 0) == 0)
      continue;
    geo.metadata.push_back(entry);
  }
  return geo;
}

void ApplyGeoreference(GDALDatasetH dataset, const Landscape& land, std::optional<double> noData) {
  const Georeference& geo = land.geo;
  if (!geo.projection.empty()) GDALSetProjection(dataset, geo.projection.c_str());
  if (geo.geoTransform) {
    std::array<double, 6> transform = *geo.geoTransform;
    GDALSetGeoTransform(dataset, transform.data());
  }
  if (!geo.metadata.empty()) {
    CPLStringList items;
    for (const std::string& item : geo.metadata) items.AddString(item.c_str());
    GDALSetMetadata(dataset, items.List(), nullptr);
  }
  GDALRasterBandH band = GDALGetRasterBand(dataset, 1);
  if (noData) GDALSetRasterNoDataValue(band, *noData);
  if (!geo.description.empty()) GDALSetDescription(band, geo.description.c_str());
  if (!geo.unit.empty()) GDALSetRasterUnitType(band, geo.unit.c_str());
}

}  // namespace host::io_internal

namespace host {

CrsSummary SummariseCrs(const std::string& wkt) {
  // The window asks on every move of the mouse, always of the same system: the last
  // answer is kept rather than the text parsed again.
  thread_local std::string lastWkt;
  thread_local CrsSummary last;
  if (wkt == lastWkt) return last;
  CrsSummary summary;
  if (wkt.empty()) return summary;
  OGRSpatialReferenceH srs = OSRNewSpatialReference(nullptr);
  if (OSRSetFromUserInput(srs, wkt.c_str()) == OGRERR_NONE) {
    if (const char* name = OSRGetName(srs)) summary.name = name;
    char* unit = nullptr;
    if (OSRIsGeographic(srs)) {
      OSRGetAngularUnits(srs, &unit);
    } else {
      OSRGetLinearUnits(srs, &unit);
    }
    if (unit) summary.unit = unit;
  }
  OSRDestroySpatialReference(srs);
  lastWkt = wkt;
  last = summary;
  return summary;
}

}  // namespace host
