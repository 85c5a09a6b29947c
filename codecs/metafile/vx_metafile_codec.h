// Windows metafile (placeable 16-bit WMF and EMF) reader: the records are
// played by the project's own player into a 24-bit picture. Saving is refused.
#pragma once

#include <cstdint>
#include <vector>

#include "core/vx_image.h"

class VxMetafileCodec : public VxImage {
public:
    VxMetafileCodec() : VxImage(VX_FORMAT_WMF) {}
    // Non-zero maxWidth / maxHeight replace the picture's own size.
    bool Decode(VxFile* fp, int32_t maxWidth, int32_t maxHeight);
    bool Decode(VxFile* fp) { return Decode(fp, 0, 0); }
    bool Encode(VxFile* fp);


    // The screen the size rules assume.
    static constexpr int32_t kScreenDpi = 96;
    static constexpr int32_t kMaxSide = 4000;
    // A placeable WMF header or the start of an EMF header.
    static bool Claims(const uint8_t* head, size_t size);
    static constexpr uint32_t kClaimsReach = 44;

protected:
    // A metafile read into memory, ready to play.
    struct Loaded {
        bool enhanced = false;
        std::vector<uint8_t> bytes;  // WMF: the body from its 18-byte header on; EMF: everything
        int16_t left = 0, top = 0, right = 0, bottom = 0;  // placeable box
        uint16_t unitsPerInch = 0;
        int32_t xExt = 0, yExt = 0;                           // picture description
        int32_t boundsLeft = 0, boundsTop = 0, boundsRight = 0, boundsBottom = 0;  // EMF rclBounds
    };

    static bool IsPlaceableHeader(const uint8_t* header22);
    bool LoadWindowsMetafile(VxFile* fp, Loaded& out);
    bool LoadEnhancedMetafile(VxFile* fp, Loaded& out);
    // At most kMaxSide per side, proportions kept.
    static void LimitSize(int32_t* width, int32_t* height);
    // Scales small picture extents by tens until x reaches 6554; ends for any input.
    static void ScaleExtents(int32_t* x, int32_t* y);
};
