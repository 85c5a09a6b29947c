// Wireless bitmap (type 0, black and white) reader and writer.
#pragma once

#include "core/vx_image.h"

class VxWbmpCodec : public VxImage {
public:
    // The largest side the writer stores.
    static constexpr uint32_t kMaxSide = 255;

    VxWbmpCodec() : VxImage(VX_FORMAT_WBMP) {}
    bool Decode(VxFile* file);
    bool Encode(VxFile* file);

};
