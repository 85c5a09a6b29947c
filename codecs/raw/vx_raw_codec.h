// Camera raw files (DNG, CR2, CR3, NEF, ARW, ORF, RW2, RAF, PEF), read only,
// developed through libraw from memory, or their embedded preview.
#pragma once

#include <cstdint>

#include "core/vx_image.h"

class VxRawCodec : public VxImage {
public:
    VxRawCodec() : VxImage(VX_FORMAT_RAW) {}
    bool Decode(VxFile* file, ImageFormat type);
    bool Encode(VxFile* file);

    // Codec option bit of VX_FORMAT_RAW: read the embedded preview instead of
    // developing the mosaic (a file without one is developed).
    static constexpr uint32_t kPreview = kVxRawPreview;
    // The probe takes only files with a raw maker's signature: libraw also
    // recognises headerless dumps by their size alone, which any file may match.
    static bool Claims(const uint8_t* head, size_t size);
    static constexpr uint32_t kClaimsReach = 16;
};
