// What --info and the Python package's info() tell of a file, read from its
// header alone: a huge or damaged picture is described without being decoded.
#pragma once

#include <cstdint>
#include <string>

#include "app/batch/decode_steering.h"

namespace vellumar::batch {

struct PictureFacts {
    bool ok = false;
    std::string error;   // why not, as one line
    std::string format;  // "PNG", "HEIC", ...
    uint32_t width = 0, height = 0, bpp = 0;
    uint32_t sampleBits = 8;  // a sample of the deep plane, when it has one (up to 16)
    int32_t frames = 0;  // 1 for a still picture
    int32_t xdpi = 0, ydpi = 0;
    // "Make Model" of a camera raw file's camera; empty for other formats.
    std::string camera;
};

// Frame `frame` of `path` (its decoder picked by the extension, then by
// content), refused as a decode refuses it when it has more than `maxPixels`
// pixels (0: no limit).
PictureFacts ReadPictureFacts(const std::string& path, int frame, uint64_t maxPixels,
                              const DecodeSteering& steering = {});

}  // namespace vellumar::batch
