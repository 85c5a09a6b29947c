// The frames of an animated PNG (acTL, fcTL, fdAT), which libpng leaves
// unread: each frame's data is handed to the PNG decoder as a PNG of its own
// and drawn on the canvas by its blend and dispose operations.
#pragma once

#include <cstdint>
#include <span>

#include "core/vx_frames.h"

class VxImage;

namespace vx::png {

// Every frame of the PNG file `file` (all of it, from the signature), as a
// viewer shows it. Null with `owner`'s LastError set when the animation is
// damaged or passes the picture limit; `owner` also lends its limit and its
// cancel flag.
std::shared_ptr<VxFrames> ReadApngFrames(std::span<const uint8_t> file, VxImage& owner);

}  // namespace vx::png
