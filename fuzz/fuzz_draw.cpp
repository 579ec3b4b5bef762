// fuzz_draw: the screen library's drawing and reading functions fed any floats
// on surfaces of every pixel size and odd sizes.
//
// Input: a surface header, then up to MAX_CALLS calls, each an opcode byte
// and its arguments (floats from take_float, colours as 4 raw bytes):
//   header  kind byte: 0..3 a real SDL software surface of 1..4 bytes per
//           pixel; 4 a hand-made surface whose pixel size (0, 5..8) the
//           library does not draw; then width and height, 0..MAX_SIDE each
//           (mostly below LARGE_FROM).
//   calls   writer, reader, writer then reader at the same point, line,
//           circle, present-and-clear, palette.
//
// Checks beyond "no crash, no sanitizer report, every call returns":
//   - a hand-made surface of an unknown pixel size is never written;
//   - a read value fits in the surface's pixel size, and is 0 off the
//     surface or for an unknown pixel size;
//   - on a surface of even width and height, reading back a point just
//     written gives the colour cut to the pixel size (vesk.h promises the
//     reader addresses the writer's pixel there);
//   - present-and-clear leaves every pixel 0;
//   - every lock is matched by an unlock (the surface is unlocked after each call).
//
// Cost: a line or circle far off the surface with huge coordinates may run
// up to about 2^24 idle passes (~0.5 s) before its stall test ends it, so
// an input holds at most MAX_CALLS calls.
#include "fuzz_input.h"
#include "kit.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

// Calls per input, and the largest side of a surface, in pixels.
static const int MAX_CALLS = 16;
static const int MAX_SIDE = 1023;
static const int LARGE_FROM = 240;
// Pixel sizes of hand-made surfaces, which vesk.h says receive no writes.
static const int UNKNOWN_SIZES[] = {0, 5, 6, 7, 8};
// Pattern a hand-made surface's pixels are filled with.
static const uint8_t FILL = 0xA5;

static long calls_made;

static void report_calls()
{
    std::fprintf(stderr, "fuzz_draw: %ld library calls\n", calls_made);
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    if (!kit_start("fuzz_draw", "dummy"))
        std::abort();
    std::atexit(report_calls);
    return 0;
}

static void fail(const char *what)
{
    std::fprintf(stderr, "fuzz_draw: %s\n", what);
    std::abort();
}

// The hand-made surface of the input being run, if any. It is not SDL's, and
// the SDL2-backed SDL 1.2 can lock no surface it did not make: SDL's lock and
// unlock (which the library's lines and circles call too) are wrapped at link
// time (-Wl,--wrap), so that a hand-made surface is locked here, by its count
// alone, and SDL's own surfaces go to SDL.
static SDL_Surface *hand_made_surface;

extern "C" int __real_SDL_LockSurface(SDL_Surface *surface);
extern "C" void __real_SDL_UnlockSurface(SDL_Surface *surface);

extern "C" int __wrap_SDL_LockSurface(SDL_Surface *surface)
{
    if (surface != hand_made_surface)
        return __real_SDL_LockSurface(surface);
    surface->locked++;
    return 0;
}

extern "C" void __wrap_SDL_UnlockSurface(SDL_Surface *surface)
{
    if (surface != hand_made_surface)
        __real_SDL_UnlockSurface(surface);
    else if (surface->locked)
        surface->locked--;
}

// A surface to draw on: SDL's own, or a hand-made one with pixel memory
// of exactly w * h * size bytes (so that any write past it is caught).
struct target {
    SDL_Surface *surface;
    bool hand_made;
    SDL_Surface own;
    SDL_PixelFormat own_format;
    std::vector<uint8_t> pixels;
};

// A side of a surface: mostly small (0..LARGE_FROM - 1, every odd size among
// them), sometimes up to MAX_SIDE.
static int take_side(fuzz_input &in)
{
    int side = take_byte(in);
    return side < LARGE_FROM ? side : take_u16(in) % (MAX_SIDE + 1);
}

static bool make_target(fuzz_input &in, target &t)
{
    uint8_t kind = take_byte(in) % 5;
    int w = take_side(in);
    int h = take_side(in);
    t.hand_made = kind == 4;
    if (!t.hand_made) {
        int bytes = kind + 1;
        t.surface = SDL_CreateRGBSurface(SDL_SWSURFACE, w, h, bytes * 8, 0, 0, 0, 0);
        if (t.surface && t.surface->format->BytesPerPixel != bytes)
            fail("SDL made a surface of another pixel size");
        return t.surface != nullptr;
    }
    int size = UNKNOWN_SIZES[take_byte(in) % (sizeof UNKNOWN_SIZES / sizeof UNKNOWN_SIZES[0])];
    t.pixels.assign(static_cast<size_t>(w) * h * size + 1, FILL);
    t.own_format = SDL_PixelFormat();
    t.own_format.BitsPerPixel = static_cast<Uint8>(size * 8);
    t.own_format.BytesPerPixel = static_cast<Uint8>(size);
    t.own = SDL_Surface();
    t.own.format = &t.own_format;
    t.own.w = w;
    t.own.h = h;
    t.own.pitch = static_cast<Uint16>(w * size);
    t.own.pixels = t.pixels.data();
    t.surface = hand_made_surface = &t.own;
    return true;
}

static uint32_t size_mask(int bytes)
{
    return bytes >= 4 ? 0xFFFFFFFFu : (1u << (8 * bytes)) - 1;
}

static bool on_surface(SDL_Surface *s, float x, float y)
{
    if (!(x >= -1 && x <= 1 && y >= -1 && y <= 1))
        return false;
    int column = static_cast<int>((x + 1.0) / 2 * s->w);
    int row = static_cast<int>((1.0 - y) / 2 * s->h);
    return column < s->w && row < s->h;
}

static void check_read(target &t, float x, float y, uint32_t value)
{
    int bytes = t.surface->format->BytesPerPixel;
    if (t.hand_made && value != 0)
        fail("read a value from a surface of an unknown pixel size");
    if (!(x >= -1 && x <= 1 && y >= -1 && y <= 1) && value != 0)
        fail("read a value off the surface");
    if (!t.hand_made && (value & ~size_mask(bytes)) != 0)
        fail("read a value wider than the pixel size");
}

static void call(fuzz_input &in, target &t)
{
    SDL_Surface *s = t.surface;
    uint8_t op = take_byte(in) % 7;
    float x = take_float(in), y = take_float(in);
    uint32_t colour = take_u32(in);
    calls_made++;
    switch (op) {
    case 0:
        SDL_LockSurface(s);
        vesk_Giv_Pixel(s, x, y, colour);
        SDL_UnlockSurface(s);
        break;
    case 1: {
        SDL_LockSurface(s);
        uint32_t value = vesk_Got_Pixel(s, x, y);
        SDL_UnlockSurface(s);
        check_read(t, x, y, value);
        break;
    }
    case 2: { // write, then read back the same point
        SDL_LockSurface(s);
        vesk_Giv_Pixel(s, x, y, colour);
        uint32_t value = vesk_Got_Pixel(s, x, y);
        SDL_UnlockSurface(s);
        calls_made++;
        check_read(t, x, y, value);
        bool even = s->w % 2 == 0 && s->h % 2 == 0;
        if (!t.hand_made && even && on_surface(s, x, y) &&
            value != (colour & size_mask(s->format->BytesPerPixel)))
            fail("reading back a written point gave another value");
        break;
    }
    case 3:
        bresline(s, x, take_float(in), y, take_float(in), colour);
        break;
    case 4:
        brescircle(s, take_float(in), x, y, colour);
        break;
    case 5:
        if (t.hand_made)
            break; // SDL's own fill does not take unknown pixel sizes
        vesk_Refresh(s);
        for (int row = 0; row < s->h; row++) {
            const uint8_t *p = static_cast<const uint8_t *>(s->pixels) + row * s->pitch;
            for (int i = 0; i < s->w * s->format->BytesPerPixel; i++)
                if (p[i])
                    fail("present-and-clear left a pixel set");
        }
        break;
    default:
        if (!t.hand_made)
            vesk_Init(s);
        break;
    }
    if (s->locked)
        fail("a call left the surface locked");
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz_input in = {data, size, 0};
    target t;
    if (!make_target(in, t))
        return 0;
    for (int i = 0; i < MAX_CALLS && !done(in); i++)
        call(in, t);
    if (t.hand_made) {
        hand_made_surface = nullptr;
        for (uint8_t b : t.pixels)
            if (b != FILL)
                fail("a surface of an unknown pixel size was written");
    } else {
        SDL_FreeSurface(t.surface);
    }
    return 0;
}
