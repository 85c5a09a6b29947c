// Windows bitmap reader and writer.
#pragma once

#include "core/vx_image.h"

class VxBmpCodec : public VxImage {
public:
    VxBmpCodec() : VxImage(VX_FORMAT_BMP) {}
    bool Decode(VxFile* file);
    bool Encode(VxFile* file);


private:
    bool ReadInfoHeader(VxFile* file, BITMAPINFOHEADER& bih);
    void DecodeRle8(VxFile* file);
    void DecodeRle4(VxFile* file);
};
