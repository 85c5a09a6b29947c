// Scalable drawing reader (plain and gzip-compressed) through librsvg on
// cairo. Nothing outside the file is ever loaded. Saving is refused.
#pragma once

#include <cstdint>

#include "core/vx_image.h"

class VxSvgCodec : public VxImage {
public:
    VxSvgCodec() : VxImage(VX_FORMAT_SVG) {}
    bool Decode(VxFile* file);
    bool Encode(VxFile* file);

    // The codec option of VX_FORMAT_SVG is the resolution in dots per inch;
    // 0 takes this one, at which a CSS pixel is one pixel.
    static constexpr uint32_t kDefaultDpi = 96;
    // Unpacked text a compressed drawing may hold.
    static constexpr size_t kMaxText = size_t(64) << 20;

    // Whether the text starts as an SVG document does: markup (declaration,
    // comments, doctype) with an <svg element within the first kClaimsReach
    // bytes and no binary bytes there.
    static bool LooksLikeSvg(const uint8_t* text, size_t size);
    static bool IsGzip(const uint8_t* bytes, size_t size) {
        return size >= 2 && bytes[0] == 0x1F && bytes[1] == 0x8B;
    }
    // SVG text or gzip (the drawing inside is looked at when it is unpacked).
    static bool Claims(const uint8_t* head, size_t size) {
        return IsGzip(head, size) || LooksLikeSvg(head, size);
    }
    static constexpr uint32_t kClaimsReach = 4096;
};
