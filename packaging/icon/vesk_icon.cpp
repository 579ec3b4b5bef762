// vesk_icon: draws Vesk's application icon, and the README's picture of the
// toy, with the toy's own code.
//
//   vesk_icon OUT_DIR
//   vesk_icon --picture OUT_FILE
//
// The first writes OUT_DIR/vesk-N.bmp for each size N of ICON_SIZES_PX (N x N
// pixels, 24-bit) and OUT_DIR/vesk.svg. packaging/icon/make_icons.sh turns the
// BMPs into the PNGs that get installed.
//
// The second writes the picture, a 24-bit BMP, to OUT_FILE: the toy's window
// as a player sees it, PICTURE_SCALE screen pixels to a window pixel. The
// world is seeded and steps until no grain moves; the brush is held at
// PICTURE_POINTER for CRATER_STEPS steps and let go, and the world steps until
// it rests again, so a crater with 45-degree sides is left in the pile; the
// step draws the grains and the X is drawn at the pointer as the toy's frame
// draws it. make_icons.sh writes it as docs/vesk.png.
//
// The picture is a scene of the toy. The world is seeded as at start-up;
// every grain the brush could reach outside a narrow band of columns in the
// middle is wiped out at once, off the grid and out of the list as the brush
// does it; and the world steps until no grain moves, so the band slumps into
// a pile with 45-degree sides. The world step itself draws the pile on a software surface
// the size of the window; the icon is the square of SCENE_SIZE_PX pixels at
// the bottom middle of that surface. Each size is that square scaled by area
// (a pixel's green is the share of its area the grains cover), with the toy's
// crosshair drawn over it by the toy's line rasterizer at the icon's own
// size: larger than in the toy and with a stroke about a sixteenth of the
// icon across, so that it is crisp and white even at 16 pixels.
//
// Conventions: pixel columns and rows count from the top left; normalized
// coordinates as in vesk.h, taken over whichever surface is drawn on. Scene
// pixels are pixels of the window-sized surface. Deterministic: the seeding
// generator is never reseeded, so every run writes the same files.
// Exits 0 after writing every file, 1 with a line on standard error otherwise.
#include "world.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

// The band of grid columns kept, centred on the window's middle column.
static const int BAND_FIRST_COLUMN = 96;
static const int BAND_LAST_COLUMN = 106;
// Cells the toy's brush can reach (see world.cpp): the others are never wiped.
static const int BRUSH_MIN_X = 2, BRUSH_MAX_X = 199;
static const int BRUSH_MIN_Y = 2, BRUSH_MAX_Y = 299;
// World steps allowed for the pile to come to rest.
static const int SETTLE_STEPS_MAX = 5000;
// The scene: a square of scene pixels, its left column and top row.
static const int SCENE_SIZE_PX = 128;
static const int SCENE_LEFT_PX = (WINDOW_WIDTH - SCENE_SIZE_PX) / 2;
static const int SCENE_TOP_PX = WINDOW_HEIGHT - SCENE_SIZE_PX;
// The icon sizes, in pixels on a side, that desktops ask for.
static const int ICON_SIZES_PX[] = {16, 22, 24, 32, 48, 64, 128, 256};
// The X in scene pixels: its centre, and half its width and height (the
// toy's crosshair is 0.1 normalized each way, 10 by 15 pixels on the window;
// the icon's is square so that its lines run at 45 degrees at every size).
static const double CROSS_CENTRE_COLUMN_PX = 64.0;
static const double CROSS_CENTRE_ROW_PX = 34.0;
static const double CROSS_HALF_WIDTH_PX = 24.0;
static const double CROSS_HALF_HEIGHT_PX = 24.0;
// Icon pixels on a side per pixel of the X's stroke, measured along a row
// (rounded down, at least 1).
static const int CROSS_STROKE_PER_SIZE = 16;
// The picture: the pointer in normalized coordinates (over the upper part of
// the settled pile), the steps the brush is held there, and screen pixels on
// a side per window pixel.
static const float PICTURE_POINTER_X = 0.0f;
static const float PICTURE_POINTER_Y = 0.5f;
static const int CRATER_STEPS = 400;
static const int PICTURE_SCALE = 2;
// Surfaces here are 32-bit with this layout, so the palette vesk_Init maps
// for the scene holds for the icons too.
static const int DEPTH_BITS = 32;
static const Uint32 RED_MASK = 0xFF0000, GREEN_MASK = 0x00FF00, BLUE_MASK = 0x0000FF;

static grain *grid_snapshot[WORLD_COLUMNS + 1][WORLD_ROWS + 1];

static SDL_Surface *new_surface(int w, int h)
{
    return SDL_CreateRGBSurface(SDL_SWSURFACE, w, h, DEPTH_BITS, RED_MASK, GREEN_MASK, BLUE_MASK,
                                0);
}

static uint32_t pixel(SDL_Surface *surface, int column, int row)
{
    const Uint8 *p = static_cast<const Uint8 *>(surface->pixels) + row * surface->pitch +
                     column * surface->format->BytesPerPixel;
    return *reinterpret_cast<const Uint32 *>(p);
}

static void set_pixel(SDL_Surface *surface, int column, int row, uint32_t value)
{
    Uint8 *p = static_cast<Uint8 *>(surface->pixels) + row * surface->pitch +
               column * surface->format->BytesPerPixel;
    *reinterpret_cast<Uint32 *>(p) = value;
}

static bool in_band(int x)
{
    return x >= BAND_FIRST_COLUMN && x <= BAND_LAST_COLUMN;
}

// Removes every grain the brush could reach outside the band, as the brush does.
static void wipe_outside_band()
{
    for (int x = BRUSH_MIN_X; x <= BRUSH_MAX_X; x++) {
        if (in_band(x))
            continue;
        for (int y = BRUSH_MIN_Y; y <= BRUSH_MAX_Y; y++) {
            if (grain *g = matrix[x][y]) {
                detruire(g);
                matrix[x][y] = nullptr;
            }
        }
    }
}

// Steps the world until a step moves no grain; returns 0 if it never rests.
static int settle()
{
    for (int step = 0; step < SETTLE_STEPS_MAX; step++) {
        std::memcpy(grid_snapshot, matrix, sizeof matrix);
        loop();
        SDL_FillRect(screen, nullptr, 0);
        if (std::memcmp(grid_snapshot, matrix, sizeof matrix) == 0)
            return 1;
    }
    return 0;
}

static bool green_at(int scene_column, int scene_row)
{
    return pixel(screen, SCENE_LEFT_PX + scene_column, SCENE_TOP_PX + scene_row) == green;
}

// Length of the overlap of [a0, a1) and [b0, b1).
static double overlap(double a0, double a1, double b0, double b1)
{
    double lo = a0 > b0 ? a0 : b0;
    double hi = a1 < b1 ? a1 : b1;
    return hi > lo ? hi - lo : 0;
}

// Fills the icon with the scene square scaled by area.
static void draw_scene(SDL_Surface *icon)
{
    int size = icon->w;
    double span = static_cast<double>(SCENE_SIZE_PX) / size; // scene pixels per icon pixel
    for (int row = 0; row < size; row++) {
        double top = row * span, bottom = (row + 1) * span;
        for (int column = 0; column < size; column++) {
            double left = column * span, right = (column + 1) * span;
            double covered = 0;
            for (int r = static_cast<int>(top); r < bottom && r < SCENE_SIZE_PX; r++) {
                double h = overlap(top, bottom, r, r + 1);
                for (int c = static_cast<int>(left); c < right && c < SCENE_SIZE_PX; c++)
                    if (green_at(c, r))
                        covered += h * overlap(left, right, c, c + 1);
            }
            int level = static_cast<int>(std::lround(255 * covered / (span * span)));
            set_pixel(icon, column, row, SDL_MapRGB(icon->format, 0, level, 0));
        }
    }
}

// Draws the X as the toy draws its crosshair (two bresline calls), once per
// pixel of the stroke, each copy shifted one icon pixel across.
static void draw_cross(SDL_Surface *icon)
{
    int size = icon->w;
    int stroke = size / CROSS_STROKE_PER_SIZE;
    if (stroke < 1)
        stroke = 1;
    float centre_x = static_cast<float>(CROSS_CENTRE_COLUMN_PX / SCENE_SIZE_PX * 2 - 1);
    float centre_y = static_cast<float>(1 - CROSS_CENTRE_ROW_PX / SCENE_SIZE_PX * 2);
    float reach_x = static_cast<float>(CROSS_HALF_WIDTH_PX / SCENE_SIZE_PX * 2);
    float reach_y = static_cast<float>(CROSS_HALF_HEIGHT_PX / SCENE_SIZE_PX * 2);
    float pixel_width = 2.0f / size;
    for (int i = 0; i < stroke; i++) {
        float shift = (i - (stroke - 1) / 2.0f) * pixel_width;
        float left = centre_x - reach_x + shift, right = centre_x + reach_x + shift;
        float low = centre_y - reach_y, high = centre_y + reach_y;
        bresline(icon, right, left, high, low, white);
        bresline(icon, right, left, low, high, white);
    }
}

// Writes the SVG: a black square, the pile as the union of its green scene
// pixels (one rectangle per run of green in a row), and the X as two lines.
static int write_svg(const std::string &path)
{
    std::FILE *out = std::fopen(path.c_str(), "w");
    if (!out)
        return 0;
    std::fprintf(out,
                 "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                 "<!-- Vesk's icon, written by packaging/icon/vesk_icon: a pile of the toy's\n"
                 "     green grains under its white X, one unit per pixel of the toy's window. "
                 "-->\n"
                 "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\" "
                 "viewBox=\"0 0 %d %d\">\n"
                 "  <rect width=\"%d\" height=\"%d\" fill=\"#000000\"/>\n"
                 "  <path fill=\"#00ff00\" d=\"",
                 SCENE_SIZE_PX, SCENE_SIZE_PX, SCENE_SIZE_PX, SCENE_SIZE_PX, SCENE_SIZE_PX,
                 SCENE_SIZE_PX);
    for (int row = 0; row < SCENE_SIZE_PX; row++) {
        int column = 0;
        while (column < SCENE_SIZE_PX) {
            int end = column;
            while (end < SCENE_SIZE_PX && green_at(end, row))
                end++;
            if (end > column)
                std::fprintf(out, "M%d %dh%dv1h-%dz", column, row, end - column, end - column);
            column = end + 1;
        }
    }
    // The stroke across the line, for the raster's stroke measured along a row.
    double slope = std::atan2(CROSS_HALF_HEIGHT_PX, CROSS_HALF_WIDTH_PX);
    double stroke = static_cast<double>(SCENE_SIZE_PX) / CROSS_STROKE_PER_SIZE * std::sin(slope);
    double left = CROSS_CENTRE_COLUMN_PX - CROSS_HALF_WIDTH_PX;
    double right = CROSS_CENTRE_COLUMN_PX + CROSS_HALF_WIDTH_PX;
    double top = CROSS_CENTRE_ROW_PX - CROSS_HALF_HEIGHT_PX;
    double bottom = CROSS_CENTRE_ROW_PX + CROSS_HALF_HEIGHT_PX;
    std::fprintf(out,
                 "\"/>\n"
                 "  <path stroke=\"#ffffff\" stroke-width=\"%.2f\" fill=\"none\" "
                 "d=\"M%g %gL%g %gM%g %gL%g %g\"/>\n"
                 "</svg>\n",
                 stroke, left, top, right, bottom, left, bottom, right, top);
    return std::fclose(out) == 0;
}

// Draws the picture on `screen` (seeded already) and writes it, scaled, to path.
static int write_picture(const std::string &path)
{
    if (!settle()) {
        std::fprintf(stderr, "vesk_icon: the pile never came to rest\n");
        return 1;
    }
    mouse_info = {PICTURE_POINTER_X, PICTURE_POINTER_Y, 1};
    for (int step = 0; step < CRATER_STEPS; step++) {
        loop();
        SDL_FillRect(screen, nullptr, 0);
    }
    mouse_info.pressed = 0;
    if (!settle()) {
        std::fprintf(stderr, "vesk_icon: the crater never came to rest\n");
        return 1;
    }
    loop();
    crosshair(screen, PICTURE_POINTER_X, PICTURE_POINTER_Y);

    SDL_Surface *picture = new_surface(WINDOW_WIDTH * PICTURE_SCALE, WINDOW_HEIGHT * PICTURE_SCALE);
    if (!picture) {
        std::fprintf(stderr, "vesk_icon: out of memory\n");
        return 1;
    }
    for (int row = 0; row < picture->h; row++)
        for (int column = 0; column < picture->w; column++)
            set_pixel(picture, column, row,
                      pixel(screen, column / PICTURE_SCALE, row / PICTURE_SCALE));
    if (SDL_SaveBMP(picture, path.c_str()) != 0) {
        std::fprintf(stderr, "vesk_icon: cannot write %s\n", path.c_str());
        return 1;
    }
    SDL_FreeSurface(picture);
    return 0;
}

int main(int argc, char *argv[])
{
    bool picture = argc == 3 && std::strcmp(argv[1], "--picture") == 0;
    if (argc != 2 && !picture) {
        std::fprintf(stderr, "usage: vesk_icon OUT_DIR | vesk_icon --picture OUT_FILE\n");
        return 1;
    }
    std::string dir = argv[argc - 1];
    screen = new_surface(WINDOW_WIDTH, WINDOW_HEIGHT);
    if (!screen || !init()) {
        std::fprintf(stderr, "vesk_icon: out of memory\n");
        return 1;
    }
    vesk_Init(screen);
    if (picture)
        return write_picture(dir);
    wipe_outside_band();
    if (!settle()) {
        std::fprintf(stderr, "vesk_icon: the pile never came to rest\n");
        return 1;
    }
    // One more step draws every grain where it rests; nothing moves.
    loop();
    for (int size : ICON_SIZES_PX) {
        std::string path = dir + "/vesk-" + std::to_string(size) + ".bmp";
        SDL_Surface *icon = new_surface(size, size);
        if (!icon) {
            std::fprintf(stderr, "vesk_icon: out of memory\n");
            return 1;
        }
        draw_scene(icon);
        draw_cross(icon);
        if (SDL_SaveBMP(icon, path.c_str()) != 0) {
            std::fprintf(stderr, "vesk_icon: cannot write %s\n", path.c_str());
            return 1;
        }
        SDL_FreeSurface(icon);
    }
    std::string svg = dir + "/vesk.svg";
    if (!write_svg(svg)) {
        std::fprintf(stderr, "vesk_icon: cannot write %s\n", svg.c_str());
        return 1;
    }
    return 0;
}
