// PGX: one grey component, 1 to 16 bits, signed or unsigned, either byte order.
#pragma once

#include "codecs/jpeg2000/vx_jp2_planes.h"

namespace vxj2k {

bool LooksLikePgx(const uint8_t* head, size_t n);
// `codec` holds the picture limit the header is checked against.
void ReadPgx(VxFile* file, VxImage& codec, Planes& out);
// Writes component 0 as unsigned 8-bit, most significant byte first.
void WritePgx(VxFile* file, const Planes& in);

}  // namespace vxj2k
