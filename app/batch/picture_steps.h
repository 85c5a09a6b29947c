// What a row does to a decoded picture besides fitting its depth: turning it
// upright, changing its size, and how colours are reduced for palette targets.
#pragma once

#include <string>

#include "core/vx_colour_reduce.h"
#include "core/vx_resize.h"

class VxImage;

namespace vellumar::batch {

struct PictureSteps {
    bool keepOrientation = false;  // leave an EXIF-turned picture (and its tag) as stored
    vx::ResizeRequest resize;      // Kind::None keeps the size
    vx::ColourReduction colours;   // palette and dithering for 8-bit and 1-bit targets
};

// Orientation first, then size; between the decode and the depth fitting.
// False with the reason in `error` when a step could not be done.
bool ShapePicture(VxImage& img, const PictureSteps& steps, std::string& error);

}  // namespace vellumar::batch
