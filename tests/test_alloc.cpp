// test_alloc.cpp: after start-up, nothing allocates memory: not a world step,
// not a brush stroke, not a whole frame with SDL's event pump, present and
// clear on the dummy video driver.
//
// A binary of its own: it replaces malloc, calloc, realloc, the aligned
// allocators, free and operator new and delete, forwarding to glibc's
// __libc_* functions and counting the calls made while `counting` is set.
// SDL's calls reach these too (the executable's definitions come first in
// symbol lookup), which the first test checks. An allocation is the
// program's own when the allocator's caller is in the executable's code;
// only those must be none. The SDL runtime's own (the SDL2-backed one
// allocates in its event pump and present) are counted apart, and reported.
#include "kit.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

extern "C" {
void *__libc_malloc(size_t size);
void *__libc_calloc(size_t count, size_t size);
void *__libc_realloc(void *block, size_t size);
void *__libc_memalign(size_t alignment, size_t size);
void __libc_free(void *block);
}

namespace
{

std::atomic<bool> counting{false};
std::atomic<long> allocations{0};       // by the program's own code: malloc, calloc, new, ...
std::atomic<long> other_allocations{0}; // by the libraries' code (SDL's)
std::atomic<long> releases{0};          // free and delete of a non-null block, by its code

// The executable's code, from the linker's symbols.
extern "C" char __executable_start[], etext[];

// Each allocator is kept out of line, so that its return address is its caller's.
#define ALLOCATOR extern "C" __attribute__((noinline))
#define CALLER __builtin_return_address(0)

bool own(const void *caller)
{
    return caller >= __executable_start && caller < etext;
}

void count_allocation(const void *caller)
{
    if (counting)
        (own(caller) ? allocations : other_allocations)++;
}

void count_release(void *block, const void *caller)
{
    if (counting && block && own(caller))
        releases++;
}

} // namespace

ALLOCATOR void *malloc(size_t size)
{
    count_allocation(CALLER);
    return __libc_malloc(size);
}

ALLOCATOR void *calloc(size_t count, size_t size)
{
    count_allocation(CALLER);
    return __libc_calloc(count, size);
}

ALLOCATOR void *realloc(void *block, size_t size)
{
    count_allocation(CALLER);
    return __libc_realloc(block, size);
}

ALLOCATOR void *memalign(size_t alignment, size_t size)
{
    count_allocation(CALLER);
    return __libc_memalign(alignment, size);
}

ALLOCATOR void *aligned_alloc(size_t alignment, size_t size)
{
    count_allocation(CALLER);
    return __libc_memalign(alignment, size);
}

ALLOCATOR int posix_memalign(void **out, size_t alignment, size_t size)
{
    count_allocation(CALLER);
    void *block = __libc_memalign(alignment, size);
    if (!block)
        return ENOMEM;
    *out = block;
    return 0;
}

ALLOCATOR void free(void *block)
{
    count_release(block, CALLER);
    __libc_free(block);
}

// new and delete, each counted for its own caller.
static void *allocate(size_t size, const void *caller)
{
    count_allocation(caller);
    return __libc_malloc(size ? size : 1);
}

static void *allocate_or_throw(size_t size, const void *caller)
{
    if (void *block = allocate(size, caller))
        return block;
    throw std::bad_alloc();
}

static void release(void *block, const void *caller)
{
    count_release(block, caller);
    __libc_free(block);
}

#define NOINLINE __attribute__((noinline))
NOINLINE void *operator new(size_t size)
{
    return allocate_or_throw(size, CALLER);
}
NOINLINE void *operator new[](size_t size)
{
    return allocate_or_throw(size, CALLER);
}
NOINLINE void *operator new(size_t size, const std::nothrow_t &) noexcept
{
    return allocate(size, CALLER);
}
NOINLINE void *operator new[](size_t size, const std::nothrow_t &) noexcept
{
    return allocate(size, CALLER);
}
NOINLINE void operator delete(void *block) noexcept
{
    release(block, CALLER);
}
NOINLINE void operator delete[](void *block) noexcept
{
    release(block, CALLER);
}
NOINLINE void operator delete(void *block, size_t) noexcept
{
    release(block, CALLER);
}
NOINLINE void operator delete[](void *block, size_t) noexcept
{
    release(block, CALLER);
}

namespace
{

// Counts the allocations and releases made while it lives.
struct counted {
    long allocations_before = allocations, releases_before = releases,
         others_before = other_allocations;
    counted()
    {
        counting = true;
    }
    ~counted()
    {
        counting = false;
    }
    long allocated() const
    {
        return allocations - allocations_before;
    }
    long released() const
    {
        return releases - releases_before;
    }
    long allocated_by_libraries() const
    {
        return other_allocations - others_before;
    }
};

// The world seeded as at start-up, once for all the tests, which run in order
// on it (SDL is started by gtest_main.cpp).
struct Allocation : ::testing::Test {
    static void SetUpTestSuite()
    {
        ASSERT_EQ(init(), 1);
    }
};

TEST_F(Allocation, TheCountersSeeTheProgramsAndSDLsCalls)
{
    long own, sdls, sdls_as_own;
    {
        counted c;
        void *volatile block = std::malloc(16);
        std::free(block);
        int *volatile number = new int(1);
        delete number;
        int *volatile numbers = new int[4];
        delete[] numbers;
        own = c.allocated();
        EXPECT_EQ(c.released(), 3);
    }
    EXPECT_EQ(own, 3);
    {
        counted c;
        SDL_Surface *s = SDL_CreateRGBSurface(SDL_SWSURFACE, 8, 8, 16, 0, 0, 0, 0);
        ASSERT_NE(s, nullptr);
        SDL_FreeSurface(s);
        sdls = c.allocated_by_libraries();
        sdls_as_own = c.allocated();
    }
    EXPECT_GT(sdls, 0) << "SDL's allocations are not seen";
    EXPECT_EQ(sdls_as_own, 0) << "SDL's allocations are taken for the program's";
}

TEST_F(Allocation, WorldStepsAllocateNothing)
{
    ASSERT_EQ(grain_count(), 57437) << "the world is seeded and untouched";
    mouse_info = mouse_state();
    counted c;
    // From the freshly seeded world until the pile has settled.
    for (int step = 0; step < 100; step++)
        loop();
    EXPECT_EQ(c.allocated(), 0);
    EXPECT_EQ(c.released(), 0);
}

TEST_F(Allocation, BrushStrokesAllocateNothingAndFreeTheGrainsTheyWipeOut)
{
    int before = grain_count();
    long allocated, released;
    {
        counted c;
        for (int step = 0; step < 20; step++) {
            mouse_info.x = static_cast<float>(-0.5 + step * 0.05);
            mouse_info.y = -0.5f;
            mouse_info.pressed = 1;
            loop();
        }
        allocated = c.allocated();
        released = c.released();
    }
    mouse_info = mouse_state();
    int wiped = before - grain_count();
    EXPECT_GT(wiped, 0);
    EXPECT_EQ(allocated, 0);
    EXPECT_EQ(released, wiped);
}

TEST_F(Allocation, FramesAllocateNothing)
{
    // Empty event queue.
    long by_sdl;
    {
        counted c;
        for (int i = 0; i < 20; i++)
            frame();
        EXPECT_EQ(c.allocated(), 0);
        EXPECT_EQ(c.released(), 0);
        by_sdl = c.allocated_by_libraries();
    }
    // Events waiting: pointer motion and a pressed button, then its release.
    int before = grain_count();
    ASSERT_EQ(push_motion(100, 200, SDL_BUTTON(1)), 0);
    ASSERT_EQ(push_button(SDL_MOUSEBUTTONDOWN, 100, 200), 0);
    long allocated, released;
    {
        counted c;
        frame();
        frame();
        allocated = c.allocated();
        released = c.released();
        by_sdl += c.allocated_by_libraries();
    }
    ASSERT_EQ(push_button(SDL_MOUSEBUTTONUP, 100, 200), 0);
    {
        counted c;
        frame();
        EXPECT_EQ(c.allocated(), 0);
    }
    EXPECT_GT(before - grain_count(), 0) << "the pressed frames wiped grains out";
    EXPECT_EQ(allocated, 0);
    EXPECT_EQ(released, before - grain_count());
    std::printf("23 frames: the SDL runtime allocated %ld times in its own code\n", by_sdl);
}

} // namespace
