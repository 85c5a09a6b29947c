// Comparing a rendered drawing with a reference renderer's: colour weighted by
// coverage, so that the colour of a nearly clear edge pixel, which two
// renderers round differently, counts as little as it shows.
#pragma once

#include <algorithm>
#include <cstdlib>

#include "tests/support/test_support.h"

namespace vt {

// Largest difference of alpha and of premultiplied colour; -1 for other sizes.
inline int CoverageDiff(const Rgba& a, const Rgba& b) {
    if (a.width != b.width || a.height != b.height || a.px.size() != b.px.size()) return -1;
    int most = 0;
    for (size_t i = 0; i < a.px.size(); i += 4) {
        most = std::max(most, std::abs(a.px[i + 3] - b.px[i + 3]));
        for (size_t c = 0; c < 3; ++c)
            most = std::max(most, std::abs(a.px[i + c] * a.px[i + 3] - b.px[i + c] * b.px[i + 3]) / 255);
    }
    return most;
}

}  // namespace vt
