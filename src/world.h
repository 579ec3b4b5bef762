// world.h: the grain world: seeding, falling, the brush, and one frame.
//
// Grid: integer cells (x, y), x growing rightward and y upward; row 1 is the
// floor at the bottom of the window. `matrix[x][y]` holds the grain whose
// cell it is, or null; x runs 0..WORLD_COLUMNS and y 0..WORLD_ROWS (x is
// the outer index, so each column is WORLD_ROWS + 1 consecutive cells).
// Seeding fills x in 1..199 and y in 1..299; grains then move only down or
// diagonally down, so x stays in 1..200 and y in 1..299. Column 0 and rows
// 0 and 300 are never filled. The grid references grains and owns none.
//
// Screen: grain (x, y) is drawn at the normalized point
// (x / 101 - 1, y / 151 - 1); on the 200 x 300 window grain (1, 1) lands on
// pixel (0, 299) and grain (200, 299) on pixel (198, 2).
//
// List: every listed node but the spare `tail` is a grain with a cell of its
// own; the tail carries no grain and is never placed, drawn or moved.
//
// Cost: a step copies the grid's occupancy into a private byte grid (one
// pass, front to back), then visits each grain once in list order: plot,
// then up to three look-ups in that copy: linear in the grains and the
// grid's cells. About 57,400 grains after seeding. Seeding (linear in its
// creer calls) leaves the grains together in list order (about 2.7 MB), and
// the walk asks for the nodes a few kilobytes ahead of itself. Nothing
// allocates after seeding. Measured times: docs/performance.md (make bench).
//
// Locking: a step locks `screen` once around the whole walk, or, when
// SDL_MUSTLOCK says the surface must be locked, around each grain's pixel.
//
#ifndef VESK_WORLD_H
#define VESK_WORLD_H

#include "hybrid.h"
#include "vesk.h"

// Grid columns 1..200 and rows 1..299 hold grains (matrix has one more of each).
const int WORLD_COLUMNS = 200;
const int WORLD_ROWS = 300;
// Window size in pixels.
const int WINDOW_WIDTH = 200;
const int WINDOW_HEIGHT = 300;
// Pause before each frame's work, in milliseconds.
const Uint32 FRAME_DELAY_MS = 10;

extern grain *matrix[WORLD_COLUMNS + 1][WORLD_ROWS + 1];
extern SDL_Surface *screen;    // the display surface the world draws on; SDL owns it
extern grain *ici;             // cursor of the seeding walk and of each step's walk
extern mouse_state mouse_info; // pointer in normalized coordinates, copied once a frame

// The seeding generator: the C runtime rand of the 32-bit Windows build,
// state starting at 1, results 0..32767. Never reseeded.
int world_rand();
extern uint32_t rand_state; // the generator's state, 1 before the first call

// Builds the grain list (199,999 creer calls) and places each grain but the
// spare tail in a random empty cell, removing those that land on a taken
// cell. Returns 1, or 0 when memory ran out (the list is then incomplete).
int init();

// Brush centre cell for a normalized pointer coordinate: (x + 1) * 100 and
// (y + 1) * 150 in double precision, truncated toward zero. A coordinate
// far off the grid (or NaN) gives a centre no brush cell can reach.
int brush_column(float x);
int brush_row(float y);

// One world step: draws every grain on `screen` in green where it stands,
// moves each by the falling rules in list order, then applies the brush if
// mouse_info.pressed is 1. `screen` must be unlocked. Reads the grid afresh:
// cells changed between steps, by anyone, are seen.
void loop();

// Draws the white X on `s`: two lines 0.2 long each way, crossing at the
// normalized point (x, y). `s` must be unlocked.
void crosshair(SDL_Surface *s, float x, float y);

// One frame's work after the frame delay: drains the events, reads the
// pointer into mouse_info, draws the white X, presents and clears `screen`,
// and runs a world step. Returns 1 if a quit request was fetched, else 0.
int frame();

#endif
