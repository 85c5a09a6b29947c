// Part of the program itself, not of the EXR module: the probe asks it
// before it loads the module.
#include <cstring>

#include "codecs/exr/vx_exr_codec.h"

bool VxExrCodec::Claims(const uint8_t* head, size_t size) {
    static constexpr uint8_t kMagic[4] = {0x76, 0x2f, 0x31, 0x01};
    return size >= 4 && std::memcmp(head, kMagic, 4) == 0;
}
