// Batch mode's user: the one who presses OK and Enter so that no one needs to be there.
#pragma once

#include <QObject>
#include <QTimer>
#include <string>
#include <vector>

namespace host {

// While alive, answers the plug-in's windows as a user pressing Enter would: every
// message box with OK (its text printed to stderr), the parameters dialog with OK.
class AutoAnswer : public QObject {
 public:
  // unseen: the windows answered never show on the screen (a run inside a window the
  // user works in, not a script's).
  explicit AutoAnswer(bool unseen = false);
  ~AutoAnswer() override;
  int MessagesAnswered() const { return static_cast<int>(messages_.size()); }
  // The texts of the message boxes answered, in order.
  const std::vector<std::string>& Messages() const { return messages_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Answer();

  bool unseen_;
  QTimer timer_;
  std::vector<std::string> messages_;
};

}  // namespace host
