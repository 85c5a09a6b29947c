// What a row's output could not keep of its source: frames, transparency, a
// colour profile. The facts are taken before the picture is fitted to its
// target and compared with what is left after.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/vx_format.h"
#include "core/vx_messages.h"
#include "core/vx_transparency.h"

class VxImage;

namespace vellumar::batch {

struct HeldFacts {
    int32_t frame = 0, frames = 1;  // the frame read, of how many the file holds
    bool picked = false;            // one frame was asked for, not the animation
    ImageFormat source = 0;
    bool profile = false;
    unsigned bits = 8;  // a sample
    vx::Clarity clarity = vx::Clarity::Opaque;
    bool beyondWhite = false;  // linear light outside black to white (HDR)
};

// The decoded picture's facts; its transparency is the shaped picture's.
HeldFacts FactsOf(const VxImage& img);

// One note per loss, naming the target as the format list does. A profile
// dropped on request (`stripped`) is no loss.
std::vector<VxNoteParts> LossNotes(const HeldFacts& before, const VxImage& after,
                                   ImageFormat target, bool stripped);

}  // namespace vellumar::batch
