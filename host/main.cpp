// kelvamor-host: opens a heightmap, runs landscape plug-ins on it, shows and saves the
// result, in a window or, for scripts and machines without a display, in batch.
#include <QApplication>
#include <iostream>

#include "host/cli/batch.h"
#include "host/cli/command_line.h"
#include "host/common/exit_status.h"
#include "host/ui/run_window.h"

int main(int argc, char** argv) {
  const host::ProcessStart start = host::PrepareProcess(argc, argv);
  QApplication app(argc, argv);
  QApplication::setApplicationName("kelvamor-host");
  QApplication::setApplicationVersion(KELVAMOR_VERSION);
  return host::Reporting([&] {
    const std::optional<host::Options> options =
        host::ParseCommandLine(QApplication::arguments(), start);
    if (!options) return host::kExitApplied;  // --help or --version
    return options->batch ? host::RunBatch(*options, std::cout) : host::RunWindow(*options);
  });
}
