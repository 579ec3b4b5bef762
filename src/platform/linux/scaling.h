// scaling.h: the pure parts of showing the display surface scaled on the
// Linux desktop (window.cpp holds the rest, over SDL and Xlib): the
// nearest-neighbour copy of a rectangle into the window's pixels, and the
// reading of one setting from an XSETTINGS blob.
//
// Coordinates as in view.h. Pixels are 1 to 4 bytes, the same size in
// source and destination (both surfaces have the window's pixel format).
#ifndef VESK_LINUX_SCALING_H
#define VESK_LINUX_SCALING_H

#include "../view.h"

#include <cstddef>
#include <cstdint>

// Rows of pixel memory: the first byte, bytes from one row to the next, and
// the size in pixels.
struct pixel_rows {
    uint8_t *pixels;
    int pitch;
    int width, height;
};

// Copies the surface's rectangle (x, y, w, h), already clipped to the
// surface, into window as v shows it: each pixel a v.scale square, the
// squares clipped to the window. Returns the window rectangle written in
// *out (x, y, w, h; w or h 0 when nothing shows). Cost: one store a window
// pixel of the rectangle, row copies for all but the first of each k rows.
void scale_rect(const pixel_rows &surface, const pixel_rows &window, int bytes_per_pixel,
                const view &v, const int rect[4], int out[4]);

// The value of the integer setting `name` in the XSETTINGS property `data`
// of `size` bytes: 1 with *value set, or 0 when the blob holds no such
// integer or is malformed (every read is checked against size).
int xsettings_integer(const uint8_t *data, size_t size, const char *name, int32_t *value);

#endif
