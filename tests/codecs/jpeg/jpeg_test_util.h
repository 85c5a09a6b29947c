// Shared pieces of the JPEG tests.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "codecs/jpeg/vx_image_jpg.h"
#include "tests/support/test_support.h"

namespace jt {

inline bool DecodePath(const std::string& path, VxImageJPG& img) {
    VxIOFile f;
    if (!f.Open(path.c_str(), "rb")) return false;
    return img.Decode(&f);
}

inline bool DecodeBytes(const std::vector<uint8_t>& bytes, VxImageJPG& img) {
    std::vector<uint8_t> copy(bytes);
    VxMemFile f(copy.data(), uint32_t(copy.size()));
    return img.Decode(&f);
}

// Encodes into memory; empty on failure.
inline std::vector<uint8_t> EncodeToBytes(VxImageJPG& img) {
    VxMemFile f;
    f.Open();
    if (!img.Encode(&f)) return {};
    const uint8_t* p = f.GetBuffer(false);
    return std::vector<uint8_t>(p, p + f.Size());
}

struct Jfif {
    int unit;
    int x;
    int y;
};

// The JFIF APP0 right after SOI, as a reader of the file would see it.
inline std::optional<Jfif> ReadJfif(const std::vector<uint8_t>& b) {
    if (b.size() < 18 || b[0] != 0xFF || b[1] != 0xD8 || b[2] != 0xFF || b[3] != 0xE0) return {};
    if (std::string(reinterpret_cast<const char*>(&b[6]), 5) != std::string("JFIF\0", 5)) return {};
    return Jfif{b[13], (b[14] << 8) | b[15], (b[16] << 8) | b[17]};
}

// Marker codes of the segments before the first scan.
inline std::vector<int> Markers(const std::vector<uint8_t>& b) {
    std::vector<int> out;
    size_t pos = 2;
    while (pos + 4 <= b.size() && b[pos] == 0xFF) {
        const int m = b[pos + 1];
        out.push_back(m);
        if (m == 0xDA) break;
        pos += 2 + ((b[pos + 2] << 8) | b[pos + 3]);
    }
    return out;
}

// A stream whose writes stop succeeding after `budget` bytes.
class ShortWriteFile : public VxMemFile {
public:
    explicit ShortWriteFile(size_t budget) : budget_(budget) { Open(); }
    size_t Write(const void* buffer, size_t size, size_t count) override {
        const size_t want = size * count;
        const size_t take = want < budget_ ? want : budget_;
        budget_ -= take;
        if (take) VxMemFile::Write(buffer, 1, take);
        return size ? take / size : 0;
    }

private:
    size_t budget_;
};

}  // namespace jt
