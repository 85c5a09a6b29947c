// A palette made for one picture: the picture's own colours when it has few
// enough, otherwise variance-splitting median cut over a colour histogram,
// refined by a few k-means passes.
#pragma once

#include <cstdint>
#include <vector>

#include "core/vx_types.h"

class VxImage;

namespace vx {

struct AdaptivePalette {
    std::vector<RGBQUAD> colours;  // at most the number asked for
    bool exact = false;            // every opaque pixel's colour is in `colours`
};

// Builds at most `maxColours` (1 to 256) colours for a 24-bit picture. Pixels
// whose alpha is below 128 (alpha plane) are left out: they take the
// transparent entry the caller reserves. `kmeansPasses` bounds the refinement.
AdaptivePalette BuildAdaptivePalette(const VxImage& img, uint32_t maxColours,
                                     int kmeansPasses = 3);

}  // namespace vx
