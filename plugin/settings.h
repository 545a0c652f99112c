// The user's choices kept between runs: the action and every parameter of the dialog,
// fourteen typed values in one section of the per-user store.
#pragma once

#include <cstdint>

class TRovandelParamsForm;

// Reads the fourteen values (defaults where missing) and sets the dialog's controls,
// which runs their click and change handlers as user input would.
void LoadSettings(TRovandelParamsForm& form);
// Reads the controls and writes the fourteen values. Throws ERegistryError when the
// store cannot be written.
void SaveSettings(const TRovandelParamsForm& form, int32_t actionIndex);
