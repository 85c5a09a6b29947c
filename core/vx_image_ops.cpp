// Geometry, colour inversion and alpha-plane operations the codecs need.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/vx_image.h"

bool VxImage::Flip() {
    if (!Dib) return false;
    const uint32_t h = GetHeight();
    const size_t stride = Info.EffWidth;
    std::vector<uint8_t> tmp(stride);
    for (uint32_t y = 0; y < h / 2; ++y) {
        uint8_t* a = GetBits(y);
        uint8_t* b = GetBits(h - 1 - y);
        std::memcpy(tmp.data(), a, stride);
        std::memcpy(a, b, stride);
        std::memcpy(b, tmp.data(), stride);
    }
    AlphaFlip();
    SelectionDelete();
    if (Info.Deep) Info.Deep = vx::DeepFlipped(*Info.Deep);
    return true;
}

bool VxImage::Mirror() {
    if (!Dib) return false;
    const int32_t w = Header.biWidth;
    const int32_t h = Header.biHeight;
    for (int32_t y = 0; y < h; ++y) {
        if (Header.biBitCount == 24) {
            uint8_t* row = GetBits(uint32_t(y));
            for (int32_t x = 0; x < w / 2; ++x) {
                uint8_t* a = row + size_t(x) * 3;
                uint8_t* b = row + size_t(w - 1 - x) * 3;
                std::swap(a[0], b[0]);
                std::swap(a[1], b[1]);
                std::swap(a[2], b[2]);
            }
        } else {
            for (int32_t x = 0; x < w / 2; ++x) {
                const uint8_t a = BlindGetPixelIndex(x, y);
                const uint8_t b = BlindGetPixelIndex(w - 1 - x, y);
                BlindSetPixelIndex(x, y, b);
                BlindSetPixelIndex(w - 1 - x, y, a);
            }
        }
    }
    AlphaMirror();
    SelectionDelete();
    if (Info.Deep) Info.Deep = vx::DeepMirrored(*Info.Deep);
    return true;
}

namespace {

// dest(x', y') = src(x, y) with (x', y') = map(x, y); dest is h x w.
template <typename Map>
bool Rotate90(VxImage& img, Map map, bool clockwise) {
    const VxDeepRef deep = img.GetDeep();
    const int32_t w = int32_t(img.GetWidth());
    const int32_t h = int32_t(img.GetHeight());
    VxImage tmp(img, false, false, false);
    if (!tmp.Create(uint32_t(h), uint32_t(w), img.GetBpp(), img.GetType())) return false;
    tmp.SetPalette(img.GetPalette(), img.GetNumColors());
    if (img.GetBpp() == 24) {
        for (int32_t y = 0; y < h; ++y) {
            const uint8_t* src = img.GetBits(uint32_t(y));
            for (int32_t x = 0; x < w; ++x) {
                int32_t nx, ny;
                map(x, y, w, h, nx, ny);
                std::memcpy(tmp.GetBits(uint32_t(ny)) + size_t(nx) * 3, src + size_t(x) * 3, 3);
            }
        }
    } else {
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x) {
                int32_t nx, ny;
                map(x, y, w, h, nx, ny);
                tmp.SetPixelIndex(nx, ny, img.GetPixelIndex(x, y));
            }
    }
    if (img.AlphaIsValid()) {
        tmp.AlphaCreate();
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x) {
                int32_t nx, ny;
                map(x, y, w, h, nx, ny);
                tmp.AlphaSet(nx, ny, img.AlphaGet(x, y));
            }
    }
    const int32_t xdpi = img.GetXDPI(), ydpi = img.GetYDPI();
    if (!img.Transfer(tmp)) return false;
    if (deep) img.SetDeep(vx::DeepTurned(*deep, clockwise));
    // A quarter turn swaps the resolutions too.
    img.SetXDPI(ydpi);
    img.SetYDPI(xdpi);
    return true;
}

}  // namespace

bool VxImage::RotateLeft() {
    if (!Dib) return false;
    // Counter-clockwise, in bottom-up coordinates: (x, y) -> (h-1-y, x).
    const bool ok = Rotate90(*this, [](int32_t x, int32_t y, int32_t, int32_t h, int32_t& nx,
                                       int32_t& ny) {
        nx = h - 1 - y;
        ny = x;
    }, false);
    if (ok) SyncHeaderToDib();
    return ok;
}

bool VxImage::RotateRight() {
    if (!Dib) return false;
    // Clockwise, in bottom-up coordinates: (x, y) -> (y, w-1-x).
    const bool ok = Rotate90(*this, [](int32_t x, int32_t y, int32_t w, int32_t, int32_t& nx,
                                       int32_t& ny) {
        nx = y;
        ny = w - 1 - x;
    }, true);
    if (ok) SyncHeaderToDib();
    return ok;
}

bool VxImage::Negative() {
    if (!Dib) return false;
    Info.Deep.reset();
    if (Header.biBitCount <= 8) {
        if (IsGrayScale()) {
            const uint8_t mask = uint8_t((1u << Header.biBitCount) - 1);
            for (int32_t y = 0; y < Header.biHeight; ++y)
                for (int32_t x = 0; x < Header.biWidth; ++x)
                    BlindSetPixelIndex(x, y, uint8_t((255 - BlindGetPixelIndex(x, y)) & mask));
        } else {
            RGBQUAD* pal = GetPalette();
            for (uint32_t i = 0; i < Header.biClrUsed; ++i) {
                pal[i].rgbBlue = uint8_t(255 - pal[i].rgbBlue);
                pal[i].rgbGreen = uint8_t(255 - pal[i].rgbGreen);
                pal[i].rgbRed = uint8_t(255 - pal[i].rgbRed);
            }
            Info.LastNearestValid = false;
        }
    } else {
        uint8_t* p = GetBits(0);
        for (uint32_t i = 0; i < Header.biSizeImage; ++i) p[i] = uint8_t(~p[i]);
        Info.TransColor.rgbBlue = uint8_t(255 - Info.TransColor.rgbBlue);
        Info.TransColor.rgbGreen = uint8_t(255 - Info.TransColor.rgbGreen);
        Info.TransColor.rgbRed = uint8_t(255 - Info.TransColor.rgbRed);
    }
    return true;
}

// ---------------------------------------------------------------------------
// alpha and selection planes

bool VxImage::AlphaCreate() {
    if (!Dib) return false;
    if (Alpha) return true;
    const size_t n = size_t(GetWidth()) * GetHeight();
    Alpha = static_cast<uint8_t*>(std::malloc(n));
    if (!Alpha) return false;
    std::memset(Alpha, 255, n);
    return true;
}

void VxImage::AlphaDelete() {
    std::free(Alpha);
    Alpha = nullptr;
}

void VxImage::AlphaSet(int32_t x, int32_t y, uint8_t level) {
    if (Alpha && IsInside(x, y)) Alpha[size_t(y) * Header.biWidth + x] = level;
}

uint8_t VxImage::AlphaGet(int32_t x, int32_t y) const {
    if (Alpha && IsInside(x, y)) return Alpha[size_t(y) * Header.biWidth + x];
    return 0;
}

uint8_t* VxImage::AlphaGetPointer(int32_t x, int32_t y) const {
    if (Alpha && IsInside(x, y)) return Alpha + size_t(y) * Header.biWidth + x;
    return nullptr;
}

bool VxImage::AlphaFlip() {
    if (!Alpha) return false;
    const size_t w = GetWidth();
    const uint32_t h = GetHeight();
    std::vector<uint8_t> tmp(w);
    for (uint32_t y = 0; y < h / 2; ++y) {
        uint8_t* a = Alpha + y * w;
        uint8_t* b = Alpha + (h - 1 - y) * w;
        std::memcpy(tmp.data(), a, w);
        std::memcpy(a, b, w);
        std::memcpy(b, tmp.data(), w);
    }
    return true;
}

bool VxImage::AlphaMirror() {
    if (!Alpha) return false;
    const size_t w = GetWidth();
    for (uint32_t y = 0; y < GetHeight(); ++y) std::reverse(Alpha + y * w, Alpha + y * w + w);
    return true;
}

void VxImage::AlphaClear() {
    if (Alpha) std::memset(Alpha, 0, size_t(GetWidth()) * GetHeight());
}

void VxImage::AlphaInvert() {
    if (!Alpha) return;
    const size_t n = size_t(GetWidth()) * GetHeight();
    for (size_t i = 0; i < n; ++i) Alpha[i] = uint8_t(255 - Alpha[i]);
}

bool VxImage::AlphaPaletteIsValid() const {
    const RGBQUAD* pal = GetPalette();
    if (!pal) return false;
    for (uint32_t i = 0; i < Header.biClrUsed; ++i)
        if (pal[i].rgbReserved != 0) return true;
    return false;
}

void VxImage::SelectionDelete() {
    std::free(Selection);
    Selection = nullptr;
}
