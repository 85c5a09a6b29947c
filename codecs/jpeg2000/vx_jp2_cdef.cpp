#include "codecs/jpeg2000/vx_jp2_cdef.h"

#include <cstdint>
#include <cstdio>

#include "core/vx_file.h"

namespace vxj2k {

namespace {

uint32_t Be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }

// One box header at `at`: its type and where its content starts and ends.
bool ReadBox(VxFile* file, int64_t at, int64_t limit, uint32_t& type, int64_t& body, int64_t& end) {
    uint8_t h[16];
    if (limit - at < 8 || !file->Seek64(at, SEEK_SET) || file->Read(h, 1, 8) != 8) return false;
    type = Be32(h + 4);
    const uint64_t length = Be32(h);
    body = at + 8;
    if (length == 1) {
        if (limit - at < 16 || file->Read(h + 8, 1, 8) != 8) return false;
        const uint64_t wide = uint64_t(Be32(h + 8)) << 32 | Be32(h + 12);
        if (wide < 16 || wide > uint64_t(limit - at)) return false;
        body = at + 16;
        end = at + int64_t(wide);
    } else if (length == 0) {
        end = limit;
    } else {
        if (length < 8 || length > uint64_t(limit - at)) return false;
        end = at + int64_t(length);
    }
    return true;
}

bool CdefHasOpacity(VxFile* file, int64_t body, int64_t end) {
    uint8_t n[2];
    if (end - body < 2 || !file->Seek64(body, SEEK_SET) || file->Read(n, 1, 2) != 2) return false;
    const uint32_t count = uint32_t(n[0]) << 8 | n[1];
    if (uint64_t(count) * 6 > uint64_t(end - body - 2)) return false;
    for (uint32_t i = 0; i < count; ++i) {
        uint8_t e[6];
        if (file->Read(e, 1, 6) != 6) return false;
        const uint32_t type = uint32_t(e[2]) << 8 | e[3];
        if (type == 1 || type == 2) return true;
    }
    return false;
}

}  // namespace

bool DeclaresOpacity(VxFile* file) {
    const int64_t start = file->Tell64();
    const int64_t size = file->Size64();
    bool found = false;
    uint32_t type = 0;
    int64_t body = 0, end = 0;
    // The header box comes before the code stream; a few boxes are enough.
    for (int64_t at = start, boxes = 0; !found && boxes < 64 && ReadBox(file, at, size, type, body, end);
         at = end, ++boxes) {
        if (type == 0x6A703263) break;  // 'jp2c'
        if (type != 0x6A703268) continue;  // 'jp2h'
        int64_t subEnd = 0;
        for (int64_t sub = body, n = 0; n < 64 && ReadBox(file, sub, end, type, body, subEnd);
             sub = subEnd, ++n)
            if (type == 0x63646566 && CdefHasOpacity(file, body, subEnd)) found = true;  // 'cdef'
        break;
    }
    file->Seek64(start, SEEK_SET);
    return found;
}

}  // namespace vxj2k
