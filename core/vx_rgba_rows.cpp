#include "core/vx_rgba_rows.h"

#include <cstring>
#include <vector>

#include "core/vx_image.h"
#include "core/vx_row_index.h"
#include "core/vx_swap_rb.h"
#include "core/vx_transparency.h"

namespace vx {

void StoreRow(VxImage& img, uint32_t topRow, const uint8_t* s, int channels) {
    const uint32_t w = img.GetWidth();
    const uint32_t stored = img.GetHeight() - 1 - topRow;
    uint8_t* dst = img.GetBits(stored);
    uint8_t* a = (channels == 2 || channels == 4) ? img.AlphaGetPointer(0, int32_t(stored)) : nullptr;
    if (channels <= 2) {
        for (uint32_t x = 0; x < w; ++x, s += channels) {
            dst[x] = s[0];
            if (a) a[x] = s[1];
        }
        return;
    }
    if (channels == 3) {
        SwapRedBlue(s, dst, w);  // the common case, vectorised
        return;
    }
    for (uint32_t x = 0; x < w; ++x, s += channels, dst += 3) {
        dst[0] = s[2];
        dst[1] = s[1];
        dst[2] = s[0];
        if (a) a[x] = s[3];
    }
}

void StoreRows(VxImage& img, const uint8_t* src, size_t stride, int channels) {
    for (uint32_t y = 0; y < img.GetHeight(); ++y, src += stride) StoreRow(img, y, src, channels);
}

std::vector<uint8_t> RgbaPixels(const VxImage& img) {
    std::vector<uint8_t> rows(size_t(img.GetWidth()) * img.GetHeight() * 4);
    if (!rows.empty()) LoadRows(img, rows.data(), size_t(img.GetWidth()) * 4, 4);
    return rows;
}

void LoadRows(const VxImage& img, uint8_t* dst, size_t stride, int channels) {
    const uint32_t w = img.GetWidth(), h = img.GetHeight(), bpp = img.GetBpp();
    const RGBQUAD* pal = img.IsIndexed() ? img.GetPalette() : nullptr;
    const uint32_t colours = img.GetNumColors();
    std::vector<uint8_t> rgb(size_t(w) * 3), opacity(channels == 4 ? w : 0);
    for (uint32_t y = 0; y < h; ++y, dst += stride) {
        const uint32_t stored = h - 1 - y;
        const uint8_t* src = img.GetBits(stored);
        if (pal) {
            for (uint32_t x = 0; x < w; ++x) {
                const uint32_t i = RowIndex(src, bpp, int32_t(x));
                const RGBQUAD c = i < colours ? pal[i] : RGBQUAD{};
                rgb[3 * size_t(x)] = c.rgbRed;
                rgb[3 * size_t(x) + 1] = c.rgbGreen;
                rgb[3 * size_t(x) + 2] = c.rgbBlue;
            }
        } else {
            SwapRedBlue(src, rgb.data(), w);
        }
        if (channels == 3) {
            std::memcpy(dst, rgb.data(), rgb.size());
            continue;
        }
        OpacityRow(img, stored, opacity.data());
        for (uint32_t x = 0; x < w; ++x) {
            std::memcpy(dst + 4 * size_t(x), &rgb[3 * size_t(x)], 3);
            dst[4 * size_t(x) + 3] = opacity[x];
        }
    }
}

void NarrowSamples(const uint16_t* src, uint8_t* dst, size_t count, int bits) {
    const uint32_t max = (uint32_t(1) << bits) - 1;
    for (size_t i = 0; i < count; ++i) {
        const uint32_t v = src[i] > max ? max : src[i];
        dst[i] = uint8_t((v * 510 + max) / (2 * max));
    }
}

}  // namespace vx
