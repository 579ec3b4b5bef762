// scaling.cpp: the nearest-neighbour copy and the XSETTINGS reader.
#include "scaling.h"

#include <cstring>

// One window row from surface row `source`: window columns [from, to), each
// the surface pixel it shows. B bytes a pixel, a constant so that each
// store is one move; one division a row.
template <int B>
static void widen_row(const uint8_t *source, uint8_t *row, const view &v, int from, int to)
{
    int k = v.scale, sx = (from - v.left) / k;
    const uint8_t *p = source + sx * B;
    uint8_t *out = row + from * B;
    if (k == 1) {
        std::memcpy(out, p, static_cast<size_t>(to - from) * B);
        return;
    }
    for (int wx = from, end = v.left + (sx + 1) * k; wx < to; p += B, end += k)
        for (int stop = end < to ? end : to; wx < stop; wx++, out += B)
            std::memcpy(out, p, B);
}

void scale_rect(const pixel_rows &surface, const pixel_rows &window, int bytes_per_pixel,
                const view &v, const int rect[4], int out[4])
{
    int k = v.scale;
    long x0 = v.left + static_cast<long>(rect[0]) * k, y0 = v.top + static_cast<long>(rect[1]) * k;
    long x1 = x0 + static_cast<long>(rect[2]) * k, y1 = y0 + static_cast<long>(rect[3]) * k;
    x0 = x0 < 0 ? 0 : x0;
    y0 = y0 < 0 ? 0 : y0;
    x1 = x1 > window.width ? window.width : x1;
    y1 = y1 > window.height ? window.height : y1;
    out[0] = static_cast<int>(x0);
    out[1] = static_cast<int>(y0);
    out[2] = x1 > x0 ? static_cast<int>(x1 - x0) : 0;
    out[3] = y1 > y0 ? static_cast<int>(y1 - y0) : 0;
    if (!out[2] || !out[3])
        return;
    size_t span = static_cast<size_t>(out[2]) * bytes_per_pixel;
    for (long wy = y0; wy < y1; wy++) {
        uint8_t *row = window.pixels + wy * window.pitch;
        long within = (wy - v.top) % k;
        if (within && wy > y0) { // the row above shows the same surface row
            std::memcpy(row + x0 * bytes_per_pixel, row - window.pitch + x0 * bytes_per_pixel,
                        span);
            continue;
        }
        const uint8_t *source = surface.pixels + (wy - v.top) / k * surface.pitch;
        int from = out[0], to = static_cast<int>(x1);
        switch (bytes_per_pixel) {
        case 1:
            widen_row<1>(source, row, v, from, to);
            break;
        case 2:
            widen_row<2>(source, row, v, from, to);
            break;
        case 3:
            widen_row<3>(source, row, v, from, to);
            break;
        case 4:
            widen_row<4>(source, row, v, from, to);
            break;
        default:
            break;
        }
    }
}

// XSETTINGS: a header (byte order, 3 unused, serial, count), then each
// setting: type, 1 unused, name length (16 bits), name padded to 4, serial,
// and the value: an INT32, a string (length, bytes padded to 4) or a colour
// (four 16-bit values).
static const size_t XSETTINGS_HEADER = 12;
static const uint8_t XSETTINGS_MSB_FIRST = 1;
enum { XSETTINGS_INTEGER = 0, XSETTINGS_STRING = 1, XSETTINGS_COLOR = 2 };
static const size_t XSETTINGS_COLOR_BYTES = 8;

struct xsettings_reader {
    const uint8_t *data;
    size_t size, at;
    bool msb_first, ok;
};

static uint32_t read_card(xsettings_reader &r, int bytes)
{
    if (!r.ok || r.size - r.at < static_cast<size_t>(bytes)) {
        r.ok = false;
        return 0;
    }
    uint32_t v = 0;
    for (int i = 0; i < bytes; i++) {
        int shift = 8 * (r.msb_first ? bytes - 1 - i : i);
        v |= static_cast<uint32_t>(r.data[r.at + i]) << shift;
    }
    r.at += bytes;
    return v;
}

// Skips n bytes padded to a multiple of 4.
static void skip_padded(xsettings_reader &r, size_t n)
{
    size_t padded = (n + 3) & ~static_cast<size_t>(3);
    if (!r.ok || padded < n || r.size - r.at < padded)
        r.ok = false;
    else
        r.at += padded;
}

int xsettings_integer(const uint8_t *data, size_t size, const char *name, int32_t *value)
{
    if (!data || size < XSETTINGS_HEADER)
        return 0;
    xsettings_reader r = {data, size, 4, data[0] == XSETTINGS_MSB_FIRST, true};
    read_card(r, 4); // serial
    uint32_t count = read_card(r, 4);
    size_t name_size = std::strlen(name);
    for (uint32_t i = 0; i < count && r.ok; i++) {
        int type = static_cast<int>(read_card(r, 1));
        read_card(r, 1);
        size_t length = read_card(r, 2);
        bool match = r.ok && length == name_size && r.size - r.at >= length &&
                     std::memcmp(r.data + r.at, name, length) == 0;
        skip_padded(r, length);
        read_card(r, 4); // last change's serial
        if (type == XSETTINGS_INTEGER) {
            uint32_t v = read_card(r, 4);
            if (match && r.ok) {
                *value = static_cast<int32_t>(v);
                return 1;
            }
        } else if (type == XSETTINGS_STRING) {
            skip_padded(r, read_card(r, 4));
        } else if (type == XSETTINGS_COLOR) {
            skip_padded(r, XSETTINGS_COLOR_BYTES);
        } else {
            return 0;
        }
    }
    return 0;
}
