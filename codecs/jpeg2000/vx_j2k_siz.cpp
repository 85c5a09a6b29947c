#include "codecs/jpeg2000/vx_j2k_siz.h"

#include <cstdio>

namespace vxj2k {
namespace {

uint64_t Big(const uint8_t* p, int n) {
    uint64_t v = 0;
    for (int i = 0; i < n; ++i) v = v << 8 | p[i];
    return v;
}

bool ReadAt(VxFile* file, int64_t at, uint8_t* to, size_t n) {
    return file->Seek64(at, SEEK_SET) && file->Read(to, 1, n) == n;
}

// Where a JP2 file's code stream box holds its data, or -1.
int64_t CodeStreamOf(VxFile* file, int64_t at, int64_t end) {
    for (int boxes = 0; boxes < 100000 && end - at >= 8; ++boxes) {
        uint8_t h[16];
        if (!ReadAt(file, at, h, 8)) return -1;
        uint64_t length = Big(h, 4), header = 8;
        if (length == 1) {
            if (end - at < 16 || !ReadAt(file, at + 8, h + 8, 8)) return -1;
            length = Big(h + 8, 8);
            header = 16;
        } else if (length == 0) {
            length = uint64_t(end - at);  // the last box runs to the end
        }
        if (length < header || length > uint64_t(end - at)) return -1;
        if (Big(h + 4, 4) == 0x6A703263) return at + int64_t(header);  // 'jp2c'
        at += int64_t(length);
    }
    return -1;
}

}  // namespace

bool ReadSiz(VxFile* file, bool jp2, SizFacts& facts) {
    facts = {};
    const int64_t start = file->Tell64(), size = file->Size64();
    if (start < 0 || size < start) return false;
    const int64_t stream = jp2 ? CodeStreamOf(file, start, size) : start;
    // SOC, SIZ, its length and capabilities, eight sizes and the component count.
    uint8_t s[4 + 4 + 32 + 2];
    const bool read = stream >= 0 && ReadAt(file, stream, s, sizeof(s));
    file->Seek64(start, SEEK_SET);
    if (!read || Big(s, 4) != 0xFF4FFF51) return false;
    const uint64_t width = Big(s + 8, 4), height = Big(s + 12, 4), tileW = Big(s + 24, 4),
                   tileH = Big(s + 28, 4), tileX = Big(s + 32, 4), tileY = Big(s + 36, 4);
    facts.components = uint32_t(Big(s + 40, 2));
    if (tileW && tileH && width > tileX && height > tileY)
        facts.tiles = ((width - tileX + tileW - 1) / tileW) * ((height - tileY + tileH - 1) / tileH);
    return true;
}

}  // namespace vxj2k
