// libheif reads a file through this: from a stream, so that the boxes a
// picture's facts need are read and its coded data only when it is decoded,
// and with the cancel flag polled before each read (the data of a grid's
// tiles is read tile by tile).
#pragma once

#include <libheif/heif.h>

#include <cstdint>

#include "core/vx_file.h"
#include "core/vx_image.h"

namespace vxheif {

struct StreamReader {
    VxFile* file;
    int64_t start;    // where the HEIF file begins in the stream
    int64_t size;     // its length
    const VxImage* codec;
    bool cancelled = false;

    static const heif_reader kFunctions;
};

}  // namespace vxheif
