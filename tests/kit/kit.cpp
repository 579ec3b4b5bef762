// kit.cpp: the shared test kit (kit.h).
#include "kit.h"

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

// The depth the program asks for its display surface, in bits per pixel.
static const int WINDOW_DEPTH = 16;
// The key a plain key event carries: 'a', and its X scancode.
static const Uint8 KEY_SCANCODE = 38;

// The reference's rules, written out from the toy's description: the
// seeding's creer calls and its generator (multiplier, increment, output
// shift and mask), the brush's reach each way from its centre and the cells
// it may clear, the pointer's scale to cells, and how far off the grid a
// centre may lie before it is no number of the grid's at all.
static const int REF_SEED_CALLS = 199999;
static const uint32_t REF_RAND_MULTIPLIER = 214013u, REF_RAND_INCREMENT = 2531011u;
static const int REF_RAND_SHIFT = 16;
static const uint32_t REF_RAND_MASK = 0x7FFF;
static const int REF_BRUSH_REACH = 4;
static const int REF_BRUSH_MIN_X = 2, REF_BRUSH_MAX_X = 199;
static const int REF_BRUSH_MIN_Y = 2, REF_BRUSH_MAX_Y = 299;
static const double REF_CELLS_PER_UNIT_X = 100.0, REF_CELLS_PER_UNIT_Y = 150.0;
static const double REF_FAR = 1e6;

bool kit_start(const char *who, const char *driver)
{
    static char driver_setting[64]; // putenv keeps the string: Windows has no setenv
    if (driver && !std::getenv("SDL_VIDEODRIVER")) {
        std::snprintf(driver_setting, sizeof driver_setting, "SDL_VIDEODRIVER=%s", driver);
        putenv(driver_setting);
    }
    if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_TIMER) != 0) {
        std::fprintf(stderr, "%s: cannot start SDL: %s\n", who, SDL_GetError());
        return false;
    }
    screen = SDL_SetVideoMode(WINDOW_WIDTH, WINDOW_HEIGHT, WINDOW_DEPTH, SDL_ANYFORMAT);
    if (!screen) {
        std::fprintf(stderr, "%s: cannot open the %dx%d display surface: %s\n", who, WINDOW_WIDTH,
                     WINDOW_HEIGHT, SDL_GetError());
        SDL_Quit();
        return false;
    }
    vesk_Init(screen);
    return true;
}

SDL_Surface *make_surface(int w, int h, int bytes_per_pixel)
{
    SDL_Surface *s = SDL_CreateRGBSurface(SDL_SWSURFACE, w, h, bytes_per_pixel * 8, 0, 0, 0, 0);
    if (s)
        SDL_FillRect(s, nullptr, 0);
    return s;
}

uint32_t pixel_at(SDL_Surface *surface, int column, int row)
{
    const Uint8 *p = static_cast<const Uint8 *>(surface->pixels) + row * surface->pitch +
                     column * surface->format->BytesPerPixel;
    uint32_t v = 0;
    for (int i = surface->format->BytesPerPixel - 1; i >= 0; i--)
        v = (v << 8) | p[i]; // little-endian machine
    return v;
}

int count_pixels(SDL_Surface *surface, uint32_t value)
{
    int n = 0;
    for (int row = 0; row < surface->h; row++)
        for (int column = 0; column < surface->w; column++)
            n += pixel_at(surface, column, row) == value;
    return n;
}

SDL_Event motion_event(Uint16 x, Uint16 y, Uint8 buttons)
{
    SDL_Event e;
    std::memset(&e, 0, sizeof e);
    e.type = SDL_MOUSEMOTION;
    e.motion.x = x;
    e.motion.y = y;
    e.motion.state = buttons;
    return e;
}

SDL_Event button_event(Uint8 type, Uint16 x, Uint16 y, Uint8 button)
{
    SDL_Event e;
    std::memset(&e, 0, sizeof e);
    e.type = type;
    e.button.button = button;
    e.button.state = type == SDL_MOUSEBUTTONDOWN ? SDL_PRESSED : SDL_RELEASED;
    e.button.x = x;
    e.button.y = y;
    return e;
}

SDL_Event plain_event(Uint8 type)
{
    SDL_Event e;
    std::memset(&e, 0, sizeof e);
    e.type = type;
    if (type == SDL_KEYDOWN || type == SDL_KEYUP) {
        e.key.state = type == SDL_KEYDOWN ? SDL_PRESSED : SDL_RELEASED;
        e.key.keysym.scancode = KEY_SCANCODE;
        e.key.keysym.sym = SDLK_a;
    }
    if (type == SDL_ACTIVEEVENT) {
        e.active.gain = 1;
        e.active.state = SDL_APPINPUTFOCUS | SDL_APPMOUSEFOCUS;
    }
    return e;
}

static int push(SDL_Event e)
{
    return SDL_PushEvent(&e);
}

int push_motion(Uint16 x, Uint16 y, Uint8 buttons)
{
    return push(motion_event(x, y, buttons));
}

int push_button(Uint8 type, Uint16 x, Uint16 y, Uint8 button)
{
    return push(button_event(type, x, y, button));
}

int push_plain(Uint8 type)
{
    return push(plain_event(type));
}

void drain_events()
{
    SDL_Event e;
    while (SDL_PollEvent(&e)) {
    }
}

void set_world_aside()
{
    head = nullptr;
    tail = nullptr;
    std::memset(matrix, 0, sizeof matrix);
    rand_state = 1;
}

void reset_world()
{
    while (head) {
        grain *next = head->next;
        std::free(head);
        head = next;
    }
    set_world_aside();
    std::memset(&event, 0, sizeof event);
    std::memset(&mouse_event, 0, sizeof mouse_event);
    mouse_buttons = 0;
    souris_verte = mouse_state();
    souris_brune = mouse_state();
    mouse_info = mouse_state();
    ici = nullptr;
}

std::vector<grain *> make_list(int n)
{
    std::vector<grain *> nodes;
    for (int i = 0; i < n; i++)
        creer();
    for (grain *g = head; g; g = g->next)
        nodes.push_back(g);
    return nodes;
}

void place(grain *g, int x, int y)
{
    g->kind = 1;
    g->x = x;
    g->y = y;
    matrix[x][y] = g;
}

bool operator==(cell a, cell b)
{
    return a.x == b.x && a.y == b.y;
}

int grain_count()
{
    int n = 0;
    for (grain *g = head; g && g->next; g = g->next)
        n++;
    return n;
}

std::vector<cell> grain_cells()
{
    std::vector<cell> cells;
    for (grain *g = head; g && g->next; g = g->next)
        cells.push_back({g->x, g->y});
    return cells;
}

int32_t floor_walk()
{
    int32_t sum = 0;
    for (grain *g = head; g && g->next; g = g->next)
        sum += g->x + g->y;
    return sum;
}

std::string world_invariant()
{
    // Cells the walk of the list saw a grain in: stamped with this walk's number.
    static std::vector<unsigned> seen((WORLD_COLUMNS + 1) * (WORLD_ROWS + 1), 0);
    static unsigned walk = 0;
    walk++;
    char why[200];
    for (grain *g = head; g && g->next; g = g->next) {
        if (g->x < FIRST_COLUMN || g->x > LAST_COLUMN || g->y < FIRST_ROW || g->y > LAST_ROW) {
            std::snprintf(why, sizeof why, "listed grain off the grid at (%d, %d)", g->x, g->y);
            return why;
        }
        if (matrix[g->x][g->y] != g) {
            std::snprintf(why, sizeof why, "listed grain at (%d, %d) is not its cell's grain", g->x,
                          g->y);
            return why;
        }
        seen[g->x * (WORLD_ROWS + 1) + g->y] = walk;
    }
    for (int x = 0; x <= WORLD_COLUMNS; x++)
        for (int y = 0; y <= WORLD_ROWS; y++)
            if (matrix[x][y] && seen[x * (WORLD_ROWS + 1) + y] != walk) {
                std::snprintf(why, sizeof why, "cell (%d, %d) holds a grain not listed there", x,
                              y);
                return why;
            }
    return "";
}

const float SPECIAL_FLOATS[] = {std::numeric_limits<float>::quiet_NaN(),
                                -std::numeric_limits<float>::quiet_NaN(),
                                std::numeric_limits<float>::infinity(),
                                -std::numeric_limits<float>::infinity(),
                                FLT_MAX,
                                -FLT_MAX,
                                FLT_MIN,
                                -FLT_MIN,
                                std::numeric_limits<float>::denorm_min(),
                                -std::numeric_limits<float>::denorm_min(),
                                0.0f,
                                -0.0f,
                                1.0f,
                                -1.0f,
                                0.003f,
                                65536.0f,
                                1e30f,
                                -1e30f};
const int SPECIAL_FLOAT_COUNT = sizeof SPECIAL_FLOATS / sizeof SPECIAL_FLOATS[0];

// ---- the reference ----

static int &ref_at(ref_world &w, int x, int y)
{
    return w.cell[x * (WORLD_ROWS + 1) + y];
}

void ref_add(ref_world &w, int x, int y)
{
    w.grains.push_back({x, y});
    ref_at(w, x, y) = static_cast<int>(w.grains.size());
}

ref_world ref_seed()
{
    ref_world w;
    w.cell.assign((WORLD_COLUMNS + 1) * (WORLD_ROWS + 1), 0);
    uint32_t state = 1;
    auto next = [&state]() {
        state = state * REF_RAND_MULTIPLIER + REF_RAND_INCREMENT;
        return static_cast<int>((state >> REF_RAND_SHIFT) & REF_RAND_MASK);
    };
    for (int i = 0; i < REF_SEED_CALLS; i++) {
        int x = next() % (WORLD_COLUMNS - 1) + 1;
        int y = next() % (WORLD_ROWS - 1) + 1;
        if (!ref_at(w, x, y))
            ref_add(w, x, y);
    }
    return w;
}

ref_world ref_from_world()
{
    ref_world w;
    w.cell.assign((WORLD_COLUMNS + 1) * (WORLD_ROWS + 1), 0);
    for (grain *g = head; g && g->next; g = g->next)
        ref_add(w, g->x, g->y);
    return w;
}

// The brush's centre cell on one axis, or false when the pointer gives no
// finite number within reach of the grid.
static bool ref_centre(float pointer, double cells_per_unit, int *c)
{
    double v = (static_cast<double>(pointer) + 1.0) * cells_per_unit;
    if (!std::isfinite(v) || std::fabs(v) > REF_FAR)
        return false;
    *c = static_cast<int>(std::trunc(v));
    return true;
}

void ref_step(ref_world &w, mouse_state pointer)
{
    for (size_t i = 0; i < w.grains.size(); i++) {
        ref_grain &g = w.grains[i];
        if (g.y <= FIRST_ROW)
            continue;
        int to_x;
        if (!ref_at(w, g.x, g.y - 1))
            to_x = g.x;
        else if (g.x <= FIRST_COLUMN || g.x >= LAST_COLUMN)
            continue;
        else if (!ref_at(w, g.x - 1, g.y - 1))
            to_x = g.x - 1;
        else if (!ref_at(w, g.x + 1, g.y - 1))
            to_x = g.x + 1;
        else
            continue;
        ref_at(w, g.x, g.y) = 0;
        g.x = to_x;
        g.y--;
        ref_at(w, g.x, g.y) = static_cast<int>(i) + 1;
    }
    int cx, cy;
    if (pointer.pressed != 1 || !ref_centre(pointer.x, REF_CELLS_PER_UNIT_X, &cx) ||
        !ref_centre(pointer.y, REF_CELLS_PER_UNIT_Y, &cy))
        return;
    std::vector<bool> wiped(w.grains.size(), false);
    bool any = false;
    for (int b = cy - REF_BRUSH_REACH; b <= cy + REF_BRUSH_REACH; b++)
        for (int a = cx - REF_BRUSH_REACH; a <= cx + REF_BRUSH_REACH; a++)
            if (a >= REF_BRUSH_MIN_X && a <= REF_BRUSH_MAX_X && b >= REF_BRUSH_MIN_Y &&
                b <= REF_BRUSH_MAX_Y && ref_at(w, a, b)) {
                wiped[ref_at(w, a, b) - 1] = any = true;
                ref_at(w, a, b) = 0;
            }
    if (!any)
        return;
    // The wiped grains leave the list; the others keep their order.
    std::vector<ref_grain> kept;
    for (size_t i = 0; i < w.grains.size(); i++)
        if (!wiped[i]) {
            kept.push_back(w.grains[i]);
            ref_at(w, w.grains[i].x, w.grains[i].y) = static_cast<int>(kept.size());
        }
    w.grains.swap(kept);
}

int ref_column(int x)
{
    return static_cast<int>((static_cast<float>(x / 101.0 - 1) + 1.0) / 2 * 200);
}

int ref_row(int y)
{
    return static_cast<int>((1.0 - static_cast<float>(y / 151.0 - 1)) / 2 * 300);
}

std::string against_reference(const ref_world &w)
{
    std::string broken = world_invariant();
    if (!broken.empty())
        return broken;
    char why[200];
    const grain *g = head;
    long n = static_cast<long>(w.grains.size());
    for (long i = 0; i < n; i++, g = g->next) {
        const ref_grain &r = w.grains[i];
        if (!g || !g->next) {
            std::snprintf(why, sizeof why, "the list ends at grain %ld of the reference's %ld", i,
                          n);
            return why;
        }
        if (g->x != r.x || g->y != r.y) {
            std::snprintf(why, sizeof why,
                          "grain %ld at (%d, %d), the reference has it at (%d, %d)", i, g->x, g->y,
                          r.x, r.y);
            return why;
        }
    }
    if (g != tail)
        return "the list has grains the reference lacks";
    return "";
}
