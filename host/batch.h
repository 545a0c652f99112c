// Batch mode: run the plug-in as a user who presses OK, without anyone at the screen.
#pragma once

#include <QObject>
#include <QTimer>
#include <iosfwd>

#include "host/options.h"

namespace host {

// While alive, answers the plug-in's windows as a user pressing Enter would: every
// message box with OK (its text printed to stderr), the parameters dialog with OK.
class AutoAnswer {
 public:
  AutoAnswer();
  int MessagesAnswered() const { return messages_; }

 private:
  QTimer timer_;
  int messages_ = 0;
};

// Runs the whole batch job; returns the process exit status (0 when the plug-in
// applied its action).
int RunBatch(const Options& options, std::ostream& out);

}  // namespace host
