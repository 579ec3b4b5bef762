// support.h: GoogleTest's side of the unit tests, over the kit (kit/kit.h):
// their link seams and the fixture every test of the world starts from.
//
// A binary with these seams is linked with --wrap for SDL_LockSurface,
// SDL_UnlockSurface, SDL_UpdateRect, SDL_GetTicks and malloc: the wrappers
// count the real calls, keep a copy of every presented surface, return a
// fixed clock when a test sets one, and make the program's own malloc calls
// fail when a test runs out its budget.
#ifndef VESK_TESTS_SUPPORT_H
#define VESK_TESTS_SUPPORT_H

#include "kit.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

struct sdl_calls {
    long locks;                  // real SDL_LockSurface calls
    long unlocks;                // real SDL_UnlockSurface calls
    long presents;               // SDL_UpdateRect calls
    long locked_presents;        // of those, made while a lock had no unlock yet
    std::vector<uint32_t> shown; // pixel values of the last presented surface, row-major
};
extern sdl_calls calls;
extern long long fixed_ticks; // SDL_GetTicks returns this when >= 0; -1 passes through
// malloc calls from the program's own code succeed while this is above 0
// (each call uses one) and fail once it reaches 0; -1 means no limit.
extern long malloc_budget;

void reset_calls();

// Each test starts from the world as at start-up (reset_world), an empty
// event queue, a black screen and the counters at zero; it leaves no grain.
struct fresh_world : ::testing::Test {
    void SetUp() override
    {
        drain_events();
        reset_world();
        SDL_FillRect(screen, nullptr, 0);
        reset_calls();
    }
    void TearDown() override
    {
        reset_world();
    }
};

#endif
