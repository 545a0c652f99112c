// Progress of the window's file work: an open, a save.
#pragma once

#include <QApplication>
#include <QProgressDialog>
#include <cmath>

#include "host/common/progress.h"

namespace host {

// A busy cursor for as long as it lives.
struct BusyCursor {
  BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~BusyCursor() { QApplication::restoreOverrideCursor(); }
};

// A progress dialog with Cancel for file work that takes long enough to notice, and a
// busy cursor throughout. Cancel makes the work stop as after a failure. The user's
// clicks and keys wait until the dialog shows, which then keeps them from the window:
// none may edit, open or save a landscape while one is read or written.
class FileProgress {
 public:
  FileProgress(QWidget* parent, const QString& label) : dialog_(label, "Cancel", 0, 1000, parent) {
    dialog_.setWindowModality(Qt::WindowModal);
    dialog_.setMinimumDuration(400);
    dialog_.setValue(0);
  }
  ProgressFn Callback() {
    return [this](double done) {
      dialog_.setValue(static_cast<int>(std::lround(done * 1000)));
      QApplication::processEvents(dialog_.isVisible() ? QEventLoop::AllEvents
                                                      : QEventLoop::ExcludeUserInputEvents);
      if (dialog_.wasCanceled()) throw host::Cancelled();
    };
  }
  bool WasCancelled() const { return cancelled_ || dialog_.wasCanceled(); }
  // Gone before a message says how the work ended: its timer would show it over the
  // message, at 0 % and with a Cancel of nothing.
  void Close() {
    cancelled_ = dialog_.wasCanceled();
    dialog_.reset();
    dialog_.hide();
  }

 private:
  bool cancelled_ = false;
  BusyCursor busy_;
  QProgressDialog dialog_;
};

}  // namespace host
