// Long runs of the grain world with random brush strokes anywhere on and off
// the grid, checked after every single step against the kit's reference.
//
// Conventions:
//   - Each run is bounded by a step count (31,000 steps in all; a quarter
//     of that in the sanitizer build); the generator is seeded, so a
//     failure names a step that reproduces.
//   - After each step the world must be the reference's (kit.h's
//     ref_step and against_reference): the same grains in the same order
//     at the same cells, and the whole world invariant: every listed grain
//     but the spare tail in its own cell inside the grid, every occupied
//     cell a listed grain at that position, column 0 and rows 0 and 300
//     empty (the sanitizer build also puts redzones around `matrix`).
//   - The pointer goes anywhere: on the grid, at its edges, far off, huge,
//     and not finite (the kit's SPECIAL_FLOATS, NaN and the infinities
//     among them), with pressed flags other than 1 too.
#include "support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

namespace
{

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

// Pointer coordinates: on the grid, at its edges, just off, far off, huge, not finite.
float pointer_value(std::mt19937 &rng)
{
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
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
        return SPECIAL_FLOATS[rng() % SPECIAL_FLOAT_COUNT];
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

// Runs `steps` world steps with strokes, each checked against the
// reference; `rain` adds grains at empty cells near the top between steps.
void long_run(int steps, bool rain, std::mt19937 &rng, run_figures *fig)
{
    ref_world w = ref_from_world();
    ASSERT_EQ(against_reference(w), "") << "before the first step";
    stroke s = new_stroke(rng);
    fig->strokes++;
    for (int step = 0; step < steps; step++) {
        if (s.done == s.steps) {
            s = new_stroke(rng);
            fig->strokes++;
        }
        mouse_info = stroke_point(s);
        s.done++;
        int before = grain_count();
        loop();
        ref_step(w, mouse_info);
        ASSERT_EQ(against_reference(w), "")
            << "step " << step << ", pointer (" << mouse_info.x << ", " << mouse_info.y
            << ") pressed " << mouse_info.pressed;
        fig->steps++;
        int now = grain_count();
        fig->wiped += before - now;
        if (!rain || now >= RAIN_MOST)
            continue;
        int n = static_cast<int>(rng() % (RAIN_PER_STEP + 1));
        for (int i = 0; i < n; i++) {
            int x = FIRST_COLUMN + static_cast<int>(rng() % LAST_COLUMN);
            int y = RAIN_LOW_ROW + static_cast<int>(rng() % (LAST_ROW - RAIN_LOW_ROW + 1));
            if (matrix[x][y])
                continue;
            grain *g = tail; // the spare becomes a grain, creer gives a new spare
            ASSERT_NE(creer(), nullptr);
            place(g, x, y);
            ref_add(w, x, y);
            fig->added++;
        }
    }
}

using LongRun = fresh_world;

TEST_F(LongRun, SeededWorldWithStrokesAnywhereMatchesTheReferenceEveryStep)
{
    ASSERT_EQ(init(), 1);
    std::mt19937 rng(SEED);
    run_figures fig;
    long_run(SEEDED_STEPS, false, rng, &fig);
    std::printf("seeded world: %ld steps checked, %ld strokes, %ld grains wiped, %d left\n",
                fig.steps, fig.strokes, fig.wiped, grain_count());
    EXPECT_GT(fig.wiped, 0);
}

TEST_F(LongRun, RainingWorldWithStrokesAnywhereMatchesTheReferenceEveryStep)
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
