// Decimal numbers in the text headers of PGX and PNM files.
#pragma once

#include <cstdint>

#include "core/vx_codec.h"
#include "core/vx_file.h"

namespace vxj2k {

// The number that starts with `first` (already read); `last` receives the
// character that ended it. Anything but a digit first, or a value above
// `limit`, raises `failure`.
inline uint32_t ReadDecimal(VxFile* file, int first, uint32_t limit, int* last,
                            const char* failure) {
    int c = first;
    if (c < '0' || c > '9') throw VxCodecFailure(failure);
    uint64_t v = 0;
    while (c >= '0' && c <= '9') {
        v = v * 10 + uint32_t(c - '0');
        if (v > limit) throw VxCodecFailure(failure);
        c = file->GetC();
    }
    *last = c;
    return uint32_t(v);
}

}  // namespace vxj2k
