// JPEG into TIFF and back by the coded data: the JPEG (turned upright by its
// coefficients first, where its EXIF asks) becomes the single strip of a
// JPEG-compressed page, so the TIFF costs no new loss and decodes in every
// reader that reads JPEG-compressed TIFF.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "core/vx_codec.h"

namespace vx::tiff {

// False with the reason in `note` when the JPEG cannot go this way: what the
// coefficient copy refuses, and colour spaces or samplings a JPEG-compressed
// TIFF page cannot state (CMYK, RGB-coded, 4:4:0).
bool TiffFromJpeg(std::span<const uint8_t> in, const VxTranscodeSteps& steps,
                  std::vector<uint8_t>& out, std::string& note);

// The JPEG of a page as TiffFromJpeg writes it (one strip holding a whole
// JPEG, upright), through the coefficient copy. False when the page is not
// such a page or holds metadata its JPEG does not.
bool JpegFromTiff(std::span<const uint8_t> in, const VxTranscodeSteps& steps,
                  std::vector<uint8_t>& out, std::string& note);

}  // namespace vx::tiff
