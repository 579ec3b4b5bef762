// backend.h: what each back end of the port layer (canvas, Win32) gives the
// shared part (port.cpp), and what the shared part gives back ends.
//
// The shared part owns the surfaces, the pixel formats, the event queue and
// the error text; a back end owns only its window, the present, the input
// and the clock. Each back end is one .cpp file that defines every
// backend_* function below.
//
// Conventions:
//   - The display surface is 32 bits per pixel in the back end's channel
//     order (backend_channels); its memory belongs to the shared part.
//   - Positions are the surface's pixels, (0, 0) at the top left.
//   - Failures call port_set_error with one short sentence and return 0.
//   - Single-threaded; nothing here is called before backend_start.
#ifndef VESK_PORT_BACKEND_H
#define VESK_PORT_BACKEND_H

#include <SDL.h>

// The display surface's channel masks (32 bits per pixel, no alpha).
struct backend_masks {
    Uint32 red, green, blue;
};

// The video driver's name, as SDL_VideoDriverName gives it.
const char *backend_driver_name();
// Starts the clock (and what the platform needs before a window); 1 or 0.
int backend_start();
// Undoes backend_start; the window is already closed.
void backend_stop();
backend_masks backend_channels();
// Opens the window with a client area of width x height, shows it black,
// and starts taking its input. 1, or 0 when it cannot.
int backend_open(int width, int height);
void backend_close();
void backend_set_caption(const char *title);
// Shows the rectangle (x, y, w, h), already clipped to the surface, of the
// display surface's pixels (pitch bytes a row); the window keeps the
// picture until the next present.
void backend_present(const void *pixels, int pitch, int x, int y, int w, int h);
// Turns the window's pending input into events (port_push_event).
void backend_pump();
// Milliseconds since backend_start, from a monotonic clock.
Uint32 backend_ticks();
void backend_sleep(Uint32 ms);

// Queues event; 1, or 0 when the queue is full and it was dropped.
int port_push_event(const SDL_Event *event);
void port_set_error(const char *text);

#endif
