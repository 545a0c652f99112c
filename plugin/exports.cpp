// The module's three entry points. No C++ exception leaves them.
#include <QString>
#include <cstdio>
#include <cstring>
#include <exception>

#include "components/controls.h"
#include "components/dialogs.h"
#include "plugin/core.h"
#include "rovandel/contract.h"
#include "rovandel/settings_schema.h"

#define ROVANDEL_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using settings_schema::kDisplayName;
bool runInProgress = false;

}  // namespace

ROVANDEL_EXPORT void ROVANDEL_STDCALL DescribePlugin(char* name, int32_t* kind) {
  std::memcpy(name, kDisplayName, sizeof kDisplayName);
  *kind = kPluginKind;
}

ROVANDEL_EXPORT void ROVANDEL_STDCALL InitPlugin(const HostServiceEntry* table) {
  // A run finishes with the table it started with: a host calling back in from one of
  // its services (with a new table, or none) changes nothing until the run is over.
  if (table && !runInProgress) KeepHostServices(table);
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
  } catch (const std::exception& e) {
    ReportError(QString::fromLocal8Bit(e.what()));
  } catch (...) {
    ReportError(QStringLiteral("An unexpected error ended the run."));
  }
  runInProgress = false;
  return result;
}
