// vesk.cpp: the screen and input library.
#include "vesk.h"
#include "channel.h"

#include <cmath>

// Step of both rasterizers along an axis, in normalized units per point.
static const float RASTER_STEP = 0.003f;
// The same step as a double: what the line's counter and the circle's
// coordinates add per point, the sum stored back into a float.
static const double RASTER_COUNT_STEP = 0.003;

uint32_t yellow, red, blue, green, white;

// Wheel steps arrive as presses and releases of buttons 4 and 5; they are
// never held.
#ifdef SDL_BUTTON_WHEELUP
static const Uint32 WHEEL_MASK = SDL_BUTTON(SDL_BUTTON_WHEELUP) | SDL_BUTTON(SDL_BUTTON_WHEELDOWN);
#else
static const Uint32 WHEEL_MASK = 0;
#endif

// Buttons that fit a 32-bit SDL_BUTTON() mask.
static const int MAX_BUTTON = 32;

SDL_Event event;
SDL_Event mouse_event;
Uint32 mouse_buttons;
mouse_state souris_verte;
mouse_state souris_brune;

// An 8-bit colour component's largest value.
static const Uint32 COMPONENT_MAX = 255;

// An 8-bit component scaled to the full width of a channel mask: 255 fills
// the channel, 0 leaves it clear.
static Uint32 scale_into(Uint32 mask, Uint8 component)
{
    if (!mask)
        return 0;
    int shift = channel_shift(mask);
    Uint32 channel_max = mask >> shift;
    return (Uint32)((uint64_t)component * channel_max / COMPONENT_MAX) << shift & mask;
}

// SDL_MapRGB, but for formats whose channels are wider than 8 bits (a
// 30-bit display, 10 bits a channel): classic SDL 1.2 keeps a channel's loss
// as 8 minus its width in an unsigned byte and maps every colour to 0 there.
static Uint32 map_colour(const SDL_PixelFormat *format, Uint8 r, Uint8 g, Uint8 b)
{
    if (format->BytesPerPixel < 2 || (channel_width(format->Rmask) <= COMPONENT_BITS &&
                                      channel_width(format->Gmask) <= COMPONENT_BITS &&
                                      channel_width(format->Bmask) <= COMPONENT_BITS))
        return SDL_MapRGB(format, r, g, b);
    return scale_into(format->Rmask, r) | scale_into(format->Gmask, g) |
           scale_into(format->Bmask, b) | format->Amask;
}

void vesk_Init(SDL_Surface *surface)
{
    SDL_PixelFormat *format = surface->format;
    yellow = map_colour(format, 255, 255, 0);
    red = map_colour(format, 255, 0, 0);
    blue = map_colour(format, 0, 0, 255);
    green = map_colour(format, 0, 255, 0);
    white = map_colour(format, 255, 255, 255);
}

// The mask bit of a button number; 0 for numbers that have none.
static Uint32 button_bit(int button)
{
    return button >= 1 && button <= MAX_BUTTON ? 1u << (button - 1) : 0;
}

int vesk_Loop()
{
    int quit = 0;
    while (SDL_PollEvent(&event)) {
        switch (event.type) {
        case SDL_MOUSEMOTION:
            souris_verte.x = event.motion.x;
            souris_verte.y = event.motion.y;
            mouse_event = event;
            mouse_buttons = event.motion.state & ~WHEEL_MASK;
            break;
        case SDL_MOUSEBUTTONDOWN:
            souris_verte.pressed = 1;
            mouse_event = event;
            mouse_buttons |= button_bit(event.button.button) & ~WHEEL_MASK;
            break;
        case SDL_MOUSEBUTTONUP:
            souris_verte.pressed = 0;
            mouse_event = event;
            mouse_buttons &= ~button_bit(event.button.button);
            break;
        case SDL_QUIT:
            quit = 1;
            break;
        default:
            break;
        }
    }
    return quit;
}

mouse_state vesk_Got_Mouse(SDL_Surface *surface)
{
    Uint16 px = 0, py = 0;
    if (mouse_event.type == SDL_MOUSEMOTION) {
        px = mouse_event.motion.x;
        py = mouse_event.motion.y;
    } else if (mouse_event.type == SDL_MOUSEBUTTONDOWN || mouse_event.type == SDL_MOUSEBUTTONUP) {
        px = mouse_event.button.x;
        py = mouse_event.button.y;
    }
    souris_brune.x = static_cast<float>(px / static_cast<double>(surface->w / 2) - 1);
    float below = static_cast<float>(py / static_cast<double>(surface->h / 2) - 1);
    souris_brune.y = -below;
    souris_brune.pressed = mouse_buttons != 0;
    return souris_brune;
}

void vesk_Refresh(SDL_Surface *surface)
{
    SDL_UpdateRect(surface, 0, 0, 0, 0);
    SDL_FillRect(surface, nullptr, 0);
}

// The writer's column for x and row for y, or -1 where it drops the point.
static inline int pixel_column(const SDL_Surface *surface, float x)
{
    if (!(x >= -1 && x <= 1))
        return -1;
    int column = static_cast<int>((x + 1.0) / 2 * surface->w);
    return column < surface->w ? column : -1;
}

static inline int pixel_row(const SDL_Surface *surface, float y)
{
    if (!(y >= -1 && y <= 1))
        return -1;
    int row = static_cast<int>((1.0 - y) / 2 * surface->h);
    return row < surface->h ? row : -1;
}

int vesk_Pixel_Column(const SDL_Surface *surface, float x)
{
    return pixel_column(surface, x);
}

int vesk_Pixel_Row(const SDL_Surface *surface, float y)
{
    return pixel_row(surface, y);
}

void vesk_Giv_Pixel(SDL_Surface *surface, float x, float y, uint32_t colour)
{
    int column = pixel_column(surface, x);
    int row = pixel_row(surface, y);
    if (column < 0 || row < 0)
        return;
    int bytes_per_pixel = surface->format->BytesPerPixel;
    vesk_Put_Pixel(static_cast<Uint8 *>(surface->pixels) + row * surface->pitch +
                       column * bytes_per_pixel,
                   bytes_per_pixel, colour);
}

// True once a coordinate that only moves by `step` can never come back into [-1, 1]:
// it lies beyond the range and either moves away from it or no longer changes.
static bool gone_for_good(float v, float step)
{
    if (v >= -1 && v <= 1)
        return false;
    if ((v > 1 && step > 0) || (v < -1 && step < 0))
        return true;
    return static_cast<float>(v + step) == v;
}

void bresline(SDL_Surface *surface, float x1, float x2, float y1, float y2, uint32_t colour)
{
    if (!std::isfinite(x1) || !std::isfinite(x2) || !std::isfinite(y1) || !std::isfinite(y2))
        return;
    float dx = std::fabs(static_cast<float>(x2 - x1));
    float dy = std::fabs(static_cast<float>(y2 - y1));
    float x = x1, y = y1;
    float sx = x2 >= x1 ? RASTER_STEP : -RASTER_STEP;
    float sy = y2 >= y1 ? RASTER_STEP : -RASTER_STEP;
    bool x_major = dx >= dy;
    float denominator = x_major ? dx : dy;
    float increment = x_major ? dy : dx;
    float extent = denominator;
    float accumulator = denominator / 2;
    float &major = x_major ? x : y;
    float &minor = x_major ? y : x;
    float major_step = x_major ? sx : sy;
    float minor_step = x_major ? sy : sx;

    SDL_LockSurface(surface);
    for (float t = 0; t <= extent;) {
        vesk_Giv_Pixel(surface, x, y, colour);
        accumulator += increment;
        if (accumulator >= denominator) {
            accumulator -= denominator;
            minor += minor_step;
        }
        major += major_step;
        t = static_cast<float>(t + RASTER_COUNT_STEP);
        // Nothing more can be plotted: stop even where the counter has stalled.
        if (gone_for_good(major, major_step))
            break;
    }
    SDL_UnlockSurface(surface);
}

// Midpoint decision terms, in normalized units (the integer method's 3, 6, 10).
static const double CIRCLE_START = 0.03;
static const double CIRCLE_STRAIGHT = 0.06;
static const double CIRCLE_DIAGONAL = 0.1;

static void plot_octants(SDL_Surface *surface, float cx, float cy, float x, float y,
                         uint32_t colour)
{
    vesk_Giv_Pixel(surface, static_cast<float>(cx + x), static_cast<float>(cy + y), colour);
    vesk_Giv_Pixel(surface, static_cast<float>(cx - x), static_cast<float>(cy + y), colour);
    vesk_Giv_Pixel(surface, static_cast<float>(cx + x), static_cast<float>(cy - y), colour);
    vesk_Giv_Pixel(surface, static_cast<float>(cx - x), static_cast<float>(cy - y), colour);
    vesk_Giv_Pixel(surface, static_cast<float>(cx + y), static_cast<float>(cy + x), colour);
    vesk_Giv_Pixel(surface, static_cast<float>(cx - y), static_cast<float>(cy + x), colour);
    vesk_Giv_Pixel(surface, static_cast<float>(cx + y), static_cast<float>(cy - x), colour);
    vesk_Giv_Pixel(surface, static_cast<float>(cx - y), static_cast<float>(cy - x), colour);
}

void brescircle(SDL_Surface *surface, float r, float cx, float cy, uint32_t colour)
{
    if (!std::isfinite(r) || !std::isfinite(cx) || !std::isfinite(cy))
        return;
    // Every point has one coordinate offset from the centre by x (or -x) and
    // x only grows: past this (with a margin for rounding), no later pass can
    // land on the surface.
    const double reach = 2.0 + std::fmax(std::fabs(cx), std::fabs(cy));
    float x = 0, y = r;
    float d = static_cast<float>(CIRCLE_START - 2.0 * r);
    while (y >= x) {
        SDL_LockSurface(surface);
        plot_octants(surface, cx, cy, x, y, colour);
        SDL_UnlockSurface(surface);
        float next_y = y;
        if (d <= 0) {
            d = static_cast<float>(d + 4.0 * x + CIRCLE_STRAIGHT);
        } else {
            d = static_cast<float>(d + 4.0 * (static_cast<double>(x) - y) + CIRCLE_DIAGONAL);
            next_y = static_cast<float>(y - RASTER_COUNT_STEP);
        }
        float next_x = static_cast<float>(x + RASTER_COUNT_STEP);
        // Stalled floats would repeat this pass forever.
        if (x > reach || (next_x == x && next_y == y))
            break;
        x = next_x;
        y = next_y;
    }
}

uint32_t vesk_Got_Pixel(SDL_Surface *surface, float x, float y)
{
    if (!(x >= -1 && x <= 1 && y >= -1 && y <= 1))
        return 0;
    int column = static_cast<int>((x + 1.0) * (surface->w / 2));
    int row = static_cast<int>((1.0 - y) * (surface->h / 2));
    if (column >= surface->w || row >= surface->h)
        return 0;
    const Uint8 *p = static_cast<const Uint8 *>(surface->pixels) + row * surface->pitch +
                     column * surface->format->BytesPerPixel;
    switch (surface->format->BytesPerPixel) {
    case 1:
        return *p;
    case 2:
        return *reinterpret_cast<const Uint16 *>(p);
    case 3:
        return p[0] | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16;
    case 4:
        return *reinterpret_cast<const Uint32 *>(p);
    default:
        return 0;
    }
}

// Milliseconds in a second.
static const Uint32 MS_PER_SECOND = 1000;

float vesk_Got_Time()
{
    return static_cast<float>(SDL_GetTicks() / MS_PER_SECOND);
}
