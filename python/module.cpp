// rovandel._rovandel: the terrain operations, and plug-in modules of this contract, for
// Python on NumPy arrays. The Python layer (rovandel/__init__.py) checks and converts
// the arguments; here every grid is a C-contiguous float32 array of two dimensions,
// checked once more, and the work runs without the GIL.
#include "host/plugins/module.h"

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <tbb/info.h>
#include <tbb/task_arena.h>

#include <QApplication>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <functional>
#include <future>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <variant>
#include <vector>

#include "host/common/error.h"
#include "host/common/replace_file.h"
#include "host/io/heightmap_io.h"
#include "host/io/tiled_geotiff.h"
#include "host/io/voids.h"
#include "host/plugins/headless.h"
#include "host/plugins/private_settings.h"
#include "host/plugins/services.h"
#include "rovandel/settings_schema.h"
#include "terrain/action.h"

namespace py = pybind11;

namespace {

namespace schema = settings_schema;

// A grid as the kernels take it.
struct Grid {
  terrain::GridSize size;
  float* data;
};

Grid GridOf(const py::array& array, const char* name, bool writable) {
  if (array.ndim() != 2) throw py::value_error(std::string(name) + " must have two dimensions");
  if (!array.dtype().is(py::dtype::of<float>()))
    throw py::type_error(std::string(name) + " must be float32");
  if (!(array.flags() & py::array::c_style))
    throw py::value_error(std::string(name) + " must be C-contiguous");
  if (writable && !array.writeable()) throw py::value_error(std::string(name) + " is read-only");
  if (array.shape(0) > INT32_MAX || array.shape(1) > INT32_MAX)
    throw py::value_error(std::string(name) + " has more than 2^31 - 1 rows or columns");
  return {{static_cast<int32_t>(array.shape(1)), static_cast<int32_t>(array.shape(0))},
          static_cast<float*>(const_cast<void*>(array.data()))};
}

// The range a landscape records after a run: that of the valid, finite results.
std::pair<float, float> ValidRange(std::span<const float> result, std::span<const uint8_t> voids) {
  float lo = std::numeric_limits<float>::infinity(), hi = -lo;
  for (size_t i = 0; i < result.size(); ++i) {
    if (voids[i] || !std::isfinite(result[i])) continue;
    lo = std::min(lo, result[i]);
    hi = std::max(hi, result[i]);
  }
  if (lo > hi) return {0.0f, 0.0f};
  return {lo, hi};
}

// Runs `kernel(size, source, result, voids)` on heights into out, on `threads` threads
// (all when unset), without the GIL, by the host's void rule: cells that are NaN,
// infinite or `nodata` are filled for the kernel and written as `nodata` (NaN when
// unset) after. The range the landscape records after it: the kernel's, or with voids
// the valid cells'; none when the kernel recorded no range the plug-in hands over (the
// landscape keeps the one it had).
template <typename Kernel>
std::optional<std::pair<float, float>> Apply(const py::array& heights, py::array& out,
                                             std::optional<int> threads,
                                             std::optional<double> nodata, Kernel&& kernel) {
  const Grid source = GridOf(heights, "heights", false);
  const Grid result = GridOf(out, "out", true);
  if (source.size.width != result.size.width || source.size.height != result.size.height)
    throw py::value_error("out must have the shape of heights");
  if (threads && *threads < 1) throw py::value_error("threads must be 1 or more");
  if (nodata && std::isnan(*nodata)) nodata.reset();
  const size_t count = source.size.Count();
  terrain::HeightRange range;
  bool recorded = true;
  {
    py::gil_scoped_release unlocked;
    // As the host's --threads: more than the machine's threads only asks TBB for workers
    // it will not start.
    tbb::task_arena arena(threads ? std::min(*threads, tbb::info::default_concurrency())
                                  : tbb::task_arena::automatic);
    arena.execute([&] {
      std::span<const float> heights(source.data, count);
      const std::vector<uint8_t> voids = host::FindVoids(heights, nodata);
      std::vector<float> filled;
      if (!voids.empty()) {
        filled.assign(heights.begin(), heights.end());
        if (!host::FillVoids(filled, source.size.width, source.size.height, voids)) {
          std::fill_n(result.data, count, nodata ? static_cast<float>(*nodata) : NAN);
          range = {0.0f, 0.0f};
          return;
        }
        heights = filled;
      }
      std::span<float> written(result.data, count);
      range = kernel(source.size, heights, written, std::span<const uint8_t>(voids));
      recorded = range.IsUsable();
      if (voids.empty()) return;
      const float voidValue = nodata ? static_cast<float>(*nodata) : NAN;
      for (size_t i = 0; i < count; ++i)
        if (voids[i]) written[i] = voidValue;
      if (recorded) std::tie(range.minimum, range.maximum) = ValidRange(written, voids);
    });
  }
  if (!recorded) return std::nullopt;
  return std::pair{range.minimum, range.maximum};
}

// The settings with their kinds, defaults and ranges, for the Python layer to build its
// signatures and checks from.
py::list Settings() {
  py::list list;
  for (const schema::Setting& s : schema::kSettings) {
    py::dict d;
    d["key"] = s.key;
    d["kind"] = s.kind == schema::Kind::kInteger ? "int"
                : s.kind == schema::Kind::kFloat ? "float"
                                                 : "bool";
    d["default"] = s.defaultValue;
    d["minimum"] = s.minimum;
    d["maximum"] = s.maximum;
    d["above_minimum"] = s.aboveMinimum;
    d["meaning"] = s.meaning;
    d["python_name"] = schema::kPythonNames[static_cast<size_t>(&s - schema::kSettings.data())];
    list.append(d);
  }
  return list;
}

// Qt for the module's dialog, headless unless the process chose a platform; made once
// (unless the process has its own), on the thread that first loads a plug-in.
void EnsureApplication() {
  if (QCoreApplication::instance()) return;
  // Qt's note that it makes its own runtime folder says nothing about the work.
  qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (text.contains(QLatin1String("XDG_RUNTIME_DIR"))) return;
    std::fprintf(stderr, "%s\n", qPrintable(text));
    if (type == QtFatalMsg) std::abort();
  });
  if (qgetenv("QT_QPA_PLATFORM").isEmpty()) qputenv("QT_QPA_PLATFORM", "offscreen");
  static int argc = 1;
  static char name[] = "rovandel";
  static char* argv[] = {name, nullptr};
  new QApplication(argc, argv);  // lives as long as the process
}

// The thread every plug-in is loaded and run on: a module's dialog is Qt's, and Qt's
// widgets live on the application's thread. Made with the application on first use, so
// that a plug-in runs from any Python thread (a thread pool, Dask's threads) one run at a
// time; a process that has its own QApplication runs plug-ins on that one's thread.
class QtThread {
 public:
  // Ends the application this made, on its thread, so that none of Qt's objects is left
  // for the process's exit to destroy from another.
  static void Shutdown() {
    if (made && Get().own_) Run([] { delete QCoreApplication::instance(); });
  }

  // Runs work on the thread and waits for it; its exception is thrown here.
  static void Run(const std::function<void()>& work) {
    QtThread& qt = Get();
    if (!qt.own_ || std::this_thread::get_id() == qt.id_) {
      if (QCoreApplication::instance() &&
          QThread::currentThread() != QCoreApplication::instance()->thread())
        throw std::runtime_error("this process's QApplication runs plug-ins on its own thread");
      work();
      return;
    }
    std::packaged_task<void()> task(work);
    std::future<void> done = task.get_future();
    {
      const std::lock_guard lock(qt.mutex_);
      qt.tasks_.push_back(std::move(task));
    }
    qt.ready_.notify_one();
    done.get();
  }

 private:
  static QtThread& Get() {
    static QtThread* const qt = new QtThread;  // lives as long as the process
    made = true;
    return *qt;
  }
  static inline std::atomic<bool> made{false};

  QtThread() {
    if (QCoreApplication::instance()) return;  // the process's own, on its thread
    std::promise<void> started;
    std::thread thread([this, &started] {
      EnsureApplication();
      started.set_value();
      for (;;) {
        std::unique_lock lock(mutex_);
        ready_.wait(lock, [this] { return !tasks_.empty(); });
        std::packaged_task<void()> task = std::move(tasks_.front());
        tasks_.pop_front();
        lock.unlock();
        task();
      }
    });
    own_ = true;
    id_ = thread.get_id();
    thread.detach();
    started.get_future().get();
  }

  bool own_ = false;  // the thread is this one's
  std::thread::id id_;
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<std::packaged_task<void()>> tasks_;
};

class PluginError : public std::runtime_error {
  using std::runtime_error::runtime_error;
};

// A module of this contract, loaded headless: its dialog answered with OK, its
// settings private to each run.
class Plugin {
 public:
  explicit Plugin(const std::string& path) {
    py::gil_scoped_release unlocked;
    QtThread::Run([&] { module_ = std::make_unique<host::PluginModule>(path); });
  }
  ~Plugin() {
    py::gil_scoped_release unlocked;
    QtThread::Run([&] { module_.reset(); });
  }
  Plugin(const Plugin&) = delete;
  Plugin& operator=(const Plugin&) = delete;

  const std::string& Name() const { return module_->Name(); }
  const std::string& Path() const { return module_->Path(); }

  // Runs the action on a copy of heights, NoData cells (NaN, or `nodata`) filled for the
  // plug-in and restored after, as kelvamor-host does. The heights and the range the
  // plug-in recorded.
  std::pair<py::array_t<float>, std::pair<double, double>> Run(
      const py::array& heights, std::optional<std::string> action,
      const std::vector<std::pair<std::string, std::string>>& settings,
      std::optional<double> waterLevel, std::optional<py::array> mask,
      std::optional<double> nodata) {
    const Grid grid = GridOf(heights, "heights", false);
    host::Landscape land;
    land.width = grid.size.width;
    land.height = grid.size.height;
    land.heights.assign(grid.data, grid.data + grid.size.Count());
    land.noData = host::FindVoids(land.heights, nodata);
    if (!host::FillVoids(land.heights, land.width, land.height, land.noData))
      throw py::value_error("heights holds no valid height");
    land.RecordRange();
    host::ZeroedWeights weights;
    if (mask) {
      const Grid m = GridOf(*mask, "mask", false);
      if (m.size.width != land.width || m.size.height != land.height)
        throw py::value_error("mask must have the shape of heights");
      weights.assign(m.data, m.data + m.size.Count());
    }
    host::PluginValues values;
    values.settings = settings;
    values.action = action;
    const std::string refused = host::CheckPluginSettings(values);
    if (!refused.empty()) throw py::value_error(refused);
    host::HeadlessRun run;
    {
      py::gil_scoped_release unlocked;
      QtThread::Run([&] {
        std::ostringstream warnings;
        host::PrivateSettings store(values, warnings, host::PrivateSettings::Base::kDefaults);
        run = host::RunHeadless(*module_, land, waterLevel, std::move(weights));
      });
    }
    const bool applied = run.applied;
    const std::vector<std::string>& messages = run.messages;
    if (!applied) {
      std::string text = messages.empty() ? "the plug-in did not apply its action" : "";
      for (const std::string& m : messages) text += (text.empty() ? "" : "\n") + m;
      throw PluginError(text);
    }
    py::array_t<float> result(
        {static_cast<py::ssize_t>(land.height), static_cast<py::ssize_t>(land.width)});
    float* out = result.mutable_data();
    const float voidValue = nodata ? static_cast<float>(*nodata) : std::nanf("");
    for (size_t i = 0; i < land.Count(); ++i)
      out[i] = land.IsNoData(i) ? voidValue : land.heights[i];
    return {result, {land.minHeight, land.maxHeight}};
  }

 private:
  std::unique_ptr<host::PluginModule> module_;
};

// A replacement Python can end before the object is collected.
class Replacement {
 public:
  explicit Replacement(const std::string& target)
      : file_(std::make_unique<host::FileReplacement>(target)) {}
  std::string TemporaryPath() const { return Open().TemporaryPath(); }
  void Commit() {
    Open().Commit();
    file_.reset();
  }
  void Discard() { file_.reset(); }

 private:
  host::FileReplacement& Open() const {
    if (!file_) throw std::runtime_error("the replacement is over");
    return *file_;
  }
  std::unique_ptr<host::FileReplacement> file_;
};

// Water given point by point, checked against the heights' shape; none when not given.
using WaterMask = const uint8_t*;
WaterMask WaterMaskOf(const py::array& h, const std::optional<py::array>& waterMask) {
  if (!waterMask) return nullptr;
  if (waterMask->ndim() != 2 || waterMask->shape(0) != h.shape(0) ||
      waterMask->shape(1) != h.shape(1) || !waterMask->dtype().is(py::dtype::of<uint8_t>()) ||
      !(waterMask->flags() & py::array::c_style))
    throw py::value_error("water_mask must be a C-contiguous uint8 array of heights' shape");
  return static_cast<const uint8_t*>(waterMask->data());
}

// Water as the host serves it: a void is water, else the mask or the level says. None
// at all when nothing can be water.
terrain::WaterTest WaterTestOf(terrain::GridSize size, std::span<const float> heights,
                               std::span<const uint8_t> voids, WaterMask mask,
                               std::optional<double> level) {
  if (!mask && !level && voids.empty()) return {};
  const size_t width = static_cast<size_t>(size.width);
  return [=](int32_t x, int32_t y) {
    const size_t i = static_cast<size_t>(y) * width + static_cast<size_t>(x);
    if (!voids.empty() && voids[i]) return true;
    if (mask) return mask[i] != 0;
    return level && heights[i] <= *level;
  };
}

// A surveyed piece of Add Noise's sequence as Python holds it: the flips and whether it
// ends on an offset, for a piece that starts on a flip, then on an offset.
using Piece = std::tuple<uint64_t, bool, uint64_t, bool>;
std::vector<terrain::NoisePiece> PiecesOf(const std::vector<Piece>& pieces) {
  std::vector<terrain::NoisePiece> out(pieces.size());
  for (size_t i = 0; i < pieces.size(); ++i)
    std::tie(out[i].flips[0], out[i].endsOnOffset[0], out[i].flips[1], out[i].endsOnOffset[1]) =
        pieces[i];
  return out;
}

terrain::HillParameters HillOf(double xpos, double ypos, double radius, double height) {
  terrain::HillParameters p;
  p.centreX = terrain::PercentToFraction(xpos);
  p.centreY = terrain::PercentToFraction(ypos);
  p.width = terrain::PercentToFraction(radius);
  p.heightChange = height;
  return p;
}

// A GeoTIFF's storage by the name --ot gives it.
host::Storage StorageOf(const std::string& name) {
  if (name == "Float32") return host::Storage::kFloat32;
  if (name == "Int16") return host::Storage::kInt16;
  if (name == "UInt16") return host::Storage::kUInt16;
  throw py::value_error("storage must be Float32, Int16 or UInt16, not " + name);
}

// An action and its settings (by the store's keys, checked by the Python layer) as the
// kernels take them: the one mapping from the settings' values to an action's parameters.
using Values = std::map<std::string, double>;
static_assert(std::variant_size_v<terrain::Action> == schema::kActions.size());
terrain::Action ActionOf(const std::string& name, const Values& values, double lo, double hi) {
  const std::optional<int> index = schema::FindAction(name);
  if (!index) throw py::value_error("no action named " + name);
  const auto value = [&](int key) {
    const char* store = schema::kSettings[static_cast<size_t>(key)].key;
    const auto found = values.find(store);
    if (found == values.end()) throw py::value_error(std::string("no value for ") + store);
    return found->second;
  };
  const auto whole = [&](int key) { return static_cast<int32_t>(value(key)); };
  switch (*index) {
    case schema::kActionSoften:
      return terrain::SoftenAction{};
    case schema::kActionSoftenMore:
      return terrain::SoftenMoreAction{};
    case schema::kActionNoise: {
      terrain::NoiseParameters p;
      p.seed = whole(schema::kSeed);
      p.noiseType = whole(schema::kNoise);
      p.amplitudePercent = whole(schema::kAmplitude);
      p.coveragePercent = whole(schema::kCoverage);
      p.ignoreWater = value(schema::kWater) != 0.0;
      p.minHeight = lo;
      p.maxHeight = hi;
      return p;
    }
    case schema::kActionHill:
      return HillOf(value(schema::kXpos), value(schema::kYpos), value(schema::kRadius),
                    value(schema::kHeight));
    case schema::kActionFlatten:
      return terrain::FlattenParameters{value(schema::kFlattenHeight), whole(schema::kFlatten)};
    case schema::kActionGlaciate:
      return terrain::GlaciateAction{{whole(schema::kGlaciate), lo, hi}};
    default:
      return terrain::CanyonizeAction{{whole(schema::kCanyonize), lo, hi}};
  }
}

}  // namespace

PYBIND11_MODULE(_rovandel, m) {
  m.doc() = "The terrain operations of Landscape Rovandel (use the rovandel package).";
  m.attr("__version__") = ROVANDEL_VERSION;
  // The module installed with the package, from the package's folder; the one built
  // beside it in the build tree.
  m.attr("PLUGIN_FROM_PACKAGE") = ROVANDEL_MODULE_FROM_PACKAGE;
  m.attr("BUILD_PLUGIN") = ROVANDEL_BUILD_MODULE;
  m.def("settings", &Settings);
  m.def("actions", [] {
    py::list list;
    for (const schema::ActionRow& a : schema::kActions) {
      py::dict d;
      d["name"] = a.name;
      d["python_name"] = a.pythonName;
      py::list keys;
      for (const int k : a.settings)
        if (k >= 0) keys.append(schema::kSettings[static_cast<size_t>(k)].key);
      d["settings"] = keys;
      d["halo"] = a.halo;
      d["uses_range"] = a.usesRange;
      list.append(d);
    }
    return list;
  });
  m.attr("NOISE_TYPES") =
      std::vector<std::string>(schema::kNoiseTypeNames.begin(), schema::kNoiseTypeNames.end());

  using Out = py::array;
  using Threads = std::optional<int>;
  using NoData = std::optional<double>;
  // Any action on the whole grid; Add Noise, given the surveyed pieces of the sequence,
  // their size and the first flip, on a run of whole columns of a larger grid.
  m.def("run", [](const std::string& action, const py::array& h, Out out, Threads t, NoData nd,
                  const Values& values, double lo, double hi, std::optional<py::array> waterMask,
                  std::optional<double> waterLevel, std::optional<std::vector<Piece>> pieces,
                  uint64_t pieceValues, uint64_t firstFlip) {
    const terrain::Action a = ActionOf(action, values, lo, hi);
    const WaterMask mask = WaterMaskOf(h, waterMask);
    const auto* noise = std::get_if<terrain::NoiseParameters>(&a);
    std::optional<terrain::NoiseSequence> sequence;
    if (noise && pieces)
      sequence.emplace(noise->seed, noise->coveragePercent, pieceValues, PiecesOf(*pieces));
    return Apply(h, out, t, nd, [&](auto size, auto s, auto r, std::span<const uint8_t> voids) {
      const terrain::WaterTest isWater =
          noise ? WaterTestOf(size, s, voids, mask, waterLevel) : terrain::WaterTest{};
      if (sequence) return terrain::AddNoiseFrom(size, s, r, *noise, isWater, *sequence, firstFlip);
      return terrain::Run(a, size, s, r, isWater);
    });
  });
  m.def("hill_window", [](const py::array& h, Out out, Threads t, NoData nd, int32_t wholeWidth,
                          int32_t wholeHeight, int32_t x0, int32_t y0, double xpos, double ypos,
                          double radius, double height) {
    const terrain::HillParameters p = HillOf(xpos, ypos, radius, height);
    Apply(h, out, t, nd, [&](auto size, auto s, auto r, auto) {
      terrain::AddHillWindow({wholeWidth, wholeHeight}, x0, y0, size, s, r, p);
      return terrain::HeightRange{};
    });
  });
  // How many points of a grid Add Noise draws for: those that are not water.
  m.def("dry_points", [](const py::array& h, NoData nd, bool ignoreWater,
                         std::optional<py::array> waterMask, std::optional<double> waterLevel) {
    const Grid g = GridOf(h, "heights", false);
    const WaterMask mask = WaterMaskOf(h, waterMask);
    const std::span<const float> heights(g.data, g.size.Count());
    if (nd && std::isnan(*nd)) nd.reset();
    py::gil_scoped_release unlocked;
    const std::vector<uint8_t> voids = host::FindVoids(heights, nd);
    const terrain::WaterTest isWater = WaterTestOf(g.size, heights, voids, mask, waterLevel);
    if (!ignoreWater || !isWater) return static_cast<uint64_t>(g.size.Count());
    uint64_t dry = 0;
    for (int32_t y = 0; y < g.size.height; ++y)
      for (int32_t x = 0; x < g.size.width; ++x) dry += !isWater(x, y);
    return dry;
  });
  m.def("noise_piece", [](int32_t seed, int32_t coverage, uint64_t piece, uint64_t pieceValues) {
    py::gil_scoped_release unlocked;
    const terrain::NoisePiece n = terrain::SurveyNoisePiece(seed, coverage, piece, pieceValues);
    return Piece{n.flips[0], n.endsOnOffset[0], n.flips[1], n.endsOnOffset[1]};
  });
  m.def("noise_flips",
        [](int32_t seed, int32_t coverage, uint64_t pieceValues, const std::vector<Piece>& pieces) {
          return terrain::NoiseSequence(seed, coverage, pieceValues, PiecesOf(pieces)).Flips();
        });
  m.attr("VOID_FILL_REACH") = host::kVoidFillReach;
  // Stored steps to heights by the readers' rule (a band's scale and offset); voids (NaN,
  // infinite or `nodata`, among the steps) NaN.
  m.def("heights_of_steps", [](const py::array& h, NoData nodata, double scale, double offset) {
    const Grid g = GridOf(h, "heights", false);
    py::array_t<float> out({h.shape(0), h.shape(1)});
    float* heights = out.mutable_data();
    if (nodata && std::isnan(*nodata)) nodata.reset();
    {
      py::gil_scoped_release unlocked;
      const std::span<const float> steps(g.data, g.size.Count());
      const std::vector<uint8_t> voids = host::FindVoids(steps, nodata);
      for (size_t i = 0; i < steps.size(); ++i)
        heights[i] = !voids.empty() && voids[i] ? std::numeric_limits<float>::quiet_NaN()
                                                : host::StoredHeight(steps[i], scale, offset);
    }
    return out;
  });
  // The lowest and highest height of the cells that are not voids; None when all are.
  m.def("valid_range",
        [](const py::array& h, NoData nodata) -> std::optional<std::pair<float, float>> {
          const Grid g = GridOf(h, "heights", false);
          const std::span<const float> heights(g.data, g.size.Count());
          if (nodata && std::isnan(*nodata)) nodata.reset();
          py::gil_scoped_release unlocked;
          std::vector<uint8_t> voids = host::FindVoids(heights, nodata);
          if (voids.empty()) voids.assign(heights.size(), 0);
          const auto [lo, hi] = ValidRange(heights, voids);
          if (std::find(voids.begin(), voids.end(), 0) == voids.end()) return std::nullopt;
          return std::pair{lo, hi};
        });

  // One band of a raster as the host reads its heights, a window at a time.
  py::class_<host::RasterHeights>(m, "Raster")
      .def(py::init<const std::string&, int>(), py::arg("path"), py::arg("band") = 0)
      .def_property_readonly("width", &host::RasterHeights::Width)
      .def_property_readonly("height", &host::RasterHeights::Height)
      .def_property_readonly("nodata",
                             [](const host::RasterHeights& r) { return r.Geo().noDataValue; })
      .def_property_readonly("scale_offset",
                             [](const host::RasterHeights& r) { return r.Geo().scaleOffset; })
      .def("read", [](const host::RasterHeights& r, int32_t x0, int32_t y0, int32_t w, int32_t h) {
        if (w <= 0 || h <= 0) throw py::value_error("a window has at least one cell");
        py::array_t<float> out({static_cast<py::ssize_t>(h), static_cast<py::ssize_t>(w)});
        float* data = out.mutable_data();
        py::gil_scoped_release unlocked;
        r.Read(x0, y0, w, h, data);
        return out;
      });
  m.def("raster_band_count", &host::RasterBandCount);
  m.def("float_holds_nodata", &host::FloatHoldsNoData);

  // The blocks of a window of heights compressed as the output GeoTIFF stores them, and
  // the output's writer that puts such blocks in place.
  m.def("compress_blocks",
        [](const py::array& h, int32_t block, const std::vector<std::string>& options, int threads,
           const std::string& storage) {
          const Grid g = GridOf(h, "heights", false);
          std::vector<std::string> blocks;
          {
            py::gil_scoped_release unlocked;
            blocks = host::CompressBlocks(g.data, g.size.width, g.size.height,
                                          {block, options, threads, StorageOf(storage)});
          }
          py::list out;
          for (const std::string& b : blocks) out.append(py::bytes(b));
          return out;
        });
  py::class_<host::BlockAssembly>(m, "BlockAssembly")
      .def(py::init([](const std::string& path, const host::RasterHeights& like,
                       std::optional<double> noData, int32_t block,
                       const std::vector<std::string>& options, const std::string& storage) {
        return std::make_unique<host::BlockAssembly>(
            path, like.Width(), like.Height(), like.Geo(), noData,
            host::BlockFormat{block, options, 0, StorageOf(storage)});
      }))
      .def("put",
           [](host::BlockAssembly& a, int32_t bx, int32_t by, const py::bytes& bytes) {
             const std::string_view view(bytes);
             py::gil_scoped_release unlocked;
             a.Put(bx, by, view);
           })
      .def_property_readonly("complete", &host::BlockAssembly::Complete);
  m.def("set_nodata", &host::SetNoData);
  // The whole steps of an Int16 or UInt16 output, as a save writes them.
  py::class_<host::WholeSteps>(m, "WholeSteps")
      .def(py::init([](const std::string& storage, std::optional<std::pair<double, double>> kept) {
        host::Georeference geo;
        geo.scaleOffset = kept;
        return host::WholeSteps(StorageOf(storage), geo);
      }))
      .def_readonly("scale", &host::WholeSteps::scale)
      .def_readonly("offset", &host::WholeSteps::offset)
      .def_readonly("lowest", &host::WholeSteps::lowest)
      // A window's heights as stored (voids as noData), the lowest and highest step of a
      // valid height, and which of the type's values one uses (a bool array from lowest).
      .def("store",
           [](const host::WholeSteps& s, const py::array& h, double noData) {
             const Grid g = GridOf(h, "heights", false);
             py::array_t<float> out({h.shape(0), h.shape(1)});
             host::WholeWindow w;
             {
               py::gil_scoped_release unlocked;
               w = host::StoreSteps(g.data, g.size.Count(), s, noData, out.mutable_data());
             }
             py::array_t<bool> used(static_cast<py::ssize_t>(w.used.size()));
             std::copy(w.used.begin(), w.used.end(), used.mutable_data());
             return py::make_tuple(out, w.low, w.high, used);
           })
      .def("check_fits", &host::WholeSteps::CheckFits)
      .def("free_value",
           [](const host::WholeSteps& s, const py::array_t<bool>& used, std::optional<double> own) {
             const std::vector<bool> flags(used.data(), used.data() + used.size());
             if (flags.size() != static_cast<size_t>(s.highest - s.lowest) + 1)
               throw py::value_error("used must hold a flag per value of the type");
             return s.FreeValue(flags, own);
           });

  // The host's safe replacement of a file: a temporary beside it, renamed over it (a
  // link followed, its mode and attributes kept) only on commit, removed otherwise and
  // on SIGTERM and SIGHUP.
  py::class_<Replacement>(m, "FileReplacement")
      .def(py::init<const std::string&>())
      // bytes, as the file system holds the name
      .def_property_readonly("temporary_path",
                             [](const Replacement& r) { return py::bytes(r.TemporaryPath()); })
      .def("commit", &Replacement::Commit)
      .def("discard", &Replacement::Discard);

  m.def("shutdown", [] {
    py::gil_scoped_release unlocked;
    QtThread::Shutdown();
  });
  // The host's errors name files by their bytes, which need not be UTF-8: said as the
  // file system's str (undecodable bytes as surrogates, as os.fsdecode gives them).
  py::register_exception_translator([](std::exception_ptr thrown) {
    try {
      if (thrown) std::rethrow_exception(thrown);
    } catch (const host::Error& e) {
      PyObject* text = PyUnicode_DecodeFSDefault(e.what());
      PyErr_SetObject(PyExc_RuntimeError, text);
      Py_XDECREF(text);
    }
  });
  py::register_exception<PluginError>(m, "PluginError", PyExc_RuntimeError);
  py::class_<Plugin>(m, "Plugin")
      .def(py::init<const std::string&>())
      .def_property_readonly("name", &Plugin::Name)
      .def_property_readonly("path", &Plugin::Path)
      .def("run", &Plugin::Run);
}
