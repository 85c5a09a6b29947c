#include "codecs/bmp/vx_bmp_bitfields.h"

#include <bit>

#include "core/vx_types.h"

namespace {

// Tables up to 16-bit channels; wider channels are scaled per pixel.
constexpr uint32_t kTableLimit = 0xFFFF;

}  // namespace

uint8_t VxBmpBitFields::Channel::Scale(uint32_t pixel) const {
    if (max == 0) return 0;
    const uint32_t v = (pixel & mask) >> shift;
    if (!table.empty()) return table[v];
    return uint8_t((uint64_t(v) * 255 + max / 2) / max);
}

VxBmpBitFields::VxBmpBitFields(uint32_t bpp, const uint32_t masks[4]) : bpp_(bpp) {
    const uint32_t usable = bpp >= 32 ? 0xFFFFFFFFu : (1u << bpp) - 1;
    const bool legacy555 = bpp == 16 && (masks[0] & usable) == 0x7C00 &&
                           (masks[1] & usable) == 0x03E0 && (masks[2] & usable) == 0x001F;
    for (int i = 0; i < 4; ++i) {
        Channel& c = channels_[i];
        c.mask = masks[i] & usable;
        if (c.mask == 0) continue;
        c.shift = std::countr_zero(c.mask);
        c.max = c.mask >> c.shift;
        if (c.max > kTableLimit) continue;
        // Bits of a mask with holes still give values no larger than max.
        c.table.resize(size_t(c.max) + 1);
        for (uint32_t v = 0; v <= c.max; ++v)
            c.table[v] = legacy555 && i < 3 ? uint8_t(v << 3 | v >> 2)
                                            : uint8_t((uint64_t(v) * 255 + c.max / 2) / c.max);
    }
    plain32_ = bpp == 32 && channels_[0].mask == 0x00FF0000u && channels_[1].mask == 0x0000FF00u &&
               channels_[2].mask == 0x000000FFu && (channels_[3].mask == 0 ||
                                                    channels_[3].mask == 0xFF000000u);
}

void VxBmpBitFields::ConvertRow(const uint8_t* src, uint32_t width, uint8_t* bgr,
                                uint8_t* alpha) const {
    const bool withAlpha = alpha && HasAlpha();
    if (plain32_) {
        for (uint32_t x = 0; x < width; ++x, src += 4, bgr += 3) {
            bgr[0] = src[0];
            bgr[1] = src[1];
            bgr[2] = src[2];
            if (withAlpha) alpha[x] = src[3];
        }
        return;
    }
    const uint32_t step = bpp_ / 8;
    for (uint32_t x = 0; x < width; ++x, src += step, bgr += 3) {
        const uint32_t p = step == 2 ? vx::LoadLE16(src) : vx::LoadLE32(src);
        bgr[0] = channels_[2].Scale(p);
        bgr[1] = channels_[1].Scale(p);
        bgr[2] = channels_[0].Scale(p);
        if (withAlpha) alpha[x] = channels_[3].Scale(p);
    }
}
