#include "core/vx_nearest.h"

#include <algorithm>
#include <climits>

namespace vx {

NearestPalette::NearestPalette(const RGBQUAD* pal, uint32_t count)
    : count_(std::min<uint32_t>(count, 256)),
      cellStart_(kCells, UINT32_MAX),
      cellCount_(kCells, 0) {
    for (uint32_t i = 0; i < count_; ++i) {
        r_[i] = pal[i].rgbRed;
        g_[i] = pal[i].rgbGreen;
        b_[i] = pal[i].rgbBlue;
    }
}

namespace {

// Squared distance from v to the interval [lo, hi] along one axis, and to its
// far end.
inline int Near(int v, int lo, int hi) {
    const int d = v < lo ? lo - v : v > hi ? v - hi : 0;
    return d * d;
}
inline int Far(int v, int lo, int hi) {
    const int d = std::max(v - lo, hi - v);
    return d * d;
}

}  // namespace

void NearestPalette::BuildCell(uint32_t cell) {
    const int size = 1 << kShift;
    const int bits = 8 - kShift;
    const int r0 = int(cell >> (2 * bits)) << kShift;
    const int g0 = int((cell >> bits) & ((1 << bits) - 1)) << kShift;
    const int b0 = int(cell & ((1 << bits) - 1)) << kShift;
    const int r1 = r0 + size - 1, g1 = g0 + size - 1, b1 = b0 + size - 1;
    // Any colour in the cell is at most `bound` away from some entry, so only
    // entries whose nearest point of the cell lies within `bound` can win.
    int bound = INT_MAX;
    int nearest[256];
    for (uint32_t i = 0; i < count_; ++i) {
        const int far = Far(r_[i], r0, r1) + Far(g_[i], g0, g1) + Far(b_[i], b0, b1);
        bound = std::min(bound, far);
        nearest[i] = Near(r_[i], r0, r1) + Near(g_[i], g0, g1) + Near(b_[i], b0, b1);
    }
    cellStart_[cell] = uint32_t(pool_.size());
    uint16_t n = 0;
    for (uint32_t i = 0; i < count_; ++i)
        if (nearest[i] <= bound) {
            pool_.push_back(uint8_t(i));
            ++n;
        }
    cellCount_[cell] = n;
}

uint8_t NearestPalette::Find(uint8_t r, uint8_t g, uint8_t b) {
    if (count_ == 0) return 0;
    const int bits = 8 - kShift;
    const uint32_t cell = (uint32_t(r >> kShift) << (2 * bits)) | (uint32_t(g >> kShift) << bits) |
                          uint32_t(b >> kShift);
    if (cellStart_[cell] == UINT32_MAX) BuildCell(cell);
    const uint8_t* cand = pool_.data() + cellStart_[cell];
    const uint16_t n = cellCount_[cell];
    // Candidates are in index order, so "strictly nearer" keeps ties low, as the
    // linear scan does.
    int best = INT_MAX;
    uint8_t bestIndex = 0;
    for (uint16_t k = 0; k < n; ++k) {
        const uint8_t i = cand[k];
        const int dr = r_[i] - r, dg = g_[i] - g, db = b_[i] - b;
        const int d = dr * dr + dg * dg + db * db;
        if (d < best) {
            best = d;
            bestIndex = i;
            if (d == 0) break;
        }
    }
    return bestIndex;
}

}  // namespace vx
