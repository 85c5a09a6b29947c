// Part of the program itself, not of the HEIF module: the probe asks it
// before it loads the module.
#include <cstring>

#include "codecs/heif/vx_heif_codec.h"
#include "core/vx_types.h"

bool VxHeifCodec::Claims(const uint8_t* bytes, size_t size) {
    return bytes && size >= 12 && std::memcmp(bytes + 4, "ftyp", 4) == 0 &&
           vx::LoadBE32(bytes) >= 16;
}
