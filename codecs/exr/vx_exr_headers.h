// A walk over an EXR file's headers that reads every attribute the way the
// library will, before the library sees the file: the library allocates what an
// attribute, a preview or an offset table declares, so whatever it would
// allocate is first checked against the bytes the file holds.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vx::exr {

struct HeaderFacts {
    int64_t width = 0, height = 0;  // the first part's data window, 0 x 0 without one
    double pieceBytes = 0;  // the largest piece (tile or band of lines) of any part, all channels
};

// nullptr when every header is sound, else the reason the file is refused.
const char* CheckHeaders(const uint8_t* bytes, size_t size, HeaderFacts& facts);

}  // namespace vx::exr
