#include "core/vx_rgba_rows.h"

#include <vector>

#include "core/vx_image.h"

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

namespace {

// One stored row as RGBA, with every form of transparency joined into the
// fourth byte.
void RgbaRow(const VxImage& img, uint32_t stored, uint8_t* out) {
    const uint32_t w = img.GetWidth();
    const ImageInfo& info = img.GetInfo();
    const RGBQUAD* pal = img.IsIndexed() ? img.GetPalette() : nullptr;
    const uint8_t* a = img.AlphaGetPointer(0, int32_t(stored));
    const bool alphaPalette = pal && img.AlphaPaletteIsEnabled() && img.AlphaPaletteIsValid();
    const bool colourKey = !pal && info.TransIndex >= 0;
    const RGBQUAD key = info.TransColor;
    const uint8_t* src = img.GetBits(stored);
    for (uint32_t x = 0; x < w; ++x, out += 4) {
        uint32_t level = a ? a[x] : 255;
        if (pal) {
            const RGBQUAD c = img.GetPixelColor(int32_t(x), int32_t(stored), false);
            const uint32_t i = img.GetPixelIndex(int32_t(x), int32_t(stored));
            out[0] = c.rgbRed;
            out[1] = c.rgbGreen;
            out[2] = c.rgbBlue;
            if (info.TransIndex >= 0 && i == uint32_t(info.TransIndex)) level = 0;
            if (alphaPalette) level = level * pal[i].rgbReserved / 255;
        } else {
            const uint8_t* s = src + 3 * size_t(x);
            out[0] = s[2];
            out[1] = s[1];
            out[2] = s[0];
            if (colourKey && s[2] == key.rgbRed && s[1] == key.rgbGreen && s[0] == key.rgbBlue)
                level = 0;
        }
        out[3] = uint8_t(level * info.AlphaMax / 255);
    }
}

}  // namespace

bool HasTransparency(const VxImage& img) {
    if (!img.IsValid()) return false;
    std::vector<uint8_t> row(size_t(img.GetWidth()) * 4);
    for (uint32_t y = 0; y < img.GetHeight(); ++y) {
        RgbaRow(img, y, row.data());
        for (size_t i = 3; i < row.size(); i += 4)
            if (row[i] != 255) return true;
    }
    return false;
}

void LoadRows(const VxImage& img, uint8_t* dst, size_t stride, int channels) {
    const uint32_t w = img.GetWidth(), h = img.GetHeight();
    std::vector<uint8_t> row(size_t(w) * 4);
    for (uint32_t y = 0; y < h; ++y, dst += stride) {
        RgbaRow(img, h - 1 - y, row.data());
        if (channels == 4) {
            std::copy(row.begin(), row.end(), dst);
            continue;
        }
        for (uint32_t x = 0; x < w; ++x) {
            dst[3 * size_t(x)] = row[4 * size_t(x)];
            dst[3 * size_t(x) + 1] = row[4 * size_t(x) + 1];
            dst[3 * size_t(x) + 2] = row[4 * size_t(x) + 2];
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
