// The plug-in's settings as a host, a script or a test sees them: where they are kept,
// the fourteen values with their kinds, defaults and valid ranges, and the actions by
// name. Plain C++ without Qt, so hosts can check values without linking the module.
#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <optional>
#include <string_view>

namespace settings_schema {

// The name the module gives hosts (DescribePlugin).
inline constexpr char kDisplayName[] = "Landscape Rovandel";

// Limits the threads the operations use (a positive number); unset, they use every
// core the process may run on. For hosts that cannot pass a limit otherwise.
inline constexpr char kThreadsVariable[] = "ROVANDEL_THREADS";

// The per-user store: "software\<company>\<product>", one section.
inline constexpr char kCompany[] = "Quorvale";
inline constexpr char kProduct[] = "Kelvamor";
inline constexpr char kKeyPath[] = "software\\Quorvale\\Kelvamor";
inline constexpr char kSection[] = "RovandelPlugin";

enum class Kind { kInteger, kFloat, kBool };

inline constexpr double kAnyFinite = std::numeric_limits<double>::max();

struct Setting {
  const char* key;
  Kind kind;
  double defaultValue;  // what a missing or unreadable value loads as (bool: 0 or 1)
  double resetValue;    // what the dialog puts back after refusing a typed text
  double minimum;       // the values the dialog's rules accept, inclusive
  double maximum;
  bool aboveMinimum;    // the minimum itself is refused (a width must be positive)
  const char* meaning;  // one line for help texts
};

// In the order the store lists them.
enum Index : int {
  kAction,
  kNoise,
  kAmplitude,
  kCoverage,
  kSeed,
  kXpos,
  kYpos,
  kRadius,
  kHeight,
  kWater,
  kFlattenHeight,
  kFlatten,
  kGlaciate,
  kCanyonize,
};

inline constexpr double kInt32Min = std::numeric_limits<int32_t>::min();
inline constexpr double kInt32Max = std::numeric_limits<int32_t>::max();

inline constexpr std::array<Setting, 14> kSettings{{
    {"Action", Kind::kInteger, 0, 0, 0, 6, false, "the action, 0 Soften .. 6 Canyonize"},
    {"Noise", Kind::kInteger, 0, 0, 0, 1, false, "noise type, 0 Random, 1 Gaussian"},
    {"Amplitude", Kind::kInteger, 20, 20, 0, 100, false, "noise amplitude, % of the height range"},
    {"Coverage", Kind::kInteger, 20, 20, 0, 100, false, "share of points that get noise, %"},
    {"Seed", Kind::kInteger, 12345, 12345, kInt32Min, kInt32Max, false, "noise seed"},
    {"xpos", Kind::kFloat, 50, 50, 0, 100, false, "hill centre across, % of the width"},
    {"ypos", Kind::kFloat, 50, 50, 0, 100, false, "hill centre down, % of the height"},
    {"radius", Kind::kFloat, 10, 50, 0, kAnyFinite, true, "hill width, % of the map"},
    {"height", Kind::kFloat, 10, 50, -kAnyFinite, kAnyFinite, false,
     "hill height (negative: a depression)"},
    {"water", Kind::kBool, 1, 1, 0, 1, false, "Add Noise leaves water alone (true/false)"},
    {"FlattenHeight", Kind::kFloat, 0, 0, -kAnyFinite, kAnyFinite, false,
     "height Flatten pulls toward"},
    {"Flatten", Kind::kInteger, 50, 50, 0, 100, false, "Flatten severity, %"},
    {"Glaciate", Kind::kInteger, 10, 10, 0, 100, false, "Glaciate severity, %"},
    {"Canyonize", Kind::kInteger, 10, 10, 0, 100, false, "Canyonize severity, %"},
}};

// How Python names each setting, in the order of kSettings: the store's names are the
// contract's, these follow the language's conventions.
inline constexpr std::array<const char*, 14> kPythonNames{
    "action", "noise_type", "amplitude",   "coverage",       "seed",     "xpos",     "ypos",
    "radius", "height",     "leave_water", "flatten_height", "severity", "severity", "severity"};

// Add Noise's types, as Python names the values of its "Noise" setting.
inline constexpr std::array<const char*, 2> kNoiseTypeNames{"random", "gaussian"};

// What every door needs to know of an action, in the order of its index: one row each.
struct ActionRow {
  const char* name;             // as command lines name it ("soften-more")
  const char* pythonName;       // as Python names its function ("soften_more")
  std::array<int, 5> settings;  // the kSettings it takes, in the dialog's order; -1 after
  // How far (cells, in x and in y) one result reads the source around it; kWholeGrid:
  // the action walks the whole grid in one order.
  int halo;
  bool usesRange;     // scales by the landscape's recorded height range
  const char* title;  // as the dialog names it
};
inline constexpr int kWholeGrid = -1;

// The actions' numbers, the order of kActions.
enum ActionIndex : int {
  kActionSoften,
  kActionSoftenMore,
  kActionNoise,
  kActionHill,
  kActionFlatten,
  kActionGlaciate,
  kActionCanyonize,
};

inline constexpr std::array<ActionRow, 7> kActions{{
    {"soften", "soften", {-1, -1, -1, -1, -1}, 1, false, "Soften"},
    {"soften-more", "soften_more", {-1, -1, -1, -1, -1}, 2, false, "Soften more"},
    {"noise",
     "noise",
     {kNoise, kAmplitude, kCoverage, kSeed, kWater},
     kWholeGrid,
     true,
     "Add Noise"},
    {"hill", "hill", {kXpos, kYpos, kRadius, kHeight, -1}, 0, false, "Add Hill / Depression"},
    {"flatten", "flatten", {kFlattenHeight, kFlatten, -1, -1, -1}, 0, false, "Flatten"},
    {"glaciate", "glaciate", {kGlaciate, -1, -1, -1, -1}, 0, true, "Glaciate"},
    {"canyonize", "canyonize", {kCanyonize, -1, -1, -1, -1}, 0, true, "Canyonize"},
}};

// The actions in the order of their index, as command lines name them.
inline constexpr std::array<const char*, 7> kActionNames = [] {
  std::array<const char*, 7> names{};
  for (size_t i = 0; i < kActions.size(); ++i) names[i] = kActions[i].name;
  return names;
}();

inline std::optional<int> FindSetting(std::string_view key) {
  for (size_t i = 0; i < kSettings.size(); ++i)
    if (key == kSettings[i].key) return static_cast<int>(i);
  return std::nullopt;
}

// By either of its names ("soften-more" or "soften_more").
inline std::optional<int> FindAction(std::string_view name) {
  for (size_t i = 0; i < kActions.size(); ++i)
    if (name == kActions[i].name || name == kActions[i].pythonName) return static_cast<int>(i);
  return std::nullopt;
}

// Whether a value (already of the setting's kind) is one the dialog would accept.
inline bool InRange(const Setting& s, double value) {
  if (!(value >= s.minimum && value <= s.maximum)) return false;
  return !(s.aboveMinimum && value == s.minimum);
}

}  // namespace settings_schema
