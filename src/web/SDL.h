// SDL.h (web): the part of SDL 1.2 that Vesk calls, for the browser build.
//
// Only the WebAssembly build sees this header: web/CMakeLists.txt puts
// src/web first on the include path, so `#include <SDL.h>` in vesk.h finds
// it instead of Emscripten's SDL headers (whose event record follows a
// later SDL). The desktop build never sees it and keeps calling SDL 1.2.
//
// Conventions:
//   - Names, types, constants and record fields are SDL 1.2's: code
//     written against SDL 1.2 compiles unchanged and reads the same fields
//     with the same meanings. Only what Vesk and its browser tools call is
//     declared.
//   - One display surface, made by SDL_SetVideoMode: always 32 bits per
//     pixel with bytes R, G, B, unused in memory (masks 0x000000FF,
//     0x0000FF00, 0x00FF0000, no alpha), whatever depth is asked for, as
//     SDL_ANYFORMAT allows on a 24-bit display. Its pixels live in the
//     module's memory.
//   - Locking costs nothing: the surface never moves, so SDL_LockSurface
//     and SDL_UnlockSurface only keep the nesting count that SDL 1.2 keeps.
//   - Presenting: SDL_UpdateRect copies the rectangle (all zero: the whole
//     surface) to the page's canvas, with every pixel opaque. Nothing else
//     touches the canvas.
//   - Events: mouse motion and button presses and releases over the canvas,
//     queued in arrival order, with positions in canvas pixels. As SDL 1.2
//     does on X11, a button pressed over the canvas grabs the pointer until
//     its release: motion and the release still arrive off the canvas, with
//     positions clamped to the surface. A motion event's state is the mask
//     of buttons pressed over the canvas and not yet released (SDL_BUTTON).
//     The page sends no quit event, no wheel steps and no keys.
//   - Clock: SDL_GetTicks counts milliseconds of performance.now() since
//     SDL_Init. SDL_Delay sleeps through Asyncify: a program calling it must
//     be linked with -sASYNCIFY.
//   - Single-threaded: all state is plain globals of sdl_web.cpp.
#ifndef VESK_WEB_SDL_H
#define VESK_WEB_SDL_H

#include <stdint.h>

typedef uint8_t Uint8;
typedef uint16_t Uint16;
typedef uint32_t Uint32;
typedef int16_t Sint16;
typedef int32_t Sint32;

// SDL_Init flags (accepted and ignored: there is only video, timer and mouse).
#define SDL_INIT_TIMER 0x00000001u
#define SDL_INIT_AUDIO 0x00000010u
#define SDL_INIT_VIDEO 0x00000020u
#define SDL_INIT_CDROM 0x00000100u
#define SDL_INIT_JOYSTICK 0x00000200u
#define SDL_INIT_EVERYTHING 0x0000FFFFu

// SDL_SetVideoMode flags (accepted; the surface is the same whatever they say).
#define SDL_SWSURFACE 0x00000000u
#define SDL_ANYFORMAT 0x10000000u

// Button states, button numbers and the motion state's mask bits.
#define SDL_RELEASED 0
#define SDL_PRESSED 1
#define SDL_BUTTON_LEFT 1
#define SDL_BUTTON_MIDDLE 2
#define SDL_BUTTON_RIGHT 3
#define SDL_BUTTON_WHEELUP 4 // never sent here: the page sends no wheel steps
#define SDL_BUTTON_WHEELDOWN 5
#define SDL_BUTTON(X) (1 << ((X)-1))

// Event types, with SDL 1.2's values.
enum SDL_EventType {
    SDL_NOEVENT = 0,
    SDL_ACTIVEEVENT = 1,
    SDL_KEYDOWN = 2,
    SDL_KEYUP = 3,
    SDL_MOUSEMOTION = 4,
    SDL_MOUSEBUTTONDOWN = 5,
    SDL_MOUSEBUTTONUP = 6,
    SDL_QUIT = 12
};

typedef struct SDL_Rect {
    Sint16 x, y;
    Uint16 w, h;
} SDL_Rect;

typedef struct SDL_PixelFormat {
    void *palette; // always null: no palettized surfaces here
    Uint8 BitsPerPixel;
    Uint8 BytesPerPixel;
    Uint8 Rloss, Gloss, Bloss, Aloss;
    Uint8 Rshift, Gshift, Bshift, Ashift;
    Uint32 Rmask, Gmask, Bmask, Amask;
    Uint32 colorkey;
    Uint8 alpha;
} SDL_PixelFormat;

typedef struct SDL_Surface {
    Uint32 flags;
    SDL_PixelFormat *format;
    int w, h;
    Uint16 pitch; // bytes from one row to the next
    void *pixels;
    int locked; // nesting depth of SDL_LockSurface
} SDL_Surface;

typedef struct SDL_MouseMotionEvent {
    Uint8 type; // SDL_MOUSEMOTION
    Uint8 which;
    Uint8 state; // mask of held buttons, SDL_BUTTON(n) per button
    Uint16 x, y; // canvas pixels
    Sint16 xrel, yrel;
} SDL_MouseMotionEvent;

typedef struct SDL_MouseButtonEvent {
    Uint8 type; // SDL_MOUSEBUTTONDOWN or SDL_MOUSEBUTTONUP
    Uint8 which;
    Uint8 button; // SDL_BUTTON_LEFT, _MIDDLE or _RIGHT
    Uint8 state;  // SDL_PRESSED or SDL_RELEASED
    Uint16 x, y;  // canvas pixels
} SDL_MouseButtonEvent;

typedef struct SDL_QuitEvent {
    Uint8 type; // SDL_QUIT
} SDL_QuitEvent;

typedef union SDL_Event {
    Uint8 type;
    SDL_MouseMotionEvent motion;
    SDL_MouseButtonEvent button;
    SDL_QuitEvent quit;
} SDL_Event;

#ifdef __cplusplus
extern "C" {
#endif

// Starts the clock; returns 0.
int SDL_Init(Uint32 flags);
// Detaches the canvas's listeners and drops queued events.
void SDL_Quit(void);
// The message of the last failure ("" when none).
char *SDL_GetError(void);
// Copies the video driver's name, "canvas", into namebuf (at most maxlen
// bytes, terminated) and returns namebuf; null before SDL_Init.
char *SDL_VideoDriverName(char *namebuf, int maxlen);

// Makes the display surface (once; later calls return the same surface when
// the size matches, else null), sizes the canvas to width x height and starts
// listening to its mouse events. Null when there is no canvas or no memory.
SDL_Surface *SDL_SetVideoMode(int width, int height, int bpp, Uint32 flags);
// Sets the page's title to title; icon is ignored.
void SDL_WM_SetCaption(const char *title, const char *icon);
// Frees the display surface; SDL_SetVideoMode may then make a new one.
void SDL_FreeSurface(SDL_Surface *surface);

Uint32 SDL_MapRGB(const SDL_PixelFormat *format, Uint8 r, Uint8 g, Uint8 b);
// Returns 0.
int SDL_LockSurface(SDL_Surface *surface);
void SDL_UnlockSurface(SDL_Surface *surface);
// Fills rect (null: the whole surface), clipped to the surface, with color.
// Returns 0, or -1 for a surface that is not 32 bits per pixel.
int SDL_FillRect(SDL_Surface *dst, SDL_Rect *rect, Uint32 color);
// Copies the rectangle at (x, y) of w x h pixels (all four zero: the whole
// surface), clipped to the surface, to the canvas.
void SDL_UpdateRect(SDL_Surface *screen, Sint32 x, Sint32 y, Uint32 w, Uint32 h);

// Takes the oldest queued event into *event; returns 1, or 0 when none is
// queued. With a null event it only tells whether one is queued.
int SDL_PollEvent(SDL_Event *event);

Uint32 SDL_GetTicks(void);
void SDL_Delay(Uint32 ms);

#ifdef __cplusplus
}
#endif

#endif
