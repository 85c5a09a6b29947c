#include "codecs/png/png_chunks.h"

#include <libdeflate.h>

#include <algorithm>
#include <cstring>

#include "core/vx_file.h"

namespace vx::png {

namespace {

void PutBE32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

}  // namespace

bool WriteChunk(VxFile* file, const char type[4], const uint8_t* data, size_t size) {
    // A chunk's length field holds at most 2^31 - 1.
    if (size > 0x7FFFFFFFu) return false;
    uint8_t head[8];
    PutBE32(head, uint32_t(size));
    std::memcpy(head + 4, type, 4);
    uint32_t crc = libdeflate_crc32(0, head + 4, 4);
    if (size) crc = libdeflate_crc32(crc, data, size);
    uint8_t tail[4];
    PutBE32(tail, crc);
    return file->Write(head, 1, 8) == 8 && (size == 0 || file->Write(data, 1, size) == size) &&
           file->Write(tail, 1, 4) == 4;
}

bool IdatWriter::Put(const uint8_t* data, size_t size) {
    if (!sequence_) return WriteChunk(file_, "IDAT", data, size);
    std::vector<uint8_t> chunk(4 + size);
    PutBE32(chunk.data(), (*sequence_)++);
    std::memcpy(chunk.data() + 4, data, size);
    return WriteChunk(file_, "fdAT", chunk.data(), chunk.size());
}

bool IdatWriter::Append(const uint8_t* data, size_t size) {
    while (size) {
        // Whole chunks straight from the caller's buffer when nothing waits.
        if (pending_.empty() && size >= kIdatBytes) {
            if (!Put(data, kIdatBytes)) return false;
            data += kIdatBytes;
            size -= kIdatBytes;
            continue;
        }
        const size_t take = std::min(size, kIdatBytes - pending_.size());
        pending_.insert(pending_.end(), data, data + take);
        data += take;
        size -= take;
        if (pending_.size() == kIdatBytes) {
            if (!Put(pending_.data(), pending_.size())) return false;
            pending_.clear();
        }
    }
    return true;
}

bool IdatWriter::Finish() {
    if (pending_.empty()) return true;
    const bool ok = Put(pending_.data(), pending_.size());
    pending_.clear();
    return ok;
}

}  // namespace vx::png
