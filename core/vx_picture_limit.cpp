// The check every decoder makes before it allocates for a picture.
#include <cinttypes>
#include <cstdio>

#include "core/vx_codec.h"
#include "core/vx_image.h"

bool VxImage::PictureFits(uint64_t width, uint64_t height, uint32_t bpp, VxFile* file,
                          uint64_t leastBytes, const char* shortText) {
    if (width == 0 || height == 0) return true;  // Create says why that is no picture
    char text[sizeof(Info.LastError)];
    // A picture above the limit says so, however short its file.
    // Width times height cannot overflow: both sides are checked first.
    const bool huge = width > 0xFFFFFFFFu || height > 0xFFFFFFFFu;
    if (Info.MaxPixels != 0 && (huge || width * height > Info.MaxPixels)) {
        std::snprintf(text, sizeof(text),
                      "picture of %" PRIu64 " x %" PRIu64 " pixels is above the limit of %" PRIu64
                      " pixels",
                      width, height, Info.MaxPixels);
        SetLastError(text);
        return false;
    }
    // Below the limit, a file too short for what it declares fails in the
    // format's own words when it has them.
    if (file && leastBytes > 0) {
        const int64_t left = file->Remaining();
        if (left >= 0 && uint64_t(left) < leastBytes) {
            if (shortText) {
                SetLastError(shortText);
            } else {
                std::snprintf(text, sizeof(text),
                              "file too short for a picture of %" PRIu64 " x %" PRIu64
                              " pixels: it needs %" PRIu64 " bytes, %" PRIu64 " are left",
                              width, height, leastBytes, uint64_t(left));
                SetLastError(text);
            }
            return false;
        }
    }
    if (huge || !BlockFits(width, height, bpp)) {
        SetLastError(kVxBlockTooLarge);
        return false;
    }
    return true;
}

bool VxImage::BufferFits(uint64_t bytes, uint32_t perPixel) {
    if (Info.MaxPixels == 0 || perPixel == 0 || Info.MaxPixels > UINT64_MAX / perPixel) return true;
    const uint64_t allowed = Info.MaxPixels * perPixel;
    if (bytes <= allowed) return true;
    char text[sizeof(Info.LastError)];
    std::snprintf(text, sizeof(text),
                  "a decoding buffer of %" PRIu64 " bytes is above the %" PRIu64
                  " bytes the limit of %" PRIu64 " pixels allows",
                  bytes, allowed, Info.MaxPixels);
    SetLastError(text);
    return false;
}

void VxRequireBuffer(VxImage& codec, uint64_t bytes, uint32_t perPixel) {
    if (!codec.BufferFits(bytes, perPixel)) throw VxCodecFailure(codec.GetLastError());
}

void VxRequirePicture(VxImage& codec, uint64_t width, uint64_t height, uint32_t bpp,
                      VxFile* file, uint64_t leastBytes, const char* shortText) {
    if (!codec.PictureFits(width, height, bpp, file, leastBytes, shortText))
        throw VxCodecFailure(codec.GetLastError());
}
