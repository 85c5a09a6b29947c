// Depth fitting between decode and encode: what each target's encoder takes.
#pragma once

#include "facade/image_facade.h"

namespace vellumar::batch {

// Brings a decoded picture into a form the target's encoder takes: 8 bits for
// GIF, 24 bits for colour palettes going to JPEG and the JPEG-2000 family,
// 8 bits for TGA, grey for PGX, 1 bit for WBMP. Pictures the encoder takes as
// they are stay unchanged.
void FitDepth(ImageHandle* handle, ImageFormat target);

}  // namespace vellumar::batch
