// count_instructions.cpp: instructions per phase under callgrind, which are
// repeatable where timings on a busy machine are not.
//
//   valgrind --tool=callgrind --instr-atstart=no ./vesk_count
//
// Each phase is collected on its own and dumped under its name: seed (one
// init), step_fresh (the first step after seeding), step_settled and
// floor_walk (STEPS of each once the pile has stopped moving), frame (STEPS
// frames on the settled world). Divide step_settled, floor_walk and frame by
// STEPS. Without valgrind it runs the same phases and prints nothing more.
#include "kit.h"

#include <valgrind/callgrind.h>

#include <cstdio>
#include <cstdlib>

// Steps of the settled world, walks and frames collected per phase.
static const int STEPS = 10;
// Steps after which the seeded pile has stopped moving (it takes 59).
static const int SETTLE_STEPS = 100;

int main()
{
    if (!kit_start("vesk_count", "dummy"))
        return 1;

    CALLGRIND_START_INSTRUMENTATION;
    CALLGRIND_ZERO_STATS;
    if (!init())
        return 1;
    CALLGRIND_DUMP_STATS_AT("seed");
    loop();
    CALLGRIND_DUMP_STATS_AT("step_fresh");
    CALLGRIND_STOP_INSTRUMENTATION;

    for (int i = 1; i < SETTLE_STEPS; i++)
        loop();

    volatile int32_t sink = 0;
    CALLGRIND_START_INSTRUMENTATION;
    CALLGRIND_ZERO_STATS;
    for (int i = 0; i < STEPS; i++)
        loop();
    CALLGRIND_DUMP_STATS_AT("step_settled");
    for (int i = 0; i < STEPS; i++)
        sink = sink + floor_walk();
    CALLGRIND_DUMP_STATS_AT("floor_walk");
    for (int i = 0; i < STEPS; i++)
        sink = sink + frame();
    CALLGRIND_DUMP_STATS_AT("frame");
    CALLGRIND_STOP_INSTRUMENTATION;

    SDL_Quit();
    return 0;
}
