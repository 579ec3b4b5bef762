// SDL.h (port): the part of SDL 1.2 that Vesk calls, for the platforms
// that have no SDL 1.2 of their own (the browser and Windows).
//
// A build on this header defines VESK_SDL_PORT and puts src/platform/port
// first on the include path, so `#include <SDL.h>` in vesk.h finds it. The
// desktop Linux build never sees it and calls the system's SDL 1.2. Either
// mix-up stops the compile (#error here and in vesk.h): the records below
// are laid out like SDL 1.2's, not like any other SDL's.
//
// Conventions:
//   - Names, types, constants and record fields are SDL 1.2's: code written
//     against SDL 1.2 compiles unchanged and reads the same fields with the
//     same meanings. Only what Vesk, its tests and its tools call is here.
//   - Surfaces are plain memory: SDL_LockSurface and SDL_UnlockSurface only
//     keep SDL 1.2's nesting count. Pixel sizes 1 to 4 bytes; an 8-bit
//     surface is 3-3-2 RGB by masks (no palette).
//   - One display surface, made by SDL_SetVideoMode: always 32 bits per
//     pixel in the back end's channel order (see SDL_PixelFormat masks),
//     whatever depth is asked for, as SDL_ANYFORMAT allows on a 24-bit
//     display. SDL_UpdateRect hands a rectangle of it to the back end,
//     which shows it (the canvas, or the Win32 window).
//   - Events: one queue of at most SDL_MAXEVENTS events, oldest first. A
//     full queue merges adjacent motions with the same held buttons (the
//     later position kept) to take more; an event is dropped only when no
//     two queued events merge. The back end adds the window's mouse and
//     close events when the queue is polled, as many as there is room for:
//     the rest waits in the window's own input, so a flood of motion never
//     drops a button or the close request, and the pointer ends each drain
//     where the player left it. As SDL 1.2 does on
//     X11, a button pressed in the window holds the pointer until its
//     release: motion and the release still arrive from outside the window,
//     positions clamped to the surface. A motion event's state is the mask
//     of buttons held (SDL_BUTTON). No key events are queued.
//   - Video driver: the back end's window, or with SDL_VIDEODRIVER=dummy in
//     the environment at SDL_Init, the null driver (null.cpp): no window at
//     all (the display surface is memory only and events come only from
//     SDL_PushEvent).
//   - Clock: SDL_GetTicks counts milliseconds from SDL_Init on a monotonic
//     clock; SDL_Delay sleeps (in the browser through Asyncify: a program
//     calling it there must be linked with -sASYNCIFY).
//   - Single-threaded: all state is plain globals of the port layer.
#ifndef VESK_PORT_SDL_H
#define VESK_PORT_SDL_H

#ifndef VESK_SDL_PORT
#error "port/SDL.h is for builds on the port layer (VESK_SDL_PORT), not the system SDL"
#endif

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

// Surface flags (accepted; every surface is plain memory).
#define SDL_SWSURFACE 0x00000000u
#define SDL_ANYFORMAT 0x10000000u

// Button states, button numbers and the motion state's mask bits.
#define SDL_RELEASED 0
#define SDL_PRESSED 1
#define SDL_BUTTON_LEFT 1
#define SDL_BUTTON_MIDDLE 2
#define SDL_BUTTON_RIGHT 3
#define SDL_BUTTON_WHEELUP 4 // a step away from the user: press and release at once
#define SDL_BUTTON_WHEELDOWN 5
#define SDL_BUTTON(X) (1 << ((X)-1))
#define SDL_BUTTON_LMASK SDL_BUTTON(SDL_BUTTON_LEFT)
#define SDL_BUTTON_MMASK SDL_BUTTON(SDL_BUTTON_MIDDLE)
#define SDL_BUTTON_RMASK SDL_BUTTON(SDL_BUTTON_RIGHT)

// SDL_ActiveEvent's state bits.
#define SDL_APPMOUSEFOCUS 0x01
#define SDL_APPINPUTFOCUS 0x02
#define SDL_APPACTIVE 0x04

// Events the queue holds at most.
#define SDL_MAXEVENTS 128

// Event types, with SDL 1.2's values.
enum SDL_EventType {
    SDL_NOEVENT = 0,
    SDL_ACTIVEEVENT = 1,
    SDL_KEYDOWN = 2,
    SDL_KEYUP = 3,
    SDL_MOUSEMOTION = 4,
    SDL_MOUSEBUTTONDOWN = 5,
    SDL_MOUSEBUTTONUP = 6,
    SDL_QUIT = 12,
    SDL_VIDEORESIZE = 16,
    SDL_VIDEOEXPOSE = 17
};

// Key symbols and modifiers: only what tests put into key events.
typedef enum { SDLK_UNKNOWN = 0, SDLK_a = 97 } SDLKey;
typedef enum { KMOD_NONE = 0 } SDLMod;

typedef struct SDL_Rect {
    Sint16 x, y;
    Uint16 w, h;
} SDL_Rect;

typedef struct SDL_PixelFormat {
    void *palette; // always null: no palettized surfaces here
    Uint8 BitsPerPixel;
    Uint8 BytesPerPixel;
    Uint8 Rloss, Gloss, Bloss, Aloss; // 8 minus the channel's width in bits
    Uint8 Rshift, Gshift, Bshift, Ashift;
    Uint32 Rmask, Gmask, Bmask, Amask;
    Uint32 colorkey;
    Uint8 alpha;
} SDL_PixelFormat;

typedef struct SDL_Surface {
    Uint32 flags;
    SDL_PixelFormat *format;
    int w, h;     // pixels
    Uint16 pitch; // bytes from one row to the next
    void *pixels;
    int locked; // nesting depth of SDL_LockSurface
} SDL_Surface;

typedef struct SDL_ActiveEvent {
    Uint8 type;  // SDL_ACTIVEEVENT
    Uint8 gain;  // 1 gained, 0 lost
    Uint8 state; // SDL_APPMOUSEFOCUS, SDL_APPINPUTFOCUS, SDL_APPACTIVE bits
} SDL_ActiveEvent;

typedef struct SDL_keysym {
    Uint8 scancode;
    SDLKey sym;
    SDLMod mod;
    Uint16 unicode;
} SDL_keysym;

typedef struct SDL_KeyboardEvent {
    Uint8 type; // SDL_KEYDOWN or SDL_KEYUP
    Uint8 which;
    Uint8 state; // SDL_PRESSED or SDL_RELEASED
    SDL_keysym keysym;
} SDL_KeyboardEvent;

typedef struct SDL_MouseMotionEvent {
    Uint8 type; // SDL_MOUSEMOTION
    Uint8 which;
    Uint8 state; // mask of held buttons, SDL_BUTTON(n) per button
    Uint16 x, y; // window pixels
    Sint16 xrel, yrel;
} SDL_MouseMotionEvent;

typedef struct SDL_MouseButtonEvent {
    Uint8 type; // SDL_MOUSEBUTTONDOWN or SDL_MOUSEBUTTONUP
    Uint8 which;
    Uint8 button; // SDL_BUTTON_LEFT .. SDL_BUTTON_WHEELDOWN
    Uint8 state;  // SDL_PRESSED or SDL_RELEASED
    Uint16 x, y;  // window pixels
} SDL_MouseButtonEvent;

typedef struct SDL_QuitEvent {
    Uint8 type; // SDL_QUIT
} SDL_QuitEvent;

typedef struct SDL_ExposeEvent {
    Uint8 type; // SDL_VIDEOEXPOSE
} SDL_ExposeEvent;

typedef union SDL_Event {
    Uint8 type;
    SDL_ActiveEvent active;
    SDL_KeyboardEvent key;
    SDL_MouseMotionEvent motion;
    SDL_MouseButtonEvent button;
    SDL_QuitEvent quit;
    SDL_ExposeEvent expose;
} SDL_Event;

#ifdef __cplusplus
extern "C" {
#endif

// Starts the clock and the back end; picks the video driver. Returns 0, or
// -1 when the back end cannot start (see SDL_GetError).
int SDL_Init(Uint32 flags);
// Closes the window, stops the back end and drops queued events.
void SDL_Quit(void);
// The message of the last failure ("" when none).
char *SDL_GetError(void);
// Copies the video driver's name into namebuf (at most maxlen bytes,
// terminated) and returns namebuf; null before SDL_Init.
char *SDL_VideoDriverName(char *namebuf, int maxlen);

// Makes the display surface and opens the window of width x height pixels
// (once; later calls return the same surface when the size matches, else
// null). Null when the window cannot open or memory runs out.
SDL_Surface *SDL_SetVideoMode(int width, int height, int bpp, Uint32 flags);
// Sets the window's caption to title; icon is ignored.
void SDL_WM_SetCaption(const char *title, const char *icon);
// A zero-filled surface of width x height at depth 8, 15, 16, 24 or 32 bits,
// with the given channel masks (all zero: SDL 1.2's defaults for the
// depth). Null for other depths, for rows of more than 65535 bytes or
// pixels of more than 2 GiB (checked before any allocation), or without
// memory.
SDL_Surface *SDL_CreateRGBSurface(Uint32 flags, int width, int height, int depth, Uint32 Rmask,
                                  Uint32 Gmask, Uint32 Bmask, Uint32 Amask);
// Frees a surface; the display surface closes the window, and
// SDL_SetVideoMode may then make a new one.
void SDL_FreeSurface(SDL_Surface *surface);

// The pixel value of (r, g, b) in format: each component's top bits, shifted
// into its mask, with the alpha mask set.
Uint32 SDL_MapRGB(const SDL_PixelFormat *format, Uint8 r, Uint8 g, Uint8 b);
// Returns 0.
// Surfaces here are plain memory and never need locking around pixel writes.
#define SDL_MUSTLOCK(surface) ((void)(surface), 0)
int SDL_LockSurface(SDL_Surface *surface);
void SDL_UnlockSurface(SDL_Surface *surface);
// Fills rect (null: the whole surface), clipped to the surface, with the
// low bits of color. Returns 0, or -1 for an unknown pixel size.
int SDL_FillRect(SDL_Surface *dst, SDL_Rect *rect, Uint32 color);
// Shows the rectangle at (x, y) of w x h pixels (all four zero: the whole
// surface), clipped to the surface, in the window.
void SDL_UpdateRect(SDL_Surface *screen, Sint32 x, Sint32 y, Uint32 w, Uint32 h);

// Takes the oldest queued event into *event; returns 1, or 0 when none is
// queued. With a null event it only tells whether one is queued.
int SDL_PollEvent(SDL_Event *event);
// Queues a copy of *event (merging motions when the queue is full, as
// above); returns 0, or -1 when the queue is full and nothing merges.
int SDL_PushEvent(SDL_Event *event);

Uint32 SDL_GetTicks(void);
void SDL_Delay(Uint32 ms);

#ifdef __cplusplus
}
#endif

#endif
