// Forms, message boxes, the screen cursor and the application object of the component
// layer.
#pragma once

#include <QDialog>
#include <QString>
#include <functional>

using TNotifyEvent = std::function<void()>;

// Runs an event handler; any error it raises goes to the application's error report.
void Dispatch(const TNotifyEvent& handler);
// The application-level error report: a message box naming the error.
void ReportError(const QString& what);

// A modal message box with the text and a single OK button; returns when dismissed.
void ShowMessage(const QString& text);

// Modal results a button can close its form with.
inline constexpr int mrNone = 0;
inline constexpr int mrOk = 1;
inline constexpr int mrCancel = 2;

// A modal form. Every way of closing it (a button with a modal result, the window's
// close box) asks OnCloseQuery first; a refusal keeps it open. Escape closes nothing;
// Enter presses the focused push button, or the default button from any other control.
class TForm : public QDialog {
 public:
  explicit TForm(QWidget* owner);
  // Runs the modal loop; returns the modal result (2 for the close box).
  int ShowModal();
  // Closes with the result unless OnCloseQuery refuses.
  void CloseWith(int modalResult);
  std::function<void(bool& canClose)> OnCloseQuery;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void reject() override;

 private:
  bool CanClose();
};

enum TCursor { crDefault = 0, crHourGlass = -11 };

// The screen object: the busy cursor shown over the whole application.
class TScreen {
 public:
  void SetCursor(TCursor cursor);
  TCursor Cursor() const { return cursor_; }

 private:
  TCursor cursor_ = crDefault;
};
TScreen& Screen();

// The application object: makes sure a Qt application exists and creates forms.
namespace Application {
// True when forms can be shown: a widget application exists or could be created.
bool EnsureInstance(QString* whyNot);
// The window a form opens over: a Qt host's active window, else its main window; null
// when the host shows none.
QWidget* HostWindow();

template <typename Form>
void CreateForm(Form*& reference) {
  reference = new Form(HostWindow());
}
}  // namespace Application
