#include "core/vx_frames.h"

#include <string>

#include "core/vx_image.h"
#include "core/vx_rgba_rows.h"
#include "core/vx_transparency.h"

namespace vx {

bool AnimationFits(VxImage& img, uint64_t count, uint64_t width, uint64_t height) {
    const uint64_t limit = img.GetMaxPixels();
    const uint64_t each = width * height;
    if (limit == 0 || count == 0 || (each <= limit / count)) return true;
    const std::string text = "the animation's " + std::to_string(count) + " frames of " +
                             std::to_string(width) + "x" + std::to_string(height) +
                             " pass the picture limit of " + std::to_string(limit) +
                             " pixels; --frame N converts one frame";
    img.SetLastError(text.c_str());
    return false;
}

std::shared_ptr<VxImage> CanvasFromRgba(const uint8_t* rgba, uint32_t width, uint32_t height,
                                        uint32_t type) {
    auto canvas = std::make_shared<VxImage>(type);
    if (!canvas->Create(width, height, 24, type)) return nullptr;
    const size_t stride = size_t(width) * 4;
    bool clear = false;
    for (size_t i = 3; i < stride * height && !clear; i += 4) clear = rgba[i] != 255;
    if (clear && !canvas->AlphaCreate()) return nullptr;
    StoreRows(*canvas, rgba, stride, 4);
    return canvas;
}

VxFramesRef FramesFromPages(VxImage* const* pages, int32_t count) {
    if (!pages || count <= 0) return nullptr;
    auto frames = std::make_shared<VxFrames>();
    for (int32_t i = 0; i < count; ++i) {
        VxImage* page = pages[i];
        if (!page || !page->IsValid() || page->GetWidth() != pages[0]->GetWidth() ||
            page->GetHeight() != pages[0]->GetHeight())
            return nullptr;
        // Shared, not owned: the caller's pictures outlive the encode.
        frames->frames.push_back({std::shared_ptr<VxImage>(page, [](VxImage*) {}),
                                  page->GetFrameDelay() * 10});
    }
    return frames;
}

bool AnyFrameTransparent(const VxFrames& frames) {
    for (const VxFrame& f : frames.frames)
        if (f.picture && HasTransparency(*f.picture)) return true;
    return false;
}

}  // namespace vx
