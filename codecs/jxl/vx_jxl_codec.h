// JPEG XL reader and writer over libjxl. Reading gives 8-bit pictures (deeper
// samples scaled), alpha kept, the file's orientation applied, and for
// animations frame N (Frame) as the viewer shows it, or every frame when the
// animation is asked for; the writer makes an animation of a picture's frames. An ICC profile the
// samples are stored in comes with the picture (other colour arrives in
// sRGB), and so does the Exif box, its orientation set to 1: the code
// stream's own orientation is applied.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/vx_image.h"

class VxJxlCodec : public VxImage {
public:
    static constexpr bool kReportsFrames = true;

    VxJxlCodec() : VxImage(VX_FORMAT_JXL) {}
    bool Decode(VxFile* file);
    // Lossy at --quality below 100 (mapped to a distance as cjxl maps its
    // quality), lossless at 100.
    bool Encode(VxFile* file);
    // An animation of pictures of one size, each shown for its FrameDelay.
    bool Encode(VxFile* file, VxImage** pages, int32_t count);

    // True when `bytes` begin a JPEG XL code stream or container.
    static bool Claims(const uint8_t* bytes, size_t size);
    static constexpr uint32_t kClaimsReach = 12;

    // Whether the picture is written as grey samples (a profile must be grey).
    static bool WritesGrey(const VxImage& img);

    // The distance --quality stands for (0 at 100: lossless).
    static float DistanceFor(int quality);
};
