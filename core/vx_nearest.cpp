#include "core/vx_nearest.h"

#include <algorithm>

namespace vx {

NearestPalette::NearestPalette(const RGBQUAD* pal, uint32_t count) {
    count_ = std::min<uint32_t>(count, 256);
    for (uint32_t i = 0; i < count_; ++i)
        entries_[i] = Entry{pal[i].rgbRed, pal[i].rgbGreen, pal[i].rgbBlue, uint8_t(i)};
    std::stable_sort(entries_, entries_ + count_,
                     [](const Entry& a, const Entry& b) { return a.g < b.g; });
    uint32_t pos = 0;
    for (int g = 0; g <= 256; ++g) {
        while (pos < count_ && entries_[pos].g < g) ++pos;
        start_[g] = uint16_t(pos);
    }
}

uint8_t NearestPalette::Find(uint8_t r, uint8_t g, uint8_t b) const {
    // The linear scan starts with 200000 as "best" and index 0: a palette can
    // never be that far away (3 * 255^2 < 200000), so only ties matter.
    int32_t best = 200000;
    int32_t bestIndex = 0;
    if (count_ == 0) return 0;
    int32_t up = start_[g];       // entries with green >= g
    int32_t down = up - 1;        // entries with green < g
    while (up < int32_t(count_) || down >= 0) {
        if (up < int32_t(count_)) {
            const Entry& e = entries_[up];
            const int32_t dg = e.g - g;
            if (dg * dg > best) {
                up = int32_t(count_);
            } else {
                const int32_t dr = e.r - r, db = e.b - b;
                const int32_t d = dr * dr + dg * dg + db * db;
                if (d < best || (d == best && e.index < bestIndex)) {
                    best = d;
                    bestIndex = e.index;
                }
                ++up;
            }
        }
        if (down >= 0) {
            const Entry& e = entries_[down];
            const int32_t dg = e.g - g;
            if (dg * dg > best) {
                down = -1;
            } else {
                const int32_t dr = e.r - r, db = e.b - b;
                const int32_t d = dr * dr + dg * dg + db * db;
                if (d < best || (d == best && e.index < bestIndex)) {
                    best = d;
                    bestIndex = e.index;
                }
                --down;
            }
        }
    }
    return uint8_t(bestIndex);
}

}  // namespace vx
