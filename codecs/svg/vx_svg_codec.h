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
};
