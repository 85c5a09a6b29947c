// An animation as a viewer shows it: every frame composed on the whole
// canvas, how long each stays, and how many times the whole plays. Decoders
// fill it only when asked (VxImage::SetWantAnimation) and the file has more
// than one frame; encoders of formats that animate write it.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

class VxImage;

struct VxFrame {
    std::shared_ptr<VxImage> picture;  // the canvas after this frame, full size
    uint32_t delayMs = 0;
};

struct VxFrames {
    std::vector<VxFrame> frames;
    uint32_t plays = 0;  // 0: forever
};

using VxFramesRef = std::shared_ptr<const VxFrames>;

// Pages of a paged file kept together at most: each page is found from the
// file's start, so the work grows with the square of the count. A file with
// more converts the chosen page alone.
inline constexpr int32_t kVxMaxPagesKept = 1024;

namespace vx {

// Whether `count` canvases of `width` x `height` pass the picture limit taken
// for the whole animation; false with the reason in `img`'s LastError.
bool AnimationFits(VxImage& img, uint64_t count, uint64_t width, uint64_t height);

// A canvas from top-down RGBA rows: 24 bits, with an alpha plane only when a
// pixel is not fully opaque. Null when memory runs out.
std::shared_ptr<VxImage> CanvasFromRgba(const uint8_t* rgba, uint32_t width, uint32_t height,
                                        uint32_t type);

// An animation of `count` pictures of one size, each shown for its
// FrameDelay (hundredths of a second), played forever. Null when they differ
// in size or one is missing.
VxFramesRef FramesFromPages(VxImage* const* pages, int32_t count);

// Whether any frame holds a pixel that is not fully opaque.
bool AnyFrameTransparent(const VxFrames& frames);

}  // namespace vx
