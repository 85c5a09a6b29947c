// Bit-field pixels (16 and 32 bits, any mask widths and positions) to 8-bit
// blue, green, red and alpha.
#pragma once

#include <cstdint>
#include <vector>

class VxBmpBitFields {
public:
    // `masks`: red, green, blue, alpha (0: no alpha). Bits above `bpp` are
    // ignored. A channel is scaled from its width to 8 bits (a 5-bit 31 is
    // 255); the classic 5-5-5 layout repeats its top bits into the low ones.
    VxBmpBitFields(uint32_t bpp, const uint32_t masks[4]);

    bool HasAlpha() const { return channels_[3].max != 0; }
    // One row of `width` pixels into `bgr` (3 bytes a pixel) and, when the
    // masks carry alpha, `alpha` (1 byte a pixel).
    void ConvertRow(const uint8_t* src, uint32_t width, uint8_t* bgr, uint8_t* alpha) const;

private:
    struct Channel {
        uint32_t mask = 0;
        int shift = 0;
        uint32_t max = 0;              // the mask shifted down; 0: the channel is empty
        std::vector<uint8_t> table;  // value -> 8 bits, when max is small enough
        uint8_t Scale(uint32_t pixel) const;
    };
    uint32_t bpp_;
    bool plain32_;  // 8-8-8 in the usual byte places: a copy
    Channel channels_[4];
};
