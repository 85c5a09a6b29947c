// JP2 files and JPEG-2000 code streams through OpenJPEG, on VxFile callbacks.
#pragma once

#include "codecs/jpeg2000/vx_jp2_planes.h"

namespace vxj2k {

bool LooksLikeJp2(const uint8_t* head, size_t n);
bool LooksLikeJpc(const uint8_t* head, size_t n);

// `jp2` picks the file format, else the bare code stream.
// `codec` holds the picture limit the header is checked against.
void ReadJpeg2000(VxFile* file, bool jp2, VxImage& codec, Planes& out);
// Quality 100 (or more) codes reversibly; lower values trade size for fidelity.
void WriteJpeg2000(VxFile* file, bool jp2, const Planes& in, int quality, uint32_t threads = 1);

// Target PSNR in dB handed to the encoder for a quality below 100.
double PsnrForQuality(int quality);

}  // namespace vxj2k
