// null.cpp: the port layer's null video driver ("dummy", chosen by
// SDL_VIDEODRIVER=dummy): the display surface exists, but no window opens,
// presents show nothing and no input arrives. Tests and tools run the world
// on it; the clock and the channel order stay the platform's (backend.h).
#include "backend.h"

static const char *const NULL_DRIVER_NAME = "dummy";

static int null_open(int width, int height)
{
    (void)width;
    (void)height;
    return 1;
}

static void null_close() {}

static void null_set_caption(const char *title)
{
    (void)title;
}

static void null_present(const void *pixels, int pitch, int x, int y, int w, int h)
{
    (void)pixels;
    (void)pitch;
    (void)x;
    (void)y;
    (void)w;
    (void)h;
}

static void null_pump() {}

const port_video null_video = {NULL_DRIVER_NAME, null_open,    null_close,
                               null_set_caption, null_present, null_pump};
