// test_alloc.cpp: after start-up, nothing allocates memory: not a world step,
// not a brush stroke, not a whole frame with SDL's event pump, present and
// clear on the dummy video driver.
//
// A binary of its own: it replaces malloc, calloc, realloc, the aligned
// allocators, free and operator new and delete, forwarding to glibc's
// __libc_* functions and counting the calls made while `counting` is set.
// SDL's calls reach these too (the executable's definitions come first in
// symbol lookup), which the first test checks.
#include "kit.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
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
std::atomic<long> allocations{0}; // calls that may allocate: malloc, calloc, realloc, new, ...
std::atomic<long> releases{0};    // free and delete of a non-null block

void count_allocation()
{
    if (counting)
        allocations++;
}

void count_release(void *block)
{
    if (counting && block)
        releases++;
}

} // namespace

extern "C" {
void *malloc(size_t size)
{
    count_allocation();
    return __libc_malloc(size);
}

void *calloc(size_t count, size_t size)
{
    count_allocation();
    return __libc_calloc(count, size);
}

void *realloc(void *block, size_t size)
{
    count_allocation();
    return __libc_realloc(block, size);
}

void *memalign(size_t alignment, size_t size)
{
    count_allocation();
    return __libc_memalign(alignment, size);
}

void *aligned_alloc(size_t alignment, size_t size)
{
    count_allocation();
    return __libc_memalign(alignment, size);
}

int posix_memalign(void **out, size_t alignment, size_t size)
{
    count_allocation();
    void *block = __libc_memalign(alignment, size);
    if (!block)
        return ENOMEM;
    *out = block;
    return 0;
}

void free(void *block)
{
    count_release(block);
    __libc_free(block);
}
}

void *operator new(size_t size)
{
    count_allocation();
    if (void *block = __libc_malloc(size ? size : 1))
        return block;
    throw std::bad_alloc();
}

void *operator new[](size_t size)
{
    return operator new(size);
}

void *operator new(size_t size, const std::nothrow_t &) noexcept
{
    count_allocation();
    return __libc_malloc(size ? size : 1);
}

void *operator new[](size_t size, const std::nothrow_t &tag) noexcept
{
    return operator new(size, tag);
}

void operator delete(void *block) noexcept
{
    count_release(block);
    __libc_free(block);
}

void operator delete[](void *block) noexcept
{
    operator delete(block);
}

void operator delete(void *block, size_t) noexcept
{
    operator delete(block);
}

void operator delete[](void *block, size_t) noexcept
{
    operator delete(block);
}

namespace
{

// Counts the allocations and releases made while it lives.
struct counted {
    long allocations_before = allocations, releases_before = releases;
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
    long own, sdls;
    {
        counted c;
        void *volatile block = std::malloc(16);
        std::free(block);
        int *volatile number = new int(1);
        delete number;
        own = c.allocated();
        EXPECT_EQ(c.released(), 2);
    }
    EXPECT_EQ(own, 2);
    {
        counted c;
        SDL_Surface *s = SDL_CreateRGBSurface(SDL_SWSURFACE, 8, 8, 16, 0, 0, 0, 0);
        ASSERT_NE(s, nullptr);
        SDL_FreeSurface(s);
        sdls = c.allocated();
    }
    EXPECT_GT(sdls, 0) << "SDL's allocations are not seen";
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
    {
        counted c;
        for (int i = 0; i < 20; i++)
            frame();
        EXPECT_EQ(c.allocated(), 0);
        EXPECT_EQ(c.released(), 0);
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
}

} // namespace
