// channel.h: one colour channel of a pixel format, described by its mask
// (the bits of a pixel value that hold the channel, in one unbroken run).
// The screen library (vesk.cpp) and the port layer's pixel formats
// (src/platform/port/port.cpp) both read masks through these.
//
// Cost: a few shifts a bit of the mask; called when a format is made or a
// palette mapped, never per pixel.
#ifndef VESK_CHANNEL_H
#define VESK_CHANNEL_H

#include <cstdint>

// Bits in an 8-bit colour component.
const int COMPONENT_BITS = 8;

// The position of the mask's lowest set bit; 0 for an empty mask.
inline int channel_shift(uint32_t mask)
{
    int shift = 0;
    if (mask)
        while (!(mask >> shift & 1))
            shift++;
    return shift;
}

// The number of bits in the channel: the run of set bits from its shift.
inline int channel_width(uint32_t mask)
{
    int width = 0;
    for (uint32_t m = mask >> channel_shift(mask); m & 1; m >>= 1)
        width++;
    return width;
}

#endif
