// QOI reader (3 and 4 channels) and writer (24-bit as 3 channels, with alpha as 4).
#pragma once

#include "core/vx_image.h"

class VxQoiCodec : public VxImage {
public:
    VxQoiCodec() : VxImage(VX_FORMAT_QOI) {}
    bool Decode(VxFile* file);
    bool Encode(VxFile* file);
};
