#include "tests/support/x11_input.h"

#include <QGuiApplication>
#include <QWindow>
#include <chrono>
#include <thread>

// Last: Xlib's macros (None, Bool, KeyPress) would clash with names above.
#include <X11/Xlib.h>

void QueueKeyClick(QWindow* window, unsigned long keysym, bool control) {
  auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  Display* display = x11->display();
  XKeyEvent key{};
  key.display = display;
  key.window = static_cast<Window>(window->winId());
  key.root = DefaultRootWindow(display);
  key.time = CurrentTime;
  key.x = key.y = key.x_root = key.y_root = 1;
  key.same_screen = True;
  key.keycode = XKeysymToKeycode(display, keysym);
  key.state = control ? ControlMask : 0;
  for (int type : {KeyPress, KeyRelease}) {
    key.type = type;
    XEvent event{};
    event.xkey = key;
    XSendEvent(display, key.window, True, type == KeyPress ? KeyPressMask : KeyReleaseMask, &event);
  }
  XSync(display, False);
  // The application's reader thread takes them from the connection in its own time.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
}
