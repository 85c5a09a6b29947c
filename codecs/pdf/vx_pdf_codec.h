// Page description reader through poppler on cairo: each page is a picture
// (Frame picks one; targets that keep pages get them all). Saving is refused.
#pragma once

#include <cstdint>

#include "core/vx_image.h"

class VxPdfCodec : public VxImage {
public:
    VxPdfCodec() : VxImage(VX_FORMAT_PDF) {}
    bool Decode(VxFile* file);
    bool Encode(VxFile* file);
    static constexpr bool kReportsFrames = true;

    // The codec option of VX_FORMAT_PDF is the resolution in dots per inch;
    // 0 takes this one.
    static constexpr uint32_t kDefaultDpi = 150;
    static constexpr size_t kMaxFile = size_t(1) << 30;
    // "%PDF-" within the first kClaimsReach bytes.
    static bool Claims(const uint8_t* head, size_t size);
    static constexpr uint32_t kClaimsReach = 1024;
};
