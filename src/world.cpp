// world.cpp: the grain world.
#include "world.h"

#include <cmath>

// Start-up: calls of creer, giving one more node (the spare tail).
static const int SEED_CALLS = 199999;
// Seeded cells: x in 1..SEED_COLUMNS, y in 1..SEED_ROWS.
static const int SEED_COLUMNS = 199;
static const int SEED_ROWS = 299;
// Seeding generator (multiplier, increment, output shift and mask).
static const uint32_t RAND_MULTIPLIER = 214013u;
static const uint32_t RAND_INCREMENT = 2531011u;
static const int RAND_SHIFT = 16;
static const uint32_t RAND_MASK = 0x7FFF;
// Grid to normalized screen: x / 101 - 1, y / 151 - 1.
static const double GRID_TO_SCREEN_X = 101.0;
static const double GRID_TO_SCREEN_Y = 151.0;
// Pointer to brush centre: (x + 1) * 100, (y + 1) * 150, truncated.
static const double POINTER_TO_GRID_X = 100.0;
static const double POINTER_TO_GRID_Y = 150.0;
// The brush is BRUSH_SIZE cells square, centred on its centre cell.
static const int BRUSH_SIZE = 9;
static const int BRUSH_REACH = BRUSH_SIZE / 2;
// Cells the brush may clear.
static const int BRUSH_MIN_X = 2, BRUSH_MAX_X = 199;
static const int BRUSH_MIN_Y = 2, BRUSH_MAX_Y = 299;
// Stand-in centre for pointers far off the grid: the brush reaches nothing from here.
static const int BRUSH_FAR = 4 * (WORLD_COLUMNS + WORLD_ROWS);
// Half the crosshair's extent on each axis, in normalized units.
static const double CROSSHAIR_REACH = 0.1;
// Lowest row, and the outermost columns (where grains only fall straight).
static const int FLOOR_ROW = 1;
static const int LEFT_COLUMN = 1;
static const int RIGHT_COLUMN = 200;

grain *matrix[WORLD_COLUMNS + 1][WORLD_ROWS + 1];

// Normalized screen coordinate of every grid column and row,
// float(x / GRID_TO_SCREEN_X - 1) and float(y / GRID_TO_SCREEN_Y - 1):
// computed once at start-up, bit for bit what the step would compute per
// grain, which saves it two divisions a grain.
struct screen_coordinates {
    float column[WORLD_COLUMNS + 1];
    float row[WORLD_ROWS + 1];
};
static screen_coordinates make_screen_coordinates()
{
    screen_coordinates c;
    for (int x = 0; x <= WORLD_COLUMNS; x++)
        c.column[x] = static_cast<float>(x / GRID_TO_SCREEN_X - 1);
    for (int y = 0; y <= WORLD_ROWS; y++)
        c.row[y] = static_cast<float>(y / GRID_TO_SCREEN_Y - 1);
    return c;
}
static const screen_coordinates grid_to_screen = make_screen_coordinates();
SDL_Surface *screen;
grain *ici;
mouse_state mouse_info;

uint32_t rand_state = 1;

int world_rand()
{
    rand_state = rand_state * RAND_MULTIPLIER + RAND_INCREMENT;
    return static_cast<int>((rand_state >> RAND_SHIFT) & RAND_MASK);
}

int init()
{
    for (int i = 0; i < SEED_CALLS; i++)
        if (!creer())
            return 0;
    for (ici = head; ici && ici->next;) {
        grain *g = ici;
        ici = ici->next;
        g->x = world_rand() % SEED_COLUMNS + 1;
        g->y = world_rand() % SEED_ROWS + 1;
        g->kind = 1;
        if (!matrix[g->x][g->y])
            matrix[g->x][g->y] = g;
        else
            detruire(g);
    }
    return 1;
}

// Moves g one cell by the falling rules, or leaves it where it is.
static void fall(grain *g)
{
    int x = g->x, y = g->y;
    if (y <= FLOOR_ROW)
        return;
    int nx;
    if (!matrix[x][y - 1])
        nx = x;
    else if (x <= LEFT_COLUMN || x >= RIGHT_COLUMN)
        return;
    else if (!matrix[x - 1][y - 1])
        nx = x - 1;
    else if (!matrix[x + 1][y - 1])
        nx = x + 1;
    else
        return;
    matrix[x][y] = nullptr;
    matrix[nx][y - 1] = g;
    g->x = nx;
    g->y = y - 1;
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

void loop()
{
    // Nothing the walk calls can change these, so they are read once: the
    // cursor stays in a register, and `ici` gets its last value at the end.
    SDL_Surface *const surface = screen;
    const uint32_t colour = green;
    grain *g = head;
    while (g && g->next) {
        grain *next = g->next;
        SDL_LockSurface(surface);
        vesk_Giv_Pixel(surface, grid_to_screen.column[g->x], grid_to_screen.row[g->y], colour);
        SDL_UnlockSurface(surface);
        fall(g);
        g = next;
    }
    ici = g;
    if (mouse_info.pressed == 1)
        brush();
}

int frame()
{
    int quit = vesk_Loop();
    mouse_info = vesk_Got_Mouse(screen);
    float mx = mouse_info.x, my = mouse_info.y;
    float left = static_cast<float>(mx - CROSSHAIR_REACH);
    float right = static_cast<float>(mx + CROSSHAIR_REACH);
    float low = static_cast<float>(my - CROSSHAIR_REACH);
    float high = static_cast<float>(my + CROSSHAIR_REACH);
    bresline(screen, right, left, high, low, white);
    bresline(screen, right, left, low, high, white);
    vesk_Refresh(screen);
    loop();
    return quit;
}
