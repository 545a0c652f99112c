#include "host/common/exit_status.h"

#include <cstdio>
#include <new>

#include "host/common/error.h"

namespace host {

int ReportError(const std::exception& error) {
  if (const auto* e = dynamic_cast<const Error*>(&error); e && e->IsUsage()) {
    std::fprintf(stderr, "kelvamor-host: %s (see --help)\n", e->what());
    return kExitUsage;
  }
  if (dynamic_cast<const std::bad_alloc*>(&error)) {
    std::fprintf(stderr, "kelvamor-host: not enough memory\n");
    return kExitFailed;
  }
  std::fprintf(stderr, "kelvamor-host: %s\n", error.what());
  return kExitFailed;
}

}  // namespace host
