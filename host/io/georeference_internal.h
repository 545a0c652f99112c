// What a file carries besides its heights, read from and applied to GDAL datasets.
// Private to io/.
#pragma once

#include <gdal.h>

#include <optional>

#include "host/model/landscape.h"

namespace host::io_internal {

// Metadata keys that carry a 16-bit PNG's height range in the file itself.
constexpr char kScaleKey[] = "HEIGHT_SCALE";
constexpr char kOffsetKey[] = "HEIGHT_OFFSET";

// The dataset's coordinate system, geotransform, metadata and the band's NoData value,
// description and unit. This program's own 16-bit range items are left out.
Georeference ReadGeoreference(GDALDatasetH dataset, GDALRasterBandH band);
// Writes the landscape's georeferencing into a dataset, with `noData` as the band's value.
void ApplyGeoreference(GDALDatasetH dataset, const Landscape& land, std::optional<double> noData);

}  // namespace host::io_internal
