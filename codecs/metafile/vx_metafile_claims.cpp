// Part of the program itself, not of the metafile module: the probe asks it
// before it loads the module.
#include "codecs/metafile/vx_metafile_codec.h"
#include "core/vx_types.h"

namespace {
constexpr uint32_t kPlaceableKey = 0x9AC6CDD7;
constexpr uint32_t kEmfSignature = 0x464D4520;  // " EMF"
}  // namespace

bool VxMetafileCodec::IsPlaceableHeader(const uint8_t* h) {
    if (vx::LoadLE32(h) != kPlaceableKey) return false;
    uint16_t sum = 0;
    for (int i = 0; i < 10; ++i) sum ^= vx::LoadLE16(h + 2 * i);
    if (sum != vx::LoadLE16(h + 20)) return false;
    const uint16_t upi = vx::LoadLE16(h + 14);
    return upi > 0 && upi <= 2540;
}

bool VxMetafileCodec::Claims(const uint8_t* head, size_t size) {
    return (size >= 22 && IsPlaceableHeader(head)) ||
           (size >= 44 && vx::LoadLE32(head) == 1 && vx::LoadLE32(head + 40) == kEmfSignature);
}
