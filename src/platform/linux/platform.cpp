// platform.cpp (Linux desktop): the program's platform policy on the
// system's SDL 1.2 under X11 (or Wayland through the SDL 2 backed runtime).
//
// The toy is a window. Unless the user names a video driver, SDL must not
// fall back to drawing in the terminal or on the console when no X display
// is reachable: ask for X11 itself, so that a missing display is reported
// as such, and refuse a console driver SDL picks anyway.
//
// Under the SDL 2 backed runtime ask, unless the environment says
// otherwise, for software presentation: showing the 200 x 300 software
// surface then needs no OpenGL stack (which takes some 600 MB of address
// space and can fail or crash when memory runs short).
#include "../platform.h"

#include <SDL.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

// SDL video drivers that draw in a terminal or on the console, not in a window.
static const char *const CONSOLE_DRIVERS[] = {"caca",    "aalib", "fbcon",    "directfb",
                                              "svgalib", "ggi",   "vgl",      "KMSDRM",
                                              "kmsdrm",  "evdev", "offscreen"};
// Room for a driver's name.
static const int DRIVER_NAME_SIZE = 64;
static const char *const DRIVER_VARIABLE = "SDL_VIDEODRIVER";
static const char *const X11_DRIVER = "x11";
// Software presentation under the SDL 2 backed runtime, each set only where
// the environment has no value.
static const char *const RENDER_DRIVER_VARIABLE = "SDL_RENDER_DRIVER";
static const char *const RENDER_DRIVER = "software";
static const char *const ACCELERATION_VARIABLE = "SDL_FRAMEBUFFER_ACCELERATION";
static const char *const ACCELERATION = "0";
// setenv's last argument: keep a value the environment already has.
static const int KEEP_EXISTING = 0;

static int driver_named = 0; // the user named a video driver

void platform_prepare()
{
    driver_named = std::getenv(DRIVER_VARIABLE) != nullptr;
    // A Wayland session without X is left to SDL to find.
    if (!driver_named && !(std::getenv("WAYLAND_DISPLAY") && !std::getenv("DISPLAY")))
        setenv(DRIVER_VARIABLE, X11_DRIVER, KEEP_EXISTING);
    setenv(RENDER_DRIVER_VARIABLE, RENDER_DRIVER, KEEP_EXISTING);
    setenv(ACCELERATION_VARIABLE, ACCELERATION, KEEP_EXISTING);
}

const char *platform_start_hint()
{
    return std::getenv("DISPLAY") ? "" : " (DISPLAY is not set)";
}

static int is_console_driver(const char *name)
{
    for (const char *console : CONSOLE_DRIVERS)
        if (std::strcmp(name, console) == 0)
            return 1;
    return 0;
}

int platform_refuses_driver(char *line)
{
    char driver[DRIVER_NAME_SIZE] = "";
    SDL_VideoDriverName(driver, sizeof driver);
    if (driver_named || !is_console_driver(driver))
        return 0;
    std::snprintf(line, PLATFORM_LINE_SIZE,
                  "vesk: cannot open a window: no display (SDL offers only '%s')", driver);
    return 1;
}

void platform_report(const char *line)
{
    std::fprintf(stderr, "%s\n", line);
}
