// test_port.cpp: the port layer on Windows, under Wine. Messages posted to
// the real window become SDL 1.2 events, and a flood of them loses no button
// nor the close; a present shows the surface and WM_PAINT shows it again; the
// clock; and, once, the shared part's filling, size limits and colour mapping.
#include <SDL.h>

#include <gtest/gtest.h>
#include <windows.h>

#include <climits>
#include <cstring>
#include <iterator>
#include <vector>

// The display surface gtest_main.cpp's start-up opened (world.h's, which
// cannot be included beside windows.h: both name a mouse_event).
extern SDL_Surface *screen;

namespace
{

const int WIDTH = 200, HEIGHT = 300;
HWND window; // the program's window

std::vector<SDL_Event> drain()
{
    std::vector<SDL_Event> events;
    SDL_Event e;
    while (SDL_PollEvent(&e))
        events.push_back(e);
    return events;
}

void post(UINT message, WPARAM wparam, int x, int y)
{
    PostMessageA(window, message, wparam,
                 MAKELPARAM(static_cast<WORD>(static_cast<short>(x)),
                            static_cast<WORD>(static_cast<short>(y))));
}

// A wheel message turning by delta (WHEEL_DELTA a notch); its position is in screen pixels.
void post_wheel(int delta, int x, int y)
{
    POINT p = {x, y};
    ClientToScreen(window, &p);
    PostMessageA(window, WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(static_cast<short>(delta))),
                 MAKELPARAM(static_cast<WORD>(p.x), static_cast<WORD>(p.y)));
}

void expect_button(const SDL_Event &e, Uint8 type, int button, int x, int y)
{
    EXPECT_EQ(e.type, type);
    EXPECT_EQ(e.button.button, button);
    EXPECT_EQ(e.button.state, type == SDL_MOUSEBUTTONDOWN ? SDL_PRESSED : SDL_RELEASED);
    EXPECT_EQ(e.button.x, x);
    EXPECT_EQ(e.button.y, y);
}

void expect_motion(const SDL_Event &e, int x, int y, int held)
{
    EXPECT_EQ(e.type, SDL_MOUSEMOTION);
    EXPECT_EQ(e.motion.x, x);
    EXPECT_EQ(e.motion.y, y);
    EXPECT_EQ(e.motion.state, held);
}

struct Window : ::testing::Test {
    static void SetUpTestSuite()
    {
        SDL_WM_SetCaption("Vesk", nullptr);
        window = FindWindowA("VeskWindow", "Vesk");
        ASSERT_NE(window, nullptr);
    }
    void SetUp() override
    {
        drain();
    }
};

TEST_F(Window, IsTheSurfaceSizeAt96DpiCaptionedResizableAndMaximizable)
{
    RECT client;
    GetClientRect(window, &client);
    EXPECT_EQ(client.right - client.left, WIDTH);
    EXPECT_EQ(client.bottom - client.top, HEIGHT);
    char caption[16] = "";
    GetWindowTextA(window, caption, sizeof caption);
    EXPECT_STREQ(caption, "Vesk");
    LONG style = GetWindowLongA(window, GWL_STYLE);
    EXPECT_TRUE(style & WS_THICKFRAME);
    EXPECT_TRUE(style & WS_MAXIMIZEBOX);
    EXPECT_TRUE(style & WS_MINIMIZEBOX);
    EXPECT_TRUE(style & WS_SYSMENU);
}

TEST_F(Window, ButtonsCaptureTheMouseAndMotionCarriesTheHeldMaskClamped)
{
    post(WM_LBUTTONDOWN, MK_LBUTTON, 10, 20);
    post(WM_RBUTTONDOWN, MK_LBUTTON | MK_RBUTTON, 11, 20);
    post(WM_MOUSEMOVE, MK_LBUTTON | MK_RBUTTON, -5, 400); // dragged off the window
    post(WM_MBUTTONDOWN, MK_LBUTTON | MK_RBUTTON | MK_MBUTTON, 250, -3);
    post(WM_MOUSEMOVE, 0, 250, -3); // the same place: no motion
    std::vector<SDL_Event> e = drain();
    ASSERT_EQ(e.size(), 4u);
    expect_button(e[0], SDL_MOUSEBUTTONDOWN, SDL_BUTTON_LEFT, 10, 20);
    expect_button(e[1], SDL_MOUSEBUTTONDOWN, SDL_BUTTON_RIGHT, 11, 20);
    expect_motion(e[2], 0, HEIGHT - 1, SDL_BUTTON_LMASK | SDL_BUTTON_RMASK);
    EXPECT_EQ(e[2].motion.xrel, -11);
    expect_button(e[3], SDL_MOUSEBUTTONDOWN, SDL_BUTTON_MIDDLE, WIDTH - 1, 0);
    EXPECT_EQ(GetCapture(), window);

    post(WM_LBUTTONUP, MK_RBUTTON | MK_MBUTTON, 300, 100);
    post(WM_MBUTTONUP, MK_RBUTTON, 300, 100);
    post(WM_MOUSEMOVE, MK_RBUTTON, 40, 50);
    post(WM_RBUTTONUP, 0, 40, 50);
    e = drain();
    ASSERT_EQ(e.size(), 4u);
    expect_button(e[0], SDL_MOUSEBUTTONUP, SDL_BUTTON_LEFT, WIDTH - 1, 100);
    expect_button(e[1], SDL_MOUSEBUTTONUP, SDL_BUTTON_MIDDLE, WIDTH - 1, 100);
    expect_motion(e[2], 40, 50, SDL_BUTTON_RMASK);
    expect_button(e[3], SDL_MOUSEBUTTONUP, SDL_BUTTON_RIGHT, 40, 50);
    EXPECT_EQ(GetCapture(), nullptr);

    // A release of a button pressed elsewhere is not the window's.
    post(WM_LBUTTONUP, 0, 40, 50);
    EXPECT_TRUE(drain().empty());
}

TEST_F(Window, LosingTheCaptureReleasesTheHeldButtons)
{
    post(WM_LBUTTONDOWN, MK_LBUTTON, 30, 40);
    drain();
    ASSERT_EQ(GetCapture(), window);
    ReleaseCapture(); // as when another window takes the mouse
    std::vector<SDL_Event> e = drain();
    ASSERT_EQ(e.size(), 1u);
    expect_button(e[0], SDL_MOUSEBUTTONUP, SDL_BUTTON_LEFT, 30, 40);
}

TEST_F(Window, AWheelMessageIsOnePressAndReleaseOfButton4Or5HoweverFarItTurned)
{
    post_wheel(WHEEL_DELTA, 60, 70);
    post_wheel(-2 * WHEEL_DELTA, 60, 70);
    post_wheel(SHRT_MAX, 60, 70);                             // 273 notches and 7/120 of one
    post_wheel(WHEEL_DELTA - SHRT_MAX % WHEEL_DELTA, 60, 70); // the rest of that notch
    std::vector<SDL_Event> e = drain();
    const int buttons[] = {SDL_BUTTON_WHEELUP, SDL_BUTTON_WHEELDOWN, SDL_BUTTON_WHEELUP,
                           SDL_BUTTON_WHEELUP};
    ASSERT_EQ(e.size(), 2 * std::size(buttons));
    for (size_t i = 0; i < std::size(buttons); i++) {
        expect_button(e[2 * i], SDL_MOUSEBUTTONDOWN, buttons[i], 60, 70);
        expect_button(e[2 * i + 1], SDL_MOUSEBUTTONUP, buttons[i], 60, 70);
    }
    EXPECT_EQ(GetCapture(), nullptr);
}

TEST_F(Window, CloseGivesQuitAndKeepsTheWindow)
{
    PostMessageA(window, WM_CLOSE, 0, 0);
    std::vector<SDL_Event> e = drain();
    ASSERT_EQ(e.size(), 1u);
    EXPECT_EQ(e[0].type, SDL_QUIT);
    EXPECT_TRUE(IsWindow(window));
}

TEST_F(Window, AFloodOfMotionLosesNoButtonNorTheCloseAndEndsWhereThePointerStopped)
{
    const int flood = 300; // motions each way, over twice what the queue holds
    post(WM_LBUTTONDOWN, MK_LBUTTON, 5, 6);
    for (int i = 1; i <= flood; i++)
        post(WM_MOUSEMOVE, MK_LBUTTON, i % WIDTH, 10 + i / WIDTH);
    post(WM_LBUTTONUP, 0, 7, 8);
    for (int i = 1; i <= flood; i++)
        post(WM_MOUSEMOVE, 0, i % WIDTH, 20 + i / WIDTH);
    post_wheel(SHRT_MAX / WHEEL_DELTA * WHEEL_DELTA, 60, 70); // 273 notches
    PostMessageA(window, WM_CLOSE, 0, 0);
    // In order, each run of motions merged down to its last.
    std::vector<SDL_Event> e;
    for (const SDL_Event &one : drain())
        if (one.type == SDL_MOUSEMOTION && !e.empty() && e.back().type == SDL_MOUSEMOTION)
            e.back() = one;
        else
            e.push_back(one);
    ASSERT_EQ(e.size(), 7u);
    expect_button(e[0], SDL_MOUSEBUTTONDOWN, SDL_BUTTON_LEFT, 5, 6);
    expect_motion(e[1], flood % WIDTH, 10 + flood / WIDTH, SDL_BUTTON_LMASK);
    expect_button(e[2], SDL_MOUSEBUTTONUP, SDL_BUTTON_LEFT, 7, 8);
    expect_motion(e[3], flood % WIDTH, 20 + flood / WIDTH, 0);
    expect_button(e[4], SDL_MOUSEBUTTONDOWN, SDL_BUTTON_WHEELUP, 60, 70);
    expect_button(e[5], SDL_MOUSEBUTTONUP, SDL_BUTTON_WHEELUP, 60, 70);
    EXPECT_EQ(e[6].type, SDL_QUIT);
}

COLORREF window_pixel(int x, int y)
{
    HDC dc = GetDC(window);
    COLORREF c = GetPixel(dc, x, y);
    ReleaseDC(window, dc);
    return c;
}

TEST_F(Window, APresentShowsItsRectangleClippedAndPaintingShowsItAgain)
{
    SDL_FillRect(screen, nullptr, SDL_MapRGB(screen->format, 255, 0, 0));
    SDL_Rect corner = {0, 0, 10, 10};
    SDL_FillRect(screen, &corner, SDL_MapRGB(screen->format, 0, 0, 255));
    SDL_UpdateRect(screen, 0, 0, 0, 0);
    EXPECT_EQ(window_pixel(5, 5), RGB(0, 0, 255));
    EXPECT_EQ(window_pixel(WIDTH - 1, HEIGHT - 1), RGB(255, 0, 0));
    // Cleared but not presented: a repaint shows the presented picture.
    SDL_FillRect(screen, nullptr, 0);
    InvalidateRect(window, nullptr, FALSE);
    UpdateWindow(window);
    EXPECT_EQ(window_pixel(100, 150), RGB(255, 0, 0));
    // A rectangle reaching past 32-bit arithmetic shows its part on the surface.
    SDL_UpdateRect(screen, WIDTH / 2, 0, INT32_MAX - 8, HEIGHT);
    EXPECT_EQ(window_pixel(WIDTH / 2 - 1, 5), RGB(255, 0, 0));
    EXPECT_EQ(window_pixel(WIDTH / 2, 5), RGB(0, 0, 0));
    EXPECT_EQ(window_pixel(WIDTH - 1, HEIGHT - 1), RGB(0, 0, 0));
}

SIZE client_size()
{
    RECT r;
    GetClientRect(window, &r);
    return SIZE{r.right, r.bottom};
}

// Windows sends WM_DPICHANGED when the window's monitor changes scale; Wine never does.
void dpi_changed(UINT dpi)
{
    RECT r;
    GetWindowRect(window, &r);
    SendMessageA(window, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&r));
}

TEST_F(Window, ADpiChangeRescalesAndAResizeRecentresWithPositionsInSurfacePixels)
{
    dpi_changed(192);
    EXPECT_EQ(client_size().cx * 10000 + client_size().cy, 400 * 10000 + 600);
    SDL_FillRect(screen, nullptr, SDL_MapRGB(screen->format, 255, 0, 0));
    SDL_Rect pixel = {10, 20, 1, 1};
    SDL_FillRect(screen, &pixel, SDL_MapRGB(screen->format, 0, 0, 255));
    SDL_UpdateRect(screen, 0, 0, 0, 0);
    for (int i = 0; i < 4; i++) // the pixel is one 2 x 2 block
        EXPECT_EQ(window_pixel(20 + i % 2, 40 + i / 2), RGB(0, 0, 255)) << i;
    EXPECT_EQ(window_pixel(22, 40), RGB(255, 0, 0));
    post(WM_LBUTTONDOWN, MK_LBUTTON, 2 * 10 + 1, 2 * 20 + 1);
    post(WM_LBUTTONUP, 0, 2 * 10 + 1, 2 * 20 + 1);
    std::vector<SDL_Event> e = drain();
    ASSERT_EQ(e.size(), 2u);
    expect_button(e[0], SDL_MOUSEBUTTONDOWN, SDL_BUTTON_LEFT, 10, 20);

    POINT cursor = {2 * 50, 2 * 60};
    ClientToScreen(window, &cursor);
    SetCursorPos(cursor.x, cursor.y);
    post(WM_MOUSEMOVE, 0, 2 * 50, 2 * 60);
    drain();
    RECT r;
    GetWindowRect(window, &r);
    SetWindowPos(window, nullptr, 0, 0, r.right - r.left + 600, r.bottom - r.top + 400,
                 SWP_NOMOVE | SWP_NOZORDER); // client 1000 x 1000: the picture 3 times at (200, 50)
    post(WM_MOUSEMOVE, 0, 2 * 50, 2 * 60);   // the cursor has not moved
    EXPECT_TRUE(drain().empty());
    post(WM_MOUSEMOVE, 0, 200 + 3 * 7 + 2, 50 + 3 * 9);
    post(WM_MOUSEMOVE, 0, 100, 500); // over the margin
    e = drain();
    ASSERT_EQ(e.size(), 2u);
    expect_motion(e[0], 7, 9, 0);
    expect_motion(e[1], 0, 150, 0);
    InvalidateRect(window, nullptr, FALSE);
    UpdateWindow(window);
    EXPECT_EQ(window_pixel(199, 500), RGB(0, 0, 0));
    EXPECT_EQ(window_pixel(200 + 3 * 10 + 2, 50 + 3 * 20 + 2), RGB(0, 0, 255));
    EXPECT_EQ(window_pixel(200 + 3 * 10 + 3, 50 + 3 * 20), RGB(255, 0, 0));

    dpi_changed(96);
    EXPECT_EQ(client_size().cx * 10000 + client_size().cy, WIDTH * 10000 + HEIGHT);
}

TEST(Clock, CountsMillisecondsForwardAcrossDelays)
{
    const Uint32 delay_ms = 20;
    Uint32 before = SDL_GetTicks();
    SDL_Delay(delay_ms);
    Uint32 after = SDL_GetTicks();
    EXPECT_GE(after - before, delay_ms);
    for (int i = 0; i < 1000; i++) {
        Uint32 now = SDL_GetTicks();
        ASSERT_GE(now, after);
        after = now;
    }
}

// ---- the shared part, on surfaces of every pixel size ----

TEST(Surfaces, FillRectClipsAndStoresTheLowBytesLowFirst)
{
    for (int bytes = 1; bytes <= 4; bytes++) {
        SDL_Surface *s = SDL_CreateRGBSurface(SDL_SWSURFACE, 5, 4, bytes * 8, 0, 0, 0, 0);
        ASSERT_NE(s, nullptr);
        SDL_Rect r = {-2, 2, 4, 9}; // columns 0..1, rows 2..3 after clipping
        ASSERT_EQ(SDL_FillRect(s, &r, 0x44332211u), 0);
        for (int row = 0; row < 4; row++)
            for (int column = 0; column < 5; column++) {
                const Uint8 *p = static_cast<Uint8 *>(s->pixels) + row * s->pitch + column * bytes;
                bool inside = column < 2 && row >= 2;
                for (int i = 0; i < bytes; i++)
                    EXPECT_EQ(p[i], inside ? 0x11 * (i + 1) : 0)
                        << bytes << " bytes, pixel " << column << "," << row << " byte " << i;
            }
        SDL_FreeSurface(s);
    }
}

TEST(Surfaces, SizesPastTheLimitsAreRefusedBeforeAnyAllocation)
{
    // A row of 4 GiB and 4 bytes: 4 bytes, were it counted in 32 bits.
    EXPECT_EQ(SDL_CreateRGBSurface(SDL_SWSURFACE, 1073741825, 1, 32, 0, 0, 0, 0), nullptr);
    SDL_Surface *widest = SDL_CreateRGBSurface(SDL_SWSURFACE, 65532, 2, 8, 0, 0, 0, 0);
    ASSERT_NE(widest, nullptr);
    EXPECT_EQ(widest->pitch, 65532);
    SDL_FreeSurface(widest);
    EXPECT_EQ(SDL_CreateRGBSurface(SDL_SWSURFACE, 65533, 2, 8, 0, 0, 0, 0), nullptr);
}

TEST(Surfaces, MapRGBKeepsEachComponentsTopBitsInItsMask)
{
    SDL_Surface *s565 = SDL_CreateRGBSurface(SDL_SWSURFACE, 1, 1, 16, 0, 0, 0, 0);
    EXPECT_EQ(SDL_MapRGB(s565->format, 255, 255, 0), 0xFFE0u);
    EXPECT_EQ(SDL_MapRGB(s565->format, 0x80, 0x40, 0x08), 0x8201u);
    SDL_Surface *s332 = SDL_CreateRGBSurface(SDL_SWSURFACE, 1, 1, 8, 0, 0, 0, 0);
    EXPECT_EQ(SDL_MapRGB(s332->format, 255, 0, 255), 0xE3u);
    EXPECT_EQ(SDL_MapRGB(screen->format, 0x12, 0x34, 0x56), 0x123456u); // B, G, R in memory
    SDL_FreeSurface(s565);
    SDL_FreeSurface(s332);
}

TEST(Surfaces, LockingNestsAndNeverGoesBelowZero)
{
    SDL_LockSurface(screen);
    SDL_LockSurface(screen);
    EXPECT_EQ(screen->locked, 2);
    SDL_UnlockSurface(screen);
    SDL_UnlockSurface(screen);
    SDL_UnlockSurface(screen);
    EXPECT_EQ(screen->locked, 0);
}

} // namespace
