// Whole-file reads for codecs whose libraries decode from memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class VxFile;

namespace vx {

// Appends up to `most` bytes from the stream's position to `out`; returns how
// many were read. Memory grows with what the stream really holds, never with
// what a header claims.
size_t ReadUpTo(VxFile* file, std::vector<uint8_t>& out, size_t most);

}  // namespace vx
