// fuzz_events: the event pump and the pointer read fed arbitrary sequences of
// SDL events, of every type and with arbitrary bytes, through SDL's own queue;
// and whole frames of the toy on a small world driven by them.
//
// Input: a surface size for the pointer read (0..MAX_SIDE each way), then up
// to MAX_RECORDS records, each an opcode byte and its bytes:
//   push    one SDL_Event of raw bytes (its type byte included, so every
//           type and types past SDL_NUMEVENTS), pushed onto SDL's queue; a
//           window-manager event points at a message of raw bytes
//   burst   one event pushed up to BURST_MOST times (the queue holds 128)
//   pump    vesk_Loop drains the queue
//   read    vesk_Got_Mouse on the surface of the header's size
//   frame   frame() of the toy: pump, pointer, crosshair, present, world step
//
// Checks beyond "no crash, no sanitizer report, every call returns":
//   - the pump drains the whole queue, and reports a quit exactly when an
//     SDL_QUIT event was among those queued since the last drain;
//   - the pointer read gives pressed 0 or 1 and, on a surface of at least
//     2 x 2 pixels, coordinates no further out than a 16-bit pixel position
//     allows: x in [-1, 65535 / (w / 2) - 1], y in [1 - 65535 / (h / 2), 1];
//   - after each frame the world invariant holds: every listed grain but the
//     spare tail in its own cell inside the grid, every occupied cell a
//     listed grain there, and the grain count never grows.
//
// Every input starts from the same state: an empty queue, zeroed event and
// pointer records, and a small world of WORLD_GRAINS grains.
#include "fuzz_input.h"
#include "kit.h"

#include <SDL_syswm.h>

#include <cstdio>
#include <cstdlib>

// Records per input, and pushes per burst.
static const int MAX_RECORDS = 64;
static const int BURST_MOST = 200;
// Largest side of the pointer read's surface, in pixels.
static const int MAX_SIDE = 1023;
// Largest pixel position an event carries (Uint16).
static const double MAX_POSITION = 65535.0;
// The small world: grains placed at every WORLD_SPACING-th cell of the grid.
static const int WORLD_GRAINS = 600;
static const int WORLD_SPACING = 97;

static long events_pushed;
static long frames_run;

static void report_counts()
{
    std::fprintf(stderr, "fuzz_events: %ld events pushed, %ld frames run\n", events_pushed,
                 frames_run);
}

static void fail(const char *what)
{
    std::fprintf(stderr, "fuzz_events: %s\n", what);
    std::abort();
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    if (!kit_start("fuzz_events", "dummy"))
        std::abort();
    std::atexit(report_counts);
    return 0;
}

// The start of every input: the world as at start-up, then the small world.
static void small_world()
{
    drain_events();
    reset_world();
    std::vector<grain *> nodes = make_list(WORLD_GRAINS);
    for (int i = 0; i < WORLD_GRAINS; i++) {
        int cell = i * WORLD_SPACING;
        int x = 1 + cell % WORLD_COLUMNS, y = 1 + (cell / WORLD_COLUMNS) % (WORLD_ROWS - 1);
        if (matrix[x][y])
            fail("small world: two grains in one cell");
        place(nodes[i], x, y);
    }
}

// The world invariant (kit.h); returns the number of grains.
static int check_world()
{
    std::string broken = world_invariant();
    if (!broken.empty())
        fail(broken.c_str());
    return grain_count();
}

// A raw event from the input. SDL 1.2 copies the window-manager message a
// SYSWMEVENT points to, null or not, so that pointer must be valid, as it
// always is in the events SDL makes from the desktop's: it points at a
// message of raw bytes.
static void take_event(fuzz_input &in, SDL_Event *e)
{
    static SDL_SysWMmsg message;
    take_bytes(in, e, sizeof *e);
    if (e->type == SDL_SYSWMEVENT) {
        take_bytes(in, &message, sizeof message);
        e->syswm.msg = &message;
    }
}

static void check_pointer(mouse_state m, int w, int h)
{
    if (m.pressed != 0 && m.pressed != 1)
        fail("pointer read gave a pressed flag other than 0 or 1");
    if (w / 2 >= 1 && !(m.x >= -1.0f && m.x <= MAX_POSITION / (w / 2) - 1 + 1e-3))
        fail("pointer read gave x out of range");
    if (h / 2 >= 1 && !(m.y <= 1.0f && m.y >= 1 - MAX_POSITION / (h / 2) - 1e-3))
        fail("pointer read gave y out of range");
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz_input in = {data, size, 0};
    small_world();
    int grains = check_world();

    int w = take_u16(in) % (MAX_SIDE + 1);
    int h = take_u16(in) % (MAX_SIDE + 1);
    SDL_Surface *surface = SDL_CreateRGBSurface(SDL_SWSURFACE, w, h, 16, 0, 0, 0, 0);
    if (!surface)
        return 0;
    bool quit_queued = false;
    for (int r = 0; r < MAX_RECORDS && !done(in); r++) {
        uint8_t op = take_byte(in) % 8;
        if (op <= 2) { // push, the commonest record
            SDL_Event e;
            take_event(in, &e);
            if (SDL_PushEvent(&e) == 0) {
                events_pushed++;
                quit_queued = quit_queued || e.type == SDL_QUIT;
            }
        } else if (op == 3) {
            SDL_Event e;
            int n = 1 + take_byte(in) % BURST_MOST;
            take_event(in, &e);
            for (int i = 0; i < n; i++)
                if (SDL_PushEvent(&e) == 0) {
                    events_pushed++;
                    quit_queued = quit_queued || e.type == SDL_QUIT;
                }
        } else if (op == 4) {
            int quit = vesk_Loop();
            if (quit != (quit_queued ? 1 : 0))
                fail("the pump's quit report does not match the events queued");
            quit_queued = false;
            SDL_Event left;
            if (SDL_PeepEvents(&left, 1, SDL_PEEKEVENT, SDL_ALLEVENTS) != 0)
                fail("the pump left events in the queue");
        } else if (op <= 6) {
            check_pointer(vesk_Got_Mouse(surface), w, h);
        } else {
            frame();
            frames_run++;
            quit_queued = false;
            int now = check_world();
            if (now > grains)
                fail("a frame added grains");
            grains = now;
        }
    }
    SDL_FreeSurface(surface);
    return 0;
}
