// kelvamor-host: opens a heightmap, runs landscape plug-ins on it, shows and saves
// the result, in a window or, for scripts and machines without a display, in batch.
#include <QApplication>
#include <QCommandLineParser>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <iostream>
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
      Usage(QString("%1: the folder %2 does not exist").arg(option, QString::fromStdString(folder.string())));
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

}  // namespace

int main(int argc, char** argv) {
  const std::optional<std::string> pluginOption = TakePluginOption(argc, argv);
  const bool display = HasDisplay();
  if (!display && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QApplication::setApplicationName("kelvamor-host");

  QCommandLineParser parser;
  parser.setApplicationDescription(
      "Opens a heightmap, runs a landscape plug-in on it and saves the result.\n"
      "Without a display (or with --batch) it presses OK for you: the plug-in's "
      "parameters come from its stored settings, which --set and --action change.");
  parser.addHelpOption();
  parser.addPositionalArgument("heightmap", "File to open (GeoTIFF, PNG, ASCII grid, HGT, .r16, "
                                            ".r32, ...); a fractal landscape when omitted.");
  parser.addOptions({
      {"plugin", "Plug-in module to load.", "path"},
      {"batch", "Run the plug-in without a window and press OK."},
      {{"o", "output"}, "Write the result (.tif, .png, .r16, .r32).", "file"},
      {"picture", "Write the shaded landscape as a picture.", "file.png"},
      {"co", "GeoTIFF creation option for -o (repeatable), over the defaults TILED=YES, "
             "COMPRESS=DEFLATE, ZLEVEL=1, PREDICTOR=3, NUM_THREADS=ALL_CPUS.", "name=value"},
      {"water-level", "Points at or below this height are water.", "height"},
      {"size", "Grid size of a RAW file.", "WxH"},
      {"range", "Heights that r16 values 0 and 65535 stand for.", "min:max"},
      {"set", "Store a plug-in setting before the run (repeatable).", "name=value"},
      {"action", "soften, soften-more, noise, hill, flatten, glaciate or canyonize.", "name"},
  });
  parser.process(app);

  host::Options options;
  const QStringList positional = parser.positionalArguments();
  if (positional.size() > 1) Usage("give at most one heightmap");
  if (!positional.isEmpty()) options.input = positional[0].toStdString();
  options.pluginPath = pluginOption ? *pluginOption : host::DefaultPluginPath(argv[0]);
  options.batch = parser.isSet("batch") || !display;
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
  CheckOutputs(options);

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
