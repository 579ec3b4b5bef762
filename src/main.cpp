// main.cpp: start-up, the frame loop and shutdown of the falling-sand toy.
//
// Takes no options and reads no files; arguments are ignored. Exits 0 after
// the window is closed, or reports one line (platform_report: standard error,
// or a message box on Windows) and exits 1 when SDL cannot start, there is
// no display to open a window on, the window cannot open, or memory for the
// grains runs out.
//
// What depends on the platform (SDL's settings, which video drivers can
// show the window, how a failure line reaches the user) is platform.h's.
#include "platform.h"
#include "world.h"

#include <cstdio>

// Every subsystem, as first asked for; then only what the toy needs.
static const Uint32 INIT_FLAGS = SDL_INIT_EVERYTHING;
static const Uint32 INIT_FLAGS_MINIMAL = SDL_INIT_VIDEO | SDL_INIT_TIMER;
// Requested depth in bits per pixel; SDL_ANYFORMAT accepts whatever the display has.
static const int WINDOW_DEPTH = 16;
static const Uint32 WINDOW_FLAGS = SDL_ANYFORMAT;
static const char *const CAPTION = "Vesk";
// Black in every pixel format SDL 1.2 hands out.
static const Uint32 BLACK_PIXEL = 0;

static int end = 0;

static int start_sdl()
{
    if (SDL_Init(INIT_FLAGS) == 0)
        return 1;
    SDL_Quit();
    return SDL_Init(INIT_FLAGS_MINIMAL) == 0;
}

// Opens the window, seeds the world and runs frames until a quit request.
// Returns 0, or 1 with the failure written into line.
static int play(char *line)
{
    int status = 1;
    screen = SDL_SetVideoMode(WINDOW_WIDTH, WINDOW_HEIGHT, WINDOW_DEPTH, WINDOW_FLAGS);
    if (!screen) {
        std::snprintf(line, PLATFORM_LINE_SIZE, "vesk: cannot open the %dx%d window: %s",
                      WINDOW_WIDTH, WINDOW_HEIGHT, SDL_GetError());
    } else {
        // A new window starts black: the classic runtime clears the surface,
        // but the SDL2-backed one can hand back a shadow surface of
        // uninitialised memory, which the first present would show.
        SDL_FillRect(screen, nullptr, BLACK_PIXEL);
        SDL_WM_SetCaption(CAPTION, nullptr);
        if (!init()) {
            std::snprintf(line, PLATFORM_LINE_SIZE, "vesk: out of memory for the grains");
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
    return status;
}

int main(int argc, char *argv[])
{
    (void)argc;
    (void)argv;
    int status = 1;
    char line[PLATFORM_LINE_SIZE] = "";
    platform_prepare();

    if (!start_sdl()) {
        std::snprintf(line, sizeof line, "vesk: cannot start SDL: %s%s", SDL_GetError(),
                      platform_start_hint());
    } else {
        if (!platform_refuses_driver(line))
            status = play(line);
        SDL_Quit();
    }
    if (status != 0)
        platform_report(line);
    return status;
}
