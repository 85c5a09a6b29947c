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

// False with the reason in `note` when the file cannot go this way: a turn
// of a picture whose size is not a whole number of blocks (unless
// `steps.trimEdges`), `--strip` of a picture with a colour profile (its
// pixels go to sRGB), a damaged profile, damaged coded data.
bool JpegLossless(std::span<const uint8_t> in, const VxTranscodeSteps& steps,
                  std::vector<uint8_t>& out, std::string& note);

}  // namespace vx::jpeg
