// Fixed-width, little-endian picture structures shared by the core and the codecs.
// In memory they are plain structs; whenever they meet bytes (a file or the packed
// pixel block) they go through the Load/Store helpers, never through struct copies,
// so nothing depends on compiler padding or host byte order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

using COLORREF = uint32_t;  // red in the low byte

struct RGBQUAD {
    uint8_t rgbBlue = 0;
    uint8_t rgbGreen = 0;
    uint8_t rgbRed = 0;
    uint8_t rgbReserved = 0;
};
static_assert(sizeof(RGBQUAD) == 4, "RGBQUAD is a 4-byte record");

inline bool operator==(const RGBQUAD& a, const RGBQUAD& b) {
    return a.rgbBlue == b.rgbBlue && a.rgbGreen == b.rgbGreen && a.rgbRed == b.rgbRed &&
           a.rgbReserved == b.rgbReserved;
}

struct rgb_color {
    uint8_t r, g, b;
};

struct VxRect {
    int32_t left = 0, top = 0, right = 0, bottom = 0;
};

struct BITMAPINFOHEADER {
    uint32_t biSize = 0;
    int32_t biWidth = 0;
    int32_t biHeight = 0;
    uint16_t biPlanes = 0;
    uint16_t biBitCount = 0;
    uint32_t biCompression = 0;
    uint32_t biSizeImage = 0;
    int32_t biXPelsPerMeter = 0;
    int32_t biYPelsPerMeter = 0;
    uint32_t biClrUsed = 0;
    uint32_t biClrImportant = 0;
};
constexpr size_t kBitmapInfoHeaderBytes = 40;

// The bit masks (red, green, blue, then alpha) that the info headers longer
// than 40 bytes carry in their own bytes: three at 52 bytes, four at 56, 108
// and 124. Other sizes keep none; with bit fields the masks follow the header.
inline uint32_t MasksInInfoHeader(uint32_t biSize) {
    if (biSize == 52) return 3;
    return biSize == 56 || biSize == 108 || biSize == 124 ? 4 : 0;
}
constexpr size_t kBitmapFileHeaderBytes = 14;

struct BITMAPFILEHEADER {
    uint16_t bfType = 0;
    uint32_t bfSize = 0;
    uint16_t bfReserved1 = 0;
    uint16_t bfReserved2 = 0;
    uint32_t bfOffBits = 0;
};

namespace vx {

inline uint16_t LoadLE16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t LoadLE32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline uint16_t LoadBE16(const uint8_t* p) { return uint16_t((p[0] << 8) | p[1]); }
inline uint32_t LoadBE32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}
inline void StoreLE16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline void StoreLE32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}
inline void StoreBE16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v >> 8);
    p[1] = uint8_t(v);
}
inline void StoreBE32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

inline BITMAPINFOHEADER LoadInfoHeader(const uint8_t* p) {
    BITMAPINFOHEADER h;
    h.biSize = LoadLE32(p);
    h.biWidth = int32_t(LoadLE32(p + 4));
    h.biHeight = int32_t(LoadLE32(p + 8));
    h.biPlanes = LoadLE16(p + 12);
    h.biBitCount = LoadLE16(p + 14);
    h.biCompression = LoadLE32(p + 16);
    h.biSizeImage = LoadLE32(p + 20);
    h.biXPelsPerMeter = int32_t(LoadLE32(p + 24));
    h.biYPelsPerMeter = int32_t(LoadLE32(p + 28));
    h.biClrUsed = LoadLE32(p + 32);
    h.biClrImportant = LoadLE32(p + 36);
    return h;
}

inline void StoreInfoHeader(uint8_t* p, const BITMAPINFOHEADER& h) {
    StoreLE32(p, h.biSize);
    StoreLE32(p + 4, uint32_t(h.biWidth));
    StoreLE32(p + 8, uint32_t(h.biHeight));
    StoreLE16(p + 12, h.biPlanes);
    StoreLE16(p + 14, h.biBitCount);
    StoreLE32(p + 16, h.biCompression);
    StoreLE32(p + 20, h.biSizeImage);
    StoreLE32(p + 24, uint32_t(h.biXPelsPerMeter));
    StoreLE32(p + 28, uint32_t(h.biYPelsPerMeter));
    StoreLE32(p + 32, h.biClrUsed);
    StoreLE32(p + 36, h.biClrImportant);
}

inline BITMAPFILEHEADER LoadFileHeader(const uint8_t* p) {
    BITMAPFILEHEADER h;
    h.bfType = LoadLE16(p);
    h.bfSize = LoadLE32(p + 2);
    h.bfReserved1 = LoadLE16(p + 6);
    h.bfReserved2 = LoadLE16(p + 8);
    h.bfOffBits = LoadLE32(p + 10);
    return h;
}

inline void StoreFileHeader(uint8_t* p, const BITMAPFILEHEADER& h) {
    StoreLE16(p, h.bfType);
    StoreLE32(p + 2, h.bfSize);
    StoreLE16(p + 6, h.bfReserved1);
    StoreLE16(p + 8, h.bfReserved2);
    StoreLE32(p + 10, h.bfOffBits);
}

inline RGBQUAD MakeRGBQUAD(uint8_t r, uint8_t g, uint8_t b, uint8_t a = 0) {
    RGBQUAD q;
    q.rgbRed = r;
    q.rgbGreen = g;
    q.rgbBlue = b;
    q.rgbReserved = a;
    return q;
}

// Copies `text` into a fixed buffer of `cap` bytes (NUL included) without
// splitting a UTF-8 sequence at the cut.
void CopyTextUtf8(char* dst, size_t cap, const char* text);

}  // namespace vx
