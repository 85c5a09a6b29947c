// Portable anymap (P1-P6, ASCII and raw, maxval up to 65535).
#pragma once

#include "codecs/jpeg2000/vx_jp2_planes.h"

namespace vxj2k {

bool LooksLikePnm(const uint8_t* head, size_t n);
// Throws VxCodecFailure on anything it cannot read completely.
// `codec` holds the picture limit the header is checked against.
void ReadPnm(VxFile* file, VxImage& codec, Planes& out);
// One 8-bit component gives P5, three give P6.
void WritePnm(VxFile* file, const Planes& in);

}  // namespace vxj2k
