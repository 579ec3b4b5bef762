// backend.h: what the port layer's shared part (port.cpp) asks of the
// platform beneath it, and what it gives the back ends in return.
//
// A platform on the port layer (web/, win32/) gives two things:
//   - its services, plain functions used whatever the video driver: the
//     clock (backend_start to backend_sleep) and the display surface's
//     channel order (backend_channels);
//   - its window, `window_video`: a video driver record that opens the
//     window, presents into it and turns its input into events.
// The port layer itself gives `null_video` (null.cpp), the video driver
// SDL_VIDEODRIVER=dummy chooses: no window, no input, nothing presented,
// the platform's clock and channel order all the same.
//
// The shared part owns the surfaces, the pixel formats, the event queue and
// the error text; a video driver owns only its window, the present and the
// input.
//
// Conventions:
//   - The display surface is 32 bits per pixel in the platform's channel
//     order (backend_channels); its memory belongs to the shared part.
//   - Positions are the surface's pixels, (0, 0) at the top left.
//   - Failures call port_set_error with one short sentence and return 0.
//   - Single-threaded; nothing here is called before backend_start, and a
//     video driver's functions only between SDL_Init and SDL_Quit.
#ifndef VESK_PORT_BACKEND_H
#define VESK_PORT_BACKEND_H

#include <SDL.h>

// The display surface's channel masks (32 bits per pixel, no alpha).
struct backend_masks {
    Uint32 red, green, blue;
};

// A video driver: every function is set (a driver with nothing to do gives
// one that does nothing).
struct port_video {
    // The name SDL_VideoDriverName gives.
    const char *name;
    // Opens the window with a client area of width x height, shows it black,
    // and starts taking its input. 1, or 0 when it cannot.
    int (*open)(int width, int height);
    void (*close)();
    void (*set_caption)(const char *title);
    // Shows the rectangle (x, y, w, h), already clipped to the surface, of
    // the display surface's pixels (pitch bytes a row); the window keeps the
    // picture until the next present.
    void (*present)(const void *pixels, int pitch, int x, int y, int w, int h);
    // Turns the window's pending input into events (port_push_*), as much of
    // it as port_room allows; the rest waits for the next pump.
    void (*pump)();
};

// The platform's window (its back end: web/canvas.cpp, win32/win32.cpp).
extern const port_video window_video;
// No window (null.cpp): SDL_VIDEODRIVER=dummy.
extern const port_video null_video;

// Starts the clock (and what the platform needs before a window); 1 or 0.
int backend_start();
// Undoes backend_start; the window is already closed.
void backend_stop();
backend_masks backend_channels();
// Milliseconds since backend_start, from a monotonic clock.
Uint32 backend_ticks();
void backend_sleep(Uint32 ms);

// Queues event; 1, or 0 when the queue is full and it was dropped. A full
// queue first makes room by merging motions: a motion folds into a queued
// motion just before it with the same held buttons (the later position kept,
// the moves summed), else the oldest two such adjacent motions become one.
// So an event is dropped only when no two queued events could be merged.
int port_push_event(const SDL_Event *event);
// Makes room for `events` more events, merging motions as a full queue does;
// 1 when that many fit, else 0. A driver asks before it takes input from the
// system, and leaves the input where it is while there is no room: so no
// button or quit is ever dropped, only motions merged.
int port_room(int events);
// Queues a press (SDL_MOUSEBUTTONDOWN) or a release (SDL_MOUSEBUTTONUP) of
// button at (x, y); 1, or 0 when dropped.
int port_push_button(Uint8 type, int button, int x, int y);
// Queues motion to (x, y), moved by (xrel, yrel), with the held buttons'
// SDL_BUTTON() mask; 1, or 0 when dropped.
int port_push_motion(Uint8 held, int x, int y, int xrel, int yrel);
// Queues a quit request; 1, or 0 when dropped.
int port_push_quit();
void port_set_error(const char *text);

#endif
