#include "host/cli/batch.h"

#include <tbb/blocked_range.h>
#include <tbb/parallel_reduce.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <limits>
#include <new>
#include <ostream>

#include "host/common/exit_status.h"
#include "host/common/progress.h"
#include "host/io/heightmap_io.h"
#include "host/plugins/headless.h"
#include "host/plugins/module.h"
#include "host/render/picture.h"
#include "host/render/shading.h"

namespace host {

namespace {

std::string Range(std::pair<double, double> range) {
  char text[96];
  std::snprintf(text, sizeof text, "%.9g .. %.9g", range.first, range.second);
  return text;
}

std::string Range(const Landscape& land) {
  char text[96];
  std::snprintf(text, sizeof text, "%.6g .. %.6g", land.minHeight, land.maxHeight);
  return text;
}

// The range of the heights a save writes (the valid cells' extremes, lo and hi), and the
// plug-in's recorded range beside it when that says something else.
std::string RangeAfter(const Landscape& land, double lo, double hi) {
  char text[160];
  std::snprintf(text, sizeof text, "%.6g .. %.6g", lo, hi);
  std::string range = text;
  std::snprintf(text, sizeof text, "%.6g .. %.6g", land.minHeight, land.maxHeight);
  if (range != text) range += std::string(" (the plug-in's recorded range ") + text + ")";
  return range;
}

// What a save changed that the user must know, on stderr whatever the verbosity.
void Warn(const std::string& path, const SaveReport& saved) {
  if (saved.noDataChanged)
    std::fprintf(stderr,
                 "kelvamor-host: warning: %s: a height equals the NoData value %.9g; NoData is "
                 "written as %.9g so that no height becomes a void\n",
                 path.c_str(), saved.noDataChanged->first, saved.noDataChanged->second);
  if (saved.georeferenceDropped)
    std::fprintf(stderr,
                 "kelvamor-host: warning: %s: a RAW grid keeps no coordinate system or "
                 "geotransform; save as .tif, .asc or .png to keep them\n",
                 path.c_str());
}

// The seconds since `start`.
double Seconds(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// " in 1.234 s", the time since `start`.
std::string Since(std::chrono::steady_clock::time_point start) {
  char text[48];
  std::snprintf(text, sizeof text, " in %.3f s", Seconds(start));
  return text;
}

// The valid cells of the result: how many, their extremes and their mean; the same at
// every thread count (a deterministic reduction).
struct Statistics {
  size_t valid = 0;
  size_t noData = 0;
  double minimum = 0.0, maximum = 0.0, mean = 0.0;
};

Statistics StatisticsOf(const Landscape& land) {
  struct Sums {
    size_t valid = 0;
    double sum = 0.0;
    double lo = std::numeric_limits<double>::infinity();
    double hi = -std::numeric_limits<double>::infinity();
  };
  const Sums sums = tbb::parallel_deterministic_reduce(
      tbb::blocked_range<size_t>(0, land.Count(), size_t{1} << 16), Sums{},
      [&](const tbb::blocked_range<size_t>& r, Sums s) {
        for (size_t i = r.begin(); i < r.end(); ++i) {
          const double h = land.heights[i];
          if (land.IsNoData(i) || !std::isfinite(h)) continue;
          ++s.valid;
          s.sum += h;
          s.lo = std::min(s.lo, h);
          s.hi = std::max(s.hi, h);
        }
        return s;
      },
      [](Sums a, const Sums& b) {
        a.valid += b.valid;
        a.sum += b.sum;
        a.lo = std::min(a.lo, b.lo);
        a.hi = std::max(a.hi, b.hi);
        return a;
      });
  Statistics stats;
  stats.valid = sums.valid;
  stats.noData = land.Count() - sums.valid;
  if (sums.valid > 0) {
    stats.minimum = sums.lo;
    stats.maximum = sums.hi;
    stats.mean = sums.sum / static_cast<double>(sums.valid);
  }
  return stats;
}

std::string StatisticsText(const Statistics& s) {
  char text[200];
  std::snprintf(text, sizeof text, "minimum %.9g, maximum %.9g, mean %.9g, %zu valid cells",
                s.minimum, s.maximum, s.mean, s.valid);
  return text + (s.noData ? ", " + std::to_string(s.noData) + " NoData" : std::string());
}

QJsonArray Pair(std::pair<double, double> p) { return {p.first, p.second}; }

// Lines for stdout, unless the run is quiet. A reader that went away (`| head -n 1`) only
// stops the report: the run goes on and its files are written. Any other failure to write
// it (a full disk, a file-size limit) fails the run, before any output is put in place
// when it shows by then.
class Report {
 public:
  Report(std::ostream& out, int verbosity) : out_(out), verbosity_(verbosity) {}
  template <typename... Parts>
  void Line(int level, const Parts&... parts) {
    if (verbosity_ < level) return;
    (out_ << ... << parts) << std::endl;
    Check();
  }
  // Writes text as it is, and flushes it.
  void Raw(const std::string& text) {
    out_ << text << std::flush;
    Check();
  }
  // Whether something other than a reader gone keeps the report from stdout; says so,
  // and what that means for the outputs (`outputs`), on stderr.
  bool Failed(const char* outputs) const {
    if (error_ == 0 || error_ == EPIPE) return false;
    std::fprintf(stderr, "kelvamor-host: the report cannot be written to stdout (%s); %s\n",
                 std::strerror(error_), outputs);
    return true;
  }

 private:
  void Check() {
    if (!out_ && error_ == 0) error_ = errno != 0 ? errno : EIO;
  }

  std::ostream& out_;
  int verbosity_;
  int error_ = 0;
};

}  // namespace

int RunBatch(const Options& options, std::ostream& out) {
  // With --json, stdout carries the JSON object alone.
  Report report(out, options.json ? 0 : options.verbosity);
  QJsonObject json;
  return Reporting([&] {
    auto start = std::chrono::steady_clock::now();
    Landscape land;
    {
      TermProgress progress(options.progress, "reading");
      land = OpenInput(options, progress.Callback());
    }
    const std::optional<double> waterLevel = WaterLevelOf(options);
    const std::string noData =
        land.noData.empty()
            ? ""
            : ", " + std::to_string(std::count(land.noData.begin(), land.noData.end(), 1)) +
                  " NoData cells filled for the plug-in";
    report.Line(1, "landscape: ", options.input ? *options.input : "default (fractal)", ", ",
                land.width, " x ", land.height, ", range ", Range(land), noData, ", read",
                Since(start));
    json["input"] =
        options.input ? QJsonValue(QString::fromStdString(*options.input)) : QJsonValue();
    json["width"] = land.width;
    json["height"] = land.height;
    json["read_seconds"] = Seconds(start);
    if (waterLevel) {
      report.Line(2, "water level: ", *waterLevel);
      json["water_level"] = *waterLevel;
    }

    PrivateSettings settings(options.plugin, std::cerr);
    PluginModule module(options.pluginPath);
    report.Line(2, "plug-in module: ", module.Path());
    ZeroedWeights selection;
    if (options.mask) {
      Weights weights = ReadWeights(*options.mask, land.width, land.height);
      if (weights.clamped > 0)
        std::fprintf(stderr,
                     "kelvamor-host: warning: %s: %zu weights outside 0..1 taken as 0 or 1\n",
                     options.mask->c_str(), weights.clamped);
      selection = std::move(weights.values);
      report.Line(2, "selection: ", *options.mask);
    }

    start = std::chrono::steady_clock::now();
    if (options.progress) std::fprintf(stderr, "running %s...\n", settings.ActionName().c_str());
    const bool applied = RunHeadless(module, land, waterLevel, std::move(selection)).applied;
    report.Line(1, "plug-in: ", module.Name(), ", action ", settings.ActionName(), ", ",
                applied ? "applied" : "not applied", Since(start));
    json["plugin"] = QString::fromStdString(module.Name());
    json["action"] = QString::fromStdString(settings.ActionName());
    json["apply_seconds"] = Seconds(start);
    if (!applied) {
      std::fprintf(stderr,
                   "kelvamor-host: the plug-in did not apply its action; nothing written\n");
      return kExitFailed;
    }
    // What is reported (and pictured) is what the output holds: whole steps for an
    // integer GeoTIFF.
    if (options.output) RoundToStoredSteps(land, options.write.storage);
    const Statistics stats = StatisticsOf(land);
    report.Line(1, "range after: ", RangeAfter(land, stats.minimum, stats.maximum));
    report.Line(1, "statistics: ", StatisticsText(stats));
    QJsonObject statistics{{"valid", static_cast<qint64>(stats.valid)},
                           {"nodata", static_cast<qint64>(stats.noData)}};
    if (stats.valid > 0) {
      statistics["minimum"] = stats.minimum;
      statistics["maximum"] = stats.maximum;
      statistics["mean"] = stats.mean;
    }
    json["statistics"] = statistics;
    json["recorded_range"] = Pair({land.minHeight, land.maxHeight});
    // Every output is written in full before any is put in place: a failure leaves
    // every file as it was.
    std::optional<PendingSave> heightmap;
    std::optional<PendingPicture> picture;
    if (options.output) {
      start = std::chrono::steady_clock::now();
      TermProgress progress(options.progress, "writing");
      WriteOptions write = options.write;
      write.progress = progress.Callback();
      heightmap.emplace(*options.output, land, write);
    }
    // The time to write includes making the file durable and putting it in place.
    const auto prepared = std::chrono::steady_clock::now() - start;
    // A report that cannot reach stdout fails the run while nothing is in place yet. The
    // JSON object comes last: a line break before it (white space JSON allows) tries the
    // way now.
    if (options.json) report.Raw("\n");
    if (report.Failed("nothing written")) return kExitFailed;
    if (options.picture) {
      try {
        picture.emplace(*options.picture, ShadeLandscape(land, waterLevel), land.geo);
      } catch (const std::bad_alloc&) {
        throw Error(*options.picture, "not enough memory to draw the landscape (" +
                                          std::to_string(land.width) + " x " +
                                          std::to_string(land.height) + ")");
      }
    }
    // The user's settings are kept before any output is put in place: a settings file
    // that cannot be written fails the run with every output as it was.
    if (options.saveSettings) settings.SaveToUser();
    start = std::chrono::steady_clock::now();
    if (heightmap) heightmap->Commit();
    const std::string written = Since(start - prepared);
    start -= prepared;
    if (picture) picture->Commit();
    if (heightmap) {
      const SaveReport& saved = heightmap->Report();
      Warn(*options.output, saved);
      std::string mapping;
      if (saved.sixteenBitRange)
        mapping = "16-bit steps span " + Range(*saved.sixteenBitRange) + ", stored in " +
                  saved.mappingFile;
      report.Line(1, "wrote ", *options.output, mapping.empty() ? "" : " (" + mapping + ")",
                  written);
      json["output"] = QString::fromStdString(*options.output);
      json["write_seconds"] = Seconds(start);
      if (saved.sixteenBitRange) {
        json["sixteen_bit_range"] = Pair(*saved.sixteenBitRange);
        json["mapping_file"] = QString::fromStdString(saved.mappingFile);
      }
      if (saved.noDataChanged) json["nodata_changed"] = Pair(*saved.noDataChanged);
      if (saved.georeferenceDropped) json["georeference_dropped"] = true;
      // The heights cannot be had back without the mapping: say it even when quiet.
      if (options.verbosity == 0 && !mapping.empty())
        std::fprintf(stderr, "kelvamor-host: %s: %s\n", options.output->c_str(), mapping.c_str());
    }
    if (picture) {
      report.Line(1, "wrote ", *options.picture);
      json["picture"] = QString::fromStdString(*options.picture);
    }
    if (options.saveSettings) report.Line(2, "settings kept as the user's");
    if (options.json) report.Raw(QJsonDocument(json).toJson(QJsonDocument::Indented).toStdString());
    if (report.Failed("the outputs were written")) return kExitFailed;
    return kExitApplied;
  });
}

}  // namespace host
