// platform.h: what the program's main routine asks of the platform it runs
// on, around SDL: settings before SDL starts, whether the video driver SDL
// picked can show a window, and how a start-up failure reaches the user.
//
// Each platform defines all four once: src/platform/linux/platform.cpp for
// the desktop on the system's SDL 1.2; for the browser (web/) and Windows
// (win32/), both on the port layer, their platform.cpp reports a failure
// and port/policy.cpp, which they share, defines the other three.
//
// Call order: platform_prepare, SDL_Init, then platform_refuses_driver;
// platform_report at any time. Single-threaded.
#ifndef VESK_PLATFORM_H
#define VESK_PLATFORM_H

#include <cstddef>

// Room for one line of a start-up failure, terminator included.
const size_t PLATFORM_LINE_SIZE = 256;

// Sets what SDL should use here before SDL_Init (the video driver and the
// presentation, unless the user chose them).
void platform_prepare();

// What to add to the line that says SDL could not start ("" when nothing
// helps), for instance that there is no display to connect to.
const char *platform_start_hint();

// After SDL_Init: 1 if the video driver SDL chose cannot show a window and
// the user did not ask for it, with the line to report written into line
// (PLATFORM_LINE_SIZE bytes); else 0.
int platform_refuses_driver(char *line);

// Shows one line of a start-up failure to the user.
void platform_report(const char *line);

#endif
