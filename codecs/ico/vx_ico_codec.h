// Icon and cursor reader (one directory entry, chosen by Frame) and
// single-entry icon writer.
#pragma once

#include "core/vx_image.h"

class VxIcoCodec : public VxImage {
public:
    static constexpr bool kReportsFrames = true;
    // The directory's size bytes hold 1 to 255, and 0 for 256.
    static constexpr uint32_t kMaxSide = 256;

    VxIcoCodec() : VxImage(VX_FORMAT_ICO) {}
    bool Decode(VxFile* file);
    bool Encode(VxFile* file);


private:
    void DecodePngEntry(VxFile* file, int64_t offset, uint32_t bytes, int32_t entries);
    void ApplyMask(const uint8_t* mask, uint32_t stride, uint32_t bpp);
};
