// kelvamor-host's command line: what the process must settle before Qt starts, and the
// options checked before any work.
#pragma once

#include <QStringList>
#include <optional>
#include <string>
#include <vector>

#include "host/plugins/run_options.h"

namespace host {

// What is settled before the application object exists: stdout line-buffered, Qt's
// harmless chatter filtered, --plugin taken out of argv (Qt would take it for its own
// option), and batch mode (--batch, or no display) made to need no display.
struct ProcessStart {
  std::optional<std::string> pluginOption;
  bool batch = false;
  // The arguments' own bytes: a file name need not be text in the locale's encoding,
  // and the decoded arguments Qt gives cannot always be turned back into it.
  std::vector<std::string> bytes;
};
ProcessStart PrepareProcess(int& argc, char** argv);

// Parses and checks the arguments (the program's path first) against the option table.
// Prints --help or --version on stdout and returns nothing for them; throws
// Error::Usage naming the option for a command line that cannot be run. Sets the
// plug-in's thread limit (--threads) in the environment.
std::optional<Options> ParseCommandLine(const QStringList& arguments, const ProcessStart& start);

}  // namespace host
