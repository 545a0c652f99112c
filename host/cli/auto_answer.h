// Batch mode's user: the one who presses OK and Enter so that no one needs to be there.
#pragma once

#include <QTimer>

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

}  // namespace host
