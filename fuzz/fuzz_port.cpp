// fuzz_port: the port layer's own SDL 1.2 (src/platform/port, the one the
// page and Windows run on) on its null video driver: surfaces of any size,
// depth and masks, fills and presents of any rectangle, and events of every
// kind pushed, in floods too, and polled.
//
// Input: up to MAX_RECORDS records, each an opcode byte and its bytes:
//   surface  SDL_CreateRGBSurface of a width and a height (small, near a
//            limit, or any int), a depth byte and four raw masks; a surface
//            made becomes the one filled
//   fill     SDL_FillRect on it of a raw rectangle (or none) and colour
//   present  SDL_UpdateRect of a raw x, y, w and h on the display surface
//   push     one event of raw bytes; a burst: the same up to BURST_MOST times
//   room     port_room(n) for n up to 2 * SDL_MAXEVENTS, then n pushes
//   poll     SDL_PollEvent until the queue is empty
//
// Checks beyond "no crash, no sanitizer report":
//   - a surface is made exactly when 1 to 4 bytes a pixel, a positive size,
//     rows (rounded up to 4 bytes) of at most 65535 bytes and pixels of at
//     most 2^31 - 1 bytes; its pitch holds a row. Surfaces past
//     MOST_MADE_BYTES are asked for only when they must be refused;
//   - a fill sets exactly the bytes of its rectangle clipped to the surface,
//     to the colour's low bytes low first, and no other byte;
//   - the events polled are those accepted, in order, except that adjacent
//     motions with the same held buttons may have become one, which has the
//     later one's position;
//   - a push is refused only when the queue holds SDL_MAXEVENTS events no
//     two of which merge; when port_room(n) says yes, n pushes are taken.
//
// The port layer is compiled into this target with the platform services
// below (a Linux clock, no window): the Linux build's own SDL is the system's.
#include "backend.h"
#include "fuzz_input.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

// Records per input, pushes per burst.
static const int MAX_RECORDS = 48;
static const int BURST_MOST = 300;
// The display surface, as the program opens it.
static const int DISPLAY_WIDTH = 200, DISPLAY_HEIGHT = 300;
// Surfaces larger than this, in bytes, are only asked for when refused.
static const int64_t MOST_MADE_BYTES = 1 << 18;
// The port layer's limits (SDL.h): bytes a row, bytes of pixels.
static const int64_t MOST_PITCH = UINT16_MAX;
static const int64_t MOST_PIXEL_BYTES = INT32_MAX;

// ---- the platform's services: a monotonic clock and no window ----

static timespec clock_start;

int backend_start()
{
    clock_gettime(CLOCK_MONOTONIC, &clock_start);
    return 1;
}

void backend_stop() {}

backend_masks backend_channels()
{
    return backend_masks{0xFF0000u, 0x00FF00u, 0x0000FFu};
}

Uint32 backend_ticks()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<Uint32>((now.tv_sec - clock_start.tv_sec) * 1000 +
                               (now.tv_nsec - clock_start.tv_nsec) / 1000000);
}

void backend_sleep(Uint32) {}

// SDL_VIDEODRIVER=dummy chooses null_video; this one is never opened.
const port_video window_video = null_video;

// ---- checks ----

static SDL_Surface *display;
static long surfaces_made, fills_made, events_polled;

static void report_counts()
{
    std::fprintf(stderr, "fuzz_port: %ld surfaces made, %ld fills, %ld events polled\n",
                 surfaces_made, fills_made, events_polled);
}

static void fail(const char *what)
{
    std::fprintf(stderr, "fuzz_port: %s\n", what);
    std::abort();
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    if (SDL_Init(SDL_INIT_VIDEO) != 0)
        fail(SDL_GetError());
    display = SDL_SetVideoMode(DISPLAY_WIDTH, DISPLAY_HEIGHT, 32, SDL_ANYFORMAT);
    if (!display)
        fail(SDL_GetError());
    std::atexit(report_counts);
    return 0;
}

// A side of a surface: mostly small; else about limit / unit (the most the
// limits allow) or 2^32 / unit (what 32-bit arithmetic wraps), give or take
// a few; else any int.
static int take_side(fuzz_input &in, int64_t unit, int64_t limit)
{
    uint8_t kind = take_byte(in) % 8;
    int near = static_cast<int8_t>(take_byte(in)) % 8;
    unit = unit > 0 ? unit : 1;
    switch (kind) {
    case 5:
        return static_cast<int>(limit / unit + near);
    case 6:
        return static_cast<int>((int64_t{1} << 32) / unit + near);
    case 7:
        return static_cast<int>(take_u32(in));
    default:
        return near + take_byte(in) % 96;
    }
}

static bool mergeable(const SDL_Event &a, const SDL_Event &b)
{
    return a.type == SDL_MOUSEMOTION && b.type == SDL_MOUSEMOTION &&
           a.motion.state == b.motion.state;
}

// A motion less its moves, which merging sums.
static SDL_Event placed(SDL_Event e)
{
    e.motion.xrel = e.motion.yrel = 0;
    return e;
}

static bool same(const SDL_Event &a, const SDL_Event &b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// Takes every queued event; checks them against those accepted since the
// last drain, and empties that list.
static std::vector<SDL_Event> drain(std::vector<SDL_Event> *accepted)
{
    std::vector<SDL_Event> polled;
    SDL_Event e;
    while (SDL_PollEvent(&e)) {
        polled.push_back(e);
        if (polled.size() > SDL_MAXEVENTS)
            fail("more events polled than the queue holds");
    }
    events_polled += static_cast<long>(polled.size());
    size_t a = 0; // the next accepted event to account for
    for (size_t p = 0; p < polled.size(); p++) {
        const SDL_Event &got = polled[p];
        if (a == accepted->size())
            fail("an event polled that was never pushed");
        if (got.type != SDL_MOUSEMOTION) {
            if (!same(got, (*accepted)[a++]))
                fail("an event polled that is not the next one pushed");
            continue;
        }
        // got stands for accepted motions a..k, adjacent and mergeable, and has k's position.
        size_t k = a;
        while (!same(placed(got), placed((*accepted)[k]))) {
            if (k + 1 == accepted->size() || !mergeable((*accepted)[k], (*accepted)[k + 1]))
                fail("a motion polled that is not a merge of adjacent motions pushed");
            k++;
        }
        bool last_of_run = p + 1 == polled.size() || !mergeable(got, polled[p + 1]);
        while (last_of_run && k + 1 < accepted->size() &&
               mergeable((*accepted)[k], (*accepted)[k + 1]))
            k++;
        if (!same(placed(got), placed((*accepted)[k])))
            fail("merged motions do not end at the later position");
        a = k + 1;
    }
    if (a != accepted->size())
        fail("an event pushed and accepted was never polled");
    accepted->clear();
    return polled;
}

// After a refusal: the queue must be full of events no two of which merge.
static void check_refused(std::vector<SDL_Event> *accepted, size_t most_free)
{
    std::vector<SDL_Event> queued = drain(accepted);
    if (queued.size() + most_free < SDL_MAXEVENTS)
        fail("refused with room in the queue");
    for (size_t i = 0; i + 1 < queued.size(); i++)
        if (mergeable(queued[i], queued[i + 1]))
            fail("refused while two queued motions could merge");
}

static void push(const SDL_Event &e, std::vector<SDL_Event> *accepted)
{
    SDL_Event copy = e;
    if (SDL_PushEvent(&copy) == 0)
        accepted->push_back(e);
    else
        check_refused(accepted, 0);
}

static void check_fill(SDL_Surface *s, const std::vector<Uint8> &before, const SDL_Rect *r,
                       Uint32 colour)
{
    int bytes = s->format->BytesPerPixel;
    int64_t x0 = r ? r->x : 0, y0 = r ? r->y : 0;
    int64_t x1 = r ? x0 + r->w : s->w, y1 = r ? y0 + r->h : s->h;
    const Uint8 *p = static_cast<const Uint8 *>(s->pixels);
    for (int64_t row = 0; row < s->h; row++)
        for (int64_t at = 0; at < s->pitch; at++) {
            int64_t i = row * s->pitch + at, column = at / bytes;
            bool inside = column < s->w && column >= x0 && column < x1 && row >= y0 && row < y1;
            Uint8 want = inside ? static_cast<Uint8>(colour >> (8 * (at % bytes))) : before[i];
            if (p[i] != want)
                fail(inside ? "a fill left a byte of its rectangle"
                            : "a fill wrote outside its rectangle");
        }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz_input in = {data, size, 0};
    std::vector<SDL_Event> accepted;
    SDL_Surface *target = nullptr;
    for (int r = 0; r < MAX_RECORDS && !done(in); r++) {
        uint8_t op = take_byte(in) % 10;
        if (op == 0) {
            int depth = take_byte(in);
            int64_t bytes = (depth + 7) / 8;
            int width = take_side(in, bytes, MOST_PITCH);
            int64_t pitch = (width * bytes + 3) / 4 * 4;
            int height = take_side(in, pitch, MOST_PIXEL_BYTES);
            Uint32 masks[4];
            for (Uint32 &m : masks)
                m = take_byte(in) % 2 ? take_u32(in) : 0;
            bool allowed = bytes >= 1 && bytes <= 4 && width > 0 && height > 0 &&
                           pitch <= MOST_PITCH && pitch * height <= MOST_PIXEL_BYTES;
            if (allowed && pitch * height > MOST_MADE_BYTES)
                continue;
            SDL_Surface *s = SDL_CreateRGBSurface(SDL_SWSURFACE, width, height, depth, masks[0],
                                                  masks[1], masks[2], masks[3]);
            if (!s != !allowed)
                fail(allowed ? "a surface within the limits was refused"
                             : "a surface past the limits was made");
            if (!s)
                continue;
            if (s->w != width || s->h != height || s->format->BytesPerPixel != bytes ||
                s->pitch < width * bytes || s->pitch % 4)
                fail("a surface is not the size asked");
            SDL_FreeSurface(target);
            target = s;
            surfaces_made++;
        } else if (op == 1) {
            SDL_Rect rect = {static_cast<Sint16>(take_u16(in)), static_cast<Sint16>(take_u16(in)),
                             take_u16(in), take_u16(in)};
            bool whole = take_byte(in) % 4 == 0;
            Uint32 colour = take_u32(in);
            SDL_Surface *s = target ? target : display;
            const Uint8 *p = static_cast<const Uint8 *>(s->pixels);
            std::vector<Uint8> before(p, p + static_cast<size_t>(s->pitch) * s->h);
            if (SDL_FillRect(s, whole ? nullptr : &rect, colour) != 0)
                fail("a fill failed");
            check_fill(s, before, whole ? nullptr : &rect, colour);
            fills_made++;
        } else if (op == 2) {
            Sint32 x = static_cast<Sint32>(take_u32(in)), y = static_cast<Sint32>(take_u32(in));
            SDL_UpdateRect(display, x, y, take_u32(in), take_u32(in));
        } else if (op <= 5) {
            SDL_Event e;
            take_bytes(in, &e, sizeof e);
            int n = op == 5 ? 1 + take_u16(in) % BURST_MOST : 1;
            for (int i = 0; i < n; i++)
                push(e, &accepted);
        } else if (op == 6) {
            int n = take_byte(in) % (2 * SDL_MAXEVENTS + 1);
            SDL_Event e;
            take_bytes(in, &e, sizeof e);
            if (!port_room(n)) {
                check_refused(&accepted, static_cast<size_t>(n - 1));
                continue;
            }
            for (int i = 0; i < n; i++) {
                SDL_Event copy = e;
                if (SDL_PushEvent(&copy) != 0)
                    fail("port_room said yes, and a push was refused");
                accepted.push_back(e);
            }
        } else {
            drain(&accepted);
        }
    }
    drain(&accepted);
    SDL_FreeSurface(target);
    return 0;
}
