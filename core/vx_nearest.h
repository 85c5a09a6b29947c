// Exact nearest-palette-entry search: the same answer as the linear scan of
// GetNearestIndex (squared RGB distance, ties to the lower index), found by
// scanning entries in green order outward from the asked colour.
#pragma once

#include <cstdint>

#include "core/vx_types.h"

namespace vx {

class NearestPalette {
public:
    NearestPalette(const RGBQUAD* pal, uint32_t count);
    uint8_t Find(uint8_t r, uint8_t g, uint8_t b) const;

private:
    struct Entry {
        int16_t r, g, b;
        uint8_t index;
    };
    Entry entries_[256];
    uint32_t count_ = 0;
    // First sorted position whose green is >= g, for every g.
    uint16_t start_[257];
};

}  // namespace vx
