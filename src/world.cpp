// world.cpp: the grain world.
#include "world.h"

#include <cmath>

// Start-up: calls of creer, giving one more node (the spare tail).
static const int SEED_CALLS = 199999;
// Seeded cells: x in 1..SEED_COLUMNS, y in 1..SEED_ROWS (199 and 299): all
// but the rightmost column and the top row of the grid's cells.
static const int SEED_COLUMNS = WORLD_COLUMNS - 1;
static const int SEED_ROWS = WORLD_ROWS - 1;
// Seeding generator (multiplier, increment, output shift and mask).
static const uint32_t RAND_MULTIPLIER = 214013u;
static const uint32_t RAND_INCREMENT = 2531011u;
static const int RAND_SHIFT = 16;
static const uint32_t RAND_MASK = 0x7FFF;
// Pointer to brush centre: (x + 1) * 100, (y + 1) * 150, truncated: half
// the grid's columns and rows a normalized unit.
static const double POINTER_TO_GRID_X = WORLD_COLUMNS / 2;
static const double POINTER_TO_GRID_Y = WORLD_ROWS / 2;
// Grid to normalized screen: x / 101 - 1, y / 151 - 1: one cell more a
// unit than the pointer's scale, so the grid's cells all fit on the screen.
static const double GRID_TO_SCREEN_X = POINTER_TO_GRID_X + 1;
static const double GRID_TO_SCREEN_Y = POINTER_TO_GRID_Y + 1;
// The brush is BRUSH_SIZE cells square, centred on its centre cell.
static const int BRUSH_SIZE = 9;
static const int BRUSH_REACH = BRUSH_SIZE / 2;
// Cells the brush may clear: 2..199 and 2..299, never the outer columns
// nor the floor row.
static const int BRUSH_MIN_X = 2, BRUSH_MAX_X = WORLD_COLUMNS - 1;
static const int BRUSH_MIN_Y = 2, BRUSH_MAX_Y = WORLD_ROWS - 1;
// Stand-in centre for pointers far off the grid: the brush reaches nothing from here.
static const int BRUSH_FAR = 4 * (WORLD_COLUMNS + WORLD_ROWS);
// Half the crosshair's extent on each axis, in normalized units.
static const double CROSSHAIR_REACH = 0.1;
// Lowest row, and the outermost columns (where grains only fall straight).
static const int FLOOR_ROW = 1;
static const int LEFT_COLUMN = 1;
static const int RIGHT_COLUMN = WORLD_COLUMNS;
// How far ahead of its grain, in bytes of memory, the walk asks for nodes.
// Seeding leaves the nodes together in list order, mostly 48 to 144 bytes
// apart (malloc's block for a node is 48), so this is where the walk will be
// some 60 grains later.
static const uintptr_t NODE_PREFETCH_BYTES = 4096;
// How far ahead the copy of the grid's occupancy asks for the grid (a column
// is 2,408 bytes), and the processor's unit of memory traffic.
static const uintptr_t GRID_PREFETCH_BYTES = 4096;
static const size_t CACHE_LINE_BYTES = 64;

grain *matrix[WORLD_COLUMNS + 1][WORLD_ROWS + 1];
// The falling tests' compact copy of the grid: 1 where `matrix` holds a
// grain, else 0; an eighth of the grid's size. Read from the grid at the
// start of every walk and kept in step with each of its moves. Only the walk
// reads it; the brush after the walk, and code outside the world, change
// the grid alone.
static uint8_t occupied[WORLD_COLUMNS + 1][WORLD_ROWS + 1];

// Where the step draws each grid column and row: the byte offset, within the
// surface's pixels, of the pixel the writer addresses for the normalized
// point float(x / GRID_TO_SCREEN_X - 1), float(y / GRID_TO_SCREEN_Y - 1);
// -1 where the writer drops it. Made when a surface is first drawn on (and
// again if its geometry changes): bit for bit what the writer computes per
// grain, without its divisions, range tests and multiplies.
struct plot_offsets {
    const SDL_Surface *surface; // the surface they were made for, with its geometry:
    int w, h, pitch, bytes_per_pixel;
    int32_t column[WORLD_COLUMNS + 1]; // bytes from the row's start, or -1
    int32_t row[WORLD_ROWS + 1];       // bytes from the first pixel, or -1
};
static plot_offsets offsets;

static void prepare_offsets(const SDL_Surface *s)
{
    int bpp = s->format->BytesPerPixel;
    if (offsets.surface == s && offsets.w == s->w && offsets.h == s->h &&
        offsets.pitch == s->pitch && offsets.bytes_per_pixel == bpp)
        return;
    offsets.surface = s;
    offsets.w = s->w;
    offsets.h = s->h;
    offsets.pitch = s->pitch;
    offsets.bytes_per_pixel = bpp;
    for (int x = 0; x <= WORLD_COLUMNS; x++) {
        int column = vesk_Pixel_Column(s, static_cast<float>(x / GRID_TO_SCREEN_X - 1));
        offsets.column[x] = column < 0 ? -1 : column * bpp;
    }
    for (int y = 0; y <= WORLD_ROWS; y++) {
        int row = vesk_Pixel_Row(s, static_cast<float>(y / GRID_TO_SCREEN_Y - 1));
        offsets.row[y] = row < 0 ? -1 : row * s->pitch;
    }
}
SDL_Surface *screen;
grain *ici;
mouse_state mouse_info;

uint32_t rand_state = 1;

int world_rand()
{
    rand_state = rand_state * RAND_MULTIPLIER + RAND_INCREMENT;
    return static_cast<int>((rand_state >> RAND_SHIFT) & RAND_MASK);
}

// Gives g a random cell; removes it if the cell is taken.
static void seed_grain(grain *g)
{
    g->x = world_rand() % SEED_COLUMNS + 1;
    g->y = world_rand() % SEED_ROWS + 1;
    g->kind = 1;
    if (!matrix[g->x][g->y])
        matrix[g->x][g->y] = g;
    else
        detruire(g);
}

int init()
{
    // Each node is placed as soon as it has a successor, that is right after
    // the next creer call: the same nodes in the same order draw the same
    // random cells as placing them all after the list is built, but a node
    // removed for landing on a taken cell is freed before the next one is
    // allocated, so malloc hands its block straight back and the grains that
    // stay lie together in memory, in list order. The walks of every frame
    // then run through about 2.7 MB front to back instead of picking 57,000
    // nodes out of 10 MB.
    for (int i = 0; i < SEED_CALLS; i++) {
        if (!creer())
            return 0;
        ici = tail->prev;
        seed_grain(ici);
    }
    ici = tail;
    return 1;
}

// Asks the processor for the memory `ahead` bytes past p, where a walk will
// soon be: after the frame delay the nodes and the grid come back from far
// caches (or memory), and a walk that waits for each of them crawls. A hint
// that never faults, whatever lies there.
static inline void prefetch(const void *p, uintptr_t ahead)
{
#if defined(__GNUC__)
    __builtin_prefetch(reinterpret_cast<const void *>(reinterpret_cast<uintptr_t>(p) + ahead));
#else
    (void)p;
    (void)ahead;
#endif
}

// Copies the grid's occupancy into `occupied`, front to back.
static void read_occupancy()
{
    for (int x = 0; x <= WORLD_COLUMNS; x++) {
        const grain *const *cells = matrix[x];
        uint8_t *taken = occupied[x];
        for (size_t line = 0; line < sizeof matrix[x]; line += CACHE_LINE_BYTES)
            prefetch(cells, GRID_PREFETCH_BYTES + line);
        for (int y = 0; y <= WORLD_ROWS; y++) {
            // 1 for any address but null (address 0 on every target we build
            // for), written so that it vectorizes.
            uintptr_t bits = reinterpret_cast<uintptr_t>(cells[y]);
            taken[y] = static_cast<uint8_t>((bits | (0 - bits)) >> (8 * sizeof bits - 1));
        }
    }
}

// Moves g, standing at (x, y), one cell by the falling rules, or leaves it
// where it is; the tests read `occupied`, the move writes it and the grid.
static inline void fall(grain *g, int x, int y)
{
    if (y <= FLOOR_ROW)
        return;
    const int below = y - 1;
    int to_x = x;
    if (occupied[x][below]) {
        if (x <= LEFT_COLUMN || x >= RIGHT_COLUMN)
            return;
        if (!occupied[x - 1][below])
            to_x = x - 1;
        else if (!occupied[x + 1][below])
            to_x = x + 1;
        else
            return;
    }
    matrix[x][y] = nullptr;
    occupied[x][y] = 0;
    matrix[to_x][below] = g;
    occupied[to_x][below] = 1;
    g->x = to_x;
    g->y = below;
}

// Brush centre cell from a pointer coordinate, truncated toward zero. Values
// far off the grid (or NaN) come back as `far`, which no brush cell reaches.
static int brush_centre(float pointer, double scale, int far)
{
    double c = (pointer + 1.0) * scale;
    if (!(c > -far && c < far))
        return far;
    return static_cast<int>(c);
}

int brush_column(float x)
{
    return brush_centre(x, POINTER_TO_GRID_X, BRUSH_FAR);
}

int brush_row(float y)
{
    return brush_centre(y, POINTER_TO_GRID_Y, BRUSH_FAR);
}

static void brush()
{
    int cx = brush_column(mouse_info.x);
    int cy = brush_row(mouse_info.y);
    for (int j = 1; j <= BRUSH_SIZE; j++) {
        int b = cy + j - (BRUSH_REACH + 1);
        if (b < BRUSH_MIN_Y || b > BRUSH_MAX_Y)
            continue;
        for (int i = 1; i <= BRUSH_SIZE; i++) {
            int a = cx + i - (BRUSH_REACH + 1);
            if (a < BRUSH_MIN_X || a > BRUSH_MAX_X)
                continue;
            if (grain *g = matrix[a][b]) {
                detruire(g);
                matrix[a][b] = nullptr;
            }
        }
    }
}

// Draws and moves every grain, for a surface of BYTES_PER_PIXEL. Nothing the
// walk calls can change the surface pointer or the colour, so they are read
// once, and the cursor stays in a register; `ici` gets its last value at the
// end. A surface that must be locked is locked around each grain's pixel, and
// its pixels are looked up again after each lock; any other surface is
// locked once around the whole walk, which draws the same pixels.
template <int BYTES_PER_PIXEL, bool LOCK_EACH_GRAIN>
static void walk(SDL_Surface *const surface, const uint32_t colour)
{
    grain *g = head;
    if (!g) {
        ici = g;
        return;
    }
    read_occupancy();
    if (!LOCK_EACH_GRAIN)
        SDL_LockSurface(surface);
    Uint8 *pixels = static_cast<Uint8 *>(surface->pixels);
    for (grain *next; (next = g->next); g = next) {
        prefetch(g, NODE_PREFETCH_BYTES);
        // SDL never touches the grains: x and y read before a lock hold after it.
        int x = g->x, y = g->y;
        if (LOCK_EACH_GRAIN) {
            SDL_LockSurface(surface);
            pixels = static_cast<Uint8 *>(surface->pixels);
        }
        int32_t column = offsets.column[x], row = offsets.row[y];
        if ((column | row) >= 0)
            vesk_Put_Pixel(pixels + row + column, BYTES_PER_PIXEL, colour);
        if (LOCK_EACH_GRAIN)
            SDL_UnlockSurface(surface);
        fall(g, x, y);
    }
    if (!LOCK_EACH_GRAIN)
        SDL_UnlockSurface(surface);
    ici = g;
}

// The walk for the surface's pixel size and locking.
template <bool LOCK_EACH_GRAIN> static void walk_surface(SDL_Surface *surface, uint32_t colour)
{
    switch (offsets.bytes_per_pixel) {
    case 1:
        walk<1, LOCK_EACH_GRAIN>(surface, colour);
        break;
    case 2:
        walk<2, LOCK_EACH_GRAIN>(surface, colour);
        break;
    case 3:
        walk<3, LOCK_EACH_GRAIN>(surface, colour);
        break;
    case 4:
        walk<4, LOCK_EACH_GRAIN>(surface, colour);
        break;
    default:
        walk<0, LOCK_EACH_GRAIN>(surface, colour);
        break;
    }
}

void loop()
{
    prepare_offsets(screen);
    if (SDL_MUSTLOCK(screen))
        walk_surface<true>(screen, green);
    else
        walk_surface<false>(screen, green);
    if (mouse_info.pressed == 1)
        brush();
}

void crosshair(SDL_Surface *s, float x, float y)
{
    float left = static_cast<float>(x - CROSSHAIR_REACH);
    float right = static_cast<float>(x + CROSSHAIR_REACH);
    float low = static_cast<float>(y - CROSSHAIR_REACH);
    float high = static_cast<float>(y + CROSSHAIR_REACH);
    bresline(s, right, left, high, low, white);
    bresline(s, right, left, low, high, white);
}

int frame()
{
    int quit = vesk_Loop();
    mouse_info = vesk_Got_Mouse(screen);
    crosshair(screen, mouse_info.x, mouse_info.y);
    vesk_Refresh(screen);
    loop();
    return quit;
}
