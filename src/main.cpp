// main.cpp: start-up, the frame loop and shutdown of the falling-sand toy.
//
// Takes no options and reads no files; arguments are ignored. Exits 0 after
// the window is closed, or prints one line on standard error and exits 1
// when SDL cannot start, the window cannot open, or memory for the grains
// runs out.
//
// Video: unless the environment already names them, asks SDL for its X11
// driver, so that a missing or unreachable display is an error rather than a
// silent fallback to a terminal (caca) or off-screen driver that runs with no
// window, and, under the SDL 2 backed runtime, for software presentation, so
// that showing a 200 x 300 software surface does not load an OpenGL stack
// (which can crash when memory runs short). SDL_VIDEODRIVER=dummy runs headless.
#include "world.h"

#include <cstdio>
#include <cstdlib>

// Every subsystem, as first asked for; then only what the toy needs.
static const Uint32 INIT_FLAGS = SDL_INIT_EVERYTHING;
static const Uint32 INIT_FLAGS_MINIMAL = SDL_INIT_VIDEO | SDL_INIT_TIMER;
// Requested depth in bits per pixel; SDL_ANYFORMAT accepts whatever the display has.
static const int WINDOW_DEPTH = 16;
static const Uint32 WINDOW_FLAGS = SDL_ANYFORMAT;
static const char *const CAPTION = "Vesk";
// Pause before each frame's work, in milliseconds.
static const Uint32 FRAME_DELAY_MS = 10;
// Environment defaults, each set only where the environment has no value.
static const char *const VIDEO_DRIVER_VARIABLE = "SDL_VIDEODRIVER";
static const char *const VIDEO_DRIVER = "x11";
static const char *const RENDER_DRIVER_VARIABLE = "SDL_RENDER_DRIVER"; // SDL 2 backed runtime
static const char *const RENDER_DRIVER = "software";
static const char *const ACCELERATION_VARIABLE = "SDL_FRAMEBUFFER_ACCELERATION"; // likewise
static const char *const ACCELERATION = "0";

static int end = 0;

static void set_video_defaults()
{
    const int keep_existing = 0;
    setenv(VIDEO_DRIVER_VARIABLE, VIDEO_DRIVER, keep_existing);
    setenv(RENDER_DRIVER_VARIABLE, RENDER_DRIVER, keep_existing);
    setenv(ACCELERATION_VARIABLE, ACCELERATION, keep_existing);
}

// The display named in the environment, for messages.
static const char *display_name()
{
    const char *name = std::getenv("DISPLAY");
    return name && *name ? name : "(DISPLAY is not set)";
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

    set_video_defaults();
    if (!start_sdl()) {
        std::fprintf(stderr, "vesk: cannot start SDL on display %s: %s\n", display_name(),
                     SDL_GetError());
    } else {
        screen = SDL_SetVideoMode(WINDOW_WIDTH, WINDOW_HEIGHT, WINDOW_DEPTH, WINDOW_FLAGS);
        if (!screen) {
            std::fprintf(stderr, "vesk: cannot open the %dx%d window on display %s: %s\n",
                         WINDOW_WIDTH, WINDOW_HEIGHT, display_name(), SDL_GetError());
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
