// Part of the program itself, not of the JPEG XL module: the probe asks it
// before it loads the module. The library's own signature test, without the
// library: a bare code stream or the container's first box.
#include <cstring>

#include "codecs/jxl/vx_jxl_codec.h"

bool VxJxlCodec::Claims(const uint8_t* bytes, size_t size) {
    static constexpr uint8_t kContainer[12] = {0, 0, 0, 0x0C, 'J', 'X', 'L', ' ', 0x0D, 0x0A, 0x87, 0x0A};
    if (!bytes) return false;
    if (size >= 2 && bytes[0] == 0xFF && bytes[1] == 0x0A) return true;
    return size >= sizeof kContainer && std::memcmp(bytes, kContainer, sizeof kContainer) == 0;
}
