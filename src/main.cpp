// main.cpp: start-up, the frame loop and shutdown of the falling-sand toy.
//
// Takes no options and reads no files; arguments are ignored. Exits 0 after
// the window is closed, or prints one line on standard error and exits 1
// when SDL cannot start, the window cannot open, or memory for the grains
// runs out.
#include "world.h"

#include <cstdio>

// Every subsystem, as first asked for; then only what the toy needs.
static const Uint32 INIT_FLAGS = SDL_INIT_EVERYTHING;
static const Uint32 INIT_FLAGS_MINIMAL = SDL_INIT_VIDEO | SDL_INIT_TIMER;
// Requested depth in bits per pixel; SDL_ANYFORMAT accepts whatever the display has.
static const int WINDOW_DEPTH = 16;
static const Uint32 WINDOW_FLAGS = SDL_ANYFORMAT;
static const char *const CAPTION = "Vesk";

static int end = 0;

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

    if (!start_sdl()) {
        std::fprintf(stderr, "vesk: cannot start SDL: %s\n", SDL_GetError());
    } else {
        screen = SDL_SetVideoMode(WINDOW_WIDTH, WINDOW_HEIGHT, WINDOW_DEPTH, WINDOW_FLAGS);
        if (!screen) {
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
