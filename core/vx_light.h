// Linear light as the high-dynamic-range formats store it: half floats
// (binary16 bits) and the sRGB levels made from it.
#pragma once

#include <cstdint>

namespace vx {

// Round to nearest, ties to even; beyond the half range infinity, NaN kept.
uint16_t FloatToHalf(float f);
float HalfToFloat(uint16_t h);

// Linear light to 16-bit sRGB levels, black to white clipped, NaN black.
uint16_t LinearToSrgb16(float linear);
// A fraction (alpha) to 16 bits, clipped, NaN 0.
uint16_t Clip16(float v);

}  // namespace vx
