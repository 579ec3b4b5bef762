// support.cpp: the unit tests' link seams (support.h).
#include "support.h"

sdl_calls calls;
long long fixed_ticks = -1;
long malloc_budget = -1;

extern "C" {
int __real_SDL_LockSurface(SDL_Surface *surface);
void __real_SDL_UnlockSurface(SDL_Surface *surface);
void __real_SDL_UpdateRect(SDL_Surface *screen, Sint32 x, Sint32 y, Uint32 w, Uint32 h);
Uint32 __real_SDL_GetTicks(void);
void *__real_malloc(size_t size);

void *__wrap_malloc(size_t size)
{
    if (malloc_budget == 0)
        return nullptr;
    if (malloc_budget > 0)
        malloc_budget--;
    return __real_malloc(size);
}

int __wrap_SDL_LockSurface(SDL_Surface *surface)
{
    calls.locks++;
    return __real_SDL_LockSurface(surface);
}

void __wrap_SDL_UnlockSurface(SDL_Surface *surface)
{
    calls.unlocks++;
    __real_SDL_UnlockSurface(surface);
}

void __wrap_SDL_UpdateRect(SDL_Surface *surface, Sint32 x, Sint32 y, Uint32 w, Uint32 h)
{
    calls.presents++;
    calls.locked_presents += calls.locks != calls.unlocks;
    calls.shown.assign(static_cast<size_t>(surface->w) * surface->h, 0);
    for (int row = 0; row < surface->h; row++)
        for (int column = 0; column < surface->w; column++)
            calls.shown[static_cast<size_t>(row) * surface->w + column] =
                pixel_at(surface, column, row);
    __real_SDL_UpdateRect(surface, x, y, w, h);
}

Uint32 __wrap_SDL_GetTicks(void)
{
    return fixed_ticks >= 0 ? static_cast<Uint32>(fixed_ticks) : __real_SDL_GetTicks();
}
}

void reset_calls()
{
    calls = sdl_calls();
}
