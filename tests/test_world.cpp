// Grain world: seeding, the falling rules, the brush, the frame order, and
// the whole world against a plain reference implementation of its rules.
#include "support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>

namespace
{

using World = fresh_world;

TEST_F(World, SeedingReproducesTheShippedLayout)
{
    ASSERT_EQ(init(), 1);
    EXPECT_EQ(against_reference(ref_seed()), "");
    EXPECT_EQ(grain_count(), 57437);
}

TEST_F(World, SeedingGeneratorMatchesTheShippedRuntime)
{
    // The first values of the 32-bit Windows C runtime's rand, unseeded.
    const int first[] = {41, 18467, 6334, 26500, 19169, 15724, 11478, 29358};
    for (int v : first)
        EXPECT_EQ(world_rand(), v);
}

TEST_F(World, SeedingRunningOutOfMemoryReportsIt)
{
    malloc_budget = 1000;
    EXPECT_EQ(init(), 0);
    malloc_budget = -1;
}

TEST_F(World, StepsWithRandomBrushStrokesMatchTheReference)
{
    ASSERT_EQ(init(), 1);
    ref_world w = ref_seed();
    rand_state = 12345; // the strokes' pointer from the seeding's generator
    for (int step = 0; step < 400; step++) {
        // Every fourth step a stroke, often off the grid; between strokes none.
        bool pressed = step % 4 == 0;
        mouse_info.x = world_rand() / 8192.0f - 2; // -2 .. 2
        mouse_info.y = world_rand() / 8192.0f - 2;
        mouse_info.pressed = pressed ? 1 : (step % 8 == 1 ? 2 : 0); // 2 is not "pressed"
        long before = grain_count();
        loop();
        ref_step(w, mouse_info);
        ASSERT_EQ(against_reference(w), "") << "step " << step;
        if (!pressed) {
            ASSERT_EQ(grain_count(), before);
        }
        ASSERT_LE(before - grain_count(), 81);
    }
    // Strokes over the middle of the pile wiped something.
    EXPECT_LT(grain_count(), 57437);
}

// ---- the picture and the positions, pinned ----

// 64-bit FNV-1a, folding in one 32-bit value at a time, byte by byte.
const uint64_t FNV_OFFSET = 1469598103934665603ull;
const uint64_t FNV_PRIME = 1099511628211ull;
void fnv(uint64_t &h, uint32_t v)
{
    for (int i = 0; i < 4; i++) {
        h ^= (v >> (8 * i)) & 0xFF;
        h *= FNV_PRIME;
    }
}

// The pointer of the scripted strokes at a step: a drag down and across the
// pile, pressed on alternate stretches of 25 steps.
mouse_state scripted_pointer(int step)
{
    mouse_state m;
    m.x = static_cast<float>(-0.9 + step * 0.006);
    m.y = static_cast<float>(0.8 - step * 0.005);
    m.pressed = (step / 25) % 2;
    return m;
}

const int PINNED_STEPS = 300;
// FNV-1a of every step's picture and of every grain's cell after each step,
// for PINNED_STEPS steps with the scripted strokes from the seeded world, as
// the reference computes it.
const uint64_t PINNED_CHECKSUM = 0xaae2f7d6af0a2aedull;

TEST_F(World, PictureAndPositionsMatchThePinnedChecksum)
{
    ASSERT_EQ(init(), 1);
    ref_world w = ref_seed();
    uint64_t real = FNV_OFFSET, ref = FNV_OFFSET;
    std::vector<uint8_t> picture(WINDOW_WIDTH * WINDOW_HEIGHT);
    for (int step = 0; step < PINNED_STEPS; step++) {
        mouse_info = scripted_pointer(step);
        SDL_FillRect(screen, nullptr, 0);
        loop();
        // What the step drew, one flag a pixel, row by row.
        SDL_LockSurface(screen);
        for (int row = 0; row < WINDOW_HEIGHT; row++)
            for (int column = 0; column < WINDOW_WIDTH; column++)
                fnv(real, pixel_at(screen, column, row) == green);
        SDL_UnlockSurface(screen);
        for (cell c : grain_cells()) {
            fnv(real, c.x);
            fnv(real, c.y);
        }

        // The reference draws every grain where it stands before the step.
        std::fill(picture.begin(), picture.end(), 0);
        for (const ref_grain &r : w.grains)
            picture[ref_row(r.y) * WINDOW_WIDTH + ref_column(r.x)] = 1;
        for (uint8_t p : picture)
            fnv(ref, p);
        ref_step(w, mouse_info);
        for (const ref_grain &r : w.grains) {
            fnv(ref, r.x);
            fnv(ref, r.y);
        }
        ASSERT_EQ(real, ref) << "step " << step;
    }
    EXPECT_LT(grain_count(), 57437 - 1000); // the strokes wiped grains out
    EXPECT_EQ(real, PINNED_CHECKSUM) << std::hex << "0x" << real;
}

TEST_F(World, BrushTakesTheHeadAndTheSecondNodeLikeAnyOther)
{
    // A B C D E F and the spare tail. A and B (the head and the second
    // node) rest on C to F in row 2, under a brush centred on (100, 4).
    std::vector<grain *> n = make_list(6);
    for (int i = 2; i < 6; i++)
        place(n[i], 97 + i, 1);
    place(n[0], 100, 2);
    place(n[1], 101, 2);
    mouse_info = {0, static_cast<float>(5 / 150.0 - 1), 1};
    loop();
    EXPECT_EQ(grain_count(), 4); // the floor row is never wiped
    EXPECT_EQ(head, n[2]);
    EXPECT_EQ(head->next, n[3]);
    EXPECT_EQ(matrix[100][2], nullptr);
    EXPECT_EQ(matrix[101][2], nullptr);
    EXPECT_EQ(world_invariant(), "");

    // The second node alone under the brush goes as well; nothing is left
    // listed without a cell to clear other grains' cells later.
    reset_world();
    n = make_list(5);
    place(n[0], 10, 1);
    for (int i = 2; i < 5; i++)
        place(n[i], 97 + i, 1);
    place(n[1], 100, 2);
    mouse_info = {0, static_cast<float>(5 / 150.0 - 1), 1};
    loop();
    EXPECT_EQ(grain_count(), 4);
    EXPECT_EQ(head->next, n[2]);
    EXPECT_EQ(world_invariant(), "");
}

// ---- the falling rules ----

struct fall_case {
    const char *name;
    std::vector<std::pair<int, int>> support; // grains that cannot move
    int x, y;                                 // the grain under test
    int to_x, to_y;                           // where it ends after one step
};

TEST_F(World, FallingRules)
{
    const fall_case cases[] = {
        {"straight down", {}, 50, 10, 50, 9},
        {"floor stays", {}, 50, 1, 50, 1},
        {"left before right", {{50, 1}}, 50, 2, 49, 1},
        {"right when left taken", {{50, 1}, {49, 1}}, 50, 2, 51, 1},
        {"all three taken", {{50, 1}, {49, 1}, {51, 1}}, 50, 2, 50, 2},
        {"column 1 straight", {}, 1, 5, 1, 4},
        {"column 1 never slides", {{1, 1}}, 1, 2, 1, 2},
        {"column 200 never slides", {{200, 1}}, 200, 2, 200, 2},
        {"column 200 falls", {}, 200, 299, 200, 298},
        {"column 199 slides right", {{199, 1}, {198, 1}}, 199, 2, 200, 1},
    };
    for (const fall_case &c : cases) {
        SCOPED_TRACE(c.name);
        reset_world();
        std::vector<grain *> n = make_list(static_cast<int>(c.support.size()) + 1);
        // The support first in the list, so it has settled before the grain moves.
        for (size_t i = 0; i < c.support.size(); i++)
            place(n[i], c.support[i].first, c.support[i].second);
        grain *g = n[c.support.size()];
        place(g, c.x, c.y);
        loop();
        EXPECT_EQ(g->x, c.to_x);
        EXPECT_EQ(g->y, c.to_y);
        EXPECT_EQ(world_invariant(), "");
    }
}

TEST_F(World, GrainsMoveAtMostOneCellAndSeeMovesAlreadyMade)
{
    // A column of three: the lowest moves first, so the ones above follow in the same step.
    std::vector<grain *> n = make_list(3);
    place(n[0], 10, 5);
    place(n[1], 10, 6);
    place(n[2], 10, 7);
    loop();
    EXPECT_EQ(n[0]->y, 4);
    EXPECT_EQ(n[1]->y, 5);
    EXPECT_EQ(n[2]->y, 6);
    // In the opposite list order the upper ones are blocked by the grain below.
    reset_world();
    n = make_list(3);
    place(n[0], 10, 7);
    place(n[1], 10, 6);
    place(n[2], 10, 5);
    loop();
    EXPECT_EQ(std::make_pair(n[0]->x, n[0]->y), std::make_pair(9, 6)); // slid down-left
    EXPECT_EQ(std::make_pair(n[1]->x, n[1]->y), std::make_pair(9, 5));
    EXPECT_EQ(std::make_pair(n[2]->x, n[2]->y), std::make_pair(10, 4));
}

TEST_F(World, StepSeesTheGridAsChangedSinceTheLastStep)
{
    std::vector<grain *> n = make_list(2);
    place(n[0], 10, 1);
    place(n[1], 10, 3);
    loop();
    ASSERT_EQ(n[1]->y, 2);
    matrix[10][1] = nullptr; // the cell below emptied outside the step
    loop();
    EXPECT_EQ(std::make_pair(n[1]->x, n[1]->y), std::make_pair(10, 1));
}

TEST_F(World, SeededPileSettlesAndKeepsEveryGrain)
{
    ASSERT_EQ(init(), 1);
    for (int step = 0; step < 400; step++)
        loop();
    EXPECT_EQ(world_invariant(), "");
    EXPECT_EQ(grain_count(), 57437);
    // Settled: a further step moves nothing. The floor row is full.
    std::vector<cell> before = grain_cells();
    loop();
    ASSERT_TRUE(grain_cells() == before);
    for (int x = 1; x <= 199; x++)
        EXPECT_NE(matrix[x][1], nullptr) << x;
}

// ---- the brush ----

// Fills every cell of columns 1..200 and rows 1..299 (nothing can move), sets
// the pointer from a window pixel through the pointer read, runs a pressed
// step, and returns the cells it cleared.
std::set<std::pair<int, int>> brush_from_pixel(Uint16 px, Uint16 py)
{
    reset_world();
    std::vector<grain *> n = make_list(200 * 299);
    size_t k = 0;
    for (int x = 1; x <= 200; x++)
        for (int y = 1; y <= 299; y++)
            place(n[k++], x, y);
    mouse_event = button_event(SDL_MOUSEBUTTONDOWN, px, py);
    mouse_buttons = SDL_BUTTON_LMASK;
    mouse_info = vesk_Got_Mouse(screen);
    loop();
    std::set<std::pair<int, int>> cleared;
    for (int x = 1; x <= 200; x++)
        for (int y = 1; y <= 299; y++)
            if (!matrix[x][y])
                cleared.insert({x, y});
    return cleared;
}

std::set<std::pair<int, int>> cells(int x0, int x1, int y0, int y1)
{
    std::set<std::pair<int, int>> out;
    for (int x = x0; x <= x1; x++)
        for (int y = y0; y <= y1; y++)
            out.insert({x, y});
    return out;
}

TEST_F(World, BrushClearsNineByNineAroundThePointer)
{
    EXPECT_EQ(brush_from_pixel(100, 150), cells(96, 104, 146, 154));
    EXPECT_EQ(grain_count(), 200 * 299 - 81);
    EXPECT_EQ(world_invariant(), "");
}

TEST_F(World, BrushIsClippedToColumns2To199AndRows2To299)
{
    EXPECT_EQ(brush_from_pixel(0, 0), cells(2, 4, 296, 299));       // centre (0, 300)
    EXPECT_EQ(brush_from_pixel(199, 299), cells(195, 199, 2, 4));   // centre (199, 0)
    EXPECT_EQ(brush_from_pixel(199, 0), cells(195, 199, 296, 299)); // never column 200
}

TEST_F(World, BrushCentreTruncatesThePointer)
{
    EXPECT_EQ(brush_from_pixel(1, 150), brush_from_pixel(0, 150)); // both centre column 0
    EXPECT_EQ(brush_from_pixel(100, 4), cells(96, 104, 292, 299)); // centre row 296
    EXPECT_EQ(brush_from_pixel(100, 5), cells(96, 104, 290, 298)); // centre row 294
    // No pointer column gives centre column 3, nor any row centre row 295.
    std::set<int> columns, rows;
    for (Uint16 p = 0; p < 400; p++) {
        mouse_event = motion_event(p, p, 0);
        mouse_state m = vesk_Got_Mouse(screen);
        columns.insert(brush_column(m.x));
        rows.insert(brush_row(m.y));
    }
    EXPECT_TRUE(columns.count(2));
    EXPECT_FALSE(columns.count(3));
    EXPECT_TRUE(rows.count(296));
    EXPECT_FALSE(rows.count(295));
    EXPECT_EQ(brush_column(std::numeric_limits<float>::quiet_NaN()), brush_column(1e9f));
}

TEST_F(World, BrushIsIdleUnlessPressedIsExactlyOne)
{
    std::vector<grain *> n = make_list(1);
    place(n[0], 100, 150);
    for (int pressed : {0, 2, -1}) {
        mouse_info = {0, 0, pressed};
        loop();
    }
    EXPECT_EQ(grain_count(), 1);
}

// ---- drawing and the frame order ----

TEST_F(World, GridMapsOntoPixels)
{
    // Column x lands on pixel column x - 1 up to 100, on 100 for 101, x - 2 from 102.
    std::vector<grain *> n = make_list(1);
    for (int x = 1; x <= 200; x++) {
        place(n[0], x, 1);
        SDL_FillRect(screen, nullptr, 0);
        loop();
        matrix[x][1] = nullptr;
        int expected = x <= 100 ? x - 1 : (x == 101 ? 100 : x - 2);
        ASSERT_EQ(pixel_at(screen, expected, 299), green) << x;
        ASSERT_EQ(count_pixels(screen, green), 1);
    }
    // Row y lands on pixel row 300 - y up to 150 and on 301 - y from 151.
    for (int y = 1; y <= 299; y++) {
        place(n[0], 1, y);
        SDL_FillRect(screen, nullptr, 0);
        loop(); // draws before it falls
        matrix[n[0]->x][n[0]->y] = nullptr;
        int expected = y <= 150 ? 300 - y : 301 - y;
        ASSERT_EQ(pixel_at(screen, 0, expected), green) << y;
    }
}

TEST_F(World, StepDrawsEveryCellWhereThePerGrainArithmeticPutsIt)
{
    // Every cell a grain can hold, one grain at a time: the step draws it at
    // the pixel that float(x / 101 - 1) and float(y / 151 - 1), passed to the
    // pixel writer's formula, give.
    std::vector<grain *> n = make_list(1);
    int drawn = 0;
    for (int x = 1; x <= 200; x++)
        for (int y = 1; y <= 299; y++) {
            place(n[0], x, y);
            loop();
            matrix[n[0]->x][n[0]->y] = nullptr;
            int column = ref_column(x), row = ref_row(y);
            if (pixel_at(screen, column, row) != green)
                FAIL() << "cell (" << x << ", " << y << ") not drawn at pixel (" << column << ", "
                       << row << ")";
            SDL_Rect at = {static_cast<Sint16>(column), static_cast<Sint16>(row), 1, 1};
            SDL_FillRect(screen, &at, 0);
            drawn++;
        }
    EXPECT_EQ(drawn, 200 * 299);
    EXPECT_EQ(count_pixels(screen, 0), 200 * 300) << "a grain was drawn somewhere else too";
}

TEST_F(World, SurfaceThatMustBeLockedIsLockedAroundEachGrainAndDrawsTheSame)
{
#if !defined(SDL_RLEACCEL) || !defined(SDL_MUSTLOCK)
    GTEST_SKIP() << "this SDL has no surfaces that must be locked";
#else
    // A software surface run-length encoded by a blit must be locked before
    // its pixels are touched (the SDL 2 backed runtime never asks for it).
    SDL_Surface *plain = make_surface(WINDOW_WIDTH, WINDOW_HEIGHT, 2);
    SDL_Surface *encoded = make_surface(WINDOW_WIDTH, WINDOW_HEIGHT, 2);
    SDL_SetColorKey(encoded, SDL_SRCCOLORKEY | SDL_RLEACCEL, 1); // a key never drawn
    SDL_BlitSurface(encoded, nullptr, plain, nullptr);
    if (!SDL_MUSTLOCK(encoded)) {
        SDL_FreeSurface(plain);
        SDL_FreeSurface(encoded);
        GTEST_SKIP() << "this SDL runtime gives no software surface that must be locked";
    }
    SDL_Surface *const display = screen;
    for (SDL_Surface *s : {plain, encoded}) {
        reset_world();
        std::vector<grain *> n = make_list(5);
        const int at[][2] = {{50, 1}, {50, 2}, {120, 200}, {1, 299}, {200, 3}};
        for (int i = 0; i < 5; i++)
            place(n[i], at[i][0], at[i][1]);
        screen = s;
        reset_calls();
        loop();
    }
    screen = display;
    EXPECT_EQ(calls.locks, 5);
    EXPECT_EQ(calls.unlocks, 5);
    EXPECT_EQ(count_pixels(plain, green), 5);
    SDL_LockSurface(encoded);
    for (int row = 0; row < WINDOW_HEIGHT; row++)
        for (int column = 0; column < WINDOW_WIDTH; column++)
            ASSERT_EQ(pixel_at(encoded, column, row), pixel_at(plain, column, row))
                << column << ", " << row;
    SDL_UnlockSurface(encoded);
    SDL_FreeSurface(plain);
    SDL_FreeSurface(encoded);
#endif
}

TEST_F(World, FirstFrameShowsTheCrosshairAndGrainsShowOneFrameLate)
{
    ASSERT_EQ(init(), 1);
    std::set<std::pair<int, int>> seeded_pixels;
    for (cell c : grain_cells())
        seeded_pixels.insert({ref_column(c.x), ref_row(c.y)});
    EXPECT_EQ(frame(), 0);
    ASSERT_EQ(calls.presents, 1);
    int white_shown = 0, green_shown = 0;
    for (uint32_t v : calls.shown) {
        white_shown += v == white;
        green_shown += v == green;
    }
    EXPECT_EQ(green_shown, 0);
    // The pointer is at the top-left corner: only the on-screen part of the X.
    EXPECT_GT(white_shown, 0);
    EXPECT_EQ(calls.shown[0], white);
    // Every lock has its unlock, and the surface is never presented locked.
    EXPECT_GT(calls.locks, 0);
    EXPECT_EQ(calls.unlocks, calls.locks);
    EXPECT_EQ(calls.locked_presents, 0);

    frame();
    // Green where the grains stood before the first step, but where the X is drawn over them.
    std::set<std::pair<int, int>> shown_green, under_x;
    for (int row = 0; row < 300; row++)
        for (int column = 0; column < 200; column++) {
            uint32_t v = calls.shown[row * 200 + column];
            if (v == green)
                shown_green.insert({column, row});
            if (v == white && seeded_pixels.count({column, row}))
                under_x.insert({column, row});
        }
    EXPECT_LT(under_x.size(), 20u);
    for (auto &p : under_x)
        shown_green.insert(p);
    EXPECT_EQ(shown_green, seeded_pixels);
}

TEST_F(World, FrameReportsAQuitAndStillRunsItsStep)
{
    std::vector<grain *> n = make_list(1);
    place(n[0], 10, 10);
    push_plain(SDL_QUIT);
    EXPECT_EQ(frame(), 1);
    EXPECT_EQ(n[0]->y, 9);
    EXPECT_EQ(calls.presents, 1);
}

TEST_F(World, CrosshairFollowsThePointer)
{
    push_motion(100, 150, 0);
    frame();
    // Two 67-point diagonals through the centre, 10 pixels each way across.
    auto at = [](int column, int row) { return calls.shown[row * 200 + column]; };
    EXPECT_EQ(at(110, 134), white); // (0.1, 0.1)
    EXPECT_EQ(at(110, 165), white); // (0.1, -0.1)
    EXPECT_EQ(at(100, 150), white);
    int whites = 0;
    for (uint32_t v : calls.shown)
        whites += v == white;
    EXPECT_GT(whites, 60);
    for (int row = 0; row < 300; row++)
        for (int column = 0; column < 200; column++)
            if (at(column, row) == white) {
                ASSERT_LE(std::abs(column - 100), 10);
                ASSERT_LE(std::abs(row - 150), 16);
            }
}

} // namespace
