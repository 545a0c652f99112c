#include "host/cli/command_line.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QCommandLineParser>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>

#include "host/cli/option_table.h"
#include "host/common/error.h"
#include "host/common/replace_file.h"
#include "host/model/default_landscape.h"
#include "host/plugins/module.h"
#include "host/render/picture.h"
#include "rovandel/settings_schema.h"

namespace host {
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
[[noreturn]] void Usage(const QString& message) { throw Error::Usage(message.toStdString()); }

// Whether two names are one file, links followed. A name whose links cannot be followed
// is no other file: the checks of what it names say why.
bool SameFile(const std::string& a, const std::string& b) {
  namespace fs = std::filesystem;
  std::error_code ec;
  try {
    return fs::weakly_canonical(FollowLinks(a), ec) == fs::weakly_canonical(FollowLinks(b), ec);
  } catch (const std::exception&) {
    return false;
  }
}

// The files a run is to write: known formats, existing folders, and never one file
// for two outputs.
void CheckOutputs(const Options& options) {
  namespace fs = std::filesystem;
  auto checkFolder = [](const char* option, const std::string& path) {
    const fs::path folder = fs::path(path).parent_path();
    std::error_code ec;
    if (!folder.empty() && !fs::is_directory(folder, ec))
      Usage(QString("%1: the folder %2 does not exist")
                .arg(option, QString::fromStdString(folder.string())));
  };
  auto checkTarget = [](const char* option, const std::string& path) {
    std::string problem;
    try {
      problem = ReplaceableProblem(path);
      if (problem.empty()) problem = SaveSideFilesProblem(path);
      if (!problem.empty()) problem = path + ": " + problem;
    } catch (const std::exception& e) {
      problem = e.what();  // names the path itself
    }
    if (!problem.empty()) Usage(QString("%1: %2").arg(option, QString::fromStdString(problem)));
  };
  if (options.output) {
    checkTarget("-o", *options.output);
    if (!IsHeightmapFormat(*options.output))
      Usage(QString("-o: unknown format of %1 (use %2)")
                .arg(QString::fromStdString(*options.output),
                     QString::fromStdString(WritableExtensions())));
    checkFolder("-o", *options.output);
  }
  if (options.picture) {
    checkTarget("--picture", *options.picture);
    if (!IsPictureFormat(*options.picture))
      Usage(QString("--picture: unknown picture format of %1 (use .png)")
                .arg(QString::fromStdString(*options.picture)));
    checkFolder("--picture", *options.picture);
  }
  if (options.output && options.picture && SameFile(*options.output, *options.picture))
    Usage("-o and --picture name the same file");
  if (!options.write.creationOptions.empty()) {
    const Format* format = options.output ? FindFormat(*options.output) : nullptr;
    if (!format || format->id != FormatId::kGeoTiff)
      Usage("--co: creation options are for a GeoTIFF output (-o FILE.tif)");
    const std::string refused = CheckCreationOptions(options.write.creationOptions);
    if (!refused.empty()) Usage(QString("--co: %1").arg(QString::fromStdString(refused)));
  }
}

// --size and --range describe a headerless RAW input; given for anything else they
// would be ignored, so they are refused.
void CheckRawOptions(const Options& options) {
  const Format* format = options.input ? FindFormat(*options.input) : nullptr;
  const bool raw = format && !format->gdalDriver;
  if (options.raw.size && !raw) Usage("--size: applies to a RAW input (.r16, .raw, .r32) only");
  if (options.raw.range && !(raw && format->bits == 16))
    Usage("--range: applies to a 16-bit RAW input (.r16, .raw) only");
  if (options.raw.band != 0 && (!options.input || raw))
    Usage("--band: applies to a raster input with bands (not a RAW grid)");
}

// An input or mask the run reads: a regular file (links followed), or a network
// location when the user allowed one. A FIFO or device would block or never end.
void CheckReadable(const char* option, const std::string& path, bool allowNetwork) {
  const QString name = QString::fromStdString(path);
  if (IsNetworkPath(path)) {
    if (!allowNetwork)
      Usage(QString("%1%2: a network location; add --allow-network to read it").arg(option, name));
    return;
  }
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    const int error = errno;
    Usage(QString("%1%2: %3")
              .arg(option, name, error == ENOENT ? "no such file" : std::strerror(error)));
  }
  if (const std::string problem = NotRegularFile(path); !problem.empty())
    Usage(QString("%1%2: %3").arg(option, name, QString::fromStdString(problem)));
  if (::access(path.c_str(), R_OK) != 0)
    Usage(QString("%1%2: cannot be read (%3)").arg(option, name, std::strerror(errno)));
}

// The file name an argument decoded as `value` was given as, byte for byte: an argument
// that decodes to it, or the part after '=' of one ("--output=NAME").
std::string FileName(const QString& value, const ProcessStart& start) {
  for (const std::string& arg : start.bytes) {
    if (QString::fromLocal8Bit(arg) == value) return arg;
    const size_t eq = arg.find('=');
    if (arg.rfind("--", 0) == 0 && eq != std::string::npos &&
        QString::fromLocal8Bit(arg.substr(eq + 1)) == value)
      return arg.substr(eq + 1);
  }
  return value.toLocal8Bit().toStdString();
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

// The option table as Qt's parser takes it.
QList<QCommandLineOption> ParserOptions() {
  QList<QCommandLineOption> options;
  for (const OptionRow& row : OptionTable()) {
    QStringList names;
    for (const std::string& name : row.names) names << QString::fromStdString(name);
    QCommandLineOption option(names, QString::fromStdString(row.help));
    if (!row.value.empty()) option.setValueName(QString::fromStdString(row.value));
    options << option;
  }
  return options;
}

// What the options name on disk: the outputs, the plug-in's values, the input and the
// mask, each checked before any work.
void CheckFiles(const Options& options) {
  CheckOutputs(options);
  const std::string refused = CheckPluginSettings(options.plugin);
  if (!refused.empty()) Usage(QString::fromStdString(refused));
  CheckRawOptions(options);
  if (options.input) CheckReadable("", *options.input, options.allowNetwork);
  if (options.input) {
    // A raster of several bands needs --band; --band needs a band that is there.
    const std::optional<int> bands = RasterBandCount(*options.input);
    const QString name = QString::fromStdString(*options.input);
    if (bands && *bands > 1 && options.raw.band == 0)
      Usage(QString("%1 has %2 bands; choose one with --band").arg(name).arg(*bands));
    if (bands && options.raw.band > *bands)
      Usage(QString("--band: %1 has no band %2 (it has %3)")
                .arg(name)
                .arg(options.raw.band)
                .arg(*bands));
    // The result is one band: written over its input, it would take the others along.
    if (bands && *bands > 1 && options.output && SameFile(*options.input, *options.output))
      Usage(QString("-o: %1 is the input, a raster of %2 bands; the result has one, and the "
                    "others would be lost (write it to another file)")
                .arg(QString::fromStdString(*options.output))
                .arg(*bands));
  }
  // What the run reads is never replaced by the picture, nor the mask by the result.
  auto refuseOver = [](const char* option, const std::optional<std::string>& written,
                       const std::optional<std::string>& read, const char* what) {
    if (written && read && SameFile(*written, *read))
      Usage(QString("%1: %2 is %3, which it would replace (write it to another file)")
                .arg(option, QString::fromStdString(*written), what));
  };
  refuseOver("--picture", options.picture, options.input, "the input");
  refuseOver("--picture", options.picture, options.mask, "the --mask");
  refuseOver("-o", options.output, options.mask, "the --mask");
  if (options.write.storage != Storage::kFloat32 &&
      !(options.output && FindFormat(*options.output) &&
        FindFormat(*options.output)->id == FormatId::kGeoTiff))
    Usage("--ot: applies to a GeoTIFF output (-o FILE.tif)");
  if (options.mask) {
    CheckReadable("--mask: ", *options.mask, options.allowNetwork);
    std::pair<int32_t, int32_t> landscape{kDefaultLandscapeSide, kDefaultLandscapeSide};
    std::pair<int32_t, int32_t> mask;
    try {
      if (options.input) landscape = GridSizeOf(*options.input, options.raw);
      RawOptions raw;
      raw.size = landscape;
      mask = GridSizeOf(*options.mask, raw);
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
  if (!options.batch && (options.output || options.picture || options.mask || options.json))
    Usage("-o, --picture, --mask and --json are for batch mode; add --batch, or use the window");
}

}  // namespace

ProcessStart PrepareProcess(int& argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);  // each result line as it comes, also in a pipe
  // A reader that closes the pipe early (| head) stops the report, not the run: its
  // files are still written.
  std::signal(SIGPIPE, SIG_IGN);
  qInstallMessageHandler(&FilterQtMessages);
  ProcessStart start;
  start.pluginOption = TakePluginOption(argc, argv);
  // Batch never needs a display, whatever DISPLAY says; without one, batch it is.
  start.batch = HasArgument(argc, argv, "--batch") || !HasDisplay();
  for (int i = 1; i < argc; ++i) start.bytes.emplace_back(argv[i]);
  if (start.batch) qputenv("QT_QPA_PLATFORM", "offscreen");
  return start;
}

std::optional<Options> ParseCommandLine(const QStringList& arguments, const ProcessStart& start) {
  QCommandLineParser parser;
  parser.setApplicationDescription(QString::fromStdString(ProgramDescription()));
  parser.addHelpOption();
  // Long only: -v is --verbose, as in GDAL's tools.
  parser.addOption({"version", "Print the program's version and exit."});
  parser.addPositionalArgument("heightmap",
                               "File to open (GeoTIFF, PNG, ASCII grid, HGT, .r16, "
                               ".r32, ...); a fractal landscape when omitted.");
  parser.addOptions(ParserOptions());
  if (!parser.parse(arguments)) Usage(parser.errorText());
  if (parser.isSet("help")) {
    std::fputs(qPrintable(parser.helpText()), stdout);
    return std::nullopt;
  }
  if (parser.isSet("version")) {
    std::printf("kelvamor-host %s\n", KELVAMOR_VERSION);
    return std::nullopt;
  }

  Options options;
  const QStringList positional = parser.positionalArguments();
  if (positional.size() > 1) Usage("give at most one heightmap");
  if (!positional.isEmpty()) options.input = FileName(positional[0], start);
  options.pluginPath = start.pluginOption ? *start.pluginOption
                                          : DefaultPluginPath(arguments.value(0).toStdString());
  options.batch = start.batch;
  if (parser.isSet("output")) options.output = FileName(parser.value("output"), start);
  if (parser.isSet("picture")) options.picture = FileName(parser.value("picture"), start);
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
    options.plugin.settings.emplace_back(item.left(eq).toStdString(),
                                         item.mid(eq + 1).toStdString());
  }
  if (parser.isSet("action")) options.plugin.action = parser.value("action").toStdString();
  for (const QString& item : parser.values("co"))
    options.write.creationOptions.push_back(item.toStdString());
  options.saveSettings = parser.isSet("save-settings");
  if (parser.isSet("band")) {
    bool ok = false;
    options.raw.band = parser.value("band").toInt(&ok);
    if (!ok || options.raw.band < 1) Usage("--band takes a band number, 1 or more");
  }
  if (parser.isSet("ot")) {
    const QString type = parser.value("ot");
    if (type.compare("Float32", Qt::CaseInsensitive) == 0) {
      options.write.storage = Storage::kFloat32;
    } else if (type.compare("Int16", Qt::CaseInsensitive) == 0) {
      options.write.storage = Storage::kInt16;
    } else if (type.compare("UInt16", Qt::CaseInsensitive) == 0) {
      options.write.storage = Storage::kUInt16;
    } else {
      Usage("--ot takes Float32, Int16 or UInt16");
    }
  }
  options.json = parser.isSet("json");
  if (parser.isSet("threads")) {
    bool ok = false;
    const int threads = parser.value("threads").toInt(&ok);
    if (!ok || threads < 1) Usage("--threads takes a number of threads, 1 or more");
    // The plug-in reads its limit from the environment: the contract has no other way.
    qputenv(settings_schema::kThreadsVariable, QByteArray::number(threads));
  }
  if (parser.isSet("quiet") && parser.isSet("verbose"))
    Usage("--quiet and --verbose exclude each other");
  options.verbosity = parser.isSet("quiet") ? 0 : parser.isSet("verbose") ? 2 : 1;
  options.progress = parser.isSet("progress") || (options.verbosity > 0 && ::isatty(2));
  if (parser.isSet("mask")) options.mask = FileName(parser.value("mask"), start);
  options.allowNetwork = parser.isSet("allow-network");
  if (options.allowNetwork) AllowNetworkAccess();
  CheckFiles(options);
  return options;
}

}  // namespace host
