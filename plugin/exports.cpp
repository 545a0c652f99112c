// The module's three entry points. No C++ exception leaves them.
#include <QString>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>

#include "components/controls.h"
#include "components/dialogs.h"
#include "plugin/core.h"
#include "rovandel/contract.h"
#include "rovandel/settings_schema.h"

#define ROVANDEL_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using settings_schema::kDisplayName;
bool runInProgress = false;
// A table handed over during a run, copied: it takes effect when the run is over.
HostServiceEntry laterTable[kHostServiceCount];
bool tableWaiting = false;

}  // namespace

ROVANDEL_EXPORT void ROVANDEL_STDCALL DescribePlugin(char* name, int32_t* kind) {
  std::memcpy(name, kDisplayName, sizeof kDisplayName);
  *kind = kPluginKind;
}

ROVANDEL_EXPORT void ROVANDEL_STDCALL InitPlugin(const HostServiceEntry* table) {
  // A run finishes with the table it started with: a host calling back in from one of
  // its services changes nothing until the run is over, and then the last table it
  // handed over takes effect.
  if (!table) return;
  if (!runInProgress) {
    KeepHostServices(table);
    return;
  }
  std::copy(table, table + kHostServiceCount, laterTable);
  tableWaiting = true;
}

ROVANDEL_EXPORT int32_t ROVANDEL_STDCALL RunPlugin() {
  // A host that calls again from inside a run (say, while serving a preview) is told no.
  if (runInProgress || !HostServicesReady()) return 0;
  QString whyNot;
  if (!Application::EnsureInstance(&whyNot)) {
    std::fprintf(stderr, "%s: %s\n", kDisplayName, qPrintable(whyNot));
    return 0;
  }
  runInProgress = true;
  int32_t result = 0;
  try {
    result = RunCycle();
  } catch (const std::bad_alloc&) {  // memory ran out beyond the working buffers
    ReportError(NotEnoughMemoryText());
  } catch (const std::exception& e) {
    ReportError(QString::fromLocal8Bit(e.what()));
  } catch (...) {
    ReportError(QStringLiteral("An unexpected error ended the run."));
  }
  runInProgress = false;
  if (tableWaiting) {
    KeepHostServices(laterTable);
    tableWaiting = false;
  }
  return result;
}
