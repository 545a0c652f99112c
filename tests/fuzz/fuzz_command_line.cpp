// kelvamor-host's command line from any arguments: the options of a run that can be
// run, --help or --version, or a usage error naming what is wrong; never a crash, and
// never an error of another kind. The arguments are the input split at NUL bytes.
#include <unistd.h>

#include <QStringList>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "host/cli/command_line.h"
#include "host/common/error.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  // Nothing the arguments name is read from or written next to the tree it runs in.
  if (const char* tmp = std::getenv("TMPDIR"); tmp && *tmp) (void)!chdir(tmp);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  host::ProcessStart start;
  start.batch = true;
  QStringList arguments{QStringLiteral("kelvamor-host")};
  std::string current;
  for (size_t i = 0; i <= size && arguments.size() < 24; ++i) {
    if (i < size && data[i] != 0) {
      current.push_back(static_cast<char>(data[i]));
      continue;
    }
    start.bytes.push_back(current);
    arguments.push_back(
        QString::fromLocal8Bit(current.data(), static_cast<qsizetype>(current.size())));
    current.clear();
  }
  try {
    const std::optional<host::Options> options = host::ParseCommandLine(arguments, start);
    if (options && options->verbosity > 2) std::abort();
  } catch (const host::Error&) {
  }
  return 0;
}
