// win32.cpp: the port layer's Windows back end: a window whose client area
// is the display surface's size times the monitor's scale, a DIB section
// holding the last presented picture, the window's mouse and close messages
// turned into SDL 1.2 events, and a monotonic clock.
//
// Conventions:
//   - One thread: the window belongs to the thread that called
//     SDL_SetVideoMode, and its messages are dispatched only while SDL_PollEvent
//     pumps (win32_pump).
//   - The program is per-monitor DPI aware (v2, in its manifest): the
//     window opens at k times the surface's size, k from the monitor's dots
//     per inch as view.h rounds them (capped to the monitor's work area),
//     and is sized again at the new k on WM_DPICHANGED. It can be resized
//     and maximised: the picture is then the largest whole multiple that
//     fits, centred on black (view.h).
//   - Presenting copies the rectangle into the DIB section, then stretches
//     it into the window by nearest neighbour (StretchBlt, COLORONCOLOR),
//     each pixel a k x k block; WM_PAINT does so again and paints the
//     margins black, so a window uncovered or restored shows the last
//     presented picture at once.
//   - A button pressed in the window captures the mouse until the last held
//     button is released: motion and the release arrive from anywhere.
//     Positions are the surface's pixels (view_to_surface: clamped, over the
//     margins too). A WM_MOUSEMOVE that Windows sends after the window was
//     resized or rescaled, the cursor not having moved, is not a move and
//     gives no event. A wheel message gives at most one press and release of
//     button 4 (away from the user) or 5, however many notches it turned;
//     part of a notch waits for the next message. WM_CLOSE (the close
//     button, Alt+F4) gives SDL_QUIT and leaves the window open. Keys give
//     no events.
//   - The window's messages are taken only while the event queue has room
//     for what one message gives (port_room): in a flood the rest wait in
//     the thread's message queue, and no button or close is lost.
//   - While SDL runs the system timer ticks every millisecond
//     (timeBeginPeriod), so that SDL_Delay(10) sleeps about 10 ms, not a
//     whole 15.6 ms default tick.
#include "../view.h"
#include "backend.h"

#include <windows.h>
#include <windowsx.h>

#include <climits>
#include <cstring>

// The display surface in a DIB's memory order: bytes B, G, R, unused.
static const Uint32 RED_MASK = 0x00FF0000u, GREEN_MASK = 0x0000FF00u, BLUE_MASK = 0x000000FFu;
static const int BITS_PER_PIXEL = 32;
static const int BYTES_PER_PIXEL = 4;
// The system timer's period while SDL runs, in milliseconds.
static const UINT TIMER_PERIOD_MS = 1;
static const Uint32 MS_PER_SECOND = 1000;
// The window: a caption, a sizing border, and minimize, maximize and close boxes.
static const DWORD WINDOW_STYLE = WS_OVERLAPPEDWINDOW;
static const DWORD WINDOW_EX_STYLE = 0;
static const char *const WINDOW_CLASS = "VeskWindow";
// The program's icon in its resources (vesk.rc).
static const int ICON_RESOURCE = 1;
static const char *const DRIVER_NAME = "windib";
// WM_SYSCOMMAND's command bits (the low four are the system's own).
static const WPARAM SYSCOMMAND_MASK = 0xFFF0;
// A screen position no cursor has.
static const POINT NOWHERE = {INT_MIN, INT_MIN};
// The most events one message gives (a lost capture releases three buttons),
// twice: room for the message taken and for one the system sends meanwhile.
static const int MESSAGE_EVENTS = 2 * 3;

// The window and the picture it shows.
struct win32_window {
    HWND window;       // null while closed
    HDC picture_dc;    // memory DC with `picture` selected
    HBITMAP picture;   // top-down DIB section, width x height, 32 bits
    HGDIOBJ previous;  // the memory DC's bitmap before `picture`
    Uint8 *bits;       // picture's pixels, width * BYTES_PER_PIXEL bytes a row
    int width, height; // the surface and the picture, pixels
    view v;            // the picture's place in the client area
    bool remapped;     // v changed since the cursor last moved
};

// The mouse as the events so far have told it.
struct win32_mouse {
    Uint8 held;   // SDL_BUTTON() mask of buttons pressed in the window
    int x, y;     // last position sent, surface pixels
    int wheel;    // wheel movement not yet sent (WHEEL_DELTA a notch), below one notch
    POINT screen; // the cursor at the last mouse message, screen pixels
};

// Windows 10's per-monitor DPI functions (user32, from version 1607), or null.
typedef UINT(WINAPI *dpi_for_window_function)(HWND);
typedef BOOL(WINAPI *adjust_for_dpi_function)(RECT *, DWORD, BOOL, DWORD, UINT);
static dpi_for_window_function dpi_for_window;
static adjust_for_dpi_function adjust_for_dpi;

static win32_window win;
static win32_mouse mouse;
// QueryPerformanceCounter at backend_start, and its ticks a second.
static LARGE_INTEGER clock_start, clock_frequency;
static bool class_registered = false;

int backend_start()
{
    HMODULE user32 = GetModuleHandleA("user32.dll");
    dpi_for_window = reinterpret_cast<dpi_for_window_function>(
        reinterpret_cast<void (*)()>(GetProcAddress(user32, "GetDpiForWindow")));
    adjust_for_dpi = reinterpret_cast<adjust_for_dpi_function>(
        reinterpret_cast<void (*)()>(GetProcAddress(user32, "AdjustWindowRectExForDpi")));
    QueryPerformanceFrequency(&clock_frequency);
    QueryPerformanceCounter(&clock_start);
    timeBeginPeriod(TIMER_PERIOD_MS);
    return 1;
}

void backend_stop()
{
    timeEndPeriod(TIMER_PERIOD_MS);
}

backend_masks backend_channels()
{
    return backend_masks{RED_MASK, GREEN_MASK, BLUE_MASK};
}

// The SDL_BUTTON() bit of an SDL button number.
static Uint8 button_bit(int button)
{
    return static_cast<Uint8>(SDL_BUTTON(button));
}

// The surface pixel under a mouse message's position (lParam, client pixels),
// clamped to the surface; notes the cursor's screen position.
static void client_position(HWND window, LPARAM lparam, int *x, int *y)
{
    POINT p = {GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam)};
    view_to_surface(win.v, p.x, p.y, x, y);
    ClientToScreen(window, &p);
    mouse.screen = p;
}

static void mouse_moved(HWND window, LPARAM lparam)
{
    POINT before = mouse.screen;
    int x, y;
    client_position(window, lparam, &x, &y);
    // After a resize Windows says the cursor moved over the window; it did not.
    if (win.remapped && mouse.screen.x == before.x && mouse.screen.y == before.y)
        return;
    win.remapped = false;
    if (x == mouse.x && y == mouse.y)
        return; // Windows repeats a position when nothing moved
    port_push_motion(mouse.held, x, y, x - mouse.x, y - mouse.y);
    mouse.x = x;
    mouse.y = y;
}

static void button_pressed(HWND window, int button, LPARAM lparam)
{
    client_position(window, lparam, &mouse.x, &mouse.y);
    if (!mouse.held)
        SetCapture(window);
    mouse.held |= button_bit(button);
    port_push_button(SDL_MOUSEBUTTONDOWN, button, mouse.x, mouse.y);
}

static void button_released(HWND window, int button, LPARAM lparam)
{
    if (!(mouse.held & button_bit(button)))
        return; // pressed elsewhere: not ours
    client_position(window, lparam, &mouse.x, &mouse.y);
    mouse.held &= static_cast<Uint8>(~button_bit(button));
    port_push_button(SDL_MOUSEBUTTONUP, button, mouse.x, mouse.y);
    if (!mouse.held)
        ReleaseCapture();
}

// Another window took the capture (a system dialog, the task switcher):
// the held buttons will never be released here, so release them now.
static void capture_lost()
{
    for (int button = SDL_BUTTON_LEFT; button <= SDL_BUTTON_RIGHT; button++)
        if (mouse.held & button_bit(button)) {
            mouse.held &= static_cast<Uint8>(~button_bit(button));
            port_push_button(SDL_MOUSEBUTTONUP, button, mouse.x, mouse.y);
        }
}

static void wheel_turned(HWND window, WPARAM wparam, LPARAM lparam)
{
    POINT p = {GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam)}; // screen pixels
    ScreenToClient(window, &p);
    int x, y;
    view_to_surface(win.v, p.x, p.y, &x, &y);
    mouse.wheel += GET_WHEEL_DELTA_WPARAM(wparam);
    if (mouse.wheel >= WHEEL_DELTA || mouse.wheel <= -WHEEL_DELTA) {
        int button = mouse.wheel > 0 ? SDL_BUTTON_WHEELUP : SDL_BUTTON_WHEELDOWN;
        port_push_button(SDL_MOUSEBUTTONDOWN, button, x, y);
        port_push_button(SDL_MOUSEBUTTONUP, button, x, y);
        mouse.wheel %= WHEEL_DELTA; // whole notches past the first are dropped
    }
}

// Shows the picture's rectangle (x, y, w, h), each pixel a k x k block.
static void stretch(HDC dc, int x, int y, int w, int h)
{
    int k = win.v.scale;
    SetStretchBltMode(dc, COLORONCOLOR);
    StretchBlt(dc, win.v.left + x * k, win.v.top + y * k, w * k, h * k, win.picture_dc, x, y, w, h,
               SRCCOPY);
}

static void paint(HWND window)
{
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window, &ps);
    int saved = SaveDC(dc);
    ExcludeClipRect(dc, win.v.left, win.v.top, win.v.left + win.width * win.v.scale,
                    win.v.top + win.height * win.v.scale);
    FillRect(dc, &ps.rcPaint, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    RestoreDC(dc, saved);
    stretch(dc, 0, 0, win.width, win.height);
    EndPaint(window, &ps);
}

// The window's size for a client area of width x height at dpi.
static SIZE window_size(int width, int height, UINT dpi)
{
    RECT r = {0, 0, width, height};
    if (adjust_for_dpi)
        adjust_for_dpi(&r, WINDOW_STYLE, FALSE, WINDOW_EX_STYLE, dpi);
    else
        AdjustWindowRectEx(&r, WINDOW_STYLE, FALSE, WINDOW_EX_STYLE);
    return SIZE{r.right - r.left, r.bottom - r.top};
}

// Places the window at (x, y) with its client area k times the picture at
// dpi, k from dpi and capped to the work area of the monitor at (x, y).
static void scale_window(HWND window, UINT dpi, int x, int y)
{
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof monitor;
    POINT at = {x, y};
    GetMonitorInfoA(MonitorFromPoint(at, MONITOR_DEFAULTTONEAREST), &monitor);
    SIZE frame = window_size(0, 0, dpi);
    int k = view_fit(view_desktop_scale(static_cast<double>(dpi) / VIEW_BASE_DPI), win.width,
                     win.height, monitor.rcWork.right - monitor.rcWork.left - frame.cx,
                     monitor.rcWork.bottom - monitor.rcWork.top - frame.cy);
    SIZE size = window_size(k * win.width, k * win.height, dpi);
    SetWindowPos(window, nullptr, x, y, size.cx, size.cy, SWP_NOZORDER | SWP_NOACTIVATE);
    // Where the frame came out otherwise than computed, the client area is put right.
    RECT client;
    GetClientRect(window, &client);
    if (client.right != k * win.width || client.bottom != k * win.height)
        SetWindowPos(window, nullptr, 0, 0, size.cx + k * win.width - client.right,
                     size.cy + k * win.height - client.bottom,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// The window moved to a monitor of another scale, or the monitor's changed:
// its suggested rectangle gives the place, k the size (a maximised window
// takes the rectangle as it is).
static void dpi_changed(HWND window, UINT dpi, const RECT *suggested)
{
    RECT now;
    GetWindowRect(window, &now);
    const RECT &r = suggested ? *suggested : now;
    if (IsZoomed(window)) {
        SetWindowPos(window, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
        return;
    }
    scale_window(window, dpi, r.left, r.top);
}

static void resized(HWND window, WPARAM how, LPARAM lparam)
{
    if (how == SIZE_MINIMIZED)
        return;
    win.v = view_in(win.width, win.height, LOWORD(lparam), HIWORD(lparam));
    win.remapped = true;
    InvalidateRect(window, nullptr, FALSE);
}

static LRESULT CALLBACK window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_MOUSEMOVE:
        mouse_moved(window, lparam);
        return 0;
    case WM_LBUTTONDOWN:
        button_pressed(window, SDL_BUTTON_LEFT, lparam);
        return 0;
    case WM_MBUTTONDOWN:
        button_pressed(window, SDL_BUTTON_MIDDLE, lparam);
        return 0;
    case WM_RBUTTONDOWN:
        button_pressed(window, SDL_BUTTON_RIGHT, lparam);
        return 0;
    case WM_LBUTTONUP:
        button_released(window, SDL_BUTTON_LEFT, lparam);
        return 0;
    case WM_MBUTTONUP:
        button_released(window, SDL_BUTTON_MIDDLE, lparam);
        return 0;
    case WM_RBUTTONUP:
        button_released(window, SDL_BUTTON_RIGHT, lparam);
        return 0;
    case WM_MOUSEWHEEL:
        wheel_turned(window, wparam, lparam);
        return 0;
    case WM_CAPTURECHANGED:
        if (reinterpret_cast<HWND>(lparam) != window)
            capture_lost();
        return 0;
    case WM_CLOSE:
        port_push_quit();
        return 0;
    case WM_SIZE:
        resized(window, wparam, lparam);
        return 0;
    case WM_DPICHANGED:
        dpi_changed(window, LOWORD(wparam), reinterpret_cast<const RECT *>(lparam));
        return 0;
    case WM_PAINT:
        paint(window);
        return 0;
    case WM_ERASEBKGND:
        return 1; // WM_PAINT covers the whole client area
    case WM_SYSCOMMAND:
        // Alt or F10 alone would enter the window menu's modal loop and
        // stop the sand; keys change nothing here. Alt+Space still opens it.
        if ((wparam & SYSCOMMAND_MASK) == SC_KEYMENU && lparam == 0)
            return 0;
        return DefWindowProcA(window, message, wparam, lparam);
    default:
        return DefWindowProcA(window, message, wparam, lparam);
    }
}

static bool register_class(HINSTANCE instance)
{
    if (class_registered)
        return true;
    WNDCLASSEXA c = {};
    c.cbSize = sizeof c;
    c.lpfnWndProc = window_procedure;
    c.hInstance = instance;
    c.hIcon =
        static_cast<HICON>(LoadImageA(instance, MAKEINTRESOURCEA(ICON_RESOURCE), IMAGE_ICON,
                                      GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0));
    c.hIconSm = static_cast<HICON>(LoadImageA(instance, MAKEINTRESOURCEA(ICON_RESOURCE), IMAGE_ICON,
                                              GetSystemMetrics(SM_CXSMICON),
                                              GetSystemMetrics(SM_CYSMICON), 0));
    c.hCursor = LoadCursor(nullptr, IDC_ARROW);
    c.lpszClassName = WINDOW_CLASS;
    class_registered = RegisterClassExA(&c) != 0;
    return class_registered;
}

// The picture: a black top-down DIB section of width x height in a memory DC.
static bool make_picture(int width, int height)
{
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height; // negative: the first row is the top
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = BITS_PER_PIXEL;
    info.bmiHeader.biCompression = BI_RGB;
    void *bits = nullptr;
    win.picture = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    win.picture_dc = CreateCompatibleDC(nullptr);
    if (!win.picture || !win.picture_dc)
        return false;
    win.previous = SelectObject(win.picture_dc, win.picture);
    win.bits = static_cast<Uint8 *>(bits);
    std::memset(win.bits, 0, static_cast<size_t>(width) * height * BYTES_PER_PIXEL);
    return true;
}

static void free_picture()
{
    if (win.picture_dc) {
        if (win.previous)
            SelectObject(win.picture_dc, win.previous);
        DeleteDC(win.picture_dc);
    }
    if (win.picture)
        DeleteObject(win.picture);
    win = win32_window{};
}

static int win32_open(int width, int height)
{
    HINSTANCE instance = GetModuleHandleA(nullptr);
    if (!register_class(instance)) {
        port_set_error("cannot register the window class");
        return 0;
    }
    if (!make_picture(width, height)) {
        free_picture();
        port_set_error("cannot make the window's picture");
        return 0;
    }
    win.width = width;
    win.height = height;
    win.v = view_in(width, height, width, height);
    mouse = win32_mouse{};
    mouse.screen = NOWHERE;
    SIZE size = window_size(width, height, VIEW_BASE_DPI);
    win.window =
        CreateWindowExA(WINDOW_EX_STYLE, WINDOW_CLASS, "", WINDOW_STYLE, CW_USEDEFAULT,
                        CW_USEDEFAULT, size.cx, size.cy, nullptr, nullptr, instance, nullptr);
    if (!win.window) {
        free_picture();
        port_set_error("cannot create the window");
        return 0;
    }
    // Sized for the monitor it opened on before it is shown.
    RECT placed;
    GetWindowRect(win.window, &placed);
    UINT dpi = VIEW_BASE_DPI;
    if (dpi_for_window) {
        dpi = dpi_for_window(win.window);
    } else if (HDC screen = GetDC(nullptr)) {
        dpi = static_cast<UINT>(GetDeviceCaps(screen, LOGPIXELSX));
        ReleaseDC(nullptr, screen);
    }
    scale_window(win.window, dpi, placed.left, placed.top);
    win.remapped = false;
    ShowWindow(win.window, SW_SHOWNORMAL);
    UpdateWindow(win.window);
    return 1;
}

static void win32_close()
{
    if (win.window)
        DestroyWindow(win.window);
    free_picture();
    mouse = win32_mouse{};
    mouse.screen = NOWHERE;
}

static void win32_set_caption(const char *title)
{
    SetWindowTextA(win.window, title);
}

static void win32_present(const void *pixels, int pitch, int x, int y, int w, int h)
{
    GdiFlush(); // GDI must be done reading the picture before it changes
    int row_bytes = win.width * BYTES_PER_PIXEL;
    for (int row = y; row < y + h; row++)
        std::memcpy(win.bits + row * row_bytes + x * BYTES_PER_PIXEL,
                    static_cast<const Uint8 *>(pixels) + row * pitch + x * BYTES_PER_PIXEL,
                    static_cast<size_t>(w) * BYTES_PER_PIXEL);
    HDC dc = GetDC(win.window);
    stretch(dc, x, y, w, h);
    ReleaseDC(win.window, dc);
}

static void win32_pump()
{
    MSG message;
    while (port_room(MESSAGE_EVENTS) && PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageA(&message);
}

const port_video window_video = {DRIVER_NAME,       win32_open,    win32_close,
                                 win32_set_caption, win32_present, win32_pump};

Uint32 backend_ticks()
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<Uint32>((now.QuadPart - clock_start.QuadPart) * MS_PER_SECOND /
                               clock_frequency.QuadPart);
}

void backend_sleep(Uint32 ms)
{
    Sleep(ms);
}
