// What a run tells the decoders of formats that render or develop a picture
// rather than store one: set again before every decode and size probe, since
// a row's codec options start afresh.
#pragma once

#include <cstdint>

class VxImage;

namespace vellumar::batch {

struct DecodeSteering {
    // High-dynamic-range pictures: stops of exposure applied before they are
    // encoded for 8 and 16-bit samples, in hundredths of a stop.
    int32_t exposure = 0;
    // Drawings and documents: dots per inch they are rendered at; 0: their own.
    uint32_t dpi = 0;
    // Camera RAW: the embedded preview instead of a developed picture.
    bool rawPreview = false;
};

void SteerDecoder(VxImage& image, const DecodeSteering& steering);

}  // namespace vellumar::batch
