// The desktop window's scale: k from a desktop's factor, the picture's place
// in a resized window and the way back, the nearest-neighbour copy against
// a plain reference, and the XSETTINGS reader on whole and cut blobs.
#include "linux/scaling.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace
{

TEST(View, ScaleIsTheFactorRoundedHalfUpAtLeastOneAndFitsTheScreen)
{
    const int dpi[] = {96, 120, 144, 192, 288}, k[] = {1, 1, 2, 2, 3};
    for (int i = 0; i < 5; i++)
        EXPECT_EQ(view_desktop_scale(dpi[i] / 96.0), k[i]) << dpi[i] << " dpi";
    for (double odd : {0.0, -2.0, 0.4, double(NAN), double(INFINITY), 1e12})
        EXPECT_EQ(view_desktop_scale(odd), 1) << odd;
    EXPECT_EQ(view_fit(3, 200, 300, 3840, 2160), 3);
    EXPECT_EQ(view_fit(3, 200, 300, 1366, 768), 2);
    EXPECT_EQ(view_fit(3, 200, 300, 640, 480), 1);
    EXPECT_EQ(view_fit(2, 200, 300, 100, 100), 1);
}

TEST(View, AResizedWindowShowsTheLargestWholeMultipleCentredAndMapsBackClamped)
{
    view v = view_in(200, 300, 1000, 1000);
    EXPECT_EQ(v.scale, 3);
    EXPECT_EQ(v.left, 200);
    EXPECT_EQ(v.top, 50);
    int x, y;
    view_to_surface(v, 200 + 3 * 60 + 2, 50 + 3 * 100, &x, &y);
    EXPECT_EQ(x * 1000 + y, 60 * 1000 + 100);
    view_to_surface(v, 100, 500, &x, &y); // the left margin
    EXPECT_EQ(x * 1000 + y, 0 * 1000 + 150);
    view_to_surface(v, 999, -40, &x, &y); // right, above the window
    EXPECT_EQ(x * 1000 + y, 199 * 1000 + 0);
    view at_two = view_in(200, 300, 400, 600);
    view_to_surface(at_two, 2 * 17 + 1, 2 * 23 + 1, &x, &y);
    EXPECT_EQ(x * 1000 + y, 17 * 1000 + 23);
    view small = view_in(200, 300, 150, 200); // cropped at 1
    EXPECT_EQ(small.scale * 10000 + small.left * 100 + small.top, 1 * 10000 - 25 * 100 - 50);
}

// The copy against its definition: each window pixel inside the rectangle's
// squares is the surface pixel it shows; every other one keeps its byte.
TEST(Scaling, EveryWindowPixelOfTheRectangleIsTheSurfacePixelItShows)
{
    std::mt19937 random(7);
    const uint8_t untouched = 0xA5;
    for (int bytes = 1; bytes <= 4; bytes++)
        for (int window_w : {40, 57, 97, 130})
            for (std::array<int, 4> rect : {std::array<int, 4>{0, 0, 20, 30}, {3, 5, 11, 7}}) {
                const int sw = 20, sh = 30, window_h = window_w * 3 / 2;
                std::vector<uint8_t> source(sw * sh * bytes),
                    window(window_w * window_h * bytes, untouched);
                for (uint8_t &b : source)
                    b = static_cast<uint8_t>(random());
                view v = view_in(sw, sh, window_w, window_h);
                int out[4];
                scale_rect({source.data(), sw * bytes, sw, sh},
                           {window.data(), window_w * bytes, window_w, window_h}, bytes, v,
                           rect.data(), out);
                long differ = 0;
                for (int wy = 0; wy < window_h; wy++)
                    for (int wx = 0; wx < window_w; wx++) {
                        int dx = wx - v.left, dy = wy - v.top, sx = dx / v.scale, sy = dy / v.scale;
                        bool in = dx >= 0 && dy >= 0 && sx >= rect[0] && sx < rect[0] + rect[2] &&
                                  sy >= rect[1] && sy < rect[1] + rect[3];
                        bool in_out = wx >= out[0] && wx < out[0] + out[2] && wy >= out[1] &&
                                      wy < out[1] + out[3];
                        const uint8_t *p = &window[(wy * window_w + wx) * bytes];
                        for (int i = 0; i < bytes; i++)
                            differ += in != in_out ||
                                      p[i] != (in ? source[(sy * sw + sx) * bytes + i] : untouched);
                    }
                EXPECT_EQ(differ, 0)
                    << bytes << " bytes, window " << window_w << ", rect x " << rect[0];
            }
}

// An XSETTINGS blob in either byte order: a string, a colour, then integers.
std::vector<uint8_t> xsettings(bool msb_first, int32_t scale)
{
    std::vector<uint8_t> b = {static_cast<uint8_t>(msb_first), 0, 0, 0};
    auto card = [&](uint32_t v, int n) {
        for (int i = 0; i < n; i++)
            b.push_back(static_cast<uint8_t>(v >> (8 * (msb_first ? n - 1 - i : i))));
    };
    auto named = [&](int type, const std::string &name) {
        card(type, 1);
        card(0, 1);
        card(static_cast<uint32_t>(name.size()), 2);
        b.insert(b.end(), name.begin(), name.end());
        b.resize((b.size() + 3) & ~size_t{3});
        card(9, 4);
    };
    card(1, 4);
    card(4, 4);
    named(1, "Net/ThemeName");
    card(7, 4);
    b.insert(b.end(), {'A', 'd', 'w', 'a', 'i', 't', 'a', 0});
    named(2, "Gtk/Colour");
    card(0, 4);
    card(0, 4);
    named(0, "Gdk/WindowScalingFactorX");
    card(5, 4);
    named(0, "Gdk/WindowScalingFactor");
    card(static_cast<uint32_t>(scale), 4);
    return b;
}

TEST(XSettings, FindsTheIntegerInEitherByteOrderAndNothingInACutBlob)
{
    for (bool msb_first : {false, true}) {
        std::vector<uint8_t> blob = xsettings(msb_first, 2);
        int32_t value = 0;
        EXPECT_EQ(xsettings_integer(blob.data(), blob.size(), "Gdk/WindowScalingFactor", &value),
                  1);
        EXPECT_EQ(value, 2);
        EXPECT_EQ(xsettings_integer(blob.data(), blob.size(), "Gdk/Window", &value), 0);
        for (size_t cut = 0; cut < blob.size(); cut++) { // each read checked against the size
            std::vector<uint8_t> part(blob.begin(), blob.begin() + cut);
            EXPECT_EQ(
                xsettings_integer(part.data(), part.size(), "Gdk/WindowScalingFactor", &value), 0);
        }
    }
    std::vector<uint8_t> huge = xsettings(false, 2);
    huge[11] = 0xFF; // a count far beyond the blob
    huge[39] = 0xFF; // and the string's length
    int32_t value = 0;
    EXPECT_EQ(xsettings_integer(huge.data(), huge.size(), "Gdk/WindowScalingFactor", &value), 0);
}

} // namespace
