// Picture size changes: the "WxH" / "N%" request, the size it gives for a
// picture, and Lanczos-3 resampling in linear light.
#pragma once

#include <cstdint>
#include <string_view>

class VxImage;

namespace vx {

struct ResizeRequest {
    enum class Kind { None, Fit, Percent } kind = Kind::None;
    uint32_t width = 0;   // Fit: bounding box; 0 leaves that side free
    uint32_t height = 0;
    uint32_t percent = 0;      // Percent: 1 to 1000
    bool allowEnlarge = false; // Fit: "WxH+" may enlarge
};

// "800x600" (fit inside, never enlarge), "800x600+" (fit inside, may enlarge),
// "800x" / "x600" (one side bounded), "50%" (scale). False for anything else.
bool ParseResizeRequest(std::string_view text, ResizeRequest& out);

// The size a `width` x `height` picture gets (at least 1 x 1); the picture's
// own size when the request leaves it alone.
void ResizedSize(const ResizeRequest& req, uint32_t width, uint32_t height, uint32_t& outWidth,
                 uint32_t& outHeight);

// The reduction (1, 2, 4 or 8) a JPEG decoder's DCT scaling may apply to a
// `width` x `height` picture that is then resized by `req`: the largest that
// keeps both sides at least twice the size the request gives them, in either
// orientation (an EXIF turn may swap the sides before the resize). On the
// benchmark photos the resize then stays within 47 dB or more of one from the
// full-size picture (docs/performance.md); reading down to the target size
// itself would lose up to 11 dB more.
uint32_t DecodeReduction(const ResizeRequest& req, uint32_t width, uint32_t height);

// Resamples the picture to `width` x `height` with a Lanczos-3 filter on
// linear-light values (alpha premultiplied). Palette pictures are resampled
// in true colour: grey ones come back as 8-bit grey, others as 24-bit. The
// picture is unchanged when false is returned (text in LastError).
bool Resample(VxImage& img, uint32_t width, uint32_t height);

}  // namespace vx
