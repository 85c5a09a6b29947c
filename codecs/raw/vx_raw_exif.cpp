#include "codecs/raw/vx_raw_exif.h"

#include <algorithm>
#include <cmath>

namespace vx::raw {

namespace {

struct Entry {
    uint16_t tag, type;
    uint32_t count;
    std::vector<uint8_t> value;
};

void Put16(std::vector<uint8_t>& b, uint32_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}

void Put32(std::vector<uint8_t>& b, uint32_t v) {
    Put16(b, v & 0xFFFF);
    Put16(b, v >> 16);
}

Entry Text(uint16_t tag, const std::string& s) {
    Entry e{tag, 2, uint32_t(s.size() + 1), {s.begin(), s.end()}};
    e.value.push_back(0);
    return e;
}

Entry Short(uint16_t tag, uint32_t v) {
    Entry e{tag, 3, 1, {}};
    Put16(e.value, v);
    return e;
}

Entry Long(uint16_t tag, uint32_t v) {
    Entry e{tag, 4, 1, {}};
    Put32(e.value, v);
    return e;
}

Entry Rational(uint16_t tag, uint32_t num, uint32_t den) {
    Entry e{tag, 5, 1, {}};
    Put32(e.value, num);
    Put32(e.value, den);
    return e;
}

// Tenths are as fine as cameras state apertures and focal lengths.
Entry Tenths(uint16_t tag, double v) { return Rational(tag, uint32_t(std::lround(v * 10)), 10); }

// A directory at `at` in the block, its long values right after it.
void WriteDirectory(std::vector<uint8_t>& out, std::vector<Entry> entries) {
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.tag < b.tag; });
    const size_t at = out.size();
    uint32_t extra = uint32_t(at + 2 + 12 * entries.size() + 4);
    Put16(out, uint32_t(entries.size()));
    std::vector<uint8_t> tail;
    for (const Entry& e : entries) {
        Put16(out, e.tag);
        Put16(out, e.type);
        Put32(out, e.count);
        if (e.value.size() <= 4) {
            std::vector<uint8_t> inline4 = e.value;
            inline4.resize(4, 0);
            out.insert(out.end(), inline4.begin(), inline4.end());
        } else {
            Put32(out, extra + uint32_t(tail.size()));
            tail.insert(tail.end(), e.value.begin(), e.value.end());
            if (tail.size() % 2) tail.push_back(0);
        }
    }
    Put32(out, 0);
    out.insert(out.end(), tail.begin(), tail.end());
}

size_t DirectorySize(const std::vector<Entry>& entries) {
    size_t n = 2 + 12 * entries.size() + 4;
    for (const Entry& e : entries)
        if (e.value.size() > 4) n += e.value.size() + e.value.size() % 2;
    return n;
}

}  // namespace

std::vector<uint8_t> BuildExif(const CameraFacts& f) {
    std::vector<Entry> main, exif;
    if (!f.make.empty()) main.push_back(Text(271, f.make));
    if (!f.model.empty()) main.push_back(Text(272, f.model));
    main.push_back(Short(274, uint32_t(std::clamp(f.orientation, 1, 8))));
    if (!f.artist.empty()) main.push_back(Text(315, f.artist));
    if (f.shutter > 0 && f.shutter < 1e5) {
        if (f.shutter < 1)
            exif.push_back(Rational(33434, 1, uint32_t(std::lround(1 / f.shutter))));
        else
            exif.push_back(Tenths(33434, f.shutter));
    }
    if (f.aperture > 0 && f.aperture < 1e4) exif.push_back(Tenths(33437, f.aperture));
    if (f.iso > 0 && f.iso < 65536) exif.push_back(Short(34855, uint32_t(std::lround(f.iso))));
    if (f.focal > 0 && f.focal < 1e5) exif.push_back(Tenths(37386, f.focal));
    if (!exif.empty()) main.push_back(Long(34665, 0));  // patched below

    std::vector<uint8_t> out = {'I', 'I', 42, 0, 8, 0, 0, 0};
    if (!exif.empty()) {
        const uint32_t exifAt = uint32_t(8 + DirectorySize(main));
        for (Entry& e : main)
            if (e.tag == 34665) e.value = {uint8_t(exifAt), uint8_t(exifAt >> 8), uint8_t(exifAt >> 16), uint8_t(exifAt >> 24)};
    }
    WriteDirectory(out, main);
    if (!exif.empty()) WriteDirectory(out, exif);
    return out;
}

}  // namespace vx::raw
