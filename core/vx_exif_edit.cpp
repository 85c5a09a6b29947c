#include "core/vx_exif_edit.h"

#include <algorithm>

namespace vx {

namespace {

constexpr uint16_t kTagOrientation = 0x0112;
constexpr uint16_t kTagExifDir = 0x8769;
constexpr uint16_t kTagGpsDir = 0x8825;
constexpr uint16_t kTagPixelX = 0xA002;
constexpr uint16_t kTagPixelY = 0xA003;
constexpr uint16_t kShort = 3;
constexpr uint16_t kLong = 4;

uint32_t TypeSize(uint16_t type) {
    static const uint8_t sizes[13] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};
    return type < 13 ? sizes[type] : 0;
}

struct Block {
    std::span<const uint8_t> b;
    bool big;
    uint16_t U16(size_t at) const {
        return big ? uint16_t(b[at] << 8 | b[at + 1]) : uint16_t(b[at + 1] << 8 | b[at]);
    }
    uint32_t U32(size_t at) const {
        return big ? uint32_t(U16(at)) << 16 | U16(at + 2) : uint32_t(U16(at + 2)) << 16 | U16(at);
    }
};

// Entry `visit(dir, entryOffset, entry)` for the three directories.
template <class Visit>
bool Walk(std::span<const uint8_t> exif, Visit&& visit) {
    if (!ExifHeaderValid(exif)) return false;
    const Block blk{exif, exif[0] == 'M'};
    const size_t size = exif.size();
    struct Pending {
        ExifDir dir;
        uint32_t offset;
    };
    Pending queue[3] = {{ExifDir::Main, blk.U32(4)}, {}, {}};
    int queued = 1;
    bool seen[3] = {true, false, false};
    for (int q = 0; q < queued; ++q) {
        const uint32_t off = queue[q].offset;
        if (off < 8 || off > size || size - off < 2) {
            if (q == 0) return false;
            continue;
        }
        const uint32_t n = blk.U16(off);
        if ((size - off - 2) / 12 < n) {
            if (q == 0) return false;
            continue;
        }
        for (uint32_t i = 0; i < n; ++i) {
            const size_t at = off + 2 + size_t(i) * 12;
            ExifEntry e;
            e.tag = blk.U16(at);
            e.type = blk.U16(at + 2);
            e.count = blk.U32(at + 4);
            const uint64_t bytes = uint64_t(TypeSize(e.type)) * e.count;
            if (bytes <= 4) {
                e.value = exif.subspan(at + 8, size_t(bytes));
            } else {
                const uint32_t where = blk.U32(at + 8);
                if (where > size || size - where < bytes) continue;
                e.value = exif.subspan(where, size_t(bytes));
            }
            const int link = e.tag == kTagExifDir ? 1 : e.tag == kTagGpsDir ? 2 : 0;
            if (link && queue[q].dir == ExifDir::Main && (e.type == kLong || e.type == 13) &&
                e.count == 1 && !seen[link]) {
                seen[link] = true;
                queue[queued++] = {link == 1 ? ExifDir::Exif : ExifDir::Gps, blk.U32(at + 8)};
            }
            visit(queue[q].dir, at, e);
        }
    }
    return true;
}

void Put(uint8_t* p, uint16_t type, bool big, uint32_t v) {
    if (type == kShort) {
        if (big) p[0] = uint8_t(v >> 8), p[1] = uint8_t(v);
        else p[0] = uint8_t(v), p[1] = uint8_t(v >> 8);
        return;
    }
    for (int i = 0; i < 4; ++i) p[big ? 3 - i : i] = uint8_t(v >> (8 * i));
}

}  // namespace

bool ExifHeaderValid(std::span<const uint8_t> exif) {
    if (exif.size() < 8) return false;
    const bool intel = exif[0] == 'I' && exif[1] == 'I' && exif[2] == 42 && exif[3] == 0;
    const bool motorola = exif[0] == 'M' && exif[1] == 'M' && exif[2] == 0 && exif[3] == 42;
    return intel || motorola;
}

bool ExifBigEndian(std::span<const uint8_t> exif) { return !exif.empty() && exif[0] == 'M'; }

bool ForEachExifEntry(std::span<const uint8_t> exif,
                      const std::function<void(ExifDir, const ExifEntry&)>& visit) {
    return Walk(exif, [&](ExifDir dir, size_t, const ExifEntry& e) { visit(dir, e); });
}

int32_t ExifOrientation(std::span<const uint8_t> exif) {
    int32_t orientation = 0;
    const bool big = ExifBigEndian(exif);
    Walk(exif, [&](ExifDir dir, size_t, const ExifEntry& e) {
        if (dir != ExifDir::Main || e.tag != kTagOrientation || e.type != kShort || e.count != 1)
            return;
        const int32_t v = big ? e.value[0] << 8 | e.value[1] : e.value[1] << 8 | e.value[0];
        orientation = v >= 1 && v <= 8 ? v : 0;
    });
    return orientation;
}

std::span<const uint8_t> ExifInChunk(std::span<const uint8_t> stored) {
    static const uint8_t kPrefix[6] = {'E', 'x', 'i', 'f', 0, 0};
    if (stored.size() >= 6 && std::equal(kPrefix, kPrefix + 6, stored.begin()))
        stored = stored.subspan(6);
    return ExifHeaderValid(stored) ? stored : std::span<const uint8_t>();
}

std::span<const uint8_t> ExifAfterOffset(std::span<const uint8_t> stored) {
    if (stored.size() < 4) return {};
    const uint32_t skip = uint32_t(stored[0]) << 24 | uint32_t(stored[1]) << 16 |
                          uint32_t(stored[2]) << 8 | stored[3];
    if (skip > stored.size() - 4) return {};
    return ExifInChunk(stored.subspan(4 + size_t(skip)));
}

std::vector<uint8_t> ExifFitted(std::span<const uint8_t> exif, int32_t orientation,
                                uint32_t width, uint32_t height) {
    std::vector<uint8_t> out(exif.begin(), exif.end());
    const bool big = ExifBigEndian(exif);
    Walk(exif, [&](ExifDir dir, size_t at, const ExifEntry& e) {
        if (e.count != 1 || (e.type != kShort && e.type != kLong)) return;
        uint8_t* value = out.data() + at + 8;
        if (dir == ExifDir::Main && e.tag == kTagOrientation && e.type == kShort &&
            orientation >= 1 && orientation <= 8) {
            Put(value, kShort, big, uint32_t(orientation));
        } else if (dir == ExifDir::Exif && (e.tag == kTagPixelX || e.tag == kTagPixelY)) {
            const uint32_t v = e.tag == kTagPixelX ? width : height;
            if (e.type == kLong || v <= 0xFFFF) Put(value, e.type, big, v);
        }
    });
    return out;
}

std::vector<uint8_t> ExifWithoutBadOrientation(std::span<const uint8_t> exif) {
    std::vector<uint8_t> out(exif.begin(), exif.end());
    const bool big = ExifBigEndian(exif);
    size_t bad = 0;
    Walk(exif, [&](ExifDir dir, size_t at, const ExifEntry& e) {
        if (bad || dir != ExifDir::Main || e.tag != kTagOrientation || e.count != 1) return;
        uint32_t v = 0;
        if (e.type == kShort) v = big ? e.value[0] << 8 | e.value[1] : e.value[1] << 8 | e.value[0];
        else if (e.type == kLong) v = Block{e.value, big}.U32(0);
        else return;
        if (v < 1 || v > 8) bad = at;
    });
    if (!bad) return out;
    // The later entries and the next-directory link move up one entry; the
    // freed entry at the end is zeroed. Nothing else moves, so every offset
    // in the block still holds.
    const Block blk{exif, big};
    const size_t dir = blk.U32(4);
    const uint16_t n = blk.U16(dir);
    const size_t end = std::min(exif.size(), dir + 2 + size_t(n) * 12 + 4);
    std::copy(out.begin() + ptrdiff_t(bad) + 12, out.begin() + ptrdiff_t(end), out.begin() + ptrdiff_t(bad));
    std::fill(out.begin() + ptrdiff_t(end) - 12, out.begin() + ptrdiff_t(end), uint8_t(0));
    Put(out.data() + dir, kShort, big, n - 1u);
    // A second such tag goes the same way.
    return ExifWithoutBadOrientation(out);
}

}  // namespace vx
