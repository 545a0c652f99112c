// The unit Core: the module's state, the run cycle and the argument-free operations
// that read the dialog's controls and hand plain values to the terrain kernels.
#pragma once

#include <QString>
#include <cstdint>
#include <stdexcept>

#include "rovandel/contract.h"

class TRovandelParamsForm;

// Module state, alive as long as the module.
extern HostFunction HostServices[kHostServiceCount];
extern LandscapeInfoRecord LandscapeInfo;
extern float* SourceHeights;
extern float* ResultHeights;
extern float RunningMinimum;
extern float RunningMaximum;
// The dialog of the run in progress, null outside a run; hosts see it by its
// exported name.
extern __attribute__((visibility("default")))
TRovandelParamsForm* RovandelParamsForm asm("_RovandelParamsForm");

enum ActionIndex : int32_t {
  kSoften = 0,
  kSoftenMore = 1,
  kNoise = 2,
  kHill = 3,
  kFlatten = 4,
  kGlaciate = 5,
  kCanyonize = 6,
};

// Copies the 32 service pointers out of the host's table.
void KeepHostServices(const HostServiceEntry* table);
// True when every service the module calls has been handed over.
bool HostServicesReady();

// One whole use of the plug-in; 1 when an operation was applied, else 0.
int32_t RunCycle();
// What the user is told when memory runs out during a run.
QString NotEnoughMemoryText();

// The checked action radio button in the order of ActionIndex; 0 when none is.
int32_t GetActionIndex();
// Shows ResultHeights in the host while the dialog stays open.
void PushPreview();

// An operation that could not write its result; the message says which and why.
class EOperationFailed : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The operations' thread limit from settings_schema::kThreadsVariable, or TBB's automatic choice.
int OperationThreads();

// Resets the running range and runs the selected operation on the working set. Throws
// EOperationFailed when Add Noise or Add Hill reports a failure (they catch their own).
void RunOperation(int32_t actionIndex);
void ApplySoften();
void ApplySoftenMore();
bool ApplyNoise();
bool ApplyHill();
void ApplyFlatten();
void ApplyGlaciate();
void ApplyCanyonize();
