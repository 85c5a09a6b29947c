// Layered-document reader: the stored composite only (8/16-bit grey, indexed,
// RGB and CMYK, raw or run-length coded), in the 4- and 8-byte length forms.
#pragma once

#include "core/vx_image.h"

class VxPsdCodec : public VxImage {
public:
    VxPsdCodec() : VxImage(VX_FORMAT_PSD) {}
    bool Decode(VxFile* file);
    bool Encode(VxFile* file);
};
