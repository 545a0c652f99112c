// The window as the program's main job: the landscape the options name, edited until
// the user quits.
#pragma once

#include "host/plugins/run_options.h"

namespace host {

// Opens the input (or the default landscape), keeps --set and --action as the user's
// plug-in settings, shows the window and runs the event loop; returns its exit status.
// Throws Error when the input cannot be read or the settings cannot be written.
int RunWindow(const Options& options);

}  // namespace host
