// bench_vesk.cpp: Google Benchmark suite over the program's own code (vesk_core).
//
// Runs on the dummy video driver with the window the program opens (200 x 300,
// 16 bits asked for, SDL_ANYFORMAT) and the world seeded as at start-up; built
// as vesk_bench_window (VESK_BENCH_WINDOW), on the driver the environment
// names, with the platform's settings and its window beneath.
// Every world benchmark works on that one grain list, so the step and the
// floor walk the same heap nodes at the same addresses:
//   seed           init() from an empty world: 199,999 creer calls and the
//                  placement walk (the world under test is set aside meanwhile)
//   step_fresh     one loop() on the freshly seeded world (positions restored
//                  outside the timing before each step)
//   step_settled   one loop() once the pile has stopped moving
//   floor_walk     the floor: a bare walk of the list from head along next
//                  reading each grain's x and y
//   step_vs_floor  step_settled and floor_walk taken turn about in one loop,
//                  each timed on its own; their ratio is the "ratio" counter
//   floor_walk_after_delay  the same walk right after a FRAME_DELAY_MS sleep
//   frame          one frame's work without the delay: frame() on the settled
//                  world with an empty event queue
//   frame_pace     the frame loop side by side with its delay alone: blocks of
//                  PACE_BLOCK_FRAMES rounds of SDL_Delay(FRAME_DELAY_MS), then
//                  the same with frame() after each delay, taken turn about;
//                  "pace" is the median over the pairs of blocks of the loop's
//                  frame rate over the delay's, in percent; work_ms is the
//                  median time of frame() right after its delay
//   pump, pointer, present, giv_pixel, bresline_crosshair: the parts of a frame
//   present_full   a present in which every row changed (a fill of the whole
//                  surface, then present and clear), on the wall clock: in a
//                  window (vesk_bench_window on X11) it includes the display
//                  server's share
// At exit the medians of step_settled and step_fresh are printed as ratios
// to the floor's median of the same run.
#include "kit.h"
#ifdef VESK_BENCH_WINDOW
#include "platform.h"
#endif

#include <benchmark/benchmark.h>

#include <malloc.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <string>
#include <vector>

namespace
{

// Frames in each block of the side-by-side frame loop, and pairs of blocks
// in one run of it (PACE_BLOCK_FRAMES * PACE_PAIRS * 2 frames, about 3 s).
const int PACE_BLOCK_FRAMES = 10;
const int PACE_PAIRS = 15;
// Walks of the floor right after a delay, as many as the side by side loop's frames.
const int AFTER_DELAY_WALKS = PACE_BLOCK_FRAMES * PACE_PAIRS;
// Steps allowed for the seeded pile to settle (it takes about 300).
const int SETTLE_LIMIT = 2000;
// Points the pixel writer benchmark cycles through (a power of two).
const int PIXEL_POINTS = 4096;
// Half the crosshair's extent, as frame() draws it, in normalized units.
const float CROSSHAIR_REACH = 0.1f;

std::vector<cell> fresh_cells;   // every grain's cell right after seeding, in list order
std::vector<cell> settled_cells; // every grain's cell once the pile stopped moving
int settle_steps;                // steps the pile took to stop moving

// Puts every grain back at the cell it had in cells and rebuilds the grid.
void restore(const std::vector<cell> &cells)
{
    std::memset(matrix, 0, sizeof matrix);
    size_t i = 0;
    for (grain *g = head; g && g->next; g = g->next, i++) {
        g->x = cells[i].x;
        g->y = cells[i].y;
        matrix[g->x][g->y] = g;
    }
}

// SDL and the seeded world, then the settled one; false when either fails.
bool start()
{
#ifdef VESK_BENCH_WINDOW
    platform_prepare(); // SDL's settings as the program has them (software presentation)
#endif
    if (!kit_start("vesk_bench", "dummy"))
        return false;
    if (!init()) {
        std::fprintf(stderr, "vesk_bench: out of memory for the grains\n");
        return false;
    }
    fresh_cells = grain_cells();
    for (settle_steps = 0; settle_steps < SETTLE_LIMIT; settle_steps++) {
        std::vector<cell> before = grain_cells();
        loop();
        if (grain_cells() == before)
            break;
    }
    settled_cells = grain_cells();
    SDL_FillRect(screen, nullptr, 0);
    return true;
}

void seed(benchmark::State &state)
{
    static grain *saved_matrix[WORLD_COLUMNS + 1][WORLD_ROWS + 1];
    for (auto _ : state) {
        state.PauseTiming();
        grain *saved_head = head, *saved_tail = tail;
        std::memcpy(saved_matrix, matrix, sizeof matrix);
        set_world_aside();
        state.ResumeTiming();

        benchmark::DoNotOptimize(init());

        state.PauseTiming();
        reset_world();
        // Give the freed nodes back, so the next seeding starts from fresh
        // memory as the program's does.
        malloc_trim(0);
        head = saved_head;
        tail = saved_tail;
        std::memcpy(matrix, saved_matrix, sizeof matrix);
        state.ResumeTiming();
    }
}

void step_fresh(benchmark::State &state)
{
    for (auto _ : state) {
        state.PauseTiming();
        restore(fresh_cells);
        state.ResumeTiming();
        loop();
    }
    restore(settled_cells);
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(fresh_cells.size()));
}

void step_settled(benchmark::State &state)
{
    restore(settled_cells);
    for (auto _ : state)
        loop();
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(settled_cells.size()));
}

void frame_work(benchmark::State &state)
{
    restore(settled_cells);
    for (auto _ : state)
        benchmark::DoNotOptimize(frame());
}

void floor_walk(benchmark::State &state)
{
    restore(settled_cells);
    for (auto _ : state)
        benchmark::DoNotOptimize(::floor_walk());
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(settled_cells.size()));
}

// The floor as the frame loop meets it: the walk right after the frame delay,
// when other work on the machine has had FRAME_DELAY_MS to evict the nodes.
void floor_walk_after_delay(benchmark::State &state)
{
    restore(settled_cells);
    for (auto _ : state) {
        state.PauseTiming();
        SDL_Delay(FRAME_DELAY_MS);
        state.ResumeTiming();
        benchmark::DoNotOptimize(::floor_walk());
    }
}

// Seconds on the wall clock, or of this thread's CPU time.
double seconds_now(clockid_t clock = CLOCK_MONOTONIC)
{
    timespec t;
    clock_gettime(clock, &t);
    return t.tv_sec + t.tv_nsec * 1e-9;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    size_t n = v.size();
    return n == 0 ? 0 : n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// The settled step and the floor taken turn about, each timed on its own in
// CPU time; the counters are the medians over the iterations of the floor,
// the step and the step over the floor of the same iteration, so that load
// from elsewhere on the machine falls on both alike and bursts of it drop out.
void step_vs_floor(benchmark::State &state)
{
    restore(settled_cells);
    std::vector<double> floor, step, ratio; // seconds, seconds, step / floor
    for (auto _ : state) {
        double t0 = seconds_now(CLOCK_THREAD_CPUTIME_ID);
        benchmark::DoNotOptimize(::floor_walk());
        double t1 = seconds_now(CLOCK_THREAD_CPUTIME_ID);
        loop();
        double t2 = seconds_now(CLOCK_THREAD_CPUTIME_ID);
        floor.push_back(t1 - t0);
        step.push_back(t2 - t1);
        ratio.push_back((t2 - t1) / (t1 - t0));
    }
    state.counters["floor_us"] = median(floor) * 1e6;
    state.counters["step_us"] = median(step) * 1e6;
    state.counters["ratio"] = median(ratio);
}

// The frame loop against the pace its delay allows, in one run: a block of
// PACE_BLOCK_FRAMES delays alone, then a block of the same delays each
// followed by frame(), and again. Pairs of neighbouring blocks meet the same
// load from the rest of the machine, so their ratio is steadier than either
// rate; the counters are medians over the pairs.
void frame_pace(benchmark::State &state)
{
    restore(settled_cells);
    std::vector<double> delay_fps, loop_fps, pace, work; // per pair; work per frame, seconds
    for (auto _ : state) {
        double t0 = seconds_now();
        for (int i = 0; i < PACE_BLOCK_FRAMES; i++)
            SDL_Delay(FRAME_DELAY_MS);
        double t1 = seconds_now();
        for (int i = 0; i < PACE_BLOCK_FRAMES; i++) {
            SDL_Delay(FRAME_DELAY_MS);
            double t = seconds_now();
            benchmark::DoNotOptimize(frame());
            work.push_back(seconds_now() - t);
        }
        double t2 = seconds_now();
        delay_fps.push_back(PACE_BLOCK_FRAMES / (t1 - t0));
        loop_fps.push_back(PACE_BLOCK_FRAMES / (t2 - t1));
        pace.push_back((t1 - t0) / (t2 - t1) * 100);
    }
    state.counters["delay_fps"] = median(delay_fps);
    state.counters["loop_fps"] = median(loop_fps);
    state.counters["pace"] = median(pace);
    state.counters["work_ms"] = median(work) * 1e3;
}

void pump(benchmark::State &state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(vesk_Loop());
}

void pointer(benchmark::State &state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(vesk_Got_Mouse(screen));
}

void present(benchmark::State &state)
{
    for (auto _ : state)
        vesk_Refresh(screen);
}

void present_full(benchmark::State &state)
{
    int i = 0;
    for (auto _ : state) {
        SDL_FillRect(screen, nullptr, i++ % 2 ? green : white);
        vesk_Refresh(screen);
    }
}
void giv_pixel(benchmark::State &state)
{
    // The points the step plots: grains spread over the whole grid.
    std::vector<std::pair<float, float>> points;
    for (int i = 0; i < PIXEL_POINTS; i++) {
        int x = 1 + (i * 37) % WORLD_COLUMNS, y = 1 + (i * 101) % (WORLD_ROWS - 1);
        points.push_back({static_cast<float>(x / 101.0 - 1), static_cast<float>(y / 151.0 - 1)});
    }
    SDL_LockSurface(screen);
    int i = 0;
    for (auto _ : state) {
        vesk_Giv_Pixel(screen, points[i].first, points[i].second, green);
        i = (i + 1) & (PIXEL_POINTS - 1);
    }
    SDL_UnlockSurface(screen);
    benchmark::ClobberMemory();
    SDL_FillRect(screen, nullptr, 0);
}

void bresline_crosshair(benchmark::State &state)
{
    for (auto _ : state)
        bresline(screen, CROSSHAIR_REACH, -CROSSHAIR_REACH, CROSSHAIR_REACH, -CROSSHAIR_REACH,
                 white);
    SDL_FillRect(screen, nullptr, 0);
}

// The console report, then a summary of the medians: CPU time, which leaves
// out the time other processes held the CPU, but wall-clock time for the
// frame loop, which sleeps.
class ratio_reporter : public benchmark::ConsoleReporter
{
  public:
    void ReportRuns(const std::vector<Run> &reports) override
    {
        for (const Run &run : reports)
            if (run.aggregate_name == "median" || run.repetitions <= 1) {
                double scale = benchmark::GetTimeUnitMultiplier(run.time_unit);
                std::string name = run.run_name.function_name;
                double t = run.run_name.time_type.empty() ? run.GetAdjustedCPUTime()
                                                          : run.GetAdjustedRealTime();
                medians[name] = t / scale * 1e6; // microseconds
                auto pace = run.counters.find("pace");
                if (pace != run.counters.end()) {
                    pace_percent = pace->second.value;
                    delay_fps = run.counters.at("delay_fps").value;
                    loop_fps = run.counters.at("loop_fps").value;
                }
                auto ratio = run.counters.find("ratio");
                if (ratio != run.counters.end()) {
                    paired_ratio = ratio->second.value;
                    paired_floor_us = run.counters.at("floor_us").value;
                    paired_step_us = run.counters.at("step_us").value;
                }
                auto work = run.counters.find("work_ms");
                if (work != run.counters.end())
                    loop_work_ms = work->second.value;
            }
        ConsoleReporter::ReportRuns(reports);
    }
    void Finalize() override
    {
        ConsoleReporter::Finalize();
        std::FILE *out = stdout;
        std::fflush(out);
        std::fprintf(out, "\nMedians (%d steps settled the pile):\n", settle_steps);
        for (const auto &m : medians)
            std::fprintf(out, "  %-24s %12.4g us\n", m.first.c_str(), m.second);
        if (pace_percent > 0)
            std::fprintf(out,
                         "  frame loop at %.1f %% of its delay's pace (%.1f against %.1f frames "
                         "per second), frame() %.3f ms after each delay\n",
                         pace_percent, loop_fps, delay_fps, loop_work_ms);
        double floor = medians.count("floor_walk") ? medians["floor_walk"] : 0;
        if (floor > 0) {
            for (const char *step : {"step_settled", "step_fresh", "frame"})
                if (medians.count(step))
                    std::fprintf(out, "  %-12s / floor_walk = %.2f\n", step, medians[step] / floor);
        }
        if (paired_ratio > 0)
            std::fprintf(out,
                         "  step_settled / floor_walk = %.2f taken turn about (step_vs_floor: "
                         "step %.1f us, floor %.1f us)\n",
                         paired_ratio, paired_step_us, paired_floor_us);
        std::fflush(out);
    }

  private:
    std::map<std::string, double> medians;
    double pace_percent = 0, delay_fps = 0, loop_fps = 0;
    double loop_work_ms = 0;
    double paired_ratio = 0, paired_floor_us = 0, paired_step_us = 0;
};

} // namespace

BENCHMARK(seed)->Unit(benchmark::kMillisecond);
BENCHMARK(step_fresh)->Unit(benchmark::kMicrosecond);
BENCHMARK(step_settled)->Unit(benchmark::kMicrosecond);
BENCHMARK(floor_walk)->Unit(benchmark::kMicrosecond);
BENCHMARK(step_vs_floor)->Unit(benchmark::kMicrosecond);
BENCHMARK(floor_walk_after_delay)->Iterations(AFTER_DELAY_WALKS)->Unit(benchmark::kMicrosecond);
BENCHMARK(frame_work)->Name("frame")->Unit(benchmark::kMicrosecond);
BENCHMARK(frame_pace)->Iterations(PACE_PAIRS)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(pump)->Unit(benchmark::kNanosecond);
BENCHMARK(pointer)->Unit(benchmark::kNanosecond);
BENCHMARK(present)->Unit(benchmark::kMicrosecond);
BENCHMARK(present_full)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(giv_pixel)->Unit(benchmark::kNanosecond);
BENCHMARK(bresline_crosshair)->Unit(benchmark::kNanosecond);

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    if (!start())
        return 1;
    ratio_reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    SDL_Quit();
    return 0;
}
