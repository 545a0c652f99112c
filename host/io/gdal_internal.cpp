#include "host/io/gdal_internal.h"

#include <cpl_conv.h>
#include <cpl_error.h>
#include <cpl_string.h>
#include <cpl_vsi.h>
#include <cpl_vsi_virtual.h>

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/io/formats.h"
#include "host/io/heightmap_io.h"

namespace host::io_internal {
namespace {

// Every failure GDAL reported in this process, in order; a watch remembers where it
// began. Warnings and debug messages are dropped, as the quiet handler did.
struct FailureLog {
  std::mutex mutex;
  std::vector<std::string> messages;
};

FailureLog& Log() {
  static FailureLog log;
  return log;
}

void CollectFailure(CPLErr level, CPLErrorNum, const char* message) {
  if (level < CE_Failure) return;
  FailureLog& log = Log();
  const std::lock_guard lock(log.mutex);
  log.messages.emplace_back(message ? message : "");
}

bool networkAllowed = false;

// The virtual file systems that reach the network; each is replaced by one that opens
// nothing unless the user allowed the network.
constexpr const char* kNetworkPrefixes[] = {"/vsicurl/",
                                            "/vsicurl_streaming/",
                                            "/vsis3/",
                                            "/vsis3_streaming/",
                                            "/vsigs/",
                                            "/vsigs_streaming/",
                                            "/vsiaz/",
                                            "/vsiaz_streaming/",
                                            "/vsiadls/",
                                            "/vsioss/",
                                            "/vsioss_streaming/",
                                            "/vsiswift/",
                                            "/vsiswift_streaming/",
                                            "/vsiwebhdfs/",
                                            "/vsihdfs/"};

// A file system that opens nothing and says why.
class Refusing : public VSIFilesystemHandler {
 public:
  using VSIFilesystemHandler::Open;
  VSIVirtualHandle* Open(const char* name, const char*, bool, CSLConstList) override {
    CPLError(CE_Failure, CPLE_OpenFailed, "%s: a network location; add --allow-network to read it",
             name);
    return nullptr;
  }
  int Stat(const char*, VSIStatBufL*, int) override { return -1; }
};

// Each network file system is replaced; the one it replaces is freed (the manager keeps
// no other reference to it), unless the prefix had none of its own.
void BlockNetwork() {
  VSIFilesystemHandler* local = VSIFileManager::GetHandler("/");
  std::set<VSIFilesystemHandler*> freed;
  for (const char* prefix : kNetworkPrefixes) {
    VSIFilesystemHandler* old = VSIFileManager::GetHandler(prefix);
    VSIFileManager::InstallHandler(prefix, new Refusing);
    if (old != local && freed.insert(old).second) delete old;
  }
}

// The raster drivers a heightmap comes in, and those the host writes with; no other
// driver opens anything, not even a source a VRT names.
constexpr const char* kHeightmapDrivers[] = {
    "GTiff", "AAIGrid", "GRASSASCIIGrid", "PNG",  "SRTMHGT", "EHdr", "ENVI", "USGSDEM",
    "BT",    "HFA",     "GSAG",           "GSBG", "GS7BG",   "XYZ",  "VRT",  "MEM"};

void KeepHeightmapDrivers() {
  for (int i = GDALGetDriverCount() - 1; i >= 0; --i) {
    GDALDriverH driver = GDALGetDriver(i);
    const std::string name = GDALGetDriverShortName(driver);
    bool kept = networkAllowed && name == "HTTP";
    for (const char* wanted : kHeightmapDrivers) kept = kept || name == wanted;
    if (kept) continue;
    GDALDeregisterDriver(driver);
    GDALDestroyDriver(driver);
  }
}

}  // namespace

void InitGdal() {
  static const bool ready = [] {
    GDALAllRegister();
    KeepHeightmapDrivers();
    if (!networkAllowed) BlockNetwork();
    CPLSetConfigOption("GDAL_PAM_ENABLED", "NO");  // no .aux.xml files but those we ask for
    CPLSetConfigOption("GDAL_CACHEMAX", "64");     // megabytes; we hold the grid ourselves
    // Compressed blocks decoded on every core, unless the user's environment says how many.
    if (!CPLGetConfigOption("GDAL_NUM_THREADS", nullptr))
      CPLSetConfigOption("GDAL_NUM_THREADS", "ALL_CPUS");
    CPLSetErrorHandler(&CollectFailure);
    return true;
  }();
  (void)ready;
}

std::string GdalReason(const char* fallback) {
  const char* message = CPLGetLastErrorMsg();
  return message && *message ? message : fallback;
}

GdalFailures::GdalFailures() {
  InitGdal();
  const std::lock_guard lock(Log().mutex);
  start_ = Log().messages.size();
}

bool GdalFailures::Any() const {
  const std::lock_guard lock(Log().mutex);
  return Log().messages.size() > start_;
}

std::string GdalFailures::Reason(const char* fallback) const {
  const std::lock_guard lock(Log().mutex);
  for (size_t i = start_; i < Log().messages.size(); ++i)
    if (!Log().messages[i].empty()) return Log().messages[i];
  const char* message = CPLGetLastErrorMsg();
  return message && *message ? message : fallback;
}

CPLStringList GeoTiffOptions(const std::vector<std::string>& given, Storage storage) {
  CPLStringList list;
  for (const auto& [name, value] : kGeoTiffDefaults) list.SetNameValue(name, value);
  for (const std::string& item : given) {
    char* key = nullptr;
    const char* value = CPLParseNameValue(item.c_str(), &key);
    if (key && value) list.SetNameValue(key, value);
    CPLFree(key);
  }
  if (storage != Storage::kFloat32 && EQUAL(list.FetchNameValueDef("PREDICTOR", ""), "3"))
    list.SetNameValue("PREDICTOR", "2");
  return list;
}

Dataset WrapInMemory(void* data, int32_t width, int32_t height, GDALDataType type) {
  Dataset dataset(GDALCreate(GDALGetDriverByName("MEM"), "", width, height, 0, type, nullptr));
  if (!dataset) throw std::runtime_error("no memory dataset (" + GdalReason("MEM") + ")");
  char pointer[64];
  std::snprintf(pointer, sizeof pointer, "DATAPOINTER=%p", data);
  const char* options[] = {pointer, nullptr};
  if (GDALAddBand(dataset.get(), type, const_cast<char**>(options)) != CE_None)
    throw std::runtime_error("no memory band (" + GdalReason("MEM") + ")");
  return dataset;
}

}  // namespace host::io_internal

namespace host {

void AllowNetworkAccess() { io_internal::networkAllowed = true; }

std::string GdalRelease() { return GDALVersionInfo("RELEASE_NAME"); }

bool IsNetworkPath(const std::string& path) {
  for (const char* prefix : io_internal::kNetworkPrefixes)
    if (path.rfind(prefix, 0) == 0) return true;
  for (const char* scheme : {"http://", "https://", "ftp://"})
    if (path.rfind(scheme, 0) == 0) return true;
  return false;
}

std::vector<RasterKind> OtherReadableKinds() {
  io_internal::InitGdal();
  std::vector<RasterKind> kinds;
  for (const char* name : io_internal::kHeightmapDrivers) {
    const std::string driver = name;
    const bool inTable = std::any_of(kFormats.begin(), kFormats.end(), [&](const Format& f) {
      return f.gdalDriver && driver == f.gdalDriver;
    });
    // VRT is listed on its own; MEM is no file; a GRASS ASCII grid is an .asc.
    if (inTable || driver == "VRT" || driver == "MEM" || driver == "GRASSASCIIGrid") continue;
    GDALDriverH handle = GDALGetDriverByName(name);
    const char* extensions =
        handle ? GDALGetMetadataItem(handle, GDAL_DMD_EXTENSIONS, nullptr) : nullptr;
    if (!extensions || !*extensions) continue;
    RasterKind kind{GDALGetMetadataItem(handle, GDAL_DMD_LONGNAME, nullptr), {}};
    const CPLStringList each(CSLTokenizeString(extensions));
    for (int i = 0; i < each.size(); ++i) kind.extensions.emplace_back(each[i]);
    kinds.push_back(std::move(kind));
  }
  return kinds;
}

}  // namespace host
