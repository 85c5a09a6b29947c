#include "app/batch/decode_steering.h"

#include "core/vx_image.h"

namespace vellumar::batch {

void SteerDecoder(VxImage& image, const DecodeSteering& steering) {
    // The option holds the signed hundredths as their two's complement.
    image.SetCodecOption(uint32_t(steering.exposure), VX_FORMAT_EXR);
    // 0 leaves each its own default.
    image.SetCodecOption(steering.dpi, VX_FORMAT_SVG);
    image.SetCodecOption(steering.dpi, VX_FORMAT_PDF);
    image.SetCodecOption(steering.rawPreview ? kVxRawPreview : 0, VX_FORMAT_RAW);
}

}  // namespace vellumar::batch
