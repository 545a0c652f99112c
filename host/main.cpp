// kelvamor-host: opens a heightmap, runs landscape plug-ins on it, shows and saves
// the result, in a window or, for scripts and machines without a display, in batch.
#include <unistd.h>

#include <QApplication>
#include <QCommandLineParser>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <limits>
#include <optional>
#include <string>

#include "host/batch.h"
#include "host/heightmap_io.h"
#include "host/main_window.h"
#include "host/options.h"
#include "host/plugin_host.h"
#include "host/replace_file.h"
#include "host/shading.h"

namespace {

bool HasDisplay() {
  const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
  if (!platform.isEmpty()) return platform != "offscreen" && platform != "minimal";
  return std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY");
}

template <typename T>
bool ParsePair(const QString& text, QChar separator, T& a, T& b) {
  const QStringList parts = text.split(separator);
  if (parts.size() != 2) return false;
  bool okA = false, okB = false;
  if constexpr (std::is_same_v<T, int32_t>) {
    a = parts[0].toInt(&okA);
    b = parts[1].toInt(&okB);
  } else {
    a = parts[0].toDouble(&okA);
    b = parts[1].toDouble(&okB);
  }
  return okA && okB;
}

// A command line that cannot be run: said before any work, exit status 2.
[[noreturn]] void Usage(const QString& message) {
  std::fprintf(stderr, "kelvamor-host: %s (see --help)\n", qPrintable(message));
  std::exit(2);
}

// The files a run is to write: known formats, existing folders, and never one file
// for two outputs.
void CheckOutputs(const host::Options& options) {
  namespace fs = std::filesystem;
  auto checkFolder = [](const char* option, const std::string& path) {
    const fs::path folder = fs::path(path).parent_path();
    std::error_code ec;
    if (!folder.empty() && !fs::is_directory(folder, ec))
      Usage(QString("%1: the folder %2 does not exist")
                .arg(option, QString::fromStdString(folder.string())));
  };
  if (options.output) {
    if (!host::IsHeightmapFormat(*options.output))
      Usage(QString("-o: unknown format of %1 (use %2)")
                .arg(QString::fromStdString(*options.output), host::kHeightmapFormats));
    checkFolder("-o", *options.output);
  }
  if (options.picture) {
    if (!host::IsPictureFormat(*options.picture))
      Usage(QString("--picture: unknown picture format of %1 (use .png)")
                .arg(QString::fromStdString(*options.picture)));
    checkFolder("--picture", *options.picture);
  }
  if (options.output && options.picture) {
    std::error_code ec;
    const fs::path a = fs::weakly_canonical(host::FollowLinks(*options.output), ec);
    const fs::path b = fs::weakly_canonical(host::FollowLinks(*options.picture), ec);
    if (a == b) Usage("-o and --picture name the same file");
  }
  const std::string refused = host::CheckCreationOptions(options.write.creationOptions);
  if (!refused.empty()) Usage(QString("--co: %1").arg(QString::fromStdString(refused)));
}

// Takes "--plugin PATH" (or "--plugin=PATH") out of argv before Qt sees it: Qt's
// application object would take it as one of its own platform-plugin options.
std::optional<std::string> TakePluginOption(int& argc, char** argv) {
  std::optional<std::string> path;
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if ((arg == "--plugin" || arg == "-plugin") && i + 1 < argc) {
      path = argv[++i];
    } else if (arg.rfind("--plugin=", 0) == 0) {
      path = arg.substr(9);
    } else {
      argv[kept++] = argv[i];
    }
  }
  argc = kept;
  argv[argc] = nullptr;
  return path;
}

// Qt's warnings that say nothing about this program's work: a runtime folder it makes
// itself when the environment names none, and window hints the offscreen platform
// cannot take.
void FilterQtMessages(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  static const char* const kHarmless[] = {"XDG_RUNTIME_DIR", "propagateSizeHints"};
  for (const char* text : kHarmless)
    if (message.contains(QLatin1String(text))) return;
  (void)context;
  std::fprintf(stderr, "%s\n", qPrintable(message));
  if (type == QtFatalMsg) std::abort();
}

bool HasArgument(int argc, char** argv, const char* name) {
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], name) == 0) return true;
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);  // each result line as it comes, also in a pipe
  qInstallMessageHandler(&FilterQtMessages);
  const std::optional<std::string> pluginOption = TakePluginOption(argc, argv);
  // Batch never needs a display, whatever DISPLAY says; without one, batch it is.
  const bool batch = HasArgument(argc, argv, "--batch") || !HasDisplay();
  if (batch) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QApplication::setApplicationName("kelvamor-host");
  QApplication::setApplicationVersion(KELVAMOR_VERSION);

  QCommandLineParser parser;
  parser.setApplicationDescription(QString::fromStdString(
      "Opens a heightmap, runs a landscape plug-in on it and saves the result.\n"
      "Without a display (or with --batch) it presses OK for you: the plug-in's "
      "parameters are your stored settings with --set and --action applied, for this run "
      "only.\n\nExit status: 0 the action was applied and every output written, 1 it failed "
      "or the plug-in did not apply its action, 2 the command line was refused.\n\n"
      "Settings for --set:\n" +
      host::SettingsTable()));
  parser.addHelpOption();
  // Long only: -v is --verbose, as in GDAL's tools.
  parser.addOption({"version", "Print the program's version and exit."});
  parser.addPositionalArgument("heightmap",
                               "File to open (GeoTIFF, PNG, ASCII grid, HGT, .r16, "
                               ".r32, ...); a fractal landscape when omitted.");
  parser.addOptions({
      {"plugin", "Plug-in module to load.", "path"},
      {"batch", "Run the plug-in without a window and press OK."},
      {{"o", "output"}, "Write the result (.tif, .asc, .png, .r16, .r32).", "file"},
      {"picture", "Write the shaded landscape as a picture.", "file.png"},
      {"co",
       "GeoTIFF creation option for -o (repeatable), over the defaults TILED=YES, "
       "COMPRESS=DEFLATE, ZLEVEL=1, PREDICTOR=3, NUM_THREADS=ALL_CPUS.",
       "name=value"},
      {"water-level", "Points at or below this height are water.", "height"},
      {"size", "Grid size of a RAW file.", "WxH"},
      {"range", "Heights that r16 values 0 and 65535 stand for.", "min:max"},
      {"set", "A plug-in setting for this run (repeatable; see below).", "name=value"},
      {"action", "soften, soften-more, noise, hill, flatten, glaciate or canyonize.", "name"},
      {"save-settings", "Keep this run's plug-in settings as your own (batch)."},
      {{"q", "quiet"}, "Print nothing but errors."},
      {{"v", "verbose"}, "Say more about the run."},
      {"progress", "Show progress on stderr even when it is not a terminal."},
      {"mask",
       "Apply the plug-in only where this raster of weights (0..1 or 0..255, the "
       "landscape's size) selects, blended by the weight (batch).",
       "file"},
      {"threads",
       "The most threads the plug-in's operations use (default: every core "
       "this process may run on; sets ROVANDEL_THREADS).",
       "N"},
  });
  if (!parser.parse(QApplication::arguments())) Usage(parser.errorText());
  if (parser.isSet("help")) {
    std::fputs(qPrintable(parser.helpText()), stdout);
    return 0;
  }
  if (parser.isSet("version")) {
    std::printf("kelvamor-host %s\n", KELVAMOR_VERSION);
    return 0;
  }

  host::Options options;
  const QStringList positional = parser.positionalArguments();
  if (positional.size() > 1) Usage("give at most one heightmap");
  if (!positional.isEmpty()) options.input = positional[0].toStdString();
  options.pluginPath = pluginOption ? *pluginOption : host::DefaultPluginPath(argv[0]);
  options.batch = batch;
  if (parser.isSet("output")) options.output = parser.value("output").toStdString();
  if (parser.isSet("picture")) options.picture = parser.value("picture").toStdString();
  if (parser.isSet("water-level")) {
    bool ok = false;
    options.waterLevel = parser.value("water-level").toDouble(&ok);
    if (!ok || !std::isfinite(*options.waterLevel)) Usage("--water-level takes a height");
  }
  if (parser.isSet("size")) {
    int32_t w = 0, h = 0;
    if (!ParsePair(parser.value("size"), 'x', w, h) || w <= 0 || h <= 0)
      Usage("--size takes WxH, for example 1025x1025");
    options.raw.size = std::pair{w, h};
  }
  if (parser.isSet("range")) {
    double lo = 0, hi = 0;
    constexpr double kFloatMax = std::numeric_limits<float>::max();
    if (!ParsePair(parser.value("range"), ':', lo, hi) || !(lo < hi) || !(lo >= -kFloatMax) ||
        !(hi <= kFloatMax))
      Usage("--range takes min:max, two heights within +-3.4e38 with min below max");
    options.raw.range = std::pair{lo, hi};
  }
  for (const QString& item : parser.values("set")) {
    const qsizetype eq = item.indexOf('=');
    if (eq <= 0) Usage("--set takes name=value");
    options.settings.emplace_back(item.left(eq).toStdString(), item.mid(eq + 1).toStdString());
  }
  if (parser.isSet("action")) options.action = parser.value("action").toStdString();
  for (const QString& item : parser.values("co"))
    options.write.creationOptions.push_back(item.toStdString());
  options.saveSettings = parser.isSet("save-settings");
  if (parser.isSet("threads")) {
    bool ok = false;
    const int threads = parser.value("threads").toInt(&ok);
    if (!ok || threads < 1) Usage("--threads takes a number of threads, 1 or more");
    // The plug-in reads its limit from the environment: the contract has no other way.
    qputenv("ROVANDEL_THREADS", QByteArray::number(threads));
  }
  if (parser.isSet("quiet") && parser.isSet("verbose"))
    Usage("--quiet and --verbose exclude each other");
  options.verbosity = parser.isSet("quiet") ? 0 : parser.isSet("verbose") ? 2 : 1;
  options.progress = parser.isSet("progress") || (options.verbosity > 0 && ::isatty(2));
  CheckOutputs(options);
  const std::string refused = host::CheckPluginSettings(options);
  if (!refused.empty()) Usage(QString::fromStdString(refused));
  if (options.input) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(*options.input, ec) ||
        ::access(options.input->c_str(), R_OK) != 0)
      Usage(QString("%1: no such file, or it cannot be read")
                .arg(QString::fromStdString(*options.input)));
  }
  if (parser.isSet("mask")) {
    options.mask = parser.value("mask").toStdString();
    std::pair<int32_t, int32_t> landscape{host::kDefaultLandscapeSide, host::kDefaultLandscapeSide};
    std::pair<int32_t, int32_t> mask;
    try {
      if (options.input) landscape = host::GridSizeOf(*options.input, options.raw);
      host::RawOptions raw;
      raw.size = landscape;
      mask = host::GridSizeOf(*options.mask, raw);
    } catch (const std::exception& e) {
      Usage(QString("--mask: %1").arg(e.what()));
    }
    if (mask != landscape)
      Usage(QString("--mask: %1 is %2 x %3; the landscape is %4 x %5")
                .arg(QString::fromStdString(*options.mask))
                .arg(mask.first)
                .arg(mask.second)
                .arg(landscape.first)
                .arg(landscape.second));
  }
  if (!options.batch && (options.output || options.picture || options.mask))
    Usage("-o, --picture and --mask are for batch mode; add --batch, or use the window");

  if (options.batch) return host::RunBatch(options, std::cout);

  host::Landscape land;
  try {
    land = options.input ? host::ReadHeightmap(*options.input, options.raw)
                         : host::MakeDefaultLandscape();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "kelvamor-host: %s\n", e.what());
    return 1;
  }
  if (!options.input && !options.waterLevel) options.waterLevel = host::kDefaultSeaLevel;
  try {
    host::StorePluginSettings(options);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "kelvamor-host: %s\n", e.what());
    return 1;
  }
  host::MainWindow window(std::move(land), options);
  window.show();
  return app.exec();
}
