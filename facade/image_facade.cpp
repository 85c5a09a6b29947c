#include "facade/image_facade.h"

#include <algorithm>
#include <cstring>

namespace ImageFacade {

void Free(ImageHandle* handle) {
    if (!handle || !*handle) return;
    delete *handle;
    *handle = nullptr;
}

bool DecodeFromFile(ImageHandle* handle, const char* fileName, int32_t format) {
    if (!handle || !fileName || std::strlen(fileName) < 4) return false;
    if (!*handle) *handle = new VxImage(0);
    return (*handle)->Load(fileName, uint32_t(format));
}

bool EncodeToFile(ImageHandle* handle, const char* fileName, int32_t format) {
    if (!handle || !*handle) return false;
    if (!fileName || std::strlen(fileName) < 4) return false;
    return (*handle)->Save(fileName, uint32_t(format));
}

bool DecreaseBpp(ImageHandle* handle, int32_t bits, int32_t diffuseError, const uint8_t* palette,
                 int32_t paletteBytes, int32_t importantColors) {
    if (!handle || !*handle) return false;
    // The palette travels when the array holds at least 2^bits bytes. The core then
    // reads whole 4-byte entries, so the bytes go through a zero-padded copy that
    // is always large enough: a short array is never read past its end.
    RGBQUAD padded[256] = {};
    const RGBQUAD* pal = nullptr;
    if (palette && bits >= 0 && bits < 31 && int64_t(paletteBytes) >= (int64_t(1) << bits)) {
        const size_t n = std::min<size_t>(size_t(paletteBytes), sizeof(padded));
        std::memcpy(padded, palette, n);
        pal = padded;
    }
    return (*handle)->DecreaseBpp(uint32_t(bits), diffuseError != 0, pal,
                                  uint32_t(importantColors));
}

int16_t GetBpp(ImageHandle* handle) {
    if (!handle || !*handle) return 0;
    return int16_t((*handle)->GetBpp());
}

int32_t GetWidth(ImageHandle* handle) { return handle && *handle ? int32_t((*handle)->GetWidth()) : 0; }
int32_t GetHeight(ImageHandle* handle) { return handle && *handle ? int32_t((*handle)->GetHeight()) : 0; }
int32_t GetNumFrames(ImageHandle* handle) { return handle && *handle ? (*handle)->GetNumFrames() : 0; }
int32_t GetType(ImageHandle* handle) { return handle && *handle ? int32_t((*handle)->GetType()) : 0; }
int32_t GetXDPI(ImageHandle* handle) { return handle && *handle ? (*handle)->GetXDPI() : 0; }
int32_t GetYDPI(ImageHandle* handle) { return handle && *handle ? (*handle)->GetYDPI() : 0; }

const char* GetLastError(ImageHandle* handle) {
    return handle && *handle ? (*handle)->GetLastError() : "";
}

void SetFrame(ImageHandle* handle, int32_t frame) {
    if (!handle) return;
    if (!*handle) *handle = new VxImage(0);
    (*handle)->SetFrame(frame);
}

void SetMaxPixels(ImageHandle* handle, uint64_t pixels) {
    if (!handle) return;
    if (!*handle) *handle = new VxImage(0);
    (*handle)->SetMaxPixels(pixels);
}

void SetJpegScale(ImageHandle* handle, int32_t denominator) {
    if (!handle) return;
    if (!*handle) *handle = new VxImage(0);
    (*handle)->SetJpegScale(uint8_t(denominator < 1 ? 1 : denominator > 8 ? 8 : denominator));
}

void SetJpegQuality(ImageHandle* handle, int32_t quality) {
    if (!handle) return;
    if (!*handle) *handle = new VxImage(0);
    (*handle)->SetJpegQuality(uint8_t(quality < 1 ? 1 : quality > 100 ? 100 : quality));
}

}  // namespace ImageFacade
