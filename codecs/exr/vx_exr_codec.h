// High-dynamic-range reader (half and float RGB(A), scanline and tiled) and
// writer (half RGBA), through the OpenEXR library, from and to memory.
#pragma once

#include <cstdint>

#include "core/vx_image.h"

class VxExrCodec : public VxImage {
public:
    VxExrCodec() : VxImage(VX_FORMAT_EXR) {}
    bool Decode(VxFile* file);
    bool Encode(VxFile* file);
    // The four-byte signature.
    static bool Claims(const uint8_t* head, size_t size);
    static constexpr uint32_t kClaimsReach = 4;

    // The exposure a decode applies before the sRGB transfer, in hundredths
    // of a stop, as the codec option of VX_FORMAT_EXR holds it (two's complement).
    static uint32_t ExposureOption(int32_t hundredths) { return uint32_t(hundredths); }
};
