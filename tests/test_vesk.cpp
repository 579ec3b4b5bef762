// Screen and input library: the pixel writer, lines, the palette, the event
// pump and the pointer read.
#include "support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace
{

const float NaN = std::numeric_limits<float>::quiet_NaN();
const float INF = std::numeric_limits<float>::infinity();
// Normalized points off the surface, which the writer drops and the reader reads as 0.
const float OFF_SURFACE[][2] = {{1.0001f, 0}, {0, -1.5f}, {-1.0001f, 0}, {0, 1.0001f}, {1, 0},
                                {0, -1},      {1, -1},    {NaN, 0},      {0, NaN},     {INF, 0},
                                {-INF, -INF}, {0, -INF},  {1e30f, 0},    {-1e30f, 0}};

struct Surface : ::testing::Test {
    SDL_Surface *s = nullptr;
    void use(int w, int h, int bytes_per_pixel)
    {
        s = make_surface(w, h, bytes_per_pixel);
        ASSERT_NE(s, nullptr);
    }
    void TearDown() override
    {
        if (s)
            SDL_FreeSurface(s);
    }
    // The pixels that hold something other than 0, as (column, row).
    std::vector<std::pair<int, int>> lit()
    {
        std::vector<std::pair<int, int>> out;
        for (int row = 0; row < s->h; row++)
            for (int column = 0; column < s->w; column++)
                if (pixel_at(s, column, row))
                    out.push_back({column, row});
        return out;
    }
};

TEST_F(Surface, WriterAddressesCornersAndCentreAtEveryDepth)
{
    for (int bpp = 1; bpp <= 4; bpp++) {
        SCOPED_TRACE(bpp);
        use(200, 300, bpp);
        vesk_Giv_Pixel(s, -1, 1, 0x11);
        vesk_Giv_Pixel(s, 0, 0, 0x22);
        vesk_Giv_Pixel(s, 0.99f, -0.99f, 0x33);
        EXPECT_EQ(pixel_at(s, 0, 0), 0x11u);
        EXPECT_EQ(pixel_at(s, 100, 150), 0x22u);
        EXPECT_EQ(pixel_at(s, 199, 298), 0x33u);
        EXPECT_EQ(lit().size(), 3u);
        SDL_FreeSurface(s);
        s = nullptr;
    }
}

TEST_F(Surface, WriterStoresOnlyTheBytesOfItsDepthAndTheReaderReadsThemBack)
{
    const uint32_t colour = 0xA1B2C3D4;
    const uint32_t expected[] = {0, 0xD4, 0xC3D4, 0xB2C3D4, 0xA1B2C3D4};
    for (int bpp = 1; bpp <= 4; bpp++) {
        SCOPED_TRACE(bpp);
        use(8, 8, bpp);
        vesk_Giv_Pixel(s, 0, 0, colour); // pixel (4, 4)
        EXPECT_EQ(pixel_at(s, 4, 4), expected[bpp]);
        EXPECT_EQ(pixel_at(s, 3, 4), 0u);
        EXPECT_EQ(pixel_at(s, 5, 4), 0u);
        SDL_FreeSurface(s);
        use(64, 48, bpp);
        vesk_Giv_Pixel(s, 0.5f, -0.25f, colour);
        EXPECT_EQ(vesk_Got_Pixel(s, 0.5f, -0.25f), expected[bpp]);
        EXPECT_EQ(vesk_Got_Pixel(s, 0.45f, -0.25f), 0u);
        SDL_FreeSurface(s);
        s = nullptr;
    }
    use(8, 8, 3);
    vesk_Giv_Pixel(s, 0, 0, colour);
    const Uint8 *p = static_cast<Uint8 *>(s->pixels) + 4 * s->pitch + 4 * 3;
    EXPECT_EQ(p[0], 0xD4); // low byte first
    EXPECT_EQ(p[1], 0xC3);
    EXPECT_EQ(p[2], 0xB2);
}

TEST_F(Surface, WriterDropsEveryPointOffTheSurface)
{
    use(200, 300, 4);
    for (auto &p : OFF_SURFACE)
        vesk_Giv_Pixel(s, p[0], p[1], 0xFFFFFFFF);
    EXPECT_TRUE(lit().empty());
    // Just inside the right and bottom edges still lands on the last column and row.
    vesk_Giv_Pixel(s, 0.9999f, -0.9999f, 1);
    EXPECT_EQ(pixel_at(s, 199, 299), 1u);
}

TEST_F(Surface, WriterIgnoresUnknownPixelSizes)
{
    use(8, 8, 4);
    Uint8 saved = s->format->BytesPerPixel;
    s->format->BytesPerPixel = 5;
    vesk_Giv_Pixel(s, 0, 0, 0xFFFFFFFF);
    s->format->BytesPerPixel = saved;
    EXPECT_TRUE(lit().empty());
}

TEST_F(Surface, CrosshairLinePlots67PointsAndStopsShortOfItsEnd)
{
    // 2000 x 2000: a step of 0.003 is 3 pixels, so each point has its own pixel.
    use(2000, 2000, 4);
    reset_calls();
    bresline(s, 0.1f, -0.1f, 0.1f, -0.1f, 7);
    EXPECT_EQ(calls.locks, 1);
    EXPECT_EQ(calls.unlocks, 1);
    auto points = lit(); // in row order: from the first point (top right) down
    ASSERT_EQ(points.size(), 67u);
    // Both coordinates move by 0.003 (3 pixels) at every step: a diagonal.
    for (size_t i = 1; i < points.size(); i++) {
        EXPECT_NEAR(points[i].first - points[i - 1].first, -3, 1);
        EXPECT_NEAR(points[i].second - points[i - 1].second, 3, 1);
    }
    // First point at (0.1, 0.1) is pixel (1100, 900); the last, 66 steps
    // later, about 0.002 short of (-0.1, -0.1).
    EXPECT_EQ(points.front(), std::make_pair(1100, 899));
    EXPECT_NEAR(points.back().first / 1000.0 - 1, -0.1 + 0.002, 0.0015);
    EXPECT_NEAR(1 - points.back().second / 1000.0, -0.1 + 0.002, 0.0015);
}

TEST_F(Surface, LineWithCoincidentEndsPlotsOnePoint)
{
    use(200, 300, 2);
    reset_calls();
    bresline(s, 0.25f, 0.25f, -0.5f, -0.5f, 9);
    auto points = lit();
    ASSERT_EQ(points.size(), 1u);
    EXPECT_EQ(points[0], std::make_pair(125, 225));
    EXPECT_EQ(calls.locks, 1);
}

TEST_F(Surface, LineTakesXAsMajorAxisWhenExtentsAreEqual)
{
    // dx = dy: x steps every point; y steps only when the accumulator
    // overflows. With the accumulator starting at dx / 2 it does so every
    // point as well, giving one pixel per column.
    use(2000, 2000, 4);
    bresline(s, -0.3f, 0.3f, -0.3f, 0.3f, 1);
    auto points = lit();
    ASSERT_GE(points.size(), 200u);
    for (size_t i = 1; i < points.size(); i++)
        EXPECT_NE(points[i].first, points[i - 1].first);
    // A steep line: y is the major axis, so each row has exactly one point.
    SDL_FillRect(s, nullptr, 0);
    bresline(s, 0, 0.1f, -0.6f, 0.6f, 1);
    points = lit();
    EXPECT_EQ(points.size(), 400u); // 1.2 / 0.003 steps, the last one lost to rounding
    for (size_t i = 1; i < points.size(); i++)
        EXPECT_NE(points[i].second, points[i - 1].second);
}

TEST_F(Surface, LineLeavingTheScreenIsClippedPointByPoint)
{
    use(200, 300, 4);
    bresline(s, 0.5f, 1.5f, 0.0f, 0.0f, 3); // runs off the right edge
    auto points = lit();
    ASSERT_FALSE(points.empty());
    EXPECT_EQ(points.back().first, 199);
    EXPECT_EQ(points.front().first, 150);
}

TEST_F(Surface, LinesWithHugeOrNonFiniteEndsReturn)
{
    use(200, 300, 4);
    reset_calls();
    bresline(s, INF, 0, 0, 0, 1);
    bresline(s, 0, 0, NaN, 0, 1);
    EXPECT_EQ(calls.locks, 0);
    EXPECT_TRUE(lit().empty());
    // Counters in the tens of thousands stop changing in single precision;
    // these still end, and draw what lies on screen.
    bresline(s, -1, 1e5f, 0, 0, 1);
    EXPECT_EQ(calls.locks, 1);
    EXPECT_EQ(lit().size(), 200u);
    // From 30,000 the float steps are coarser but still move: the line
    // crosses the screen after millions of points, then ends.
    SDL_FillRect(s, nullptr, 0);
    bresline(s, 3e4f, -3e4f, 0.5f, 0.5f, 1);
    EXPECT_EQ(lit().size(), 200u);
    // From 100,000 a step of 0.003 no longer changes the float: it never
    // comes on screen, so nothing is drawn, and the call returns.
    SDL_FillRect(s, nullptr, 0);
    bresline(s, 1e5f, -1e5f, 0.5f, 0.5f, 1);
    bresline(s, 3e38f, -3e38f, 1e6f, -1e6f, 1);
    bresline(s, 0, 0, -3e38f, 3e38f, 1);
    EXPECT_TRUE(lit().empty());
}

TEST_F(Surface, PaletteIsMappedIntoTheSurfaceFormat)
{
    SDL_Surface *saved = nullptr;
    use(4, 4, 2);
    SDL_Surface *rgb565 = SDL_CreateRGBSurface(SDL_SWSURFACE, 4, 4, 16, 0xF800, 0x07E0, 0x001F, 0);
    vesk_Init(rgb565);
    EXPECT_EQ(yellow, 0xFFE0u);
    EXPECT_EQ(red, 0xF800u);
    EXPECT_EQ(blue, 0x001Fu);
    EXPECT_EQ(green, 0x07E0u);
    EXPECT_EQ(white, 0xFFFFu);
    SDL_FreeSurface(rgb565);
    // A 30-bit display: 10 bits a channel, full components fill them.
    SDL_Surface *deep =
        SDL_CreateRGBSurface(SDL_SWSURFACE, 4, 4, 32, 0x3FF00000, 0x000FFC00, 0x000003FF, 0);
    ASSERT_NE(deep, nullptr);
    vesk_Init(deep);
    // The SDL 2 backed runtime keeps no such surface format (it makes the
    // surface with 8-bit channels); there the ordinary mapping holds.
    if (deep->format->Gmask == 0x000FFC00u) {
        EXPECT_EQ(green, 0x000FFC00u);
        EXPECT_EQ(white, 0x3FFFFFFFu);
        EXPECT_EQ(yellow, 0x3FFFFC00u);
    } else {
        EXPECT_EQ(green, SDL_MapRGB(deep->format, 0, 255, 0));
    }
    SDL_FreeSurface(deep);
    vesk_Init(screen); // back to the display's palette for the other tests
    (void)saved;
}

TEST_F(Surface, RefreshPresentsThenClears)
{
    SDL_FillRect(screen, nullptr, white);
    reset_calls();
    vesk_Refresh(screen);
    EXPECT_EQ(calls.presents, 1);
    ASSERT_EQ(calls.shown.size(), static_cast<size_t>(WINDOW_WIDTH * WINDOW_HEIGHT));
    EXPECT_EQ(calls.shown[0], white);
    EXPECT_EQ(count_pixels(screen, 0), WINDOW_WIDTH * WINDOW_HEIGHT);
}

// ---- event pump and pointer read ----

using Events = fresh_world;

void expect_pointer(float x, float y, int pressed)
{
    mouse_state m = vesk_Got_Mouse(screen);
    EXPECT_EQ(m.x, x);
    EXPECT_EQ(m.y, y);
    EXPECT_EQ(m.pressed, pressed);
}

TEST_F(Events, BeforeAnyMouseEventThePointerIsTheTopLeftCornerNotPressed)
{
    expect_pointer(-1, 1, 0);
    push_plain(SDL_KEYDOWN);
    push_plain(SDL_ACTIVEEVENT);
    EXPECT_EQ(vesk_Loop(), 0);
    expect_pointer(-1, 1, 0);
}

TEST_F(Events, PumpDrainsTheQueueAndReportsAQuitAmongOthers)
{
    push_motion(10, 20, 0);
    push_plain(SDL_QUIT);
    push_motion(50, 60, 0);
    push_button(SDL_MOUSEBUTTONDOWN, 100, 150);
    EXPECT_EQ(vesk_Loop(), 1);
    EXPECT_EQ(event.type, SDL_MOUSEBUTTONDOWN); // the last event fetched
    EXPECT_EQ(vesk_Loop(), 0);                  // nothing left
    EXPECT_EQ(event.type, SDL_MOUSEBUTTONDOWN); // an empty poll changes nothing
    expect_pointer(0, 0, 1);
}

TEST_F(Events, GreenMouseFollowsMotionAndAnyButton)
{
    push_motion(12, 34, 0);
    push_button(SDL_MOUSEBUTTONDOWN, 99, 99, SDL_BUTTON_RIGHT);
    vesk_Loop();
    EXPECT_EQ(souris_verte.x, 12);
    EXPECT_EQ(souris_verte.y, 34);
    EXPECT_EQ(souris_verte.pressed, 1);
    push_button(SDL_MOUSEBUTTONUP, 99, 99, SDL_BUTTON_MIDDLE);
    vesk_Loop();
    EXPECT_EQ(souris_verte.pressed, 0);
}

TEST_F(Events, ButtonEventsGiveTheirPositionAndState)
{
    push_button(SDL_MOUSEBUTTONDOWN, 50, 75);
    vesk_Loop();
    expect_pointer(-0.5f, 0.5f, 1);
    // Pressed holds with no further events.
    vesk_Loop();
    expect_pointer(-0.5f, 0.5f, 1);
    push_button(SDL_MOUSEBUTTONUP, 150, 225);
    vesk_Loop();
    expect_pointer(0.5f, -0.5f, 0);
}

TEST_F(Events, MotionIsPressedWhileItsButtonMaskHoldsAnyButton)
{
    push_button(SDL_MOUSEBUTTONDOWN, 100, 150);
    push_motion(120, 150, SDL_BUTTON(SDL_BUTTON_LEFT));
    vesk_Loop();
    expect_pointer(0.2f, 0, 1); // dragging keeps erasing
    push_motion(130, 150, SDL_BUTTON(SDL_BUTTON_RIGHT) | SDL_BUTTON(SDL_BUTTON_MIDDLE));
    vesk_Loop();
    expect_pointer(0.3f, 0, 1);
    push_motion(140, 150, 0);
    vesk_Loop();
    expect_pointer(0.4f, 0, 0); // moving with no button held never erases
}

TEST_F(Events, PressedWhileAnyButtonIsHeld)
{
    push_button(SDL_MOUSEBUTTONDOWN, 100, 150, SDL_BUTTON_LEFT);
    push_button(SDL_MOUSEBUTTONDOWN, 100, 150, SDL_BUTTON_RIGHT);
    push_button(SDL_MOUSEBUTTONUP, 100, 150, SDL_BUTTON_RIGHT);
    vesk_Loop();
    expect_pointer(0, 0, 1); // the left button is still down
    push_button(SDL_MOUSEBUTTONUP, 100, 150, SDL_BUTTON_LEFT);
    vesk_Loop();
    expect_pointer(0, 0, 0);
    // A release of a button never seen pressed, or of no button at all, holds nothing.
    push_button(SDL_MOUSEBUTTONUP, 100, 150, SDL_BUTTON_MIDDLE);
    push_button(SDL_MOUSEBUTTONDOWN, 100, 150, 0);
    push_button(SDL_MOUSEBUTTONDOWN, 100, 150, 200);
    vesk_Loop();
    expect_pointer(0, 0, 0);
}

TEST_F(Events, WheelStepsAreNotHeldButtons)
{
    // A wheel step straddling two frames never erases.
    push_button(SDL_MOUSEBUTTONDOWN, 50, 75, SDL_BUTTON_WHEELUP);
    vesk_Loop();
    expect_pointer(-0.5f, 0.5f, 0);
    push_button(SDL_MOUSEBUTTONUP, 50, 75, SDL_BUTTON_WHEELUP);
    vesk_Loop();
    expect_pointer(-0.5f, 0.5f, 0);
    // Scrolling while the left button is held keeps erasing.
    push_button(SDL_MOUSEBUTTONDOWN, 50, 75, SDL_BUTTON_LEFT);
    push_button(SDL_MOUSEBUTTONDOWN, 60, 75, SDL_BUTTON_WHEELDOWN);
    push_button(SDL_MOUSEBUTTONUP, 60, 75, SDL_BUTTON_WHEELDOWN);
    vesk_Loop();
    expect_pointer(-0.4f, 0.5f, 1);
    push_motion(70, 75, SDL_BUTTON_LMASK | SDL_BUTTON(SDL_BUTTON_WHEELDOWN));
    vesk_Loop();
    expect_pointer(-0.3f, 0.5f, 1);
    push_motion(70, 75, SDL_BUTTON(SDL_BUTTON_WHEELDOWN));
    vesk_Loop();
    expect_pointer(-0.3f, 0.5f, 0);
}

TEST_F(Events, KeyAndFocusEventsLeaveThePointerWhereItWas)
{
    push_button(SDL_MOUSEBUTTONDOWN, 40, 60);
    push_plain(SDL_KEYDOWN);
    push_plain(SDL_ACTIVEEVENT);
    vesk_Loop();
    expect_pointer(-0.6f, 0.6f, 1);
    push_motion(160, 240, 0);
    push_plain(SDL_KEYUP);
    push_plain(SDL_VIDEOEXPOSE);
    vesk_Loop();
    expect_pointer(0.6f, -0.6f, 0);
}

TEST_F(Events, PointerConversionKeepsSinglePrecision)
{
    // 1 / 100 - 1 and -(299 / 150 - 1) as floats, not doubles.
    push_motion(1, 299, 0);
    vesk_Loop();
    expect_pointer(static_cast<float>(1 / 100.0 - 1), -static_cast<float>(299 / 150.0 - 1), 0);
    mouse_state m = vesk_Got_Mouse(screen);
    EXPECT_EQ(souris_brune.x, m.x);
    EXPECT_EQ(souris_brune.y, m.y);
}

} // namespace

// ---- circles, reading pixels back, the clock ----

namespace
{

// The circle's points written out plainly, pass by pass.
std::vector<std::vector<std::pair<float, float>>> reference_circle(float r, float cx, float cy)
{
    std::vector<std::vector<std::pair<float, float>>> passes;
    float x = 0, y = r, d = static_cast<float>(0.03 - 2.0 * r);
    while (y >= x && passes.size() < 100000) {
        passes.push_back({{float(cx + x), float(cy + y)},
                          {float(cx - x), float(cy + y)},
                          {float(cx + x), float(cy - y)},
                          {float(cx - x), float(cy - y)},
                          {float(cx + y), float(cy + x)},
                          {float(cx - y), float(cy + x)},
                          {float(cx + y), float(cy - x)},
                          {float(cx - y), float(cy - x)}});
        if (d <= 0) {
            d = float(d + 4.0 * x + 0.06);
        } else {
            d = float(d + 4.0 * (double(x) - y) + 0.1);
            y = float(y - 0.003);
        }
        x = float(x + 0.003);
    }
    return passes;
}

TEST_F(Surface, CircleOfRadiusZeroPlotsItsCentreOnce)
{
    use(200, 300, 4);
    reset_calls();
    brescircle(s, 0, 0.2f, -0.2f, 5);
    EXPECT_EQ(calls.locks, 1);
    EXPECT_EQ(calls.unlocks, 1);
    ASSERT_EQ(lit().size(), 1u);
    EXPECT_EQ(lit()[0], std::make_pair(120, 180));
}

TEST_F(Surface, CircleWithNegativeOrNaNRadiusDrawsNothingAndNeverLocks)
{
    use(200, 300, 4);
    reset_calls();
    for (float r : {-0.001f, -1.0f, NaN, -INF})
        brescircle(s, r, 0, 0, 5);
    brescircle(s, 0.5f, NaN, 0, 5);
    brescircle(s, 0.5f, 0, INF, 5);
    EXPECT_EQ(calls.locks, 0);
    EXPECT_TRUE(lit().empty());
}

TEST_F(Surface, CirclePassesAndPointsMatchThePlainMethod)
{
    const struct {
        float r;
        long passes;
    } cases[] = {{0.5f, 116}, {0.1f, 22}};
    for (auto &c : cases) {
        SCOPED_TRACE(c.r);
        use(2000, 2000, 4);
        reset_calls();
        brescircle(s, c.r, 0, 0, 1);
        EXPECT_EQ(calls.locks, c.passes); // one lock and unlock per pass
        EXPECT_EQ(calls.unlocks, c.passes);
        auto passes = reference_circle(c.r, 0, 0);
        ASSERT_EQ(static_cast<long>(passes.size()), c.passes);
        // Every point of the plain method lit, and nothing else.
        SDL_Surface *expected = make_surface(2000, 2000, 4);
        SDL_LockSurface(expected);
        for (auto &pass : passes)
            for (auto &p : pass)
                vesk_Giv_Pixel(expected, p.first, p.second, 1);
        SDL_UnlockSurface(expected);
        EXPECT_EQ(0, std::memcmp(expected->pixels, s->pixels, 2000 * 2000 * 4));
        SDL_FreeSurface(expected);
        SDL_FreeSurface(s);
        s = nullptr;
    }
    auto last = reference_circle(0.5f, 0, 0).back();
    EXPECT_NEAR(last[0].first, 0.345, 0.001); // x on the last pass
    EXPECT_NEAR(last[0].second, 0.350, 0.001);
}

TEST_F(Surface, CircleIsAnEllipseOnAWindowWhoseSidesDiffer)
{
    use(200, 300, 4);
    brescircle(s, 0.5f, 0, 0, 1);
    int left = 200, right = -1, top = 300, bottom = -1;
    for (auto &p : lit()) {
        left = std::min(left, p.first);
        right = std::max(right, p.first);
        top = std::min(top, p.second);
        bottom = std::max(bottom, p.second);
    }
    EXPECT_EQ(100 - left, 50);
    EXPECT_EQ(right - 100, 50);
    EXPECT_EQ(150 - top, 75);
    EXPECT_EQ(bottom - 150, 75);
}

TEST_F(Surface, CirclesWithHugeOrInfiniteRadiusReturn)
{
    use(200, 300, 4);
    reset_calls();
    brescircle(s, INF, 0, 0, 1);
    EXPECT_EQ(calls.locks, 0);
    // Huge radii: every point is far off the surface, yet the loop must end.
    for (float r : {2e4f, 7e4f, 1e6f, 3e38f})
        brescircle(s, r, 0, 0, 1);
    EXPECT_TRUE(lit().empty());
    // A huge circle whose rim crosses the surface: the float steps stall
    // at this size, and what is on the surface is still drawn.
    brescircle(s, 1e5f, 1e5f, 0, 1);
    EXPECT_FALSE(lit().empty());
}

TEST_F(Surface, ReaderAddressesLikeTheWriterOnEvenSurfaces)
{
    use(200, 300, 4);
    SDL_LockSurface(s);
    vesk_Giv_Pixel(s, 0, 0, 0x1234);
    vesk_Giv_Pixel(s, -1, 1, 0x5678);
    SDL_UnlockSurface(s);
    EXPECT_EQ(pixel_at(s, 100, 150), 0x1234u);
    EXPECT_EQ(vesk_Got_Pixel(s, 0, 0), 0x1234u);
    EXPECT_EQ(vesk_Got_Pixel(s, -1, 1), 0x5678u);
    // Every pixel centre the writer reaches reads back what it wrote.
    for (int row = 0; row < 300; row += 7)
        for (int column = 0; column < 200; column += 3) {
            float x = (column + 0.5f) / 100 - 1, y = 1 - (row + 0.5f) / 150;
            vesk_Giv_Pixel(s, x, y, static_cast<uint32_t>(row * 1000 + column + 1));
            ASSERT_EQ(vesk_Got_Pixel(s, x, y), static_cast<uint32_t>(row * 1000 + column + 1));
        }
}

TEST_F(Surface, ReaderGivesZeroOffTheSurface)
{
    use(200, 300, 4);
    SDL_FillRect(s, nullptr, 0xFFFFFFFF);
    for (auto &p : OFF_SURFACE)
        EXPECT_EQ(vesk_Got_Pixel(s, p[0], p[1]), 0u) << p[0] << ", " << p[1];
    EXPECT_EQ(vesk_Got_Pixel(s, 0.9999f, -0.9999f), 0xFFFFFFFFu);
    Uint8 saved = s->format->BytesPerPixel;
    s->format->BytesPerPixel = 0;
    EXPECT_EQ(vesk_Got_Pixel(s, 0, 0), 0u);
    s->format->BytesPerPixel = saved;
    SDL_FreeSurface(s);
    // On an odd size, x = 1 and y = -1 land on the last column and row.
    use(201, 301, 1);
    SDL_FillRect(s, nullptr, 7);
    EXPECT_EQ(vesk_Got_Pixel(s, 1, -1), 7u);
}

TEST(Clock, WholeSecondsSinceStart)
{
    const struct {
        long long ms;
        float seconds;
    } cases[] = {{0, 0}, {999, 0}, {1000, 1}, {1999, 1}, {61500, 61}, {4294967295LL, 4294967}};
    for (auto &c : cases) {
        fixed_ticks = c.ms;
        EXPECT_EQ(vesk_Got_Time(), c.seconds) << c.ms;
    }
    fixed_ticks = -1;
    // The real clock: SDL started moments ago, at the start of this test run.
    float now = vesk_Got_Time();
    EXPECT_GE(now, 0);
    EXPECT_LT(now, 3600);
    EXPECT_EQ(now, std::floor(now));
}

} // namespace
