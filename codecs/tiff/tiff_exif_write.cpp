#include "codecs/tiff/tiff_exif_write.h"

#include <tiffio.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/vx_exif_edit.h"

namespace vx::tiff {

namespace {

// One entry's values in the block's byte order, as numbers.
struct Values {
    std::vector<double> real;
    std::vector<int64_t> whole;
    std::string text;
};

uint64_t Unsigned(std::span<const uint8_t> v, size_t at, size_t size, bool big) {
    uint64_t x = 0;
    for (size_t i = 0; i < size; ++i) x |= uint64_t(v[at + i]) << (8 * (big ? size - 1 - i : i));
    return x;
}

int64_t Signed(uint64_t x, size_t size) {
    const uint64_t sign = uint64_t(1) << (8 * size - 1);
    return int64_t(x ^ sign) - int64_t(sign);
}

// False for types that do not turn into numbers or text.
bool Decode(const ExifEntry& e, bool big, Values& out) {
    const auto v = e.value;
    switch (e.type) {
        case TIFF_ASCII: out.text.assign(v.begin(), v.end()); break;
        case TIFF_BYTE:
        case TIFF_UNDEFINED:
            for (uint8_t b : v) out.whole.push_back(b);
            break;
        case TIFF_SBYTE:
            for (uint8_t b : v) out.whole.push_back(int8_t(b));
            break;
        case TIFF_SHORT:
        case TIFF_SSHORT:
        case TIFF_LONG:
        case TIFF_SLONG: {
            const size_t size = e.type == TIFF_SHORT || e.type == TIFF_SSHORT ? 2 : 4;
            const bool sgn = e.type == TIFF_SSHORT || e.type == TIFF_SLONG;
            for (size_t at = 0; at + size <= v.size(); at += size) {
                const uint64_t x = Unsigned(v, at, size, big);
                out.whole.push_back(sgn ? Signed(x, size) : int64_t(x));
            }
            break;
        }
        case TIFF_RATIONAL:
        case TIFF_SRATIONAL:
            for (size_t at = 0; at + 8 <= v.size(); at += 8) {
                uint64_t n = Unsigned(v, at, 4, big), d = Unsigned(v, at + 4, 4, big);
                const double num = e.type == TIFF_SRATIONAL ? double(Signed(n, 4)) : double(n);
                const double den = e.type == TIFF_SRATIONAL ? double(Signed(d, 4)) : double(d);
                out.real.push_back(den != 0 ? num / den : 0.0);
            }
            break;
        default: return false;
    }
    for (int64_t w : out.whole) out.real.push_back(double(w));
    return true;
}

bool RealType(TIFFDataType t) {
    return t == TIFF_RATIONAL || t == TIFF_SRATIONAL || t == TIFF_FLOAT || t == TIFF_DOUBLE;
}

// The values packed as libtiff's setter takes this field's elements.
std::vector<uint8_t> Packed(const TIFFField* f, const Values& v, size_t count) {
    const int size = TIFFFieldSetGetSize(f);
    const bool real = RealType(TIFFFieldDataType(f));
    std::vector<uint8_t> out(size_t(size) * count);
    for (size_t i = 0; i < count; ++i) {
        uint8_t* p = out.data() + i * size_t(size);
        if (real && size == 4) {
            const float x = float(v.real[i]);
            std::memcpy(p, &x, 4);
        } else if (real) {
            std::memcpy(p, &v.real[i], 8);
        } else {
            const int64_t x = v.whole.empty() ? int64_t(v.real[i]) : v.whole[i];
            const uint8_t b1 = uint8_t(x);
            const uint16_t b2 = uint16_t(x);
            const uint32_t b4 = uint32_t(x);
            const uint64_t b8 = uint64_t(x);
            std::memcpy(p, size == 1 ? static_cast<const void*>(&b1)
                           : size == 2 ? static_cast<const void*>(&b2)
                           : size == 4 ? static_cast<const void*>(&b4)
                                       : static_cast<const void*>(&b8),
                        size_t(size));
        }
    }
    return out;
}

// Sets one entry on the current directory through the field libtiff knows
// for its tag; entries it does not know, or of a kind the field cannot
// take, are left out.
void SetEntry(TIFF* tif, const ExifEntry& e, bool big) {
    const TIFFField* f = TIFFFindField(tif, e.tag, TIFF_ANY);
    Values v;
    if (!f || !Decode(e, big, v)) return;
    const bool ascii = TIFFFieldDataType(f) == TIFF_ASCII;
    if (ascii != (e.type == TIFF_ASCII)) return;
    if (ascii) {
        const std::string text = v.text.substr(0, v.text.find('\0'));
        TIFFSetField(tif, e.tag, text.c_str());
        return;
    }
    const size_t n = v.real.size();
    const int readCount = TIFFFieldReadCount(f);
    const int size = TIFFFieldSetGetSize(f);
    if (n == 0 || size <= 0 || size > 8) return;
    if (TIFFFieldPassCount(f)) {
        const std::vector<uint8_t> packed = Packed(f, v, n);
        if (readCount == TIFF_VARIABLE2) TIFFSetField(tif, e.tag, uint32_t(n), packed.data());
        else if (n <= 0xFFFF) TIFFSetField(tif, e.tag, int(n), packed.data());
    } else if (readCount == 1) {
        if (RealType(TIFFFieldDataType(f))) TIFFSetField(tif, e.tag, v.real[0]);
        else if (size == 8) TIFFSetField(tif, e.tag, uint64_t(v.whole.empty() ? 0 : v.whole[0]));
        else if (size == 4) TIFFSetField(tif, e.tag, uint32_t(v.whole.empty() ? 0 : v.whole[0]));
        else TIFFSetField(tif, e.tag, int(v.whole.empty() ? 0 : v.whole[0]));
    } else if (readCount > 1 && n >= size_t(readCount)) {
        const std::vector<uint8_t> packed = Packed(f, v, size_t(readCount));
        TIFFSetField(tif, e.tag, packed.data());
    }
}

constexpr uint16_t kTagOrientation = 0x0112;
constexpr uint16_t kTagInterop = 0xA005;
// Main-directory text tags that describe the picture, not the file.
constexpr uint16_t kTextTags[] = {0x010E, 0x010F, 0x0110, 0x0131, 0x0132, 0x013B, 0x8298};

// Sets up and writes one custom directory; false when there was nothing to
// set up. `offset` stays 0 when libtiff could not write it.
bool WriteDirectory(TIFF* tif, std::span<const uint8_t> exif, ExifDir dir, uint64_t& offset) {
    bool any = false;
    ForEachExifEntry(exif, [&](ExifDir d, const ExifEntry&) { any = any || d == dir; });
    if (!any) return false;
    if ((dir == ExifDir::Exif ? TIFFCreateEXIFDirectory(tif) : TIFFCreateGPSDirectory(tif)) != 0)
        return true;
    const bool big = ExifBigEndian(exif);
    ForEachExifEntry(exif, [&](ExifDir d, const ExifEntry& e) {
        if (d == dir && e.tag != kTagInterop) SetEntry(tif, e, big);
    });
    if (!TIFFWriteCustomDirectory(tif, &offset)) offset = 0;
    // Writing a custom directory keeps its values; the next directory would
    // start over them without freeing them.
    TIFFFreeDirectory(tif);
    return true;
}

}  // namespace

ExifLinks WriteExifDirectories(TIFF* tif, std::span<const uint8_t> exif) {
    ExifLinks links;
    if (!ExifHeaderValid(exif)) return links;
    bool custom = WriteDirectory(tif, exif, ExifDir::Exif, links.exif);
    custom = WriteDirectory(tif, exif, ExifDir::Gps, links.gps) || custom;
    if (custom) TIFFCreateDirectory(tif);
    return links;
}

void SetExifPageFields(TIFF* tif, std::span<const uint8_t> exif, const ExifLinks& links) {
    if (links.exif) TIFFSetField(tif, TIFFTAG_EXIFIFD, links.exif);
    if (links.gps) TIFFSetField(tif, TIFFTAG_GPSIFD, links.gps);
    const bool big = ExifBigEndian(exif);
    ForEachExifEntry(exif, [&](ExifDir d, const ExifEntry& e) {
        if (d != ExifDir::Main) return;
        for (uint16_t t : kTextTags)
            if (e.tag == t && e.type == TIFF_ASCII) SetEntry(tif, e, big);
        if (e.tag == kTagOrientation && e.type == TIFF_SHORT && e.count == 1) {
            Values v;
            if (Decode(e, big, v) && v.whole[0] >= 1 && v.whole[0] <= 8)
                TIFFSetField(tif, TIFFTAG_ORIENTATION, int(v.whole[0]));
        }
    });
}

}  // namespace vx::tiff
