// JPEG to JPEG by the DCT coefficients: the picture is turned upright by the
// lossless transforms and its metadata adjusted, with no pixel decoded or
// coded again, so converting a JPEG costs it no quality.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "core/vx_codec.h"

namespace vx::jpeg {

// What the segments in front of the first scan say.
struct JpegHeader {
    std::span<const uint8_t> exif;  // from the TIFF header on
    std::vector<uint8_t> icc;
    std::vector<uint8_t> xmp;
    std::vector<uint8_t> iptc;
    bool iccBroken = false;  // pieces missing, repeated or out of count
    bool progressive = false;
    double xDpi = 0, yDpi = 0;  // from JFIF; 0 when it gives none
};
// False when the segments do not lie inside the file.
bool ReadJpegHeader(std::span<const uint8_t> jpeg, JpegHeader& header);

// False with the reason in `note` when the file cannot go this way: a turn
// of a picture whose size is not a whole number of blocks (unless
// `steps.trimEdges`), `--strip` of a picture with a colour profile (its
// pixels go to sRGB), a damaged profile, damaged coded data.
bool JpegLossless(std::span<const uint8_t> in, const VxTranscodeSteps& steps,
                  std::vector<uint8_t>& out, std::string& note);

}  // namespace vx::jpeg
