// fuzz_port: the port layer's own SDL 1.2 (src/platform/port, the page's and
// Windows'), compiled in on its null video driver: up to MAX_RECORDS records
// of an opcode byte and its bytes: surface (sides small, near a limit or any
// int; any depth byte and masks), fill (a raw rectangle or none), present
// (raw x, y, w, h), push (raw event bytes, up to BURST_MOST times), room (n
// pushes after port_room(n)), poll (until the queue is empty).
// Checks beyond "no crash, no sanitizer report":
//   - a surface is made exactly when 1 to 4 bytes a pixel, a positive size,
//     rows (rounded up to 4 bytes) of at most 65535 bytes and pixels of at
//     most 2^31 - 1 bytes (past MOST_MADE_BYTES only refusals are asked);
//   - a fill sets the bytes of its rectangle clipped to the surface to the
//     colour's low bytes, low first, and no other byte;
//   - what is polled is what was pushed and taken, in order, but that a run
//     of motions may come as fewer, ending at the same place;
//   - a push is refused only by a full queue in which no two motions merge;
//     after port_room(n) says yes, n pushes are taken.
#include "backend.h"
#include "fuzz_input.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <vector>

static const int MAX_RECORDS = 48, BURST_MOST = 300;
static const int64_t MOST_MADE_BYTES = 1 << 18;
static const int64_t MOST_PITCH = UINT16_MAX, MOST_PIXEL_BYTES = INT32_MAX; // SDL.h's limits

// The platform's services: no clock (nothing here asks the time), the
// display's channel order, and a window SDL_VIDEODRIVER=dummy never opens.
int backend_start()
{
    return 1;
}
void backend_stop() {}
backend_masks backend_channels()
{
    return backend_masks{0xFF0000u, 0x00FF00u, 0x0000FFu};
}
Uint32 backend_ticks()
{
    return 0;
}
void backend_sleep(Uint32) {}
const port_video window_video = null_video;

static SDL_Surface *display;

static void fail(const char *what)
{
    std::fprintf(stderr, "fuzz_port: %s\n", what);
    std::abort();
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    if (SDL_Init(SDL_INIT_VIDEO) != 0 || !(display = SDL_SetVideoMode(200, 300, 32, 0)))
        fail(SDL_GetError());
    return 0;
}

// A side: mostly small; else limit / unit (the most allowed) or 2^32 / unit
// (where 32-bit arithmetic wraps), give or take a few; else any int.
static int take_side(fuzz_input &in, int64_t unit, int64_t limit)
{
    int kind = take_byte(in) % 8, near = static_cast<int8_t>(take_byte(in)) % 8;
    unit = unit > 0 ? unit : 1;
    if (kind == 5 || kind == 6)
        return static_cast<int>((kind == 5 ? limit : int64_t{1} << 32) / unit + near);
    return kind == 7 ? static_cast<int>(take_u32(in)) : near + take_byte(in) % 96;
}

static bool mergeable(const SDL_Event &a, const SDL_Event &b)
{
    return a.type == SDL_MOUSEMOTION && b.type == SDL_MOUSEMOTION &&
           a.motion.state == b.motion.state;
}

// The events with each run of motions cut to its last, moves left out.
static std::vector<SDL_Event> ends(const std::vector<SDL_Event> &events)
{
    std::vector<SDL_Event> kept;
    for (SDL_Event e : events) {
        if (e.type == SDL_MOUSEMOTION)
            e.motion.xrel = e.motion.yrel = 0;
        if (e.type == SDL_MOUSEMOTION && !kept.empty() && kept.back().type == SDL_MOUSEMOTION)
            kept.back() = e;
        else
            kept.push_back(e);
    }
    return kept;
}

// Polls every queued event and checks them against those taken since the
// last drain. After a refusal with at most `refused_free` slots left free:
// the queue held all but those, and no two of them could merge.
static void drain(std::vector<SDL_Event> *taken, int refused_free = -1)
{
    std::vector<SDL_Event> polled;
    for (SDL_Event e; polled.size() <= SDL_MAXEVENTS && SDL_PollEvent(&e);)
        polled.push_back(e);
    std::vector<SDL_Event> a = ends(*taken), b = ends(polled);
    if (polled.size() > SDL_MAXEVENTS || a.size() != b.size() ||
        (!a.empty() && std::memcmp(a.data(), b.data(), a.size() * sizeof(SDL_Event)) != 0))
        fail("the events polled are not those pushed");
    for (size_t i = 0; refused_free >= 0 && i < polled.size(); i++)
        if (polled.size() + refused_free < SDL_MAXEVENTS ||
            (i && mergeable(polled[i - 1], polled[i])))
            fail("a push refused while the queue could take it");
    taken->clear();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz_input in = {data, size, 0};
    std::vector<SDL_Event> taken;
    SDL_Surface *target = display;
    for (int r = 0; r < MAX_RECORDS && !done(in); r++) {
        int op = take_byte(in) % 8;
        if (op == 0) {
            int depth = take_byte(in), width = take_side(in, (depth + 7) / 8, MOST_PITCH);
            int64_t bytes = (depth + 7) / 8, pitch = (width * bytes + 3) / 4 * 4;
            int height = take_side(in, pitch, MOST_PIXEL_BYTES);
            auto mask = [&in] { return take_byte(in) % 2 ? take_u32(in) : 0u; };
            Uint32 m[4] = {mask(), mask(), mask(), mask()};
            bool allowed = bytes >= 1 && bytes <= 4 && width > 0 && height > 0 &&
                           pitch <= MOST_PITCH && pitch * height <= MOST_PIXEL_BYTES;
            if (allowed && pitch * height > MOST_MADE_BYTES)
                continue;
            SDL_Surface *s = SDL_CreateRGBSurface(0, width, height, depth, m[0], m[1], m[2], m[3]);
            if (!s != !allowed || (s && (s->pitch < width * bytes || s->pitch % 4)))
                fail("a surface made otherwise than its size and the limits say");
            if (s && target != display)
                SDL_FreeSurface(target);
            target = s ? s : target;
        } else if (op == 1) {
            SDL_Rect r = {static_cast<Sint16>(take_u16(in)), static_cast<Sint16>(take_u16(in)),
                          take_u16(in), take_u16(in)};
            bool whole = take_byte(in) % 4 == 0;
            Uint32 colour = take_u32(in);
            const Uint8 *p = static_cast<const Uint8 *>(target->pixels);
            std::vector<Uint8> before(p, p + static_cast<size_t>(target->pitch) * target->h);
            if (SDL_FillRect(target, whole ? nullptr : &r, colour) != 0)
                fail("a fill failed");
            int bytes = target->format->BytesPerPixel;
            int64_t x0 = whole ? 0 : r.x, y0 = whole ? 0 : r.y;
            int64_t x1 = whole ? target->w : x0 + r.w, y1 = whole ? target->h : y0 + r.h;
            for (int64_t i = 0; i < static_cast<int64_t>(before.size()); i++) {
                int64_t row = i / target->pitch, column = i % target->pitch / bytes;
                bool inside =
                    column < target->w && column >= x0 && column < x1 && row >= y0 && row < y1;
                if (p[i] != (inside
                                 ? static_cast<Uint8>(colour >> (8 * (i % target->pitch % bytes)))
                                 : before[i]))
                    fail("a fill changed other bytes than its rectangle's");
            }
        } else if (op == 2) {
            SDL_UpdateRect(display, static_cast<Sint32>(take_u32(in)),
                           static_cast<Sint32>(take_u32(in)), take_u32(in), take_u32(in));
        } else if (op <= 6) {
            int n = op == 6   ? take_byte(in) % (2 * SDL_MAXEVENTS + 1)
                    : op == 5 ? 1 + take_u16(in) % BURST_MOST
                              : 1;
            SDL_Event e;
            take_bytes(in, &e, sizeof e);
            bool room = op != 6 || port_room(n);
            if (!room)
                drain(&taken, n - 1);
            for (int i = 0; room && i < n; i++) {
                SDL_Event copy = e;
                if (SDL_PushEvent(&copy) == 0)
                    taken.push_back(e);
                else if (op == 6)
                    fail("a push refused after port_room said there was room");
                else
                    drain(&taken, 0);
            }
        } else {
            drain(&taken);
        }
    }
    drain(&taken);
    if (target != display)
        SDL_FreeSurface(target);
    return 0;
}
