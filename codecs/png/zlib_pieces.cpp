#include "codecs/png/zlib_pieces.h"

#include <libdeflate.h>

#include <algorithm>
#include <atomic>
#include <new>

#include "codecs/png/deflate_join.h"
#include "core/vx_parallel.h"

namespace vx::png {

namespace {

// Stored blocks in place of a piece whose compressed form could not be walked:
// larger, but still one valid stream.
void AppendStored(const uint8_t* data, size_t size, std::vector<uint8_t>& out) {
    do {
        const size_t n = std::min<size_t>(size, 0xFFFF);
        const uint8_t head[5] = {0, uint8_t(n), uint8_t(n >> 8), uint8_t(~n), uint8_t(~n >> 8)};
        out.insert(out.end(), head, head + 5);
        out.insert(out.end(), data, data + n);
        data += n;
        size -= n;
    } while (size);
}

}  // namespace

bool CompressPiece(libdeflate_compressor* compressor, const uint8_t* data, size_t size, bool last,
                   std::vector<uint8_t>& out) {
    try {
        const size_t start = out.size();
        const size_t bound = libdeflate_deflate_compress_bound(compressor, size);
        out.resize(start + bound + kJoinSlack);
        size_t n = libdeflate_deflate_compress(compressor, data, size, out.data() + start, bound);
        if (n == 0) {
            out.resize(start);
            if (last) return false;  // cannot happen with the bound's room
            AppendStored(data, size, out);
            return true;
        }
        if (!last) {
            const size_t joined = MakeJoinable(out.data() + start, n);
            if (joined == 0) {
                out.resize(start);
                AppendStored(data, size, out);
                return true;
            }
            n = joined;
        }
        out.resize(start + n);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

libdeflate_compressor* ThreadCompressor(int level) {
    struct Cache {
        int level = 0;
        libdeflate_compressor* compressor = nullptr;
        ~Cache() { libdeflate_free_compressor(compressor); }
    };
    thread_local Cache cache;
    if (cache.compressor && cache.level == level) return cache.compressor;
    libdeflate_free_compressor(cache.compressor);
    cache.compressor = libdeflate_alloc_compressor(level);
    cache.level = level;
    return cache.compressor;
}

bool ZlibPieces::Add(const uint8_t* data, size_t size, bool last) {
    const Piece one{data, size};
    return AddMany({&one, 1}, last, 1);
}

bool ZlibPieces::AddMany(std::span<const Piece> pieces, bool last, uint32_t threads) {
    out_.clear();
    if (!started_) {
        // Deflate with a 32 KiB window; the level hint as zlib writes it.
        const uint8_t flevel = level_ < 2 ? 0 : level_ < 6 ? 1 : level_ == 6 ? 2 : 3;
        const uint16_t head = uint16_t(0x7800 | flevel << 6);
        out_.push_back(uint8_t(head >> 8));
        out_.push_back(uint8_t((head & 0xFF) + (31 - head % 31) % 31));
        started_ = true;
    }
    for (const Piece& p : pieces) adler_ = libdeflate_adler32(adler_, p.data, p.size);
    if (pieces.size() == 1) {
        libdeflate_compressor* compressor = ThreadCompressor(level_);
        if (!compressor || !CompressPiece(compressor, pieces[0].data, pieces[0].size, last, out_))
            return false;
    } else {
        try {
            parts_.resize(pieces.size());
        } catch (const std::bad_alloc&) {
            return false;
        }
        std::atomic<bool> failed{false};
        VxParallelFor(pieces.size(), threads, [&](size_t i) {
            parts_[i].clear();
            libdeflate_compressor* compressor = ThreadCompressor(level_);
            const bool end = last && i + 1 == pieces.size();
            if (!compressor || !CompressPiece(compressor, pieces[i].data, pieces[i].size, end, parts_[i]))
                failed = true;
        });
        if (failed) return false;
        try {
            for (const std::vector<uint8_t>& part : parts_) out_.insert(out_.end(), part.begin(), part.end());
        } catch (const std::bad_alloc&) {
            return false;
        }
    }
    if (last) {
        for (int shift = 24; shift >= 0; shift -= 8) out_.push_back(uint8_t(adler_ >> shift));
    }
    return true;
}

}  // namespace vx::png
