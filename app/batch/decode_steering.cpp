#include "app/batch/decode_steering.h"

#include "core/vx_image.h"

namespace vellumar::batch {

void SteerDecoder(VxImage& image, const DecodeSteering& steering) {
    // The option holds the signed hundredths as their two's complement.
    image.SetCodecOption(uint32_t(steering.exposure), VX_FORMAT_EXR);
    image.SetCodecOption(steering.rawPreview ? kVxRawPreview : 0, VX_FORMAT_RAW);
}

}  // namespace vellumar::batch
