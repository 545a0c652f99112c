// The operations as the dialog drives them: each reads its parameters from the
// controls at the moment it runs, an empty field standing for the parameter's default,
// and hands the action to terrain::Run.
#include <tbb/info.h>
#include <tbb/task_arena.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <span>
#include <stdexcept>
#include <string>

#include "base/parallel_copy.h"
#include "dialog/mainform.h"
#include "plugin/core.h"
#include "rovandel/settings_schema.h"
#include "terrain/action.h"

namespace {

terrain::GridSize Grid() { return {LandscapeInfo.GridWidth, LandscapeInfo.GridHeight}; }
std::span<const float> Source() { return {SourceHeights, Grid().Count()}; }
std::span<float> Result() { return {ResultHeights, Grid().Count()}; }

void Record(terrain::HeightRange range) {
  RunningMinimum = range.minimum;
  RunningMaximum = range.maximum;
}

// An operation that stopped before writing every height leaves the fetched ones.
void KeepSourceHeights() { base::CopyFloats(SourceHeights, ResultHeights, Grid().Count()); }

// Why the last Noise or Hill operation stopped, for the run to report.
std::string lastFailure;

// Noise and Hill catch every failure themselves and report it by their result.
template <typename Fn>
bool Guarded(Fn&& operation) {
  try {
    operation();
    return true;
  } catch (const std::exception& e) {
    lastFailure = e.what();
  } catch (...) {
    lastFailure = "an unknown error";
  }
  KeepSourceHeights();
  return false;
}

// A test hook: ROVANDEL_FAULT_INJECTION names an operation ("noise", "hill",
// "flatten") that then fails after reading its parameters, as if its kernel had thrown.
void FaultPoint(const char* operation) {
  const char* fault = std::getenv("ROVANDEL_FAULT_INJECTION");
  if (fault && std::strcmp(fault, operation) == 0)
    throw std::runtime_error(std::string("injected fault in ") + operation);
}

[[noreturn]] void Failed(const char* operation) {
  throw EOperationFailed(std::string(operation) + " could not be applied: " + lastFailure);
}

}  // namespace

int OperationThreads() {
  const char* text = std::getenv(settings_schema::kThreadsVariable);
  if (text && *text) {
    char* end = nullptr;
    const long threads = std::strtol(text, &end, 10);
    // More than the machine's threads would only ask TBB for workers it will not start.
    if (*end == '\0' && threads > 0)
      return static_cast<int>(std::min<long>(threads, tbb::info::default_concurrency()));
  }
  return tbb::task_arena::automatic;
}

void RunOperation(int32_t actionIndex) {
  RunningMinimum = terrain::kRangeResetMinimum;
  RunningMaximum = terrain::kRangeResetMaximum;
  // The kernels share out their work in an arena of their own: whatever threading the
  // host does, they stay within the number of threads allowed here. The calling (host)
  // thread takes part, and the host's services are called on it only.
  tbb::task_arena arena(OperationThreads());
  arena.execute([actionIndex] {
    switch (actionIndex) {
      case kSoften:
        ApplySoften();
        break;
      case kSoftenMore:
        ApplySoftenMore();
        break;
      case kNoise:
        if (!ApplyNoise()) Failed("Add Noise");
        break;
      case kHill:
        if (!ApplyHill()) Failed("Add Hill / Depression");
        break;
      case kFlatten:
        ApplyFlatten();
        break;
      case kGlaciate:
        ApplyGlaciate();
        break;
      case kCanyonize:
        ApplyCanyonize();
        break;
      default:  // no operation: the heights stay as fetched
        KeepSourceHeights();
        break;
    }
  });
}

void ApplySoften() { Record(terrain::Run(terrain::SoftenAction{}, Grid(), Source(), Result())); }

void ApplySoftenMore() {
  Record(terrain::Run(terrain::SoftenMoreAction{}, Grid(), Source(), Result()));
}

void ApplyFlatten() {
  const terrain::FlattenParameters p = RovandelParamsForm->ReadFlatten();
  FaultPoint("flatten");
  Record(terrain::Run(p, Grid(), Source(), Result()));
}

void ApplyGlaciate() {
  const terrain::ProfileParameters p = RovandelParamsForm->ReadProfile(
      RovandelParamsForm->GlaciateSpin, LandscapeInfo.MinHeight, LandscapeInfo.MaxHeight);
  Record(terrain::Run(terrain::GlaciateAction{p}, Grid(), Source(), Result()));
}

void ApplyCanyonize() {
  const terrain::ProfileParameters p = RovandelParamsForm->ReadProfile(
      RovandelParamsForm->CanyonizeSpin, LandscapeInfo.MinHeight, LandscapeInfo.MaxHeight);
  Record(terrain::Run(terrain::CanyonizeAction{p}, Grid(), Source(), Result()));
}

bool ApplyNoise() {
  return Guarded([] {
    const terrain::NoiseParameters p =
        RovandelParamsForm->ReadNoise(LandscapeInfo.MinHeight, LandscapeInfo.MaxHeight);
    FaultPoint("noise");
    const auto isWater = reinterpret_cast<IsWaterFn>(HostServices[kIsWater]);
    Record(terrain::Run(p, Grid(), Source(), Result(), [isWater](int32_t x, int32_t y) {
      return (isWater(0, x, y) & 0xFF) != 0;
    }));
  });
}

bool ApplyHill() {
  return Guarded([] {
    const terrain::HillParameters p = RovandelParamsForm->ReadHill();
    FaultPoint("hill");
    Record(terrain::Run(p, Grid(), Source(), Result()));
  });
}
