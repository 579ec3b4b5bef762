// Long runs of the grain world with random brush strokes anywhere on and off
// the grid, the whole world invariant checked after every single step.
//
// Conventions:
//   - Each run is bounded by a step count (31,000 steps in all; a quarter
//     of that in the sanitizer build); the generator is seeded, so a
//     failure names a step that reproduces.
//   - The invariant (support.h's world_invariant): every listed grain but
//     the spare tail sits in its own cell inside the grid (x 1..200, y 1..299); every
//     occupied cell holds a listed grain at that position; column 0 and
//     rows 0 and 300, the cells of `matrix` outside the grid, stay empty
//     (the sanitizer build also puts redzones around `matrix` itself).
//   - Across a step (check_step): the list is the old list less some
//     grains, in the same order; a survivor moved at most one cell, down or
//     diagonally down; a grain is gone only if the brush was pressed and
//     its cell after the fall lay in the brush's square, which is then empty.
//   - The brush's square is worked out here from the pointer, independently
//     of world.cpp: centre trunc((x + 1) * 100), trunc((y + 1) * 150), nine
//     cells each way, clipped to columns 2..199 and rows 2..299.
#include "support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <vector>

namespace
{

// The brush: BRUSH_REACH cells each way from its centre, clipped to these.
const int BRUSH_REACH = 4;
const int BRUSH_MIN_X = 2, BRUSH_MAX_X = 199;
const int BRUSH_MIN_Y = 2, BRUSH_MAX_Y = 299;
// Pointer to brush centre, cells per normalized unit.
const double CELLS_PER_UNIT_X = 100.0;
const double CELLS_PER_UNIT_Y = 150.0;
// Steps of each run, and the seed of its generator. The sanitizer build is
// unoptimised and checks every access, some ten times slower: it runs a
// quarter of the steps.
#if defined(__SANITIZE_ADDRESS__)
const int STEP_DIVISOR = 4;
#else
const int STEP_DIVISOR = 1;
#endif
const int SEEDED_STEPS = 1000 / STEP_DIVISOR;
const int RAIN_STEPS = 30000 / STEP_DIVISOR;
const unsigned SEED = 20240611u;
// The rain run: grains at the start, the most kept at once, the most added a step,
// and the rows new grains appear in.
const int RAIN_START = 3000;
const int RAIN_MOST = 6000;
const int RAIN_PER_STEP = 4;
const int RAIN_LOW_ROW = 250;
// A stroke lasts 1 to STROKE_MOST steps.
const int STROKE_MOST = 40;

struct placed {
    grain *g;
    int x, y;
};

// The clipped brush square; empty when lo > hi.
struct square {
    int x_lo, x_hi, y_lo, y_hi;
    bool empty() const
    {
        return x_lo > x_hi || y_lo > y_hi;
    }
    bool holds(int x, int y) const
    {
        return x >= x_lo && x <= x_hi && y >= y_lo && y <= y_hi;
    }
};

// Brush centre cell for one pointer coordinate, or false when it is not a
// finite number the brush could reach the grid from.
bool centre(float pointer, double cells_per_unit, int *c)
{
    double v = (static_cast<double>(pointer) + 1.0) * cells_per_unit;
    if (!std::isfinite(v) || std::fabs(v) > 1e6)
        return false;
    *c = static_cast<int>(std::trunc(v));
    return true;
}

square brush_square(mouse_state m)
{
    square s = {1, 0, 1, 0};
    int cx, cy;
    if (m.pressed != 1 || !centre(m.x, CELLS_PER_UNIT_X, &cx) ||
        !centre(m.y, CELLS_PER_UNIT_Y, &cy))
        return s;
    s.x_lo = std::max(cx - BRUSH_REACH, BRUSH_MIN_X);
    s.x_hi = std::min(cx + BRUSH_REACH, BRUSH_MAX_X);
    s.y_lo = std::max(cy - BRUSH_REACH, BRUSH_MIN_Y);
    s.y_hi = std::min(cy + BRUSH_REACH, BRUSH_MAX_Y);
    return s;
}

// The listed grains (spare tail excluded) with their cells, in list order.
std::vector<placed> snapshot()
{
    std::vector<placed> out;
    for (grain *g = head; g && g->next; g = g->next)
        out.push_back({g, g->x, g->y});
    return out;
}

// What may change across one step; returns an empty string when it holds.
std::string check_step(const std::vector<placed> &before, const std::vector<placed> &after,
                       square brush, long *wiped)
{
    char why[200];
    size_t j = 0;
    for (const placed &b : before) {
        if (j < after.size() && after[j].g == b.g) {
            const placed &a = after[j++];
            bool stayed = a.x == b.x && a.y == b.y;
            bool fell = a.y == b.y - 1 && std::abs(a.x - b.x) <= 1;
            if (!stayed && !fell) {
                std::snprintf(why, sizeof why, "grain moved from (%d, %d) to (%d, %d)", b.x, b.y,
                              a.x, a.y);
                return why;
            }
            continue;
        }
        // Gone: the brush took it after its fall, so it stood within one
        // cell of the square (one row above at most).
        bool reachable = !brush.empty() && b.x >= brush.x_lo - 1 && b.x <= brush.x_hi + 1 &&
                         b.y >= brush.y_lo && b.y <= brush.y_hi + 1;
        if (!reachable) {
            std::snprintf(why, sizeof why, "grain at (%d, %d) vanished out of the brush's reach",
                          b.x, b.y);
            return why;
        }
        ++*wiped;
    }
    if (j != after.size())
        return "the list gained grains or changed order";
    for (int x = brush.x_lo; x <= brush.x_hi; x++)
        for (int y = brush.y_lo; y <= brush.y_hi; y++)
            if (matrix[x][y]) {
                std::snprintf(why, sizeof why, "cell (%d, %d) in the brush's square kept a grain",
                              x, y);
                return why;
            }
    return "";
}

// Pointer coordinates: on the grid, at its edges, just off, far off, huge, not finite.
float pointer_value(std::mt19937 &rng)
{
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    const float specials[] = {std::numeric_limits<float>::quiet_NaN(),
                              std::numeric_limits<float>::infinity(),
                              -std::numeric_limits<float>::infinity(),
                              FLT_MAX,
                              -FLT_MAX,
                              1e30f,
                              -1e30f,
                              FLT_MIN,
                              -1.0f,
                              1.0f,
                              std::numeric_limits<float>::denorm_min()};
    switch (rng() % 10) {
    case 0:
    case 1:
    case 2:
    case 3:
        return unit(rng);
    case 4:
    case 5: // within a brush's reach of an edge, on either side
        return (rng() % 2 ? 1.0f : -1.0f) + 0.1f * unit(rng);
    case 6:
    case 7: // off the grid
        return 3.0f * unit(rng) + (rng() % 2 ? 2.0f : -2.0f);
    case 8: // huge
        return std::ldexp(unit(rng), static_cast<int>(rng() % 128));
    default:
        return specials[rng() % (sizeof specials / sizeof specials[0])];
    }
}

// A brush stroke: a pressed flag held for some steps while the pointer
// slides from one point to another.
struct stroke {
    float x0, y0, x1, y1;
    int32_t pressed;
    int steps, done;
};

stroke new_stroke(std::mt19937 &rng)
{
    stroke s;
    s.x0 = pointer_value(rng);
    s.y0 = pointer_value(rng);
    bool slide = rng() % 2;
    s.x1 = slide ? pointer_value(rng) : s.x0;
    s.y1 = slide ? pointer_value(rng) : s.y0;
    const int32_t flags[] = {1, 1, 1, 1, 1, 1, 0, 0, 2, -1};
    s.pressed = flags[rng() % 10];
    s.steps = 1 + static_cast<int>(rng() % STROKE_MOST);
    s.done = 0;
    return s;
}

mouse_state stroke_point(const stroke &s)
{
    float t = s.steps > 1 ? static_cast<float>(s.done) / (s.steps - 1) : 0.0f;
    mouse_state m;
    m.x = s.x0 + (s.x1 - s.x0) * t;
    m.y = s.y0 + (s.y1 - s.y0) * t;
    if (!std::isfinite(m.x) || !std::isfinite(s.x1 - s.x0))
        m.x = s.done % 2 ? s.x1 : s.x0;
    if (!std::isfinite(m.y) || !std::isfinite(s.y1 - s.y0))
        m.y = s.done % 2 ? s.y1 : s.y0;
    m.pressed = s.pressed;
    return m;
}

struct run_figures {
    long steps = 0, strokes = 0, wiped = 0, added = 0;
};

// Runs `steps` world steps with strokes, checking everything after each;
// `rain` adds grains at empty cells near the top between steps.
void long_run(int steps, bool rain, std::mt19937 &rng, run_figures *fig)
{
    std::vector<placed> before = snapshot();
    ASSERT_EQ(world_invariant(), "") << "before the first step";
    stroke s = new_stroke(rng);
    fig->strokes++;
    for (int step = 0; step < steps; step++) {
        if (s.done == s.steps) {
            s = new_stroke(rng);
            fig->strokes++;
        }
        mouse_info = stroke_point(s);
        s.done++;
        square brush = brush_square(mouse_info);
        loop();
        std::vector<placed> after = snapshot();
        std::string broken = world_invariant();
        if (broken.empty())
            broken = check_step(before, after, brush, &fig->wiped);
        ASSERT_EQ(broken, "") << "step " << step << ", pointer (" << mouse_info.x << ", "
                              << mouse_info.y << ") pressed " << mouse_info.pressed;
        fig->steps++;
        if (rain && static_cast<int>(after.size()) < RAIN_MOST) {
            int n = static_cast<int>(rng() % (RAIN_PER_STEP + 1));
            for (int i = 0; i < n; i++) {
                int x = FIRST_COLUMN + static_cast<int>(rng() % LAST_COLUMN);
                int y = RAIN_LOW_ROW + static_cast<int>(rng() % (LAST_ROW - RAIN_LOW_ROW + 1));
                if (matrix[x][y])
                    continue;
                grain *g = tail; // the spare becomes a grain, creer gives a new spare
                ASSERT_NE(creer(), nullptr);
                place(g, x, y);
                after.push_back({g, x, y});
                fig->added++;
            }
        }
        before.swap(after);
    }
}

struct LongRun : ::testing::Test {
    void SetUp() override
    {
        reset_world();
    }
    void TearDown() override
    {
        reset_world();
    }
};

TEST_F(LongRun, SeededWorldWithStrokesAnywhereKeepsEveryInvariantEveryStep)
{
    ASSERT_EQ(init(), 1);
    std::mt19937 rng(SEED);
    run_figures fig;
    long_run(SEEDED_STEPS, false, rng, &fig);
    std::printf("seeded world: %ld steps checked, %ld strokes, %ld grains wiped, %d left\n",
                fig.steps, fig.strokes, fig.wiped, grain_count());
    EXPECT_GT(fig.wiped, 0);
}

TEST_F(LongRun, RainingWorldWithStrokesAnywhereKeepsEveryInvariantEveryStep)
{
    std::mt19937 rng(SEED + 1);
    std::vector<grain *> nodes = make_list(RAIN_START);
    int placed_count = 0;
    for (int i = 0; i < RAIN_START; i++) {
        int x = FIRST_COLUMN + static_cast<int>(rng() % LAST_COLUMN);
        int y = FIRST_ROW + static_cast<int>(rng() % LAST_ROW);
        if (matrix[x][y]) {
            detruire(nodes[i]);
            continue;
        }
        place(nodes[i], x, y);
        placed_count++;
    }
    ASSERT_EQ(grain_count(), placed_count);
    run_figures fig;
    long_run(RAIN_STEPS, true, rng, &fig);
    std::printf("raining world: %ld steps checked, %ld strokes, %ld grains added, %ld wiped, "
                "%d left\n",
                fig.steps, fig.strokes, fig.added, fig.wiped, grain_count());
    EXPECT_GT(fig.wiped, 0);
    EXPECT_GT(fig.added, 0);
}

} // namespace
