// Colour-depth conversion: palette reduction (nearest colour or simple error
// diffusion), widening, and the fixed standard palettes.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "core/vx_image.h"
#include "core/vx_nearest.h"
#include "core/vx_row_index.h"

namespace {

const uint32_t kStd16[16] = {0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080,
                             0x008080, 0xC0C0C0, 0x808080, 0xFF0000, 0x00FF00, 0xFFFF00,
                             0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};

const uint32_t kStd256[256] = {
    0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080, 0xC0C0C0,
    0xC0DCC0, 0xA6CAF0, 0xFFF0D4, 0xFFE2B1, 0xFFD48E, 0xFFC66B, 0xFFB848, 0xFFAA25,
    0xFFAA00, 0xDC9200, 0xB97A00, 0x966200, 0x734A00, 0x503200, 0xFFE3D4, 0xFFC7B1,
    0xFFAB8E, 0xFF8F6B, 0xFF7348, 0xFF5725, 0xFF5500, 0xDC4900, 0xB93D00, 0x963100,
    0x732500, 0x501900, 0xFFD4D4, 0xFFB1B1, 0xFF8E8E, 0xFF6B6B, 0xFF4848, 0xFF2525,
    0xFE0000, 0xDC0000, 0xB90000, 0x960000, 0x730000, 0x500000, 0xFFD4E3, 0xFFB1C7,
    0xFF8EAB, 0xFF6B8F, 0xFF4873, 0xFF2557, 0xFF0055, 0xDC0049, 0xB9003D, 0x960031,
    0x730025, 0x500019, 0xFFD4F0, 0xFFB1E2, 0xFF8ED4, 0xFF6BC6, 0xFF48B8, 0xFF25AA,
    0xFF00AA, 0xDC0092, 0xB9007A, 0x960062, 0x73004A, 0x500032, 0xFFD4FF, 0xFFB1FF,
    0xFF8EFF, 0xFF6BFF, 0xFF48FF, 0xFF25FF, 0xFE00FE, 0xDC00DC, 0xB900B9, 0x960096,
    0x730073, 0x500050, 0xF0D4FF, 0xE2B1FF, 0xD48EFF, 0xC66BFF, 0xB848FF, 0xAA25FF,
    0xAA00FF, 0x9200DC, 0x7A00B9, 0x620096, 0x4A0073, 0x320050, 0xE3D4FF, 0xC7B1FF,
    0xAB8EFF, 0x8F6BFF, 0x7348FF, 0x5725FF, 0x5500FF, 0x4900DC, 0x3D00B9, 0x310096,
    0x250073, 0x190050, 0xD4D4FF, 0xB1B1FF, 0x8E8EFF, 0x6B6BFF, 0x4848FF, 0x2525FF,
    0x0000FE, 0x0000DC, 0x0000B9, 0x000096, 0x000073, 0x000050, 0xD4E3FF, 0xB1C7FF,
    0x8EABFF, 0x6B8FFF, 0x4873FF, 0x2557FF, 0x0055FF, 0x0049DC, 0x003DB9, 0x003196,
    0x002573, 0x001950, 0xD4F0FF, 0xB1E2FF, 0x8ED4FF, 0x6BC6FF, 0x48B8FF, 0x25AAFF,
    0x00AAFF, 0x0092DC, 0x007AB9, 0x006296, 0x004A73, 0x003250, 0xD4FFFF, 0xB1FFFF,
    0x8EFFFF, 0x6BFFFF, 0x48FFFF, 0x25FFFF, 0x00FEFE, 0x00DCDC, 0x00B9B9, 0x009696,
    0x007373, 0x005050, 0xD4FFF0, 0xB1FFE2, 0x8EFFD4, 0x6BFFC6, 0x48FFB8, 0x25FFAA,
    0x00FFAA, 0x00DC92, 0x00B97A, 0x009662, 0x00734A, 0x005032, 0xD4FFE3, 0xB1FFC7,
    0x8EFFAB, 0x6BFF8F, 0x48FF73, 0x25FF57, 0x00FF55, 0x00DC49, 0x00B93D, 0x009631,
    0x007325, 0x005019, 0xD4FFD4, 0xB1FFB1, 0x8EFF8E, 0x6BFF6B, 0x48FF48, 0x25FF25,
    0x00FE00, 0x00DC00, 0x00B900, 0x009600, 0x007300, 0x005000, 0xE3FFD4, 0xC7FFB1,
    0xABFF8E, 0x8FFF6B, 0x73FF48, 0x57FF25, 0x55FF00, 0x49DC00, 0x3DB900, 0x319600,
    0x257300, 0x195000, 0xF0FFD4, 0xE2FFB1, 0xD4FF8E, 0xC6FF6B, 0xB8FF48, 0xAAFF25,
    0xAAFF00, 0x92DC00, 0x7AB900, 0x629600, 0x4A7300, 0x325000, 0xFFFFD4, 0xFFFFB1,
    0xFFFF8E, 0xFFFF6B, 0xFFFF48, 0xFFFF25, 0xFEFE00, 0xDCDC00, 0xB9B900, 0x969600,
    0x737300, 0x505000, 0xF2F2F2, 0xE6E6E6, 0xDADADA, 0xCECECE, 0xC2C2C2, 0xB6B6B6,
    0xAAAAAA, 0x9E9E9E, 0x929292, 0x868686, 0x7A7A7A, 0x6E6E6E, 0x626262, 0x565656,
    0x4A4A4A, 0x3E3E3E, 0x323232, 0x262626, 0x1A1A1A, 0x0E0E0E, 0xFFFBF0, 0xA0A0A4,
    0x808080, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF,
};

void FillPalette(RGBQUAD* pal, const uint32_t* rgb, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i)
        pal[i] = vx::MakeRGBQUAD(uint8_t(rgb[i] >> 16), uint8_t(rgb[i] >> 8), uint8_t(rgb[i]), 0);
}

int Clamp255(int v) { return v < 0 ? 0 : v > 255 ? 255 : v; }

}  // namespace

void VxImage::SetStdPalette() {
    if (!Dib) return;
    if (Header.biBitCount == 4) FillPalette(GetPalette(), kStd16, 16);
    else if (Header.biBitCount == 8) FillPalette(GetPalette(), kStd256, 256);
    Info.LastNearestValid = false;
}

namespace {

// The target palette exactly as the reduction sets it on a new picture.
bool SetTargetPalette(VxImage& t, const RGBQUAD* palette) {
    switch (t.GetBpp()) {
        case 1:
            if (palette) {
                t.SetPalette(palette, 2);
            } else {
                t.SetPaletteColor(0, 0, 0, 0);
                t.SetPaletteColor(1, 255, 255, 255);
            }
            return true;
        case 4:
            if (palette) t.SetPalette(palette, 16);
            else t.SetStdPalette();
            return true;
        case 8:
            if (palette) t.SetPalette(palette, 256);
            else t.SetStdPalette();
            return true;
        default:
            return false;
    }
}

}  // namespace

bool VxImage::DecreaseBpp(uint32_t bits, bool diffuseError, const RGBQUAD* palette,
                          uint32_t importantColors) {
    if (!Dib || Header.biBitCount < bits) return false;
    // A palette holds no deeper samples.
    Info.Deep.reset();
    if (Header.biBitCount == bits) {
        if (importantColors == 0) return true;
        if (Header.biClrImportant != 0 && Header.biClrImportant < importantColors) return true;
    }
    if (diffuseError) return DecreaseBppDiffused(bits, palette, importantColors);
    if (Info.GhostOf || vx::LoadLE32(Dib) < kBitmapInfoHeaderBytes) return false;

    // A one-pixel picture carries the target header and palette, so the pixels
    // can be rewritten inside the block: a photo reduced for GIF never holds
    // both pictures at once.
    VxImage target(0);
    target.CopyInfo(*this);
    target.Create(1, 1, bits, GetType());
    if (importantColors) target.SetClrImportant(importantColors);
    if (!target.IsValid()) return false;
    if (!SetTargetPalette(target, palette)) return false;

    const uint32_t w = GetWidth(), h = GetHeight();
    const uint32_t dstBpp = target.GetBpp();
    const size_t dstStride = (size_t(w) * dstBpp + 31) / 32 * 4;
    const size_t palBytes = target.GetPaletteSize();
    const size_t oldTotal = GetSize();
    const size_t newTotal = kBitmapInfoHeaderBytes + palBytes + dstStride * h;
    const uint32_t m = target.Header.biClrImportant
                           ? std::min(target.Header.biClrImportant, target.Header.biClrUsed)
                           : target.Header.biClrUsed;
    // Same answers as SetPixelColor/GetNearestIndex per pixel, without the
    // per-pixel call chain: the search only depends on the colour.
    vx::NearestPalette nearest(target.GetPalette(), m);
    const uint32_t srcBpp = Header.biBitCount;
    uint8_t srcMap[256] = {};
    if (Header.biClrUsed) {
        const RGBQUAD* pal = GetPalette();
        for (uint32_t i = 0; i < 256; ++i) {
            const RGBQUAD c = i < Header.biClrUsed ? pal[i] : RGBQUAD{};
            srcMap[i] = nearest.Find(c.rgbRed, c.rgbGreen, c.rgbBlue);
        }
    }
    // Every row sets the same pixel bits, so the padding stays zero throughout.
    std::vector<uint8_t> row(dstStride);
    if (newTotal > oldTotal) {  // tiny pictures: the palette outweighs the saving
        auto* grown = static_cast<uint8_t*>(std::realloc(Dib, newTotal));
        if (!grown) return false;  // unchanged, text included, as when no picture can be made
        Dib = grown;
        Info.Image = GetBits(0);
    }

    // Row y of the result ends before source row y + 1 begins (the result has
    // the smaller stride and starts no later), so going down the rows never
    // overwrites a pixel still to be read. The palette goes in afterwards.
    uint8_t* const out = Dib + kBitmapInfoHeaderBytes;
    const size_t srcStride = Info.EffWidth;
    const int32_t progressBefore = Info.Progress;
    uint32_t done = 0;
    uint32_t lastKey = 0xFFFFFFFF;
    uint8_t lastIndex = 0;
    for (; done < h; ++done) {
        if (Cancelled()) break;
        Info.Progress = int32_t(int64_t(done) * 100 / h);
        const uint8_t* src = Info.Image + size_t(done) * srcStride;
        for (uint32_t x = 0; x < w; ++x) {
            uint8_t idx;
            if (Header.biClrUsed) {
                idx = srcMap[vx::RowIndex(src, srcBpp, int32_t(x))];
            } else {
                const uint8_t* p = src + size_t(x) * 3;
                const uint32_t key = uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16);
                if (key != lastKey) {
                    lastKey = key;
                    lastIndex = nearest.Find(p[2], p[1], p[0]);
                }
                idx = lastIndex;
            }
            vx::SetRowIndex(row.data(), dstBpp, int32_t(x), idx);
        }
        std::memcpy(out + size_t(done) * dstStride, row.data(), dstStride);
    }
    // A cancelled reduction leaves the rows it did not reach at index 0.
    if (done < h) std::memset(out + size_t(done) * dstStride, 0, size_t(h - done) * dstStride);
    std::memmove(out + palBytes, out, dstStride * h);
    std::memcpy(out, target.GetPalette(), palBytes);
    if (newTotal < oldTotal) {
        if (auto* shrunk = static_cast<uint8_t*>(std::realloc(Dib, newTotal))) Dib = shrunk;
    }

    if (Layers) {
        for (int32_t i = 0; i < Info.NumLayers; ++i) delete Layers[i];
        std::free(Layers);
        Layers = nullptr;
    }
    Info.NumLayers = 0;
    const bool wasOneBit = Header.biBitCount == 1;
    Header = target.Header;
    Header.biWidth = int32_t(w);
    Header.biHeight = int32_t(h);
    Header.biSizeImage = uint32_t(dstStride * h);
    Info.EffWidth = uint32_t(dstStride);
    Info.LastNearestValid = false;
    Info.Progress = progressBefore;
    SyncHeaderToDib();
    Info.Image = GetBits(0);
    if (wasOneBit) {
        SetPaletteColor(0, 0, 0, 0);
        SetPaletteColor(1, 255, 255, 255);
    }
    return true;
}

bool VxImage::DecreaseBppDiffused(uint32_t bits, const RGBQUAD* palette,
                                  uint32_t importantColors) {
    VxImage tmp(0);
    tmp.CopyInfo(*this);
    tmp.Create(GetWidth(), GetHeight(), bits, GetType());
    if (importantColors) tmp.SetClrImportant(importantColors);
    if (!tmp.IsValid()) return false;

    tmp.CopyPlanes(*this, true, true);
    if (!SetTargetPalette(tmp, palette)) return false;

    const int32_t w = Header.biWidth;
    const int32_t h = Header.biHeight;
    static const int kOffX[4] = {1, -1, 0, 1};
    static const int kOffY[4] = {0, 1, 1, 1};
    static const int kWeight[4] = {7, 2, 4, 1};
    for (int32_t y = 0; y < h; ++y) {
        if (Cancelled()) break;
        Info.Progress = int32_t(int64_t(y) * 100 / h);
        for (int32_t x = 0; x < w; ++x) {
            const RGBQUAD c = GetPixelColor(x, y, true);
            tmp.SetPixelColor(x, y, c, false);
            const RGBQUAD q = tmp.GetPixelColor(x, y, true);
            const int er = int(c.rgbRed) - q.rgbRed;
            const int eg = int(c.rgbGreen) - q.rgbGreen;
            const int eb = int(c.rgbBlue) - q.rgbBlue;
            for (int k = 0; k < 4; ++k) {
                const int32_t nx = x + kOffX[k], ny = y + kOffY[k];
                if (!IsInside(nx, ny)) continue;
                RGBQUAD n = GetPixelColor(nx, ny, true);
                n.rgbRed = uint8_t(Clamp255(n.rgbRed + kWeight[k] * er / 16));
                n.rgbGreen = uint8_t(Clamp255(n.rgbGreen + kWeight[k] * eg / 16));
                n.rgbBlue = uint8_t(Clamp255(n.rgbBlue + kWeight[k] * eb / 16));
                SetPixelColor(nx, ny, n, false);
            }
        }
    }

    if (Header.biBitCount == 1) {
        tmp.SetPaletteColor(0, 0, 0, 0);
        tmp.SetPaletteColor(1, 255, 255, 255);
    }
    tmp.SyncHeaderToDib();
    return Transfer(tmp);
}

bool VxImage::IncreaseBpp(uint32_t bits) {
    if (!Dib) return false;
    if (bits != 4 && bits != 8 && bits != 24) return false;
    if (Header.biBitCount == bits) return true;
    if (Header.biBitCount > bits) return false;
    const VxDeepRef deep = Info.Deep;

    VxImage tmp(0);
    tmp.CopyInfo(*this);
    tmp.Create(GetWidth(), GetHeight(), bits, GetType());
    if (!tmp.IsValid()) return false;

    const int32_t w = Header.biWidth;
    const int32_t h = Header.biHeight;

    if (bits < 24) {
        tmp.SetPalette(GetPalette(), GetNumColors());
        tmp.CopyPlanes(*this, true, true);
        for (int32_t y = 0; y < h; ++y) {
            if (Cancelled()) break;
            for (int32_t x = 0; x < w; ++x) tmp.BlindSetPixelIndex(x, y, BlindGetPixelIndex(x, y));
        }
    } else {
        if (Info.TransIndex >= 0) tmp.Info.TransColor = GetPaletteColor(uint8_t(Info.TransIndex));
        tmp.CopyPlanes(*this, true, true);
        if (!tmp.Alpha && AlphaPaletteIsValid()) tmp.AlphaCreate();
        const RGBQUAD* pal = GetPalette();
        for (int32_t y = 0; y < h; ++y) {
            if (Cancelled()) break;
            uint8_t* dst = tmp.GetBits(uint32_t(y));
            for (int32_t x = 0; x < w; ++x) {
                RGBQUAD c = pal[BlindGetPixelIndex(x, y)];
                if (Alpha) c.rgbReserved = Alpha[size_t(y) * w + x];
                dst[size_t(x) * 3] = c.rgbBlue;
                dst[size_t(x) * 3 + 1] = c.rgbGreen;
                dst[size_t(x) * 3 + 2] = c.rgbRed;
                if (tmp.Alpha) tmp.Alpha[size_t(y) * w + x] = c.rgbReserved;
            }
        }
    }
    if (!Transfer(tmp)) return false;
    Info.Deep = deep;  // the same pixels, held wider
    return true;
}
