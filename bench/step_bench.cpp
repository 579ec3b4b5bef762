// step_bench.cpp: times the world step, natively, in the browser and on Windows.
//
//   vesk_step_bench [STEPS]   natively, on SDL's dummy video driver unless
//                             SDL_VIDEODRIVER says otherwise (also
//                             vesk_step_bench.exe, under Wine)
//   bench.html                in the browser (STEPS_DEFAULT steps)
//
// Seeds the world as the toy does on a 200 x 300 display surface, then runs
// STEPS world steps (`loop()`) back to back, each after the present-and-clear
// a frame does before it, and times only `loop()`, with the monotonic clock
// (performance.now() in the browser). No input: the pile falls, then settles.
// A warm-up world runs WARMUP_STEPS untimed steps first, so that the
// browser's engine has compiled the step with its optimising tier (as it has
// a moment into the page). It is then set aside, not freed: the timed world's
// grains get fresh memory, laid out one after another as in the toy (a list
// rebuilt from freed blocks is scattered and walks several times slower).
// A step that moves no grain marks the world settled; it stays settled.
//
// Prints a readable summary, then one line "step-timing {JSON}" with
// where ("native", "browser" or "windows"), steps, grains, settled_after (the first
// step that moved nothing, or steps if none) and median_ms of the falling
// steps, the settled steps and all steps (null for an empty phase).
// Exits 1 when SDL, the surface or the seeding fails.
#include "kit.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

static const int STEPS_DEFAULT = 600;
static const int STEPS_MAX = 100000;
static const int WARMUP_STEPS = 150;

// Set by the platform's build: the report's name for where it ran, and the
// video driver taken unless SDL_VIDEODRIVER names one ("" for SDL's choice).
static const char *const WHERE = STEP_BENCH_WHERE;
static const char *const VIDEO_DRIVER = STEP_BENCH_VIDEO_DRIVER;

// Median of times[first, last) in milliseconds, or a negative number when empty.
static double median_ms(const std::vector<double> &times, int first, int last)
{
    if (last <= first)
        return -1;
    std::vector<double> part(times.begin() + first, times.begin() + last);
    std::sort(part.begin(), part.end());
    size_t n = part.size();
    return n % 2 ? part[n / 2] : (part[n / 2 - 1] + part[n / 2]) / 2;
}

static void print_ms(const char *name, double ms, bool last)
{
    if (ms < 0)
        std::printf("\"%s\":null%s", name, last ? "" : ",");
    else
        std::printf("\"%s\":%.4f%s", name, ms, last ? "" : ",");
}

int main(int argc, char *argv[])
{
    int steps = STEPS_DEFAULT;
    if (argc > 1) {
        steps = std::atoi(argv[1]);
        if (steps < 1 || steps > STEPS_MAX) {
            std::fprintf(stderr, "vesk_step_bench: STEPS must be 1..%d\n", STEPS_MAX);
            return 1;
        }
    }
    if (!kit_start("vesk_step_bench", *VIDEO_DRIVER ? VIDEO_DRIVER : nullptr))
        return 1;
    bool seeded = init();
    for (int i = 0; seeded && i < WARMUP_STEPS; i++) {
        vesk_Refresh(screen);
        loop();
    }
    set_world_aside();
    if (!seeded || !init()) {
        std::fprintf(stderr, "vesk_step_bench: out of memory for the grains\n");
        SDL_Quit();
        return 1;
    }

    int grains = grain_count();
    std::vector<cell> cells = grain_cells();
    int settled_after = steps;
    std::vector<double> times(steps);
    for (int i = 0; i < steps; i++) {
        vesk_Refresh(screen);
        auto start = std::chrono::steady_clock::now();
        loop();
        auto stop = std::chrono::steady_clock::now();
        times[i] = std::chrono::duration<double, std::milli>(stop - start).count();
        std::vector<cell> now = grain_cells();
        if (now == cells && settled_after == steps)
            settled_after = i;
        cells.swap(now);
    }

    double falling = median_ms(times, 0, settled_after);
    double settled = median_ms(times, settled_after, steps);
    double all = median_ms(times, 0, steps);
    std::printf("world step, %s: %d grains, %d steps, settled after %d\n", WHERE, grains, steps,
                settled_after);
    std::printf("median ms: falling %.3f, settled %.3f, all %.3f\n", falling, settled, all);
    std::printf("step-timing {\"where\":\"%s\",\"steps\":%d,\"grains\":%d,\"settled_after\":%d,"
                "\"median_ms\":{",
                WHERE, steps, grains, settled_after);
    print_ms("falling", falling, false);
    print_ms("settled", settled, false);
    print_ms("all", all, true);
    std::printf("}}\n");
    std::fflush(stdout);
    SDL_FreeSurface(screen);
    SDL_Quit();
    return 0;
}
