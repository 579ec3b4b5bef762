// window.cpp (Linux desktop): the display surface shown at the desktop's
// scale, beneath SDL 1.2 and whichever runtime carries it.
//
// The program is linked with -Wl,--wrap for SDL_SetVideoMode,
// SDL_UpdateRect, SDL_PollEvent and SDL_FreeSurface (CMakeLists.txt), so
// its calls of them arrive here and this file reaches SDL's own as
// __real_*. What the program sees stays SDL 1.2's: the surface it asked
// for, events in that surface's pixels. Beneath it:
//   - The window opens at k times the surface's size, resizable; k is
//     view.h's, from the desktop's scale factor, read as X11 desktops
//     publish it: Xft.dpi / 96 from the resource database, else XSETTINGS'
//     Gdk/WindowScalingFactor, else the GDK_SCALE variable; 1 where none
//     is set or the video driver is not X11.
//   - The program draws into a surface of its own in the window's pixel
//     format (and palette); SDL_UpdateRect on it copies the rectangle's rows
//     that changed since the last present into the window, each pixel a
//     k x k block, and updates those. A settled pile under a still pointer
//     costs a comparison of the surface a frame, whatever k.
//   - SDL_VIDEORESIZE (the window resized or maximised) is handled here and
//     never reaches the program: the window surface is made anew at the new
//     size, the margins black and the last picture shown again at the
//     largest whole multiple that fits.
//   - Mouse motion and buttons reach the program with positions in surface
//     pixels (view_to_surface: clamped, margins included) and motion's
//     xrel, yrel divided by the scale. Every other event passes unchanged.
// At k = 1 in a window that was not resized the window shows the same
// pixels and the events carry the same positions as SDL's own.
//
// Single-threaded, as the program; state is the one record below.
#include "scaling.h"

#include <SDL.h>
#include <X11/Xlib.h>
#include <X11/Xresource.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" {
SDL_Surface *__real_SDL_SetVideoMode(int width, int height, int bpp, Uint32 flags);
void __real_SDL_UpdateRect(SDL_Surface *screen, Sint32 x, Sint32 y, Uint32 w, Uint32 h);
int __real_SDL_PollEvent(SDL_Event *event);
void __real_SDL_FreeSurface(SDL_Surface *surface);
SDL_Surface *__wrap_SDL_SetVideoMode(int width, int height, int bpp, Uint32 flags);
void __wrap_SDL_UpdateRect(SDL_Surface *screen, Sint32 x, Sint32 y, Uint32 w, Uint32 h);
int __wrap_SDL_PollEvent(SDL_Event *event);
void __wrap_SDL_FreeSurface(SDL_Surface *surface);
}

static const char *const X11_DRIVER = "x11";
static const int DRIVER_NAME_SIZE = 64;
static const char *const SCALE_VARIABLE = "GDK_SCALE";
static const char *const XSETTINGS_SELECTION = "_XSETTINGS_S%d";
static const char *const XSETTINGS_PROPERTY = "_XSETTINGS_SETTINGS";
static const char *const XSETTINGS_SCALE = "Gdk/WindowScalingFactor";
// Room for the selection's name with the screen's number.
static const int ATOM_NAME_SIZE = 32;
// The most of the XSETTINGS property read, in 32-bit units (256 KiB).
static const long XSETTINGS_MAX_WORDS = 65536;
// SDL 1.2 positions are 16-bit; those past this are negative ones wrapped.
static const int POSITION_WRAP = 32768;
static const int POSITION_RANGE = 65536;

// The program's surface and the window that shows it.
struct scaled_window {
    SDL_Surface *surface; // the program's, its size as asked; null until opened
    SDL_Surface *window;  // SDL's display surface; null if remaking it failed
    SDL_Surface *kept;    // the picture the window shows, in the surface's pixels
    int bpp;              // as the program asked, for remaking the window
    Uint32 flags;         // the program's, with SDL_RESIZABLE
    view v;               // where the surface stands in the window
};

static scaled_window shown;

// The first of the desktop's published scale factors, or 0 when none is.
static double published_factor(Display *display)
{
    double factor = 0;
    XrmInitialize();
    if (const char *resources = XResourceManagerString(display)) {
        XrmDatabase database = XrmGetStringDatabase(resources);
        char *type = nullptr;
        XrmValue value;
        if (database && XrmGetResource(database, "Xft.dpi", "Xft.Dpi", &type, &value) && value.addr)
            factor = std::strtod(value.addr, nullptr) / VIEW_BASE_DPI;
        if (database)
            XrmDestroyDatabase(database);
    }
    if (factor > 0 && std::isfinite(factor))
        return factor;

    char name[ATOM_NAME_SIZE];
    std::snprintf(name, sizeof name, XSETTINGS_SELECTION, DefaultScreen(display));
    Window owner = XGetSelectionOwner(display, XInternAtom(display, name, False));
    Atom property = XInternAtom(display, XSETTINGS_PROPERTY, False);
    Atom type;
    int format;
    unsigned long items, left;
    unsigned char *data = nullptr;
    int32_t scale = 0;
    if (owner != None &&
        XGetWindowProperty(display, owner, property, 0, XSETTINGS_MAX_WORDS, False, property, &type,
                           &format, &items, &left, &data) == Success &&
        data && type == property && format == 8 &&
        xsettings_integer(data, items, XSETTINGS_SCALE, &scale) && scale > 0)
        factor = scale;
    if (data)
        XFree(data);
    if (factor > 0)
        return factor;

    const char *variable = std::getenv(SCALE_VARIABLE);
    factor = variable ? std::strtod(variable, nullptr) : 0;
    return factor > 0 && std::isfinite(factor) ? factor : 0;
}

// The XSETTINGS owner may go away between our requests: its errors are ignored.
static int ignore_error(Display *, XErrorEvent *)
{
    return 0;
}

// k for a width x height surface: 1 unless SDL shows it through X11.
static int desktop_scale(int width, int height)
{
    char driver[DRIVER_NAME_SIZE] = "";
    if (!SDL_VideoDriverName(driver, sizeof driver) || std::strcmp(driver, X11_DRIVER) != 0)
        return 1;
    Display *display = XOpenDisplay(nullptr);
    if (!display)
        return 1;
    XErrorHandler previous = XSetErrorHandler(ignore_error);
    int k = view_desktop_scale(published_factor(display));
    XSync(display, False);
    XSetErrorHandler(previous);
    int screen = DefaultScreen(display);
    k = view_fit(k, width, height, DisplayWidth(display, screen), DisplayHeight(display, screen));
    XCloseDisplay(display);
    return k;
}

static pixel_rows rows_of(SDL_Surface *s)
{
    return pixel_rows{static_cast<uint8_t *>(s->pixels), s->pitch, s->w, s->h};
}

// A surface of width x height in the window's pixel format and palette.
static SDL_Surface *surface_like(const SDL_Surface *window, int width, int height)
{
    const SDL_PixelFormat *f = window->format;
    SDL_Surface *s = SDL_CreateRGBSurface(SDL_SWSURFACE, width, height, f->BitsPerPixel, f->Rmask,
                                          f->Gmask, f->Bmask, f->Amask);
    if (s && f->palette)
        SDL_SetColors(s, f->palette->colors, 0, f->palette->ncolors);
    return s;
}

// Copies the surface's rectangle (x, y, w, h), clipped to it, into the
// window as shown.v places it; returns that rectangle in the window.
static void show(SDL_Surface *from, const int rect[4], int out[4])
{
    out[2] = out[3] = 0;
    if (!shown.window || shown.window->format->BytesPerPixel != from->format->BytesPerPixel)
        return;
    if (SDL_MUSTLOCK(shown.window) && SDL_LockSurface(shown.window) != 0)
        return;
    scale_rect(rows_of(from), rows_of(shown.window), from->format->BytesPerPixel, shown.v, rect,
               out);
    if (SDL_MUSTLOCK(shown.window))
        SDL_UnlockSurface(shown.window);
}

// The window was resized to width x height: remade, black, the picture shown again.
static void resize(int width, int height)
{
    if (shown.window && shown.window->w == width && shown.window->h == height)
        return;
    shown.window = __real_SDL_SetVideoMode(width, height, shown.bpp, shown.flags);
    if (!shown.window)
        return;
    shown.v = view_in(shown.surface->w, shown.surface->h, shown.window->w, shown.window->h);
    SDL_FillRect(shown.window, nullptr, 0);
    int all[4] = {0, 0, shown.surface->w, shown.surface->h}, out[4];
    show(shown.kept, all, out);
    __real_SDL_UpdateRect(shown.window, 0, 0, 0, 0);
}

// Narrows rect (x, y, w, h) to its rows that differ from the picture shown,
// and copies them there; false when none does.
static bool changed_rows(SDL_Surface *from, int rect[4])
{
    int b = from->format->BytesPerPixel, first = -1, last = -1;
    size_t span = static_cast<size_t>(rect[2]) * b;
    for (int y = rect[1]; y < rect[1] + rect[3]; y++) {
        uint8_t *now = static_cast<uint8_t *>(from->pixels) + y * from->pitch + rect[0] * b;
        uint8_t *was =
            static_cast<uint8_t *>(shown.kept->pixels) + y * shown.kept->pitch + rect[0] * b;
        if (std::memcmp(now, was, span) != 0) {
            std::memcpy(was, now, span);
            first = first < 0 ? y : first;
            last = y;
        }
    }
    rect[1] = first;
    rect[3] = last - first + 1;
    return first >= 0;
}

SDL_Surface *__wrap_SDL_SetVideoMode(int width, int height, int bpp, Uint32 flags)
{
    if (shown.surface) {
        if (shown.surface->w == width && shown.surface->h == height)
            return shown.surface;
        SDL_SetError("the display surface is already open at another size");
        return nullptr;
    }
    int k = desktop_scale(width, height);
    SDL_Surface *window =
        __real_SDL_SetVideoMode(k * width, k * height, bpp, flags | SDL_RESIZABLE);
    if (!window)
        return nullptr;
    SDL_Surface *surface = surface_like(window, width, height);
    SDL_Surface *kept = surface ? surface_like(window, width, height) : nullptr;
    if (!kept) {
        if (surface)
            __real_SDL_FreeSurface(surface);
        SDL_SetError("out of memory for the display surface");
        return nullptr;
    }
    // The SDL2-backed runtime can hand back a window surface of uninitialised memory.
    SDL_FillRect(window, nullptr, 0);
    SDL_FillRect(kept, nullptr, 0);
    __real_SDL_UpdateRect(window, 0, 0, 0, 0);
    shown = scaled_window{surface,
                          window,
                          kept,
                          bpp,
                          flags | SDL_RESIZABLE,
                          view_in(width, height, window->w, window->h)};
    return surface;
}

void __wrap_SDL_UpdateRect(SDL_Surface *screen, Sint32 x, Sint32 y, Uint32 w, Uint32 h)
{
    if (!screen || screen != shown.surface) {
        __real_SDL_UpdateRect(screen, x, y, w, h);
        return;
    }
    long left = x, top = y, right = x + static_cast<long>(w), bottom = y + static_cast<long>(h);
    if (x == 0 && y == 0 && w == 0 && h == 0) {
        right = screen->w;
        bottom = screen->h;
    }
    left = left < 0 ? 0 : left;
    top = top < 0 ? 0 : top;
    right = right > screen->w ? screen->w : right;
    bottom = bottom > screen->h ? screen->h : bottom;
    if (right <= left || bottom <= top)
        return;
    int rect[4] = {static_cast<int>(left), static_cast<int>(top), static_cast<int>(right - left),
                   static_cast<int>(bottom - top)};
    int out[4];
    if (!changed_rows(screen, rect))
        return;
    show(screen, rect, out);
    if (out[2] && out[3])
        __real_SDL_UpdateRect(shown.window, out[0], out[1], out[2], out[3]);
}

// A window position as SDL 1.2 carries it, 16 bits that may be a negative one.
static int position(Uint16 p)
{
    return p >= POSITION_WRAP ? p - POSITION_RANGE : p;
}

static void to_surface(Uint16 *x, Uint16 *y)
{
    int sx, sy;
    view_to_surface(shown.v, position(*x), position(*y), &sx, &sy);
    *x = static_cast<Uint16>(sx);
    *y = static_cast<Uint16>(sy);
}

int __wrap_SDL_PollEvent(SDL_Event *event)
{
    if (!event || !shown.surface)
        return __real_SDL_PollEvent(event);
    while (__real_SDL_PollEvent(event)) {
        switch (event->type) {
        case SDL_VIDEORESIZE:
            resize(event->resize.w, event->resize.h);
            continue;
        case SDL_MOUSEMOTION:
            to_surface(&event->motion.x, &event->motion.y);
            event->motion.xrel = static_cast<Sint16>(event->motion.xrel / shown.v.scale);
            event->motion.yrel = static_cast<Sint16>(event->motion.yrel / shown.v.scale);
            break;
        case SDL_MOUSEBUTTONDOWN:
        case SDL_MOUSEBUTTONUP:
            to_surface(&event->button.x, &event->button.y);
            break;
        default:
            break;
        }
        return 1;
    }
    return 0;
}

void __wrap_SDL_FreeSurface(SDL_Surface *surface)
{
    if (!surface || surface != shown.surface) {
        __real_SDL_FreeSurface(surface);
        return;
    }
    __real_SDL_FreeSurface(shown.surface);
    __real_SDL_FreeSurface(shown.kept);
    // What the program's call did before: SDL's display surface is SDL's to
    // free. Its address stays here, as it stayed in the program's `screen`:
    // the SDL2-backed runtime never frees the surface's record.
    SDL_Surface *window = shown.window;
    if (window)
        __real_SDL_FreeSurface(window);
    shown = scaled_window{};
    shown.window = window;
}
