#include "core/vx_light.h"

#include <cmath>
#include <cstring>

namespace vx {

uint16_t FloatToHalf(float f) {
    uint32_t x;
    std::memcpy(&x, &f, 4);
    const uint16_t sign = uint16_t((x >> 16) & 0x8000);
    const uint32_t a = x & 0x7FFFFFFF;
    if (a >= 0x7F800000) return uint16_t(sign | 0x7C00 | (a > 0x7F800000 ? 0x200 : 0));
    if (a >= 0x477FF000) return uint16_t(sign | 0x7C00);  // rounds past 65504
    uint32_t r, rest, halfway;
    if (a < 0x38800000) {  // below 2^-14: a subnormal half, or zero
        if (a < 0x33000000) return sign;
        const uint32_t shift = 126 - (a >> 23);
        const uint32_t m = (a & 0x7FFFFF) | 0x800000;
        r = m >> shift;
        rest = m & ((1u << shift) - 1);
        halfway = 1u << (shift - 1);
    } else {
        r = (a - 0x38000000) >> 13;  // exponent rebased from 127 to 15
        rest = a & 0x1FFF;
        halfway = 0x1000;
    }
    if (rest > halfway || (rest == halfway && (r & 1))) ++r;  // a carry may reach infinity: right
    return uint16_t(sign | r);
}

float HalfToFloat(uint16_t h) {
    const uint32_t sign = uint32_t(h & 0x8000) << 16, e = (h >> 10) & 0x1F, m = h & 0x3FF;
    if (e == 0) {
        const float v = std::ldexp(float(m), -24);
        return sign ? -v : v;
    }
    const uint32_t x = sign | (e == 31 ? 0x7F800000 | (m << 13) : ((e + 112) << 23) | (m << 13));
    float f;
    std::memcpy(&f, &x, 4);
    return f;
}

uint16_t LinearToSrgb16(float linear) {
    if (!(linear > 0.0f)) return 0;  // NaN too
    if (linear >= 1.0f) return 65535;
    const double v = linear <= 0.0031308 ? 12.92 * linear : 1.055 * std::pow(double(linear), 1 / 2.4) - 0.055;
    return uint16_t(std::lround(v * 65535));
}

uint16_t Clip16(float v) {
    if (!(v > 0.0f)) return 0;
    return v >= 1.0f ? 65535 : uint16_t(std::lround(double(v) * 65535));
}

}  // namespace vx
