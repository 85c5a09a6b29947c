// The colour path: three components (sYCC or RGB, any precision, an optional
// ICC profile), or four of CMYK, into 8-bit sRGB rows.
#pragma once

#include <functional>

#include "codecs/jpeg2000/vx_jp2_planes.h"

namespace vxj2k {

// Sample scaled from [0, maxval] to [0, 255]; signed samples are shifted first.
inline uint8_t To8(const Plane& p, int32_t v) {
    int64_t s = v;
    if (p.sgnd) s += int64_t(1) << (p.prec - 1);
    if (s <= 0) return 0;
    if (uint64_t(s) >= p.maxval) return 255;
    if (p.maxval == 255) return uint8_t(s);
    return uint8_t((uint64_t(s) * 255 + p.maxval / 2) / p.maxval);
}

// Writes `height` rows of blue-green-red triples, top row first, into the
// buffers `row(y)` returns. Throws VxCodecFailure when a profile cannot be applied.
void ColourToBgr8(const Planes& in, uint32_t width, uint32_t height,
                  const std::function<uint8_t*(uint32_t)>& row);

// Cyan, magenta, yellow and black (components 0 to 3, one grid) the same way,
// each ink taking its share of the light the others leave.
void CmykToBgr8(const Planes& in, uint32_t width, uint32_t height,
                const std::function<uint8_t*(uint32_t)>& row);

}  // namespace vxj2k
