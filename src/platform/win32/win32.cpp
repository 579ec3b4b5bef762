// win32.cpp: the port layer's Windows back end: a window whose client area
// is the display surface's size, a DIB section holding the last presented
// picture, the window's mouse and close messages turned into SDL 1.2 events,
// and a monotonic clock.
//
// Conventions:
//   - One thread: the window belongs to the thread that called
//     SDL_SetVideoMode, and its messages are dispatched only while SDL_PollEvent
//     pumps (win32_pump).
//   - Presenting copies the rectangle into the DIB section, then makes one
//     blit of it to the window; WM_PAINT blits the DIB section again, so a
//     window uncovered or restored shows the last presented picture at once.
//   - A button pressed in the window captures the mouse until the last held
//     button is released: motion and the release arrive from anywhere, with
//     positions clamped to the client area. A wheel message gives at most
//     one press and release of button 4 (away from the user) or 5, however
//     many notches it turned; part of a notch waits for the next message.
//     WM_CLOSE (the close button, Alt+F4) gives SDL_QUIT and leaves the
//     window open. Keys give no events.
//   - The window's messages are taken only while the event queue has room
//     for what one message gives (port_room): in a flood the rest wait in
//     the thread's message queue, and no button or close is lost.
//   - The program stays DPI-unaware: Windows scales the window on a
//     high-DPI display and hands it positions in the window's own pixels.
//   - While SDL runs the system timer ticks every millisecond
//     (timeBeginPeriod), so that SDL_Delay(10) sleeps about 10 ms, not a
//     whole 15.6 ms default tick.
#include "backend.h"

#include <windows.h>
#include <windowsx.h>

#include <cstring>

// The display surface in a DIB's memory order: bytes B, G, R, unused.
static const Uint32 RED_MASK = 0x00FF0000u, GREEN_MASK = 0x0000FF00u, BLUE_MASK = 0x000000FFu;
static const int BITS_PER_PIXEL = 32;
static const int BYTES_PER_PIXEL = 4;
// The system timer's period while SDL runs, in milliseconds.
static const UINT TIMER_PERIOD_MS = 1;
static const Uint32 MS_PER_SECOND = 1000;
// The window: a caption with a close and a minimize box; no resizing, no maximize box.
static const DWORD WINDOW_STYLE = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
static const DWORD WINDOW_EX_STYLE = 0;
static const char *const WINDOW_CLASS = "VeskWindow";
// The program's icon in its resources (vesk.rc).
static const int ICON_RESOURCE = 1;
static const char *const DRIVER_NAME = "windib";
// WM_SYSCOMMAND's command bits (the low four are the system's own).
static const WPARAM SYSCOMMAND_MASK = 0xFFF0;
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
    int width, height; // client area, pixels
};

// The mouse as the events so far have told it.
struct win32_mouse {
    Uint8 held; // SDL_BUTTON() mask of buttons pressed in the window
    int x, y;   // last position sent, client pixels
    int wheel;  // wheel movement not yet sent (WHEEL_DELTA a notch), below one notch
};

static win32_window win;
static win32_mouse mouse;
// QueryPerformanceCounter at backend_start, and its ticks a second.
static LARGE_INTEGER clock_start, clock_frequency;
static bool class_registered = false;

int backend_start()
{
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

static int clamp(int v, int low, int high)
{
    return v < low ? low : v > high ? high : v;
}

// The SDL_BUTTON() bit of an SDL button number.
static Uint8 button_bit(int button)
{
    return static_cast<Uint8>(SDL_BUTTON(button));
}

// A position in client pixels (of a mouse message's lParam), clamped to the surface.
static void client_position(LPARAM lparam, int *x, int *y)
{
    *x = clamp(GET_X_LPARAM(lparam), 0, win.width - 1);
    *y = clamp(GET_Y_LPARAM(lparam), 0, win.height - 1);
}

static void mouse_moved(LPARAM lparam)
{
    int x, y;
    client_position(lparam, &x, &y);
    if (x == mouse.x && y == mouse.y)
        return; // Windows repeats a position when nothing moved
    port_push_motion(mouse.held, x, y, x - mouse.x, y - mouse.y);
    mouse.x = x;
    mouse.y = y;
}

static void button_pressed(HWND window, int button, LPARAM lparam)
{
    client_position(lparam, &mouse.x, &mouse.y);
    if (!mouse.held)
        SetCapture(window);
    mouse.held |= button_bit(button);
    port_push_button(SDL_MOUSEBUTTONDOWN, button, mouse.x, mouse.y);
}

static void button_released(int button, LPARAM lparam)
{
    if (!(mouse.held & button_bit(button)))
        return; // pressed elsewhere: not ours
    client_position(lparam, &mouse.x, &mouse.y);
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
    int x = clamp(p.x, 0, win.width - 1), y = clamp(p.y, 0, win.height - 1);
    mouse.wheel += GET_WHEEL_DELTA_WPARAM(wparam);
    if (mouse.wheel >= WHEEL_DELTA || mouse.wheel <= -WHEEL_DELTA) {
        int button = mouse.wheel > 0 ? SDL_BUTTON_WHEELUP : SDL_BUTTON_WHEELDOWN;
        port_push_button(SDL_MOUSEBUTTONDOWN, button, x, y);
        port_push_button(SDL_MOUSEBUTTONUP, button, x, y);
        mouse.wheel %= WHEEL_DELTA; // whole notches past the first are dropped
    }
}

static void paint(HWND window)
{
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window, &ps);
    const RECT &r = ps.rcPaint;
    BitBlt(dc, r.left, r.top, r.right - r.left, r.bottom - r.top, win.picture_dc, r.left, r.top,
           SRCCOPY);
    EndPaint(window, &ps);
}

static LRESULT CALLBACK window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_MOUSEMOVE:
        mouse_moved(lparam);
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
        button_released(SDL_BUTTON_LEFT, lparam);
        return 0;
    case WM_MBUTTONUP:
        button_released(SDL_BUTTON_MIDDLE, lparam);
        return 0;
    case WM_RBUTTONUP:
        button_released(SDL_BUTTON_RIGHT, lparam);
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
    RECT r = {0, 0, width, height};
    AdjustWindowRectEx(&r, WINDOW_STYLE, FALSE, WINDOW_EX_STYLE);
    win.window = CreateWindowExA(WINDOW_EX_STYLE, WINDOW_CLASS, "", WINDOW_STYLE, CW_USEDEFAULT,
                                 CW_USEDEFAULT, r.right - r.left, r.bottom - r.top, nullptr,
                                 nullptr, instance, nullptr);
    if (!win.window) {
        free_picture();
        port_set_error("cannot create the window");
        return 0;
    }
    mouse = win32_mouse{};
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
    BitBlt(dc, x, y, w, h, win.picture_dc, x, y, SRCCOPY);
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
