// One use of the plug-in: fetch the landscape, show the dialog, apply or back out.
#include <tbb/task_group.h>

#include <QString>
#include <atomic>
#include <cstdlib>
#include <new>

#include "base/huge_pages.h"
#include "base/parallel_copy.h"
#include "components/registry.h"
#include "dialog/mainform.h"
#include "plugin/core.h"
#include "plugin/settings.h"
#include "terrain/grid.h"

HostFunction HostServices[kHostServiceCount] = {};
LandscapeInfoRecord LandscapeInfo = {};
float* SourceHeights = nullptr;
float* ResultHeights = nullptr;
float RunningMinimum = terrain::kRangeResetMinimum;
float RunningMaximum = terrain::kRangeResetMaximum;
TRovandelParamsForm* RovandelParamsForm = nullptr;

namespace {

template <typename Fn>
Fn Service(HostServiceSlot slot) {
  return reinterpret_cast<Fn>(HostServices[slot]);
}

void SendHeights(int32_t count, const float* heights) {
  Service<SetHeightsFn>(kSetHeights)(0, count, heights);
}
void Redraw() { Service<RedrawFn>(kRedraw)(0); }

// Everything a run creates, released on every way out of it. After a preview the
// host shows heights that were never applied; unless the run applies its result,
// the fetched heights go back (RunCycle sees to it: a host's service may throw, and no
// host is called from a destructor).
class RunResources {
 public:
  ~RunResources() { Release(); }
  // Result's pages made ready on a worker while the dialog shows: the operation that
  // first writes them (OK with no preview) then finds them, instead of faulting each in
  // on its way. Only a help: a run goes on without it.
  void PrepareResult() {
    const size_t bytes = static_cast<size_t>(count) * sizeof(float);
    try {
      prepare_.run([result = ResultHeights, bytes, this] {
        base::PopulateForWriting(result, bytes, stopPreparing_);
      });
    } catch (const std::bad_alloc&) {
    }
  }
  void Release() {
    stopPreparing_ = true;
    prepare_.wait();
    delete RovandelParamsForm;
    RovandelParamsForm = nullptr;
    std::free(ResultHeights);
    ResultHeights = nullptr;
    std::free(SourceHeights);
    SourceHeights = nullptr;
  }
  void RestoreFetchedHeights() {
    if (!restoreOnExit_) return;
    restoreOnExit_ = false;
    const bool shown = RovandelParamsForm && RovandelParamsForm->PreviewShown;
    if ((shown || sending) && SourceHeights) {
      SendHeights(count, SourceHeights);
      if (rangeSent) Service<SetLandscapeInfoFn>(kSetLandscapeInfo)(0, &fetched);
      Redraw();
    }
  }
  void KeepHostHeights() { restoreOnExit_ = false; }

  int32_t count = 0;
  LandscapeInfoRecord fetched = {};  // as the run found it
  bool sending = false;              // the applied heights are on their way to the host
  bool rangeSent = false;            // and their range may be

 private:
  bool restoreOnExit_ = true;
  tbb::task_group prepare_;
  std::atomic<bool> stopPreparing_ = false;
};

bool previewProblemReported = false;

void UpdateHostRange() {
  const terrain::HeightRange range{RunningMinimum, RunningMaximum};
  if (!range.IsUsable()) return;
  Service<GetLandscapeInfoFn>(kGetLandscapeInfo)(0, &LandscapeInfo);
  LandscapeInfo.MaxHeight = static_cast<double>(RunningMaximum);
  LandscapeInfo.MinHeight = static_cast<double>(RunningMinimum);
  Service<SetLandscapeInfoFn>(kSetLandscapeInfo)(0, &LandscapeInfo);
}

float* AllocateHeights(int32_t count) {
  // At least one element, so an empty grid is not mistaken for exhausted memory.
  const size_t bytes = static_cast<size_t>(count > 0 ? count : 1) * 4;
  void* heights = std::malloc(bytes);
  base::AdviseHugePages(heights, bytes);
  return static_cast<float*>(heights);
}

// The run ends without touching the landscape; the user learns why.
int32_t NotEnoughMemory() {
  ShowMessage(NotEnoughMemoryText());
  return 0;
}

}  // namespace

QString NotEnoughMemoryText() {
  return QStringLiteral("There is not enough memory to work on this landscape (%1 x %2).")
      .arg(LandscapeInfo.GridWidth)
      .arg(LandscapeInfo.GridHeight);
}

void KeepHostServices(const HostServiceEntry* table) {
  for (int slot = 0; slot < kHostServiceCount; ++slot) HostServices[slot] = table[slot].function;
}

bool HostServicesReady() {
  for (HostServiceSlot slot :
       {kGetLandscapeInfo, kSetLandscapeInfo, kIsWater, kGetHeights, kSetHeights, kRedraw})
    if (!HostServices[slot]) return false;
  return true;
}

int32_t GetActionIndex() {
  const auto radios = RovandelParamsForm->ActionRadios();
  for (size_t i = 0; i < radios.size(); ++i)
    if (radios[i]->Checked()) return static_cast<int32_t>(i);
  return kSoften;
}

void PushPreview() {
  RovandelParamsForm->PushingPreview = true;
  QString problem;
  try {
    SendHeights(LandscapeInfo.GridWidth * LandscapeInfo.GridHeight, ResultHeights);
    Redraw();
  } catch (const std::exception& e) {
    problem = QString::fromLocal8Bit(e.what());
  } catch (...) {
    problem = QStringLiteral("an unknown error");
  }
  RovandelParamsForm->PushingPreview = false;
  // The dialog goes on either way; the user hears of the problem once a run.
  if (!problem.isEmpty() && !previewProblemReported) {
    previewProblemReported = true;
    ShowMessage(QStringLiteral("The preview could not be shown: ") + problem);
  }
}

namespace {
int32_t RunCycleWith(RunResources& run);
}  // namespace

int32_t RunCycle() {
  previewProblemReported = false;
  RunResources run;
  try {
    const int32_t result = RunCycleWith(run);
    run.RestoreFetchedHeights();  // unless applied; a service that throws fails the run
    return result;
  } catch (...) {
    try {
      run.RestoreFetchedHeights();
    } catch (...) {
      // The first failure is the one the user hears of.
    }
    throw;
  }
}

namespace {

int32_t RunCycleWith(RunResources& run) {
  Service<GetLandscapeInfoFn>(kGetLandscapeInfo)(0, &LandscapeInfo);
  run.fetched = LandscapeInfo;
  Application::CreateForm(RovandelParamsForm);
  RovandelParamsForm->previewBackend = {GetActionIndex, RunOperation, PushPreview};
  LoadSettings(*RovandelParamsForm);

  const int64_t points = int64_t{LandscapeInfo.GridWidth} * LandscapeInfo.GridHeight;
  if (LandscapeInfo.GridWidth < 0 || LandscapeInfo.GridHeight < 0 || points >= kMaxGridPoints) {
    ShowMessage(QStringLiteral("The landscape's grid size (%1 x %2) is not supported.")
                    .arg(LandscapeInfo.GridWidth)
                    .arg(LandscapeInfo.GridHeight));
    return 0;
  }
  run.count = static_cast<int32_t>(points);
  SourceHeights = AllocateHeights(run.count);
  if (!SourceHeights) return NotEnoughMemory();
  Service<GetHeightsFn>(kGetHeights)(0, run.count, SourceHeights);
  // Every operation writes the whole of Result before anything reads it (a preview or the
  // applied heights), so it is not filled here; its pages are made ready meanwhile.
  ResultHeights = AllocateHeights(run.count);
  if (!ResultHeights) return NotEnoughMemory();
  run.PrepareResult();

  if (RovandelParamsForm->ShowModal() != mrOk) return 0;  // the resources restore and release

  const int32_t actionIndex = GetActionIndex();
  QString settingsProblem;
  try {
    SaveSettings(*RovandelParamsForm, actionIndex);
  } catch (const ERegistryError& e) {
    // The landscape matters more than the settings: apply, then tell the user.
    settingsProblem = QString::fromLocal8Bit(e.what());
  }

  Screen().SetCursor(crHourGlass);
  try {
    RunOperation(actionIndex);
  } catch (...) {
    Screen().SetCursor(crDefault);
    throw;  // no partial result reaches the host; the resources restore and release
  }
  Screen().SetCursor(crDefault);
  // Until the host has taken the heights, their range and the redraw, a service that
  // fails puts the fetched landscape back: a run that returns 0 changed nothing.
  run.sending = true;
  SendHeights(run.count, ResultHeights);
  run.rangeSent = true;
  UpdateHostRange();
  Redraw();
  run.KeepHostHeights();
  run.Release();
  if (!settingsProblem.isEmpty())
    ShowMessage(QStringLiteral("The landscape was changed, but the settings were not saved: ") +
                settingsProblem);
  return 1;
}

}  // namespace
