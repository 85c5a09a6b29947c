// Windows bitmap reader and writer.
#pragma once

#include "core/vx_image.h"

class VxBmpCodec : public VxImage {
public:
    VxBmpCodec() : VxImage(VX_FORMAT_BMP) {}
    bool Decode(VxFile* file);
    bool Decode(FILE* fp) {
        VxIOFile f(fp);
        return Decode(&f);
    }
    bool Encode(VxFile* file);
    bool Encode(FILE* fp) {
        VxIOFile f(fp);
        return Encode(&f);
    }

    static const VxCodecOps kOps;

private:
    bool ReadInfoHeader(VxFile* file, BITMAPINFOHEADER& bih);
    void DecodeRle8(VxFile* file);
    void DecodeRle4(VxFile* file);
};
