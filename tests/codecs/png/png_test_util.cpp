#include "tests/codecs/png/png_test_util.h"

#include <cstring>

namespace pngt {

vt::Rgba Visible(const VxImage& img) {
    vt::Rgba out = vt::ToRgba(img);
    if (!img.IsIndexed()) return out;
    const RGBQUAD* pal = img.GetPalette();
    for (int y = 0; y < out.height; ++y) {
        for (int x = 0; x < out.width; ++x) {
            const uint8_t i = img.GetPixelIndex(x, out.height - 1 - y);
            uint8_t& a = out.px[(size_t(y) * out.width + x) * 4 + 3];
            if (img.GetTransIndex() >= 0 && i == img.GetTransIndex()) a = 0;
            else if (img.AlphaPaletteIsEnabled()) a = uint8_t(a * pal[i].rgbReserved / 255);
        }
    }
    return out;
}

uint32_t BE32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

std::vector<Chunk> Chunks(const std::vector<uint8_t>& file) {
    static const uint8_t kSig[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    std::vector<Chunk> out;
    if (file.size() < 8 || std::memcmp(file.data(), kSig, 8) != 0) return out;
    size_t p = 8;
    while (p + 12 <= file.size()) {
        const uint32_t n = BE32(&file[p]);
        if (n > file.size() - p - 12) break;
        Chunk c;
        c.type.assign(reinterpret_cast<const char*>(&file[p + 4]), 4);
        c.data.assign(file.begin() + long(p + 8), file.begin() + long(p + 8 + n));
        out.push_back(std::move(c));
        p += 12 + size_t(n);
    }
    return out;
}

const Chunk* Find(const std::vector<Chunk>& chunks, const std::string& type) {
    for (const Chunk& c : chunks)
        if (c.type == type) return &c;
    return nullptr;
}

}  // namespace pngt
