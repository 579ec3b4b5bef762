// port.cpp: the part of the port layer's SDL 1.2 that every back end shares:
// surfaces and pixel formats, colour mapping, filling, lock counting, the
// event queue and its event records, the choice of video driver and the
// error text. The window, the present, the input and the clock are the
// platform's (backend.h).
#include "backend.h"
#include "channel.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

// Bits in one byte.
static const int BYTE_BITS = 8;
// The display surface: 32 bits per pixel.
static const int DISPLAY_DEPTH = 32;
// The variable that chooses the video driver: the null driver's name
// chooses it, anything else (or nothing) the platform's window.
static const char *const DRIVER_VARIABLE = "SDL_VIDEODRIVER";
static const int ERROR_SIZE = 160;
// A surface's pixel memory at most, in bytes: every offset into it fits in an
// int (the screen library addresses pixels with ints). Rows hold at most
// UINT16_MAX bytes (the pitch is 16 bits).
static const int64_t SURFACE_MOST_BYTES = INT32_MAX;

// Default channel masks of SDL 1.2 for a depth given without masks.
struct default_masks {
    int depth;
    Uint32 red, green, blue;
};
static const default_masks DEFAULT_MASKS[] = {
    {8, 0xE0, 0x1C, 0x03},
    {15, 0x7C00, 0x03E0, 0x001F},
    {16, 0xF800, 0x07E0, 0x001F},
    {24, 0xFF0000, 0x00FF00, 0x0000FF},
    {32, 0xFF0000, 0x00FF00, 0x0000FF},
};

// A surface and its format in one block, freed together.
struct surface_block {
    SDL_Surface surface;
    SDL_PixelFormat format;
};

static char error_text[ERROR_SIZE] = "";
static bool started = false;
static const port_video *video = &window_video; // the chosen video driver
static SDL_Surface *display = nullptr;          // the display surface, or null
static SDL_Event queue[SDL_MAXEVENTS];          // ring of queued events
static int queue_first = 0, queue_count = 0;    // oldest slot, events held

void port_set_error(const char *text)
{
    std::strncpy(error_text, text, sizeof error_text - 1);
    error_text[sizeof error_text - 1] = '\0';
}

// The i-th queued event, 0 the oldest.
static SDL_Event &queued(int i)
{
    return queue[(queue_first + i) % SDL_MAXEVENTS];
}

// True when later, the event just after earlier, may be folded into it: both
// motions, with the same buttons held.
static bool mergeable(const SDL_Event &earlier, const SDL_Event &later)
{
    return earlier.type == SDL_MOUSEMOTION && later.type == SDL_MOUSEMOTION &&
           earlier.motion.state == later.motion.state;
}

static Sint16 sum_moves(Sint16 a, Sint16 b)
{
    return static_cast<Sint16>(std::clamp(a + b, INT16_MIN, INT16_MAX));
}

// Folds the motion later into earlier: later's position, both moves summed.
static void merge_motion(SDL_Event *earlier, const SDL_Event &later)
{
    Sint16 xrel = sum_moves(earlier->motion.xrel, later.motion.xrel);
    Sint16 yrel = sum_moves(earlier->motion.yrel, later.motion.yrel);
    *earlier = later;
    earlier->motion.xrel = xrel;
    earlier->motion.yrel = yrel;
}

// Frees one slot by merging the oldest two adjacent mergeable motions; false
// when no two are.
static bool merge_oldest_motions()
{
    for (int i = 0; i + 1 < queue_count; i++)
        if (mergeable(queued(i), queued(i + 1))) {
            merge_motion(&queued(i), queued(i + 1));
            for (int j = i + 1; j + 1 < queue_count; j++)
                queued(j) = queued(j + 1);
            queue_count--;
            return true;
        }
    return false;
}

int port_push_event(const SDL_Event *event)
{
    if (queue_count == SDL_MAXEVENTS) {
        if (mergeable(queued(queue_count - 1), *event)) {
            merge_motion(&queued(queue_count - 1), *event);
            return 1;
        }
        if (!merge_oldest_motions())
            return 0;
    }
    queued(queue_count++) = *event;
    return 1;
}

int port_room(int events)
{
    while (SDL_MAXEVENTS - queue_count < events)
        if (!merge_oldest_motions())
            return 0;
    return 1;
}

int port_push_button(Uint8 type, int button, int x, int y)
{
    SDL_Event e = {};
    e.type = type;
    e.button.button = static_cast<Uint8>(button);
    e.button.state = type == SDL_MOUSEBUTTONDOWN ? SDL_PRESSED : SDL_RELEASED;
    e.button.x = static_cast<Uint16>(x);
    e.button.y = static_cast<Uint16>(y);
    return port_push_event(&e);
}

int port_push_motion(Uint8 held, int x, int y, int xrel, int yrel)
{
    SDL_Event e = {};
    e.type = SDL_MOUSEMOTION;
    e.motion.state = held;
    e.motion.x = static_cast<Uint16>(x);
    e.motion.y = static_cast<Uint16>(y);
    e.motion.xrel = static_cast<Sint16>(xrel);
    e.motion.yrel = static_cast<Sint16>(yrel);
    return port_push_event(&e);
}

int port_push_quit()
{
    SDL_Event e = {};
    e.type = SDL_QUIT;
    return port_push_event(&e);
}

static void drop_events()
{
    queue_first = 0;
    queue_count = 0;
}

// Shift of a mask's lowest bit, and 8 minus its width (0 for wider masks).
static void describe_channel(Uint32 mask, Uint8 *shift, Uint8 *loss)
{
    int width = channel_width(mask);
    *shift = static_cast<Uint8>(channel_shift(mask));
    *loss = static_cast<Uint8>(width < COMPONENT_BITS ? COMPONENT_BITS - width : 0);
}

// A zero-filled surface, or null (with the error set).
static SDL_Surface *make_surface(Uint32 flags, int width, int height, int depth, Uint32 red,
                                 Uint32 green, Uint32 blue, Uint32 alpha)
{
    int bytes = (depth + BYTE_BITS - 1) / BYTE_BITS;
    if (width <= 0 || height <= 0 || bytes < 1 || bytes > 4) {
        port_set_error("unsupported surface size or depth");
        return nullptr;
    }
    // Rows start on 4 bytes.
    int64_t pitch = (static_cast<int64_t>(width) * bytes + 3) & ~int64_t{3};
    if (pitch > UINT16_MAX || pitch * height > SURFACE_MOST_BYTES) {
        port_set_error("surface too large: at most 65535 bytes a row and 2 GiB in all");
        return nullptr;
    }
    if (!red && !green && !blue)
        for (const default_masks &d : DEFAULT_MASKS)
            if (d.depth == depth) {
                red = d.red;
                green = d.green;
                blue = d.blue;
            }
    void *pixels = std::calloc(static_cast<size_t>(pitch * height), 1);
    surface_block *block = static_cast<surface_block *>(std::calloc(1, sizeof(surface_block)));
    if (!pixels || !block) {
        std::free(pixels);
        std::free(block);
        port_set_error("out of memory for a surface");
        return nullptr;
    }
    SDL_PixelFormat &f = block->format;
    f.BitsPerPixel = static_cast<Uint8>(depth);
    f.BytesPerPixel = static_cast<Uint8>(bytes);
    f.Rmask = red;
    f.Gmask = green;
    f.Bmask = blue;
    f.Amask = alpha;
    describe_channel(red, &f.Rshift, &f.Rloss);
    describe_channel(green, &f.Gshift, &f.Gloss);
    describe_channel(blue, &f.Bshift, &f.Bloss);
    describe_channel(alpha, &f.Ashift, &f.Aloss);
    if (!alpha)
        f.Aloss = COMPONENT_BITS;
    f.alpha = 255;
    SDL_Surface &s = block->surface;
    s.flags = flags;
    s.format = &f;
    s.w = width;
    s.h = height;
    s.pitch = static_cast<Uint16>(pitch);
    s.pixels = pixels;
    return &s;
}

int SDL_Init(Uint32 flags)
{
    (void)flags;
    if (started)
        return 0;
    const char *driver = std::getenv(DRIVER_VARIABLE);
    video = driver && std::strcmp(driver, null_video.name) == 0 ? &null_video : &window_video;
    if (!backend_start())
        return -1;
    started = true;
    return 0;
}

void SDL_Quit(void)
{
    if (display)
        SDL_FreeSurface(display);
    if (started)
        backend_stop();
    drop_events();
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
    std::strncpy(namebuf, video->name, static_cast<size_t>(maxlen) - 1);
    namebuf[maxlen - 1] = '\0';
    return namebuf;
}

SDL_Surface *SDL_SetVideoMode(int width, int height, int bpp, Uint32 flags)
{
    (void)bpp;
    if (!started) {
        port_set_error("SDL_Init was not called");
        return nullptr;
    }
    if (display) {
        if (display->w == width && display->h == height)
            return display;
        port_set_error("the display surface is already open at another size");
        return nullptr;
    }
    backend_masks m = backend_channels();
    SDL_Surface *s = make_surface(flags, width, height, DISPLAY_DEPTH, m.red, m.green, m.blue, 0);
    if (!s)
        return nullptr;
    if (!video->open(width, height)) {
        std::free(s->pixels);
        std::free(s);
        return nullptr;
    }
    display = s;
    return display;
}

void SDL_WM_SetCaption(const char *title, const char *icon)
{
    (void)icon;
    if (title && display)
        video->set_caption(title);
}

SDL_Surface *SDL_CreateRGBSurface(Uint32 flags, int width, int height, int depth, Uint32 Rmask,
                                  Uint32 Gmask, Uint32 Bmask, Uint32 Amask)
{
    return make_surface(flags, width, height, depth, Rmask, Gmask, Bmask, Amask);
}

void SDL_FreeSurface(SDL_Surface *surface)
{
    if (!surface)
        return;
    if (surface == display) {
        video->close();
        display = nullptr;
    }
    std::free(surface->pixels);
    std::free(surface); // the block's first member
}

Uint32 SDL_MapRGB(const SDL_PixelFormat *format, Uint8 r, Uint8 g, Uint8 b)
{
    return (static_cast<Uint32>(r >> format->Rloss) << format->Rshift & format->Rmask) |
           (static_cast<Uint32>(g >> format->Gloss) << format->Gshift & format->Gmask) |
           (static_cast<Uint32>(b >> format->Bloss) << format->Bshift & format->Bmask) |
           format->Amask;
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

// Clips the span [*start, *start + *length) to [0, limit); false when nothing is
// left. Every argument fits in 33 bits, so no sum overflows.
static bool clip(int64_t *start, int64_t *length, int64_t limit)
{
    int64_t first = *start < 0 ? 0 : *start;
    int64_t end = *start + *length > limit ? limit : *start + *length;
    if (end <= first)
        return false;
    *start = first;
    *length = end - first;
    return true;
}

int SDL_FillRect(SDL_Surface *dst, SDL_Rect *rect, Uint32 color)
{
    int bytes = dst->format->BytesPerPixel;
    if (bytes < 1 || bytes > 4) {
        port_set_error("SDL_FillRect: unknown pixel size");
        return -1;
    }
    int64_t x = 0, y = 0, w = dst->w, h = dst->h;
    if (rect) {
        x = rect->x;
        y = rect->y;
        w = rect->w;
        h = rect->h;
    }
    if (!clip(&x, &w, dst->w) || !clip(&y, &h, dst->h))
        return 0;
    for (int64_t row = y; row < y + h; row++) {
        Uint8 *p = static_cast<Uint8 *>(dst->pixels) + row * dst->pitch + x * bytes;
        if (bytes == 4) { // rows start on 4 bytes: one store a pixel (the clear of every frame)
            Uint32 *first = reinterpret_cast<Uint32 *>(p);
            std::fill(first, first + w, color);
            continue;
        }
        for (int64_t column = 0; column < w; column++, p += bytes)
            for (int i = 0; i < bytes; i++) // low byte first
                p[i] = static_cast<Uint8>(color >> (BYTE_BITS * i));
    }
    return 0;
}

void SDL_UpdateRect(SDL_Surface *screen, Sint32 x, Sint32 y, Uint32 w, Uint32 h)
{
    if (!screen || screen != display)
        return;
    int64_t left = x, top = y, width = w, height = h;
    if (x == 0 && y == 0 && w == 0 && h == 0) {
        width = screen->w;
        height = screen->h;
    }
    if (!clip(&left, &width, screen->w) || !clip(&top, &height, screen->h))
        return;
    video->present(screen->pixels, screen->pitch, static_cast<int>(left), static_cast<int>(top),
                   static_cast<int>(width), static_cast<int>(height));
}

int SDL_PollEvent(SDL_Event *event)
{
    if (display)
        video->pump();
    if (!queue_count)
        return 0;
    if (event) {
        *event = queue[queue_first];
        queue_first = (queue_first + 1) % SDL_MAXEVENTS;
        queue_count--;
    }
    return 1;
}

int SDL_PushEvent(SDL_Event *event)
{
    return port_push_event(event) ? 0 : -1;
}

Uint32 SDL_GetTicks(void)
{
    return backend_ticks();
}

void SDL_Delay(Uint32 ms)
{
    backend_sleep(ms);
}
