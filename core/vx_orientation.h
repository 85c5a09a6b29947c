// Turning a picture upright by its EXIF orientation tag (1 to 8).
#pragma once

#include <cstdint>

class VxImage;

namespace vx {

// Rotates and mirrors the picture so that it looks as a viewer honouring the
// tag shows it, and records orientation 1. Values outside 2..8 change nothing.
bool ApplyOrientation(VxImage& img, int32_t orientation);

}  // namespace vx
