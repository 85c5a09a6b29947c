// The picture sizes a HEIF file's coded items really hold, read from the file
// before any of them is decoded. The size the container declares (ispe) is
// what libheif checks, but the HEVC or AV1 decoder allocates for the size its
// own stream declares, and a grid or overlay item allocates the canvas its
// data names: a small file can claim 64 x 64 and make the decoder allocate
// gigabytes. These are the sizes to hold against the picture limit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vxheif {

struct CodedSize {
    uint32_t width = 0;
    uint32_t height = 0;
    bool coded = false;  // an HEVC or AV1 item (not a grid or overlay canvas)...
    bool grey = false;   // ...whose configuration says it has luma only
    // An AV1 item whose file selects an operating point or layer other than
    // the full picture the library decodes.
    bool partLayer = false;
};

// Every HEVC and AV1 item's coded size (from its SPS or sequence header) and
// every grid and overlay item's canvas. False when such an item's size cannot
// be found (the file is damaged: its decoder would find nothing either).
bool ReadCodedSizes(const uint8_t* file, size_t size, std::vector<CodedSize>& out);

}  // namespace vxheif
