// Input as the X server sends it: queued for the application's event loop, where QTest's
// events are delivered at once. Needs the xcb platform on a real display (Xvfb).
#pragma once

class QWindow;

// Queues a press and release of the key with this X keysym (XK_z: 0x7a), with Control
// held if asked, for the window; returns once the display has taken them.
void QueueKeyClick(QWindow* window, unsigned long keysym, bool control);
