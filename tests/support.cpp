// support.cpp: link seams and world helpers for the unit tests.
#include "support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

sdl_calls calls;
long long fixed_ticks = -1;
long malloc_budget = -1;

extern "C" {
int __real_SDL_LockSurface(SDL_Surface *surface);
void __real_SDL_UnlockSurface(SDL_Surface *surface);
void __real_SDL_UpdateRect(SDL_Surface *screen, Sint32 x, Sint32 y, Uint32 w, Uint32 h);
Uint32 __real_SDL_GetTicks(void);
void *__real_malloc(size_t size);

void *__wrap_malloc(size_t size)
{
    if (malloc_budget == 0)
        return nullptr;
    if (malloc_budget > 0)
        malloc_budget--;
    return __real_malloc(size);
}

int __wrap_SDL_LockSurface(SDL_Surface *surface)
{
    calls.locks++;
    return __real_SDL_LockSurface(surface);
}

void __wrap_SDL_UnlockSurface(SDL_Surface *surface)
{
    calls.unlocks++;
    __real_SDL_UnlockSurface(surface);
}

void __wrap_SDL_UpdateRect(SDL_Surface *surface, Sint32 x, Sint32 y, Uint32 w, Uint32 h)
{
    calls.presents++;
    calls.locked_presents += calls.locks != calls.unlocks;
    calls.shown_w = surface->w;
    calls.shown_h = surface->h;
    calls.shown.assign(static_cast<size_t>(surface->w) * surface->h, 0);
    for (int row = 0; row < surface->h; row++)
        for (int column = 0; column < surface->w; column++)
            calls.shown[static_cast<size_t>(row) * surface->w + column] =
                pixel_at(surface, column, row);
    __real_SDL_UpdateRect(surface, x, y, w, h);
}

Uint32 __wrap_SDL_GetTicks(void)
{
    return fixed_ticks >= 0 ? static_cast<Uint32>(fixed_ticks) : __real_SDL_GetTicks();
}
}

void reset_calls()
{
    calls = sdl_calls();
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

void reset_world()
{
    while (head) {
        grain *next = head->next;
        std::free(head);
        head = next;
    }
    tail = nullptr;
    std::memset(matrix, 0, sizeof matrix);
    std::memset(&event, 0, sizeof event);
    std::memset(&mouse_event, 0, sizeof mouse_event);
    mouse_buttons = 0;
    souris_verte = mouse_state();
    souris_brune = mouse_state();
    mouse_info = mouse_state();
    rand_state = 1;
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

int grain_count()
{
    int n = 0;
    for (grain *g = head; g && g->next; g = g->next)
        n++;
    return n;
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
        for (int y = 0; y <= WORLD_ROWS; y++) {
            if (matrix[x][y] && seen[x * (WORLD_ROWS + 1) + y] != walk) {
                std::snprintf(why, sizeof why, "cell (%d, %d) holds a grain not listed there", x,
                              y);
                return why;
            }
        }
    return "";
}

// SDL on the dummy driver for the whole run, with the 200 x 300 screen the
// program asks for.
class sdl_environment : public ::testing::Environment
{
  public:
    void SetUp() override
    {
        static char dummy_driver[] = "SDL_VIDEODRIVER=dummy";
        putenv(dummy_driver);
        ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO | SDL_INIT_TIMER), 0) << SDL_GetError();
        screen = SDL_SetVideoMode(WINDOW_WIDTH, WINDOW_HEIGHT, 16, SDL_ANYFORMAT);
        ASSERT_NE(screen, nullptr) << SDL_GetError();
        vesk_Init(screen);
    }
    void TearDown() override
    {
        SDL_Quit();
    }
};

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new sdl_environment);
    return RUN_ALL_TESTS();
}
