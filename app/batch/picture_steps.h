// What a row does to a decoded picture besides fitting its depth: turning it
// upright, changing its size, and how colours are reduced for palette targets.
#pragma once

#include <cstdint>
#include <string>

#include "core/vx_colour_reduce.h"
#include "core/vx_resize.h"

class VxImage;

namespace vellumar::batch {

struct PictureSteps {
    bool keepOrientation = false;  // leave an EXIF-turned picture (and its tag) as stored
    vx::ResizeRequest resize;      // Kind::None keeps the size
    vx::ColourReduction colours;   // palette and dithering for 8-bit and 1-bit targets
    bool strip = false;            // no colour profile (pixels to sRGB) and no EXIF in the output
    // Every pixel kept: a direct way from the source's file, else the
    // target's lossless coding; a row whose target would change a pixel fails.
    bool lossless = false;
    uint8_t depth = 0;             // bits a sample asked for (--depth 8 or 16); 0: as decoded
};

// Orientation first, then size; between the decode and the depth fitting.
// A picture the decoder read smaller than stored (a JPEG's DCT scaling)
// names its stored size in `storedWidth` x `storedHeight`: the new size is
// reckoned from it, so it does not depend on how the picture was read. 0: the
// picture's own size. False with the reason in `error` when a step could not
// be done.
bool ShapePicture(VxImage& img, const PictureSteps& steps, std::string& error,
                  uint32_t storedWidth = 0, uint32_t storedHeight = 0);

}  // namespace vellumar::batch
