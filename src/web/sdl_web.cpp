// sdl_web.cpp: the SDL 1.2 subset of SDL.h (web) over the page's canvas.
//
// The surface is plain memory of the module; the canvas only ever receives
// whole presented rectangles (see SDL_UpdateRect). The JavaScript half keeps
// its state in Module.sdlWeb: the canvas, its 2D context and an ImageData of
// the surface's size, the event queue, the held buttons, and `frames`, the
// number of presents so far (which tests and tools may read).
#include "SDL.h"

#include <emscripten.h>

#include <cstdlib>
#include <cstring>

// Queued events at most, as in SDL 1.2; later events are dropped while full.
static const int EVENT_QUEUE_LENGTH = 128;

// The one pixel format of the display surface: 32 bits, R, G, B, unused.
static const Uint8 BITS_PER_PIXEL = 32;
static const Uint8 BYTES_PER_PIXEL = 4;
static const Uint32 RED_MASK = 0x000000FFu, GREEN_MASK = 0x0000FF00u, BLUE_MASK = 0x00FF0000u;
static const Uint8 RED_SHIFT = 0, GREEN_SHIFT = 8, BLUE_SHIFT = 16;
// The canvas's alpha byte, set on every presented pixel.
static const Uint32 OPAQUE = 0xFF000000u;
// Numbers in one event record passed from JavaScript: type, button, held
// buttons' mask (motion only), x, y, xrel, yrel.
static const int EVENT_FIELDS = 7;

static SDL_PixelFormat screen_format;
static SDL_Surface screen_surface;
static SDL_Surface *screen_open = nullptr; // the display surface, or null
static Uint32 *shown = nullptr;            // the surface as the canvas gets it, opaque
static double start_ms = 0;                // performance.now() at SDL_Init
static bool started = false;               // SDL_Init was called
// The video driver's name, as SDL_VideoDriverName gives it.
static const char *const DRIVER_NAME = "canvas";
static char error_text[128] = "";

// clang-format off
// Listens to the canvas's mouse; queued records carry the event types given.
EM_JS(int, web_canvas_open, (int width, int height, int queue_length, int motion_type,
                             int down_type, int up_type), {
    var canvas = Module.canvas || document.getElementById('canvas');
    if (!canvas)
        return 0;
    canvas.width = width;
    canvas.height = height;
    var context = canvas.getContext('2d');
    if (!context)
        return 0;
    var s = {canvas: canvas, context: context, image: context.createImageData(width, height),
             queue: [], held: 0, lastX: 0, lastY: 0, frames: 0, listeners: []};
    function push(record) {
        if (s.queue.length < queue_length)
            s.queue.push(record);
    }
    function inside(e) {
        var r = canvas.getBoundingClientRect();
        return e.clientX >= r.left && e.clientX < r.right && e.clientY >= r.top && e.clientY < r.bottom;
    }
    function at(e) {
        var r = canvas.getBoundingClientRect();
        var x = Math.floor((e.clientX - r.left) * canvas.width / r.width);
        var y = Math.floor((e.clientY - r.top) * canvas.height / r.height);
        return [Math.min(Math.max(x, 0), canvas.width - 1), Math.min(Math.max(y, 0), canvas.height - 1)];
    }
    // DOM buttons 0 (main), 1 (middle), 2 (secondary) are SDL's 1 (left), 2 (middle), 3 (right).
    function button(e) { return e.button === 0 ? 1 : e.button === 1 ? 2 : e.button === 2 ? 3 : 0; }
    function listen(target, type, handler) {
        target.addEventListener(type, handler);
        s.listeners.push([target, type, handler]);
    }
    listen(canvas, 'mousedown', function(e) {
        var b = button(e);
        if (!b)
            return;
        e.preventDefault();
        var p = at(e);
        s.held |= 1 << (b - 1);
        push([down_type, b, 0, p[0], p[1], 0, 0]);
    });
    listen(window, 'mouseup', function(e) {
        var b = button(e);
        if (!b || !(s.held & (1 << (b - 1))))
            return;
        s.held &= ~(1 << (b - 1));
        var p = at(e);
        push([up_type, b, 0, p[0], p[1], 0, 0]);
    });
    listen(window, 'mousemove', function(e) {
        if (!s.held && !inside(e))
            return;
        var p = at(e);
        push([motion_type, 0, s.held, p[0], p[1], p[0] - s.lastX, p[1] - s.lastY]);
        s.lastX = p[0];
        s.lastY = p[1];
    });
    listen(canvas, 'contextmenu', function(e) { e.preventDefault(); });
    Module.sdlWeb = s;
    return 1;
});

EM_JS(void, web_canvas_close, (), {
    var s = Module.sdlWeb;
    if (!s)
        return;
    s.listeners.forEach(function(l) { l[0].removeEventListener(l[1], l[2]); });
    s.listeners = [];
    s.queue = [];
});

EM_JS(void, web_present, (const Uint32 *pixels, int x, int y, int w, int h), {
    var s = Module.sdlWeb;
    var data = s.image.data;
    data.set(HEAPU8.subarray(pixels, pixels + data.length));
    s.context.putImageData(s.image, 0, 0, x, y, w, h);
    s.frames++;
});

EM_JS(int, web_has_event, (), {
    var s = Module.sdlWeb;
    return s && s.queue.length ? 1 : 0;
});

EM_JS(int, web_next_event, (int *record), {
    var s = Module.sdlWeb;
    if (!s || !s.queue.length)
        return 0;
    var fields = s.queue.shift();
    for (var i = 0; i < fields.length; i++)
        HEAP32[(record >> 2) + i] = fields[i];
    return 1;
});

EM_JS(void, web_set_title, (const char *title), {
    document.title = UTF8ToString(title);
});
// clang-format on

static void set_error(const char *text)
{
    std::strncpy(error_text, text, sizeof error_text - 1);
}

int SDL_Init(Uint32 flags)
{
    (void)flags;
    start_ms = emscripten_get_now();
    started = true;
    return 0;
}

void SDL_Quit(void)
{
    web_canvas_close();
    started = false;
}

char *SDL_GetError(void)
{
    return error_text;
}

char *SDL_VideoDriverName(char *namebuf, int maxlen)
{
    if (!started || !namebuf || maxlen <= 0)
        return nullptr;
    std::strncpy(namebuf, DRIVER_NAME, static_cast<size_t>(maxlen) - 1);
    namebuf[maxlen - 1] = '\0';
    return namebuf;
}

SDL_Surface *SDL_SetVideoMode(int width, int height, int bpp, Uint32 flags)
{
    (void)bpp;
    if (screen_open) {
        if (screen_open->w == width && screen_open->h == height)
            return screen_open;
        set_error("the display surface is already open at another size");
        return nullptr;
    }
    if (width <= 0 || height <= 0) {
        set_error("bad window size");
        return nullptr;
    }
    size_t bytes = static_cast<size_t>(width) * height * BYTES_PER_PIXEL;
    void *pixels = std::calloc(1, bytes);
    shown = static_cast<Uint32 *>(std::calloc(1, bytes));
    if (!pixels || !shown) {
        std::free(pixels);
        std::free(shown);
        shown = nullptr;
        set_error("out of memory for the display surface");
        return nullptr;
    }
    if (!web_canvas_open(width, height, EVENT_QUEUE_LENGTH, SDL_MOUSEMOTION, SDL_MOUSEBUTTONDOWN,
                         SDL_MOUSEBUTTONUP)) {
        std::free(pixels);
        std::free(shown);
        shown = nullptr;
        set_error("the page has no canvas with a 2D context");
        return nullptr;
    }
    screen_format = SDL_PixelFormat{};
    screen_format.BitsPerPixel = BITS_PER_PIXEL;
    screen_format.BytesPerPixel = BYTES_PER_PIXEL;
    screen_format.Aloss = 8;
    screen_format.Rmask = RED_MASK;
    screen_format.Gmask = GREEN_MASK;
    screen_format.Bmask = BLUE_MASK;
    screen_format.Rshift = RED_SHIFT;
    screen_format.Gshift = GREEN_SHIFT;
    screen_format.Bshift = BLUE_SHIFT;
    screen_surface = SDL_Surface{};
    screen_surface.flags = flags;
    screen_surface.format = &screen_format;
    screen_surface.w = width;
    screen_surface.h = height;
    screen_surface.pitch = static_cast<Uint16>(width * BYTES_PER_PIXEL);
    screen_surface.pixels = pixels;
    screen_open = &screen_surface;
    return screen_open;
}

void SDL_WM_SetCaption(const char *title, const char *icon)
{
    (void)icon;
    if (title)
        web_set_title(title);
}

void SDL_FreeSurface(SDL_Surface *surface)
{
    if (!surface || surface != screen_open)
        return;
    std::free(surface->pixels);
    std::free(shown);
    shown = nullptr;
    surface->pixels = nullptr;
    screen_open = nullptr;
}

Uint32 SDL_MapRGB(const SDL_PixelFormat *format, Uint8 r, Uint8 g, Uint8 b)
{
    return static_cast<Uint32>(r) << format->Rshift | static_cast<Uint32>(g) << format->Gshift |
           static_cast<Uint32>(b) << format->Bshift | format->Amask;
}

int SDL_LockSurface(SDL_Surface *surface)
{
    surface->locked++;
    return 0;
}

void SDL_UnlockSurface(SDL_Surface *surface)
{
    if (surface->locked > 0)
        surface->locked--;
}

// Clips the span [*start, *start + *length) to [0, limit); false when nothing is left.
static bool clip(long *start, long *length, long limit)
{
    long first = *start < 0 ? 0 : *start;
    long end = *start + *length > limit ? limit : *start + *length;
    if (end <= first)
        return false;
    *start = first;
    *length = end - first;
    return true;
}

int SDL_FillRect(SDL_Surface *dst, SDL_Rect *rect, Uint32 color)
{
    if (dst->format->BytesPerPixel != BYTES_PER_PIXEL) {
        set_error("SDL_FillRect: only 32-bit surfaces");
        return -1;
    }
    long x = 0, y = 0, w = dst->w, h = dst->h;
    if (rect) {
        x = rect->x;
        y = rect->y;
        w = rect->w;
        h = rect->h;
    }
    if (!clip(&x, &w, dst->w) || !clip(&y, &h, dst->h))
        return 0;
    for (long row = y; row < y + h; row++) {
        Uint32 *p =
            reinterpret_cast<Uint32 *>(static_cast<Uint8 *>(dst->pixels) + row * dst->pitch);
        for (long column = x; column < x + w; column++)
            p[column] = color;
    }
    return 0;
}

void SDL_UpdateRect(SDL_Surface *screen, Sint32 x, Sint32 y, Uint32 w, Uint32 h)
{
    if (screen != screen_open)
        return;
    long left = x, top = y, width = w, height = h;
    if (x == 0 && y == 0 && w == 0 && h == 0) {
        width = screen->w;
        height = screen->h;
    }
    if (!clip(&left, &width, screen->w) || !clip(&top, &height, screen->h))
        return;
    for (long row = top; row < top + height; row++) {
        const Uint32 *from = reinterpret_cast<const Uint32 *>(static_cast<Uint8 *>(screen->pixels) +
                                                              row * screen->pitch);
        Uint32 *to = shown + row * screen->w;
        for (long column = left; column < left + width; column++)
            to[column] = from[column] | OPAQUE;
    }
    web_present(shown, static_cast<int>(left), static_cast<int>(top), static_cast<int>(width),
                static_cast<int>(height));
}

int SDL_PollEvent(SDL_Event *event)
{
    if (!event)
        return web_has_event();
    int record[EVENT_FIELDS];
    if (!web_next_event(record))
        return 0;
    SDL_Event e;
    std::memset(&e, 0, sizeof e);
    e.type = static_cast<Uint8>(record[0]);
    if (e.type == SDL_MOUSEMOTION) {
        e.motion.state = static_cast<Uint8>(record[2]);
        e.motion.x = static_cast<Uint16>(record[3]);
        e.motion.y = static_cast<Uint16>(record[4]);
        e.motion.xrel = static_cast<Sint16>(record[5]);
        e.motion.yrel = static_cast<Sint16>(record[6]);
    } else if (e.type == SDL_MOUSEBUTTONDOWN || e.type == SDL_MOUSEBUTTONUP) {
        e.button.button = static_cast<Uint8>(record[1]);
        e.button.state = e.type == SDL_MOUSEBUTTONDOWN ? SDL_PRESSED : SDL_RELEASED;
        e.button.x = static_cast<Uint16>(record[3]);
        e.button.y = static_cast<Uint16>(record[4]);
    }
    *event = e;
    return 1;
}

Uint32 SDL_GetTicks(void)
{
    return static_cast<Uint32>(emscripten_get_now() - start_ms);
}

void SDL_Delay(Uint32 ms)
{
    emscripten_sleep(ms);
}
