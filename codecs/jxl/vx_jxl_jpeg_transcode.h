// JPEG files carried into JPEG XL as their DCT coefficients, with the data
// that rebuilds the original file, and rebuilt from it: no pixel is decoded
// or coded again on either way.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "core/vx_codec.h"

namespace vx::jxl {

// The JPEG XL file of a JPEG file; false with `why` when the library cannot
// take the JPEG (arithmetic coding, unusual sampling).
bool JxlFromJpeg(std::span<const uint8_t> jpeg, const VxTranscodeSteps&, std::vector<uint8_t>& jxl,
                 std::string& why);

// The original JPEG file of a JPEG XL file that keeps the data to rebuild it;
// false with `why` otherwise (a file coded from pixels has none).
bool JpegFromJxl(std::span<const uint8_t> jxl, const VxTranscodeSteps&, std::vector<uint8_t>& jpeg,
                 std::string& why);

}  // namespace vx::jxl
