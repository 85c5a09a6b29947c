// Entry points of the two record readers and the bounds-checked record view they share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "codecs/metafile/mf_player.h"
#include "core/vx_types.h"

namespace vx::mf {

// One record; every read outside it yields 0, and callers check counts with Has().
struct RecordView {
    const uint8_t* p = nullptr;
    size_t n = 0;

    bool Has(size_t off, size_t len) const { return off <= n && len <= n - off; }
    uint8_t U8(size_t off) const { return Has(off, 1) ? p[off] : 0; }
    uint16_t U16(size_t off) const { return Has(off, 2) ? LoadLE16(p + off) : 0; }
    int16_t S16(size_t off) const { return int16_t(U16(off)); }
    uint32_t U32(size_t off) const { return Has(off, 4) ? LoadLE32(p + off) : 0; }
    int32_t S32(size_t off) const { return int32_t(U32(off)); }
    float F32(size_t off) const {
        const uint32_t bits = U32(off);
        float f;
        std::memcpy(&f, &bits, 4);
        return f;
    }
};

// Placeable header fields the 16-bit player needs.
struct WmfFrame {
    int16_t left = 0, top = 0, right = 0, bottom = 0;
    uint16_t unitsPerInch = 0;
};

// `body` starts with the 18-byte metafile header.
void PlayWmf(Player& player, const uint8_t* body, size_t size, const WmfFrame& frame, int width,
             int height);
// `data` starts with the EMR_HEADER record.
void PlayEmf(Player& player, const uint8_t* data, size_t size, int width, int height);

// Top row of a source rectangle in a bitmap stored bottom-up, as StretchDIBits counts it.
inline double DibSourceTop(int bitmapHeight, bool topDown, double ySrc, double srcHeight) {
    return topDown ? ySrc : double(bitmapHeight) - ySrc - srcHeight;
}

}  // namespace vx::mf
