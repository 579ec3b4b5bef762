// vesk.h: the screen and input library, a thin layer over SDL 1.2.
//
// Coordinates: every drawing call and the pointer use normalized screen
// coordinates, single-precision floats independent of the window's size:
//   x from -1 (left edge) to 1 (right edge),
//   y from -1 (bottom edge) to 1 (top edge), so y grows upward while the
//   surface's rows grow downward.
// A point is accepted only if both coordinates lie in [-1, 1]; NaN is
// rejected. A point maps to pixel
//   column = trunc((x + 1) / 2 * w),  row = trunc((1 - y) / 2 * h)
// computed in double precision; x = 1 and y = -1 land one past the last
// column or row and are dropped like any other point off the surface.
// On a 200 x 300 surface 0.01 is one pixel across and 1.5 pixels down.
//
// Colours are pixel values already mapped to the surface's format (see the
// palette below); nothing here converts colours. Surfaces of 1 to 4 bytes
// per pixel are drawn; any other pixel size receives no writes.
//
// Locking: vesk_Giv_Pixel writes straight into pixel memory and never locks;
// the caller locks the surface around it. bresline locks once around a
// whole line.
//
// Cost: vesk_Giv_Pixel is one range test, two multiplies and one store; the
// lines and circles call it once a point. A caller that plots the same
// points every frame (the world step, for every grain) asks once for their
// pixels (vesk_Pixel_Column, vesk_Pixel_Row) and stores with vesk_Put_Pixel,
// a single store. A line plots about
// extent / 0.003 + 1 points, whatever the window's size; a circle of radius
// r makes about 0.7 * r / 0.003 passes of eight points (116 for r = 0.5).
//
// Single-threaded: all state below is plain globals, zero at start.
#ifndef VESK_VESK_H
#define VESK_VESK_H

#include <SDL.h>
#include <cstdint>

// A build on the port layer (src/platform/port) must have found its SDL.h:
// another SDL's records are laid out differently.
#if defined(VESK_SDL_PORT) && !defined(VESK_PORT_SDL_H)
#error "a port layer build must find src/platform/port/SDL.h as <SDL.h>, not another"
#endif

// The pointer with its pressed flag.
struct mouse_state {
    float x;         // normalized, or window pixels in souris_verte
    float y;         // normalized (up is +1), or window pixels in souris_verte
    int32_t pressed; // 1 while a button is held, else 0
};

// Palette, mapped into the display surface's format by vesk_Init.
extern uint32_t yellow, red, blue, green, white;

// The last event the pump fetched; unchanged by a poll of an empty queue.
extern SDL_Event event;
// The last mouse event (motion, button down or up) the pump fetched; all
// zero until the first one. The pointer read takes its position from here.
extern SDL_Event mouse_event;
// Buttons held as of the last mouse event, as an SDL_BUTTON() mask: a motion
// event gives its own mask, a press adds its button and a release removes
// it. Wheel steps (buttons 4 and 5) are never held.
extern Uint32 mouse_buttons;
// The pointer in window pixels: motion sets x and y, a button-down event of
// any button sets pressed to 1 and a button-up event sets it to 0.
extern mouse_state souris_verte;
// The pointer in normalized coordinates, written only by vesk_Got_Mouse.
extern mouse_state souris_brune;

// Maps yellow, red, blue, green and white (in that order) into surface's format.
void vesk_Init(SDL_Surface *surface);

// Drains the whole event queue; returns 1 if a quit request was among the
// events fetched, else 0.
int vesk_Loop();

// Returns the pointer in normalized coordinates, as of the last mouse event
// fetched (motion or button: other events leave it as it was), and pressed
// = 1 while mouse_buttons holds any button, else 0. Before any mouse event
// it reads (-1, 1), not pressed. x = px / (w div 2) - 1
// and y = -(py / (h div 2) - 1), stored as floats.
mouse_state vesk_Got_Mouse(SDL_Surface *surface);

// Shows the whole surface on the screen, then clears it to pixel value 0.
// The surface must not be locked.
void vesk_Refresh(SDL_Surface *surface);

// Stores colour at the normalized point (x, y); points off the surface are
// dropped. The caller locks the surface.
void vesk_Giv_Pixel(SDL_Surface *surface, float x, float y, uint32_t colour);

// Stores colour at p, a pixel of bytes_per_pixel bytes: the low 8 or 16 bits,
// three bytes low byte first, or all 32 bits; nothing for other sizes. Inline
// so that a caller with a constant size gets just its store.
inline void vesk_Put_Pixel(Uint8 *p, int bytes_per_pixel, uint32_t colour)
{
    switch (bytes_per_pixel) {
    case 1:
        *p = static_cast<Uint8>(colour);
        break;
    case 2:
        *reinterpret_cast<Uint16 *>(p) = static_cast<Uint16>(colour);
        break;
    case 3:
        p[0] = static_cast<Uint8>(colour);
        p[1] = static_cast<Uint8>(colour >> 8);
        p[2] = static_cast<Uint8>(colour >> 16);
        break;
    case 4:
        *reinterpret_cast<Uint32 *>(p) = colour;
        break;
    default:
        break;
    }
}

// The pixel column the writer addresses for normalized x on surface, and the
// row for normalized y; -1 where it drops the point. For callers that plot
// the same points again and again and keep the addresses.
int vesk_Pixel_Column(const SDL_Surface *surface, float x);
int vesk_Pixel_Row(const SDL_Surface *surface, float y);

// Draws a line from (x1, y1) towards (x2, y2) in normalized coordinates, one
// point per 0.003 along the major axis, without a final plot at the far end.
// Note the argument order: both x values, then both y values. Locks the
// surface itself, once around the whole line.
void bresline(SDL_Surface *surface, float x1, float x2, float y1, float y2, uint32_t colour);

// Draws a circle of radius r around (cx, cy), all in normalized units, by the
// midpoint method with a step of 0.003: one pass per step, eight symmetric
// points a pass. On a surface whose sides differ it is an ellipse (r * w / 2
// pixels across, r * h / 2 down). A negative or non-finite r or centre draws
// nothing. Locks the surface itself, once around each pass.
void brescircle(SDL_Surface *surface, float r, float cx, float cy, uint32_t colour);

// Reads the pixel value at the normalized point (x, y), zero-extended; 0 for
// points off the surface and for unknown pixel sizes. Addresses the pixel
// column trunc((x + 1) * (w div 2)), row trunc((1 - y) * (h div 2)): the
// writer's pixel on a surface of even width and height. The caller locks
// the surface.
uint32_t vesk_Got_Pixel(SDL_Surface *surface, float x, float y);

// Whole seconds since SDL was initialised (1999 ms reads 1.0).
float vesk_Got_Time();

#endif
