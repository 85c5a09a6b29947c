// The code stream's image and tile size, read before the library reads them:
// it allocates a tile's coding parameters, for every component, for every
// tile the header declares, before a byte of picture data, so a few hundred
// bytes could cost gigabytes.
#pragma once

#include <cstdint>

#include "core/vx_file.h"

namespace vxj2k {

struct SizFacts {
    uint64_t tiles = 0;
    uint32_t components = 0;
};

// From the stream's position (a JP2 file's boxes are walked to its code
// stream), which it is left at. False when no SIZ marker stands where the
// stream's first one must.
bool ReadSiz(VxFile* file, bool jp2, SizFacts& facts);

}  // namespace vxj2k
