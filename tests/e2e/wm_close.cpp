// wm_close: asks a window to close the way a window manager does, by sending
// it a WM_PROTOCOLS client message carrying WM_DELETE_WINDOW.
//
//   wm_close WINDOW_ID     (decimal or 0x hex, as xdotool prints it)
//
// Uses $DISPLAY. Exits 0 once the message is sent, 1 on a bad argument or
// when the display cannot be opened.
#include <X11/Xlib.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char *argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: wm_close WINDOW_ID\n");
        return 1;
    }
    char *end = nullptr;
    unsigned long window = std::strtoul(argv[1], &end, 0);
    if (!end || *end || window == 0) {
        std::fprintf(stderr, "wm_close: not a window id: %s\n", argv[1]);
        return 1;
    }
    Display *display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "wm_close: cannot open display\n");
        return 1;
    }
    XEvent message = {};
    message.xclient.type = ClientMessage;
    message.xclient.window = window;
    message.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    message.xclient.format = 32;
    message.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    message.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, window, False, NoEventMask, &message);
    XSync(display, False);
    XCloseDisplay(display);
    return 0;
}
