// A rendered drawing against a reference renderer's: colour weighted by
// coverage, as two renderers round a nearly clear edge pixel's colour apart.
#pragma once

#include <algorithm>
#include <cstdlib>

#include "tests/support/test_support.h"

namespace vt {

// Largest difference of alpha and of premultiplied colour; 999 for other sizes.
inline int CoverageDiff(const Rgba& a, const Rgba& b) {
    int most = a.width == b.width && a.height == b.height && a.px.size() == b.px.size() ? 0 : 999;
    for (size_t i = 0; most < 999 && i < a.px.size(); ++i)
        most = std::max(most, i % 4 == 3 ? std::abs(a.px[i] - b.px[i])
                                         : std::abs(a.px[i] * a.px[i | 3] - b.px[i] * b.px[i | 3]) / 255);
    return most;
}

}  // namespace vt
