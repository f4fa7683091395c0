#include "support/closerequest.h"

// Xlib's macros (None, Bool, Status...) clash with Qt's names: kept to this file.
#include <X11/Xlib.h>

bool sendCloseRequest(unsigned long window)
{
    Display *const display = XOpenDisplay(nullptr);
    if (!display)
        return false;
    XEvent event {};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = long(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    const bool sent = XSendEvent(display, window, False, NoEventMask, &event) != 0;
    XSync(display, False);
    XCloseDisplay(display);
    return sent;
}
