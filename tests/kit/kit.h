// kit.h: what the unit tests, the fuzz targets, the benchmarks and the step
// timing helper share, free of any test framework: SDL started as the
// program starts it, the world set back to its start, the grain walk, SDL
// events built by hand, the world invariant, special floats, and a plain
// reference of the world's rules to compare the real world against.
//
// Conventions:
//   - Cells, pixels and the pointer as world.h and vesk.h have them.
//   - The world is the program's own globals; single-threaded.
//   - A check returns what broke as text, empty when everything holds.
//   - Cost: the walks and checks are linear in the listed grains, and
//     world_invariant also in the grid's cells; a reference step is linear
//     in the reference's grains (and its cells when the brush wipes some).
#ifndef VESK_TESTS_KIT_H
#define VESK_TESTS_KIT_H

#include "world.h"

#include <cstdint>
#include <string>
#include <vector>

// Grid cells that can hold grains.
const int FIRST_COLUMN = 1, LAST_COLUMN = WORLD_COLUMNS;
const int FIRST_ROW = 1, LAST_ROW = WORLD_ROWS - 1;

// ---- SDL ----

// Starts SDL's video and timer as the program does, opens its display
// surface (WINDOW_WIDTH x WINDOW_HEIGHT, 16 bits asked, any format) into
// `screen` and maps the palette. `driver` is the video driver taken unless
// SDL_VIDEODRIVER names one (null: SDL's own choice). On failure prints
// "who: what failed: SDL's error" on standard error and returns false;
// the caller leaves.
bool kit_start(const char *who, const char *driver);

// A software surface of w x h pixels at bytes_per_pixel 1 to 4, zero-filled.
SDL_Surface *make_surface(int w, int h, int bytes_per_pixel);
// Reads pixel (column, row) of surface, zero-extended, whatever its depth.
// The caller locks the surface when it must be locked.
uint32_t pixel_at(SDL_Surface *surface, int column, int row);
// Number of pixels of surface that hold value.
int count_pixels(SDL_Surface *surface, uint32_t value);

// Events as SDL's video driver makes them: pointer motion to window pixel
// (x, y) with the held buttons' SDL_BUTTON() mask; a button pressed
// (SDL_MOUSEBUTTONDOWN) or released at (x, y); and one of any other type,
// its fields zero but for a key ('a') or a focus gained (input and mouse).
SDL_Event motion_event(Uint16 x, Uint16 y, Uint8 buttons);
SDL_Event button_event(Uint8 type, Uint16 x, Uint16 y, Uint8 button = SDL_BUTTON_LEFT);
SDL_Event plain_event(Uint8 type);
// The same pushed onto SDL's queue: 0, or -1 when the queue is full.
int push_motion(Uint16 x, Uint16 y, Uint8 buttons);
int push_button(Uint8 type, Uint16 x, Uint16 y, Uint8 button = SDL_BUTTON_LEFT);
int push_plain(Uint8 type);
// Empties SDL's queue.
void drain_events();

// ---- the world ----

// Sets the world aside as before start-up: no list (its grains stay
// allocated, for the caller to keep or drop), an empty grid, the seeding
// generator at its start.
void set_world_aside();
// Frees every listed grain, then sets the world aside, and zeroes the event
// records, the pointers and `ici`: the world as at start-up.
void reset_world();
// Builds a list of n + 1 nodes (n grains and the spare tail) and returns them in order.
std::vector<grain *> make_list(int n);
// Places grain g at cell (x, y).
void place(grain *g, int x, int y);

// The grain walk: the listed grains, spare tail excluded, in list order.
struct cell {
    int32_t x, y;
};
bool operator==(cell a, cell b);
int grain_count();
std::vector<cell> grain_cells();
// The bare walk reading each grain's x and y: the floor under a world step's cost.
int32_t floor_walk();

// The world invariant: every listed grain but the spare tail sits in its own
// cell inside the grid; every occupied cell holds a listed grain at that
// position (so the cells of matrix outside the grid stay empty).
std::string world_invariant();

// Floats a pointer or a drawing call may meet at the edges of the number line:
// NaN of either sign, the infinities, the largest and smallest normal values,
// the smallest denormals, zeros, the normalized range's ends and others.
extern const float SPECIAL_FLOATS[];
extern const int SPECIAL_FLOAT_COUNT;

// ---- the reference ----

// The world's rules written out plainly: grains in list order, each with its
// cell, and the grid as indices into them. Independent of world.cpp.
struct ref_grain {
    int x, y;
};
struct ref_world {
    std::vector<ref_grain> grains; // the listed grains, in list order
    std::vector<int> cell;         // per cell x * (WORLD_ROWS + 1) + y: 1 + index, 0 when empty
};
// The seeded world: the generator written out again.
ref_world ref_seed();
// The real world as it stands, as a reference.
ref_world ref_from_world();
// A grain appended to the list at the empty cell (x, y).
void ref_add(ref_world &w, int x, int y);
// One world step with the pointer: every grain falls by the rules, then, if
// pressed is 1, the brush wipes the 9 x 9 cells around trunc((x + 1) * 100),
// trunc((y + 1) * 150), clipped to columns 2..199 and rows 2..299. A pointer
// coordinate that is not a finite number near the grid wipes nothing.
void ref_step(ref_world &w, mouse_state pointer);
// The pixel column and row of a 200 x 300 surface that a grain of cell (x, y)
// is drawn at: float(x / 101 - 1) and float(y / 151 - 1) through the pixel
// writer's formula.
int ref_column(int x);
int ref_row(int y);
// The real world against the reference: the same grains in the same order at
// the same cells, and the world invariant; what differs first, or empty.
std::string against_reference(const ref_world &w);

#endif
