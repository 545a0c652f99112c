// How a run ends: its exit status, and the one way an error is told to the user.
#pragma once

#include <exception>

namespace host {

// 0: the action was applied and every output written.
inline constexpr int kExitApplied = 0;
// 1: the run failed, or the plug-in did not apply its action; nothing was written.
inline constexpr int kExitFailed = 1;
// 2: the command line was refused; nothing was read or written.
inline constexpr int kExitUsage = 2;

// Says on stderr what went wrong and gives the exit status for it: a refused command
// line (Error::Usage) is kExitUsage, anything else kExitFailed.
int ReportError(const std::exception& error);

// Runs `work`, which returns an exit status; an exception it throws is reported.
template <typename Work>
int Reporting(Work&& work) {
  try {
    return work();
  } catch (const std::exception& e) {
    return ReportError(e);
  }
}

}  // namespace host
