// view.cpp: the surface's place in a window, and the way back.
#include "view.h"

#include <cmath>

// Beyond any window; keeps a huge factor from overflowing an int.
static const double SCALE_MAX = 1024;

int view_desktop_scale(double factor)
{
    if (!(factor > 0 && factor < SCALE_MAX))
        return 1;
    int k = static_cast<int>(std::floor(factor + 0.5));
    return k < 1 ? 1 : k;
}

int view_fit(int scale, int width, int height, int room_width, int room_height)
{
    int k = scale;
    while (k > 1 && (static_cast<long>(width) * k > room_width ||
                     static_cast<long>(height) * k > room_height))
        k--;
    return k < 1 ? 1 : k;
}

view view_in(int width, int height, int window_width, int window_height)
{
    int k = view_fit(window_width / (width > 0 ? width : 1), width, height, window_width,
                     window_height);
    return view{k, (window_width - width * k) / 2, (window_height - height * k) / 2, width, height};
}

// floor(a / b) for b > 0, clamped into [0, limit - 1].
static int cell(int a, int b, int limit)
{
    int q = a >= 0 ? a / b : -((-a + b - 1) / b);
    return q < 0 ? 0 : q >= limit ? limit - 1 : q;
}

void view_to_surface(const view &v, int x, int y, int *surface_x, int *surface_y)
{
    *surface_x = cell(x - v.left, v.scale, v.width);
    *surface_y = cell(y - v.top, v.scale, v.height);
}
