// Sun raster: 1, 8, 24 and 32 bits; old, standard, RGB-ordered and byte-encoded
// (run-length) types; RGB colour maps.
#pragma once

#include "codecs/jpeg2000/vx_jp2_planes.h"

namespace vxj2k {

bool LooksLikeRas(const uint8_t* head, size_t n);
// `codec` holds the picture limit the header is checked against.
void ReadRas(VxFile* file, VxImage& codec, Planes& out);
// One component gives an 8-bit grey file, three a 24-bit standard one.
void WriteRas(VxFile* file, const Planes& in);

}  // namespace vxj2k
