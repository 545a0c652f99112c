// What an interrupted run must not leave behind. Temporaries and private folders are
// named here while they exist; SIGINT, SIGTERM and SIGHUP remove them before the
// process ends as the signal says. A file-size limit (ulimit -f) makes writes fail
// instead of killing the process, so the writer can clean up and say so.
#pragma once

#include <string>

namespace host {

// Installs the handlers once; a handler of the program's own, or an ignored signal
// (nohup), is left alone.
void InstallSignalCleanup();

// Removes `path` (a file, or a folder with everything in it) if a signal ends the
// process while it is named here. With `withSideFiles`, also the files beside a file
// that share its name up to its extension (".kelvamor-x.tif" and ".kelvamor-x.tfw"),
// which a writer may make under names it chooses itself.
void RemoveOnSignal(const std::string& path, bool withSideFiles = false);
// `path` is no longer this process's to remove.
void KeepOnSignal(const std::string& path);

// A moment a test lands a signal at: when the environment variable KELVAMOR_SIGNAL_AT
// names `point`, the process sends itself SIGTERM there. Nothing otherwise.
void SignalPoint(const char* point);

}  // namespace host
