// Palette indices inside one packed DIB row (1, 4 or 8 bits, most significant
// bits first). Other depths carry no index: reads give 0 and writes do nothing.
#pragma once

#include <cstdint>

namespace vx {

inline uint8_t RowIndex(const uint8_t* row, uint32_t bpp, int32_t x) {
    switch (bpp) {
        case 8: return row[x];
        case 4: return (x & 1) ? uint8_t(row[x >> 1] & 0x0F) : uint8_t(row[x >> 1] >> 4);
        case 1: return uint8_t((row[x >> 3] >> (7 - (x & 7))) & 1);
        default: return 0;
    }
}

inline void SetRowIndex(uint8_t* row, uint32_t bpp, int32_t x, uint8_t i) {
    switch (bpp) {
        case 8: row[x] = i; break;
        case 4: {
            uint8_t& b = row[x >> 1];
            b = (x & 1) ? uint8_t((b & 0xF0) | (i & 0x0F)) : uint8_t((b & 0x0F) | (i << 4));
            break;
        }
        case 1: {
            uint8_t& b = row[x >> 3];
            const uint8_t mask = uint8_t(0x80 >> (x & 7));
            b = (i & 1) ? uint8_t(b | mask) : uint8_t(b & ~mask);
            break;
        }
        default: break;
    }
}

}  // namespace vx
