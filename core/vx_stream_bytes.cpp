#include "core/vx_stream_bytes.h"

#include <algorithm>

#include "core/vx_file.h"

namespace vx {

size_t ReadUpTo(VxFile* file, std::vector<uint8_t>& out, size_t most) {
    const size_t start = out.size();
    const int64_t left = file->Remaining();
    if (left >= 0) {
        // One read when the stream knows its size.
        const size_t n = std::min(most, size_t(left));
        out.resize(start + n);
        const size_t got = n ? file->Read(out.data() + start, 1, n) : 0;
        out.resize(start + got);
        return got;
    }
    constexpr size_t kChunk = size_t(1) << 20;
    size_t total = 0;
    while (total < most) {
        const size_t want = std::min(kChunk, most - total);
        out.resize(start + total + want);
        const size_t got = file->Read(out.data() + start + total, 1, want);
        total += got;
        if (got < want) break;
    }
    out.resize(start + total);
    return total;
}

}  // namespace vx
