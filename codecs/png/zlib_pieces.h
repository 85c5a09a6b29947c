// One zlib stream (RFC 1950) built from pieces that libdeflate compresses one
// at a time. libdeflate only compresses whole buffers; cutting the data into
// pieces bounds the memory to one piece, and since no piece refers back into
// another, pieces could be compressed in any order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

struct libdeflate_compressor;

namespace vx::png {

// Raw deflate data for one piece, appended to `out`; unless `last`, it ends
// on a byte boundary without ending the stream. False when out of memory.
bool CompressPiece(libdeflate_compressor* compressor, const uint8_t* data, size_t size, bool last,
                   std::vector<uint8_t>& out);

// The calling thread's compressor for `level`, kept for the thread's life so
// that small pictures do not pay for setting one up. Null when out of memory.
libdeflate_compressor* ThreadCompressor(int level);

class ZlibPieces {
public:
    explicit ZlibPieces(int level) : level_(level) {}

    // Compresses the next piece; the last one also ends the stream. The bytes
    // to write next are then in Output(), replacing the previous piece's.
    bool Add(const uint8_t* data, size_t size, bool last);
    // Several pieces in a row, compressed on up to `threads` threads: the
    // stream is byte for byte the one they give added one by one.
    struct Piece {
        const uint8_t* data;
        size_t size;
    };
    bool AddMany(std::span<const Piece> pieces, bool last, uint32_t threads);
    const std::vector<uint8_t>& Output() const { return out_; }

private:
    int level_;
    bool started_ = false;
    uint32_t adler_ = 1;
    std::vector<uint8_t> out_;
    std::vector<std::vector<uint8_t>> parts_;
};

}  // namespace vx::png
