// main.cpp: start-up, the frame loop and shutdown of the falling-sand toy.
//
// Takes no options and reads no files; arguments are ignored. Exits 0 after
// the window is closed, or prints one line on standard error and exits 1
// when SDL cannot start, there is no display to open a window on, the
// window cannot open, or memory for the grains runs out.
//
// Under the SDL 2 backed runtime it asks, unless the environment says
// otherwise, for software presentation: showing the 200 x 300 software
// surface then needs no OpenGL stack (which takes some 600 MB of address
// space and can fail or crash when memory runs short).
#include "world.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

// Every subsystem, as first asked for; then only what the toy needs.
static const Uint32 INIT_FLAGS = SDL_INIT_EVERYTHING;
static const Uint32 INIT_FLAGS_MINIMAL = SDL_INIT_VIDEO | SDL_INIT_TIMER;
// Requested depth in bits per pixel; SDL_ANYFORMAT accepts whatever the display has.
static const int WINDOW_DEPTH = 16;
static const Uint32 WINDOW_FLAGS = SDL_ANYFORMAT;
static const char *const CAPTION = "Vesk";
// SDL video drivers that draw in a terminal or on the console, not in a window.
static const char *const CONSOLE_DRIVERS[] = {"caca",    "aalib", "fbcon",    "directfb",
                                              "svgalib", "ggi",   "vgl",      "KMSDRM",
                                              "kmsdrm",  "evdev", "offscreen"};
// Room for a driver's name.
static const int DRIVER_NAME_SIZE = 64;
// Software presentation under the SDL 2 backed runtime, each set only where
// the environment has no value.
static const char *const RENDER_DRIVER_VARIABLE = "SDL_RENDER_DRIVER";
static const char *const RENDER_DRIVER = "software";
static const char *const ACCELERATION_VARIABLE = "SDL_FRAMEBUFFER_ACCELERATION";
static const char *const ACCELERATION = "0";

static int end = 0;

// The toy is a window. Unless the user names a video driver, SDL must not
// fall back to drawing in the terminal or on the console when no X display
// is reachable: on X11 systems ask for X11 itself, so that a missing display
// is reported as such. Returns 1 if the user named a driver.
static int choose_video_driver()
{
    if (std::getenv("SDL_VIDEODRIVER"))
        return 1;
#if defined(__unix__) && !defined(__APPLE__) && !defined(__EMSCRIPTEN__)
    // A Wayland session without X is left to SDL to find.
    if (!(std::getenv("WAYLAND_DISPLAY") && !std::getenv("DISPLAY")))
        setenv("SDL_VIDEODRIVER", "x11", 0);
#endif
    return 0;
}

static void choose_software_presentation()
{
    const int keep_existing = 0;
    setenv(RENDER_DRIVER_VARIABLE, RENDER_DRIVER, keep_existing);
    setenv(ACCELERATION_VARIABLE, ACCELERATION, keep_existing);
}

static int is_console_driver(const char *name)
{
    for (const char *console : CONSOLE_DRIVERS)
        if (std::strcmp(name, console) == 0)
            return 1;
    return 0;
}

static int start_sdl()
{
    if (SDL_Init(INIT_FLAGS) == 0)
        return 1;
    SDL_Quit();
    return SDL_Init(INIT_FLAGS_MINIMAL) == 0;
}

int main(int argc, char *argv[])
{
    (void)argc;
    (void)argv;
    int status = 1;
    int driver_named = choose_video_driver();
    choose_software_presentation();
    char driver[DRIVER_NAME_SIZE] = "";

    if (!start_sdl()) {
        std::fprintf(stderr, "vesk: cannot start SDL: %s%s\n", SDL_GetError(),
                     std::getenv("DISPLAY") ? "" : " (DISPLAY is not set)");
    } else {
        SDL_VideoDriverName(driver, sizeof driver);
        if (!driver_named && is_console_driver(driver)) {
            std::fprintf(stderr, "vesk: cannot open a window: no display (SDL offers only '%s')\n",
                         driver);
        } else if (!(screen = SDL_SetVideoMode(WINDOW_WIDTH, WINDOW_HEIGHT, WINDOW_DEPTH,
                                               WINDOW_FLAGS))) {
            std::fprintf(stderr, "vesk: cannot open the %dx%d window: %s\n", WINDOW_WIDTH,
                         WINDOW_HEIGHT, SDL_GetError());
        } else {
            SDL_WM_SetCaption(CAPTION, nullptr);
            if (!init()) {
                std::fprintf(stderr, "vesk: out of memory for the grains\n");
            } else {
                vesk_Init(screen);
                while (!end) {
                    SDL_Delay(FRAME_DELAY_MS);
                    end = frame();
                }
                status = 0;
            }
            SDL_FreeSurface(screen);
        }
        SDL_Quit();
    }
    return status;
}
