// Windows bitmap reader and writer.
#pragma once

#include "core/vx_image.h"

class VxBmpCodec : public VxImage {
public:
    VxBmpCodec() : VxImage(VX_FORMAT_BMP) {}
    bool Decode(VxFile* file);
    bool Encode(VxFile* file);

private:
    // The info header as read, with the bit masks wherever the file keeps them.
    struct InfoHeader {
        BITMAPINFOHEADER bih;
        uint32_t masks[4] = {};  // red, green, blue, alpha
        uint32_t masksInHeader = 0;
    };
    bool ReadInfoHeader(VxFile* file, InfoHeader& info);
    // 16- and 32-bit rows, one at a time. An alpha mask fills the alpha plane,
    // unless every pixel's alpha is 0: most writers' 32-bit pictures without
    // transparency look like that, and every viewer shows them opaque.
    void DecodeBitFields(VxFile* file, uint32_t bpp, const uint32_t masks[4]);
    // Both fail unless the data reaches the picture's last row or says it ends.
    void DecodeRle8(VxFile* file);
    void DecodeRle4(VxFile* file);
};
