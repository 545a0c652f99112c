// Progress of long work on stderr, in the style of GDAL's command-line tools:
// "reading: 0...10...20...30...40...50...60...70...80...90...100 - done."
#pragma once

#include <exception>
#include <functional>

namespace host {

// Told the share of the work done, 0 to 1. It may throw Cancelled to stop the work: the
// reader or writer then gives up as after any failure, leaving every file as it was.
using ProgressFn = std::function<void(double)>;

struct Cancelled : std::exception {
  const char* what() const noexcept override { return "cancelled"; }
};

class TermProgress {
 public:
  // Prints nothing unless enabled.
  TermProgress(bool enabled, const char* label);
  ~TermProgress();
  void operator()(double done);
  // A callback for the functions that take one; empty when disabled.
  ProgressFn Callback();

 private:
  bool enabled_;
  const char* label_;
  int printed_ = -1;  // the last tenth printed
};

// GDAL's progress callback over a ProgressFn passed as its argument.
int GdalProgress(double done, const char* message, void* progressFn);

}  // namespace host
