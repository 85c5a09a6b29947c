// Joining deflate streams that were compressed independently into one stream
// (RFC 1951). A compressor that only writes whole streams marks its last block
// final; the walk finds that block so the flag can be cleared and the stream
// ended on a byte boundary, where the next piece begins.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace vx::png {

struct DeflateEnd {
    size_t finalHeaderBit;  // the final block's BFINAL flag, counted from bit 0 of byte 0
    size_t endBit;          // first bit after that block's end-of-block code
};

// Walks every block of a raw deflate stream without producing output. Empty
// when the bytes are not a well-formed stream that ends inside them.
std::optional<DeflateEnd> WalkDeflate(const uint8_t* data, size_t size);

// Bytes MakeJoinable may add after the stream.
constexpr size_t kJoinSlack = 5;

// Turns the complete raw deflate stream in data[0, size) into one that does
// not end the data: the final flag cleared, then an empty stored block that
// ends on a byte boundary. `data` must have room for kJoinSlack more bytes.
// Returns the new size, or 0 when the stream could not be walked.
size_t MakeJoinable(uint8_t* data, size_t size);

}  // namespace vx::png
