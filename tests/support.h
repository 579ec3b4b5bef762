// support.h: shared helpers of the unit tests.
//
// The test binary is linked with --wrap for SDL_LockSurface,
// SDL_UnlockSurface, SDL_UpdateRect and SDL_GetTicks: the wrappers below
// count the real calls, keep a copy of every presented surface, and return
// a fixed clock when a test sets one. SDL runs on the dummy video driver.
#ifndef VESK_TESTS_SUPPORT_H
#define VESK_TESTS_SUPPORT_H

#include "world.h"

#include <cstdint>
#include <string>
#include <vector>

// Grid cells that can hold grains.
const int FIRST_COLUMN = 1, LAST_COLUMN = WORLD_COLUMNS;
const int FIRST_ROW = 1, LAST_ROW = WORLD_ROWS - 1;

struct sdl_calls {
    long locks;                  // real SDL_LockSurface calls
    long unlocks;                // real SDL_UnlockSurface calls
    long presents;               // SDL_UpdateRect calls
    long locked_presents;        // of those, made while a lock had no unlock yet
    std::vector<uint32_t> shown; // pixel values of the last presented surface, row-major
    int shown_w, shown_h;
};
extern sdl_calls calls;
extern long long fixed_ticks; // SDL_GetTicks returns this when >= 0; -1 passes through
// malloc calls from the program's own code succeed while this is above 0
// (each call uses one) and fail once it reaches 0; -1 means no limit.
extern long malloc_budget;

void reset_calls();

// A software surface of w x h pixels at bytes_per_pixel 1 to 4, zero-filled.
SDL_Surface *make_surface(int w, int h, int bytes_per_pixel);
// Reads pixel (column, row) of surface, zero-extended, whatever its depth.
uint32_t pixel_at(SDL_Surface *surface, int column, int row);
// Number of pixels of surface that hold value.
int count_pixels(SDL_Surface *surface, uint32_t value);

// Frees every listed grain, empties the grid, the pointer and the event
// records, and restarts the seeding generator: the world as at start-up.
void reset_world();
// Builds a list of n + 1 nodes (n grains and the spare tail) and returns them in order.
std::vector<grain *> make_list(int n);
// Places grain g at cell (x, y).
void place(grain *g, int x, int y);
// Number of listed grains, spare tail excluded.
int grain_count();
// The world invariant, empty when it holds, else what broke: every listed grain but
// the spare tail sits in its own cell inside the grid; every occupied cell holds a
// listed grain at that position (so the cells of matrix outside the grid stay empty).
std::string world_invariant();

#endif
