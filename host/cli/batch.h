// Batch mode: run the plug-in as a user who presses OK, without anyone at the screen.
#pragma once

#include <iosfwd>

#include "host/plugins/run_options.h"

namespace host {

// Runs the whole batch job; returns the process exit status (see exit_status.h);
// errors are reported on stderr.
int RunBatch(const Options& options, std::ostream& out);

}  // namespace host
