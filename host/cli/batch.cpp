#include "host/cli/batch.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <ostream>

#include "host/cli/auto_answer.h"
#include "host/cli/exit_status.h"
#include "host/io/heightmap_io.h"
#include "host/io/progress.h"
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

// " in 1.234 s", the time since `start`.
std::string Since(std::chrono::steady_clock::time_point start) {
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  char text[48];
  std::snprintf(text, sizeof text, " in %.3f s", seconds);
  return text;
}

// Lines for stdout, unless the run is quiet.
class Report {
 public:
  Report(std::ostream& out, int verbosity) : out_(out), verbosity_(verbosity) {}
  template <typename... Parts>
  void Line(int level, const Parts&... parts) {
    if (verbosity_ < level) return;
    (out_ << ... << parts) << std::endl;
  }

 private:
  std::ostream& out_;
  int verbosity_;
};

}  // namespace

int RunBatch(const Options& options, std::ostream& out) {
  Report report(out, options.verbosity);
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

    PrivateSettings settings(options.plugin, std::cerr);
    PluginModule module(options.pluginPath);
    report.Line(2, "plug-in module: ", module.Path());
    HostSession session(land);
    session.waterLevel = waterLevel;
    if (options.mask) {
      session.Select(ReadWeights(*options.mask, land.width, land.height));
      report.Line(2, "selection: ", *options.mask);
    }

    AutoAnswer answer;
    start = std::chrono::steady_clock::now();
    if (options.progress) std::fprintf(stderr, "running %s...\n", settings.ActionName().c_str());
    const bool applied = module.Run(session);
    report.Line(1, "plug-in: ", module.Name(), ", action ", settings.ActionName(), ", ",
                applied ? "applied" : "not applied", Since(start));
    if (!applied) {
      std::fprintf(stderr,
                   "kelvamor-host: the plug-in did not apply its action; nothing written\n");
      return kExitFailed;
    }
    report.Line(1, "range after: ", Range(land));
    if (options.saveSettings) {
      settings.SaveToUser();
      report.Line(2, "settings kept as the user's");
    }
    if (options.output) {
      start = std::chrono::steady_clock::now();
      TermProgress progress(options.progress, "writing");
      WriteOptions write = options.write;
      write.progress = progress.Callback();
      const SaveReport saved = WriteHeightmap(*options.output, land, write);
      report.Line(1, "wrote ", *options.output,
                  saved.sixteenBitRange
                      ? " (16-bit steps span " + Range(*saved.sixteenBitRange) + ")"
                      : std::string(),
                  Since(start));
    }
    if (options.picture) {
      SavePicture(*options.picture, ShadeLandscape(land, waterLevel));
      report.Line(1, "wrote ", *options.picture);
    }
    return kExitApplied;
  });
}

}  // namespace host
