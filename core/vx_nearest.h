// Exact nearest-palette-entry search: the same answer as the linear scan of
// GetNearestIndex (squared RGB distance, ties to the lower index), found
// through a lattice of colour cells. Each cell keeps, in index order, only the
// entries that can be nearest to some colour inside it, built the first time a
// colour falls into the cell.
#pragma once

#include <cstdint>
#include <vector>

#include "core/vx_types.h"

namespace vx {

class NearestPalette {
public:
    NearestPalette(const RGBQUAD* pal, uint32_t count);
    uint8_t Find(uint8_t r, uint8_t g, uint8_t b);

private:
    static constexpr int kShift = 3;  // cells of 8 x 8 x 8 colours
    static constexpr int kCells = 1 << (3 * (8 - kShift));
    void BuildCell(uint32_t cell);

    int16_t r_[256], g_[256], b_[256];
    uint32_t count_ = 0;
    std::vector<uint32_t> cellStart_;  // offset into pool_; UINT32_MAX = not built
    std::vector<uint16_t> cellCount_;
    std::vector<uint8_t> pool_;
};

}  // namespace vx
