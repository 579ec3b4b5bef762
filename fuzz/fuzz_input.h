// fuzz_input.h: reading a fuzzer's input as a stream of small values.
//
// Conventions:
//   - Reads never fail: past the end of the input every byte reads as 0, and
//     `done` tells the caller to stop; loops over records are also bounded
//     by a count of their own.
//   - take_float gives a float of every interesting kind: any bit pattern
//     (NaN payloads, infinities, denormals), small values around the
//     normalized range [-1, 1], values just inside and outside its ends,
//     huge and tiny magnitudes, and the kit's special values (kit.h).
#ifndef VESK_FUZZ_INPUT_H
#define VESK_FUZZ_INPUT_H

#include "kit.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

struct fuzz_input {
    const uint8_t *data;
    size_t size;
    size_t at;
};

inline bool done(const fuzz_input &in)
{
    return in.at >= in.size;
}

inline uint8_t take_byte(fuzz_input &in)
{
    return in.at < in.size ? in.data[in.at++] : 0;
}

inline uint16_t take_u16(fuzz_input &in)
{
    uint16_t low = take_byte(in);
    return static_cast<uint16_t>(low | take_byte(in) << 8);
}

inline uint32_t take_u32(fuzz_input &in)
{
    uint32_t low = take_u16(in);
    return low | static_cast<uint32_t>(take_u16(in)) << 16;
}

// Copies up to n bytes into out, zero-filling what the input lacks.
inline void take_bytes(fuzz_input &in, void *out, size_t n)
{
    uint8_t *p = static_cast<uint8_t *>(out);
    for (size_t i = 0; i < n; i++)
        p[i] = take_byte(in);
}

inline float take_float(fuzz_input &in)
{
    uint8_t kind = take_byte(in);
    switch (kind % 8) {
    case 0:
    case 1: { // any bit pattern
        uint32_t bits = take_u32(in);
        float f;
        std::memcpy(&f, &bits, sizeof f);
        return f;
    }
    case 2: // small steps around the normalized range
        return static_cast<int8_t>(take_byte(in)) / 64.0f;
    case 3: // fine steps across [-1, 1]
        return take_u16(in) / 32767.5f - 1.0f;
    case 4: { // a few ulps inside or outside either end
        float end = take_byte(in) % 2 ? 1.0f : -1.0f;
        float f = end;
        int ulps = static_cast<int8_t>(take_byte(in)) % 8;
        for (int i = 0; i < (ulps < 0 ? -ulps : ulps); i++)
            f = std::nextafter(f, ulps < 0 ? 0.0f : 2.0f * end);
        return f;
    }
    case 5: // huge or tiny magnitudes
        return std::ldexp(static_cast<int8_t>(take_byte(in)) / 128.0f,
                          static_cast<int8_t>(take_byte(in)));
    default:
        return SPECIAL_FLOATS[take_byte(in) % SPECIAL_FLOAT_COUNT];
    }
}

#endif
