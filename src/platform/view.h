// view.h: how a desktop platform shows the program's display surface in a
// window of its own size, and maps the pointer back. Shared by linux/ and
// win32/.
//
// Coordinates: window pixels and surface pixels, x rightward and y downward
// from the top-left corner.
//
// Scale: every surface pixel is shown as a scale x scale block of window
// pixels (nearest neighbour, no filter), so the picture shrunk back by that
// scale is the surface itself. A window opens at the desktop's scale k:
// its factor (1.0 at 96 dpi) rounded half up to a whole number, at least 1,
// capped so that the window fits the screen. A window resized by the user
// shows the largest whole multiple that fits, centred on black; a window
// smaller than the surface shows it at 1, centred and cropped.
//
// Pure arithmetic: no state, no allocation, constant time.
#ifndef VESK_PLATFORM_VIEW_H
#define VESK_PLATFORM_VIEW_H

// Dots per inch of a desktop at scale factor 1.
const int VIEW_BASE_DPI = 96;

// The surface's place in the window.
struct view {
    int scale;         // window pixels a side for each surface pixel, >= 1
    int left, top;     // window pixel of the surface's top-left corner; negative when cropped
    int width, height; // the surface, in surface pixels
};

// k for a desktop scale factor: rounded half up (1.25 gives 1, 1.5 gives 2),
// at least 1; 1 for a factor that is not a finite positive number.
int view_desktop_scale(double factor);

// The largest k, from scale down to 1, at which width x height times k fits
// within room_width x room_height; 1 when none does.
int view_fit(int scale, int width, int height, int room_width, int room_height);

// The view of a width x height surface in a window of window_width x
// window_height: the largest whole multiple that fits, centred (the margins
// split with the odd pixel right and below).
view view_in(int width, int height, int window_width, int window_height);

// The surface pixel shown at window pixel (x, y), clamped into the surface:
// a position over the margins or off the window gives the nearest one.
void view_to_surface(const view &v, int x, int y, int *surface_x, int *surface_y);

#endif
