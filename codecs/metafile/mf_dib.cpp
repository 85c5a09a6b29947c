#include "codecs/metafile/mf_dib.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/vx_image.h"
#include "core/vx_types.h"

namespace vx::mf {

namespace {

// Largest bitmap a record may carry; compressed ones could otherwise claim any size.
constexpr uint64_t kMaxDibPixels = 16u << 20;

struct DibLayout {
    uint32_t headerSize = 0;
    int64_t width = 0, height = 0;
    uint32_t bpp = 0, compression = 0;
    size_t tableBytes = 0;  // colour table and masks after the header
};

bool ReadLayout(const uint8_t* info, size_t size, DibLayout& out) {
    if (size < 12) return false;
    out.headerSize = LoadLE32(info);
    if (out.headerSize == 12) {
        out.width = LoadLE16(info + 4);
        out.height = int16_t(LoadLE16(info + 6));
        out.bpp = LoadLE16(info + 10);
        out.tableBytes = out.bpp <= 8 ? (size_t(1) << out.bpp) * 3 : 0;
        return true;
    }
    if (out.headerSize < 40 || out.headerSize > size) return false;
    out.width = int32_t(LoadLE32(info + 4));
    out.height = int32_t(LoadLE32(info + 8));
    out.bpp = LoadLE16(info + 14);
    out.compression = LoadLE32(info + 16);
    uint32_t used = LoadLE32(info + 32);
    if (out.bpp <= 8) {
        const uint32_t full = 1u << out.bpp;
        if (used == 0 || used > full) used = full;
        out.tableBytes = size_t(used) * 4;
    } else {
        out.tableBytes = size_t(used > 256 ? 256 : used) * 4;
    }
    // Bit masks the header has no room for follow it: three, or four with
    // an alpha mask (compression 6).
    const uint32_t inHeader = MasksInInfoHeader(out.headerSize);
    const uint32_t wanted = out.compression == 3 ? 3 : out.compression == 6 ? 4 : 0;
    if (wanted > inHeader) out.tableBytes += (wanted - inHeader) * 4;
    return true;
}

bool Plausible(const DibLayout& d, size_t bitsSize) {
    if (d.width <= 0 || d.height == 0 || d.height == INT32_MIN) return false;
    if (d.width > 32767 || std::llabs(d.height) > 32767) return false;
    const uint64_t h = uint64_t(std::llabs(d.height));
    if (uint64_t(d.width) * h > kMaxDibPixels) return false;
    switch (d.bpp) {
        case 1: case 4: case 8: case 16: case 24: case 32: break;
        default: return false;
    }
    if (d.compression == 0 || d.compression == 3 || d.compression == 6) {
        const uint64_t stride = (uint64_t(d.width) * d.bpp + 31) / 32 * 4;
        // A few missing bytes at the end are common; far fewer is a lie.
        return stride * h <= uint64_t(bitsSize) + stride;
    }
    if (d.compression == 1 || d.compression == 2) return bitsSize > 0;
    return false;
}

}  // namespace

std::shared_ptr<Bitmap> DecodeDib(const uint8_t* info, size_t infoSize, const uint8_t* bits,
                                  size_t bitsSize, uint32_t usage) {
    if (usage != 0) return nullptr;  // palette-index colour tables need a realized palette
    DibLayout d;
    if (!ReadLayout(info, infoSize, d) || !Plausible(d, bitsSize)) return nullptr;
    const size_t headerAndTable = std::min(infoSize, size_t(d.headerSize) + d.tableBytes);
    // Records often carry a few bytes fewer than the rows take, and run-length
    // bits without their end marker: the BMP reader, which refuses cut files,
    // gets the missing bytes as zeros and the marker.
    size_t bitsRoom = bitsSize;
    if (d.compression == 1 || d.compression == 2) {
        bitsRoom += 2;
    } else {
        const uint64_t stride = (uint64_t(d.width) * d.bpp + 31) / 32 * 4;
        bitsRoom = std::max<size_t>(bitsSize, size_t(stride * uint64_t(std::llabs(d.height))));
    }
    // A file header in front tells the BMP reader exactly where the bits start.
    std::vector<uint8_t> file(kBitmapFileHeaderBytes + headerAndTable + bitsRoom);
    BITMAPFILEHEADER bf;
    bf.bfType = 0x4D42;
    bf.bfSize = uint32_t(file.size());
    bf.bfOffBits = uint32_t(kBitmapFileHeaderBytes + headerAndTable);
    StoreFileHeader(file.data(), bf);
    std::memcpy(file.data() + kBitmapFileHeaderBytes, info, headerAndTable);
    if (bitsSize) std::memcpy(file.data() + bf.bfOffBits, bits, bitsSize);
    if (d.compression == 1 || d.compression == 2) file[file.size() - 1] = 1;  // end of bitmap

    VxImage img(0);
    if (!img.Decode(file.data(), uint32_t(file.size()), VX_FORMAT_BMP)) return nullptr;
    auto bmp = std::make_shared<Bitmap>();
    bmp->width = int(img.GetWidth());
    bmp->height = int(img.GetHeight());
    bmp->px.resize(size_t(bmp->width) * bmp->height);
    for (int y = 0; y < bmp->height; ++y) {
        uint32_t* row = bmp->px.data() + size_t(y) * bmp->width;
        const int32_t by = bmp->height - 1 - y;
        for (int x = 0; x < bmp->width; ++x) {
            const RGBQUAD c = img.GetPixelColor(x, by, false);
            row[x] = 0xFF000000u | (uint32_t(c.rgbRed) << 16) | (uint32_t(c.rgbGreen) << 8) | c.rgbBlue;
        }
    }
    return bmp;
}

std::shared_ptr<Bitmap> DecodePackedDib(const uint8_t* dib, size_t size, uint32_t usage) {
    DibLayout d;
    if (!ReadLayout(dib, size, d)) return nullptr;
    const size_t split = size_t(d.headerSize) + d.tableBytes;
    if (split > size) return nullptr;
    return DecodeDib(dib, split, dib + split, size - split, usage);
}

}  // namespace vx::mf
