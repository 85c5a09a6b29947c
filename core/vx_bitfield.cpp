// 16- and 32-bit bit-field pixels to the image's 24-bit rows. Walks bottom-right
// to top-left so that the 16-bit conversion can run in place.
#include "core/vx_image.h"

namespace {

int CountBits(uint16_t v) {
    int n = 0;
    for (; v; v &= uint16_t(v - 1)) ++n;
    return n;
}

// A shift amount may come out negative for unusual masks: shift the other way
// rather than invoking undefined behaviour.
uint8_t ShiftLow(uint32_t v, int right) {
    if (right >= 32 || right <= -32) return 0;
    return uint8_t(right >= 0 ? (v >> right) : (v << -right));
}

}  // namespace

void VxImage::Bitfield2RGB(const uint8_t* src, uint16_t redMask, uint16_t greenMask,
                           uint16_t blueMask, uint8_t bpp) {
    if (!Dib || !src || Header.biBitCount != 24) return;
    const int32_t w = Header.biWidth;
    const int32_t h = Header.biHeight;
    if (bpp == 16) {
        const int nr = CountBits(redMask), ng = CountBits(greenMask), nb = CountBits(blueMask);
        const size_t srcStride = size_t((w + 1) / 2) * 4;
        for (int32_t y = h - 1; y >= 0; --y) {
            const uint8_t* s = src + size_t(y) * srcStride;
            uint8_t* d = GetBits(uint32_t(y));
            for (int32_t x = w - 1; x >= 0; --x) {
                const uint32_t v = uint32_t(s[2 * x]) | (uint32_t(s[2 * x + 1]) << 8);
                const uint8_t b = ShiftLow(v & blueMask, -(8 - nr));
                const uint8_t g = ShiftLow(v & greenMask, nr + ng - 8);
                const uint8_t r = ShiftLow(v & redMask, nr + ng + nb - 8);
                d[3 * x] = b;
                d[3 * x + 1] = g;
                d[3 * x + 2] = r;
            }
        }
    } else if (bpp == 32) {
        const size_t srcStride = size_t(w) * 4;
        for (int32_t y = h - 1; y >= 0; --y) {
            const uint8_t* s = src + size_t(y) * srcStride;
            uint8_t* d = GetBits(uint32_t(y));
            for (int32_t x = w - 1; x >= 0; --x) {
                d[3 * x] = s[4 * x];
                d[3 * x + 1] = s[4 * x + 1];
                d[3 * x + 2] = s[4 * x + 2];
            }
        }
    }
}
