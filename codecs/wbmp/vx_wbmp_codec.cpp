#include "codecs/wbmp/vx_wbmp_codec.h"
#include "core/vx_codec.h"
#include "core/vx_codec_guard.h"

#include <cstring>
#include <vector>

namespace {

const char kNoMemory[] = "Can't allocate memory";

// The format's multi-byte integer: 7 bits per byte, high bit = more follows.
// Five bytes are enough for 32 bits; anything longer is not a size.
bool ReadMultiByte(VxFile* file, uint32_t& value) {
    value = 0;
    for (int i = 0; i < 5; ++i) {
        const int32_t c = file->GetC();
        if (c < 0) return false;
        if (value > (0xFFFFFFFFu >> 7)) return false;
        value = (value << 7) | uint32_t(c & 0x7F);
        if (!(c & 0x80)) return true;
    }
    return false;
}

size_t PutMultiByte(uint8_t* out, uint32_t value) {
    uint8_t tmp[5];
    size_t n = 0;
    do {
        tmp[n++] = uint8_t(value & 0x7F);
        value >>= 7;
    } while (value);
    for (size_t i = 0; i < n; ++i) out[i] = uint8_t(tmp[n - 1 - i] | (i + 1 < n ? 0x80 : 0));
    return n;
}

int Brightness(const RGBQUAD& c) { return (306 * c.rgbRed + 601 * c.rgbGreen + 117 * c.rgbBlue) >> 10; }

}  // namespace

bool VxWbmpCodec::Decode(VxFile* file) {
    if (!file) return false;
    return vx::RunCodec(*this, kNoMemory, [&] {
        const int32_t type = file->GetC();
        if (type < 0) throw VxCodecFailure("Not a WBMP");
        if (type != 0) throw VxCodecFailure("Unsupported WBMP type");
        const int32_t fixed = file->GetC();
        if (fixed < 0) throw VxCodecFailure("Not a WBMP");
        // Type 0 has no extension headers; a set extension bit means another type.
        if (fixed & 0x80) throw VxCodecFailure("Unsupported WBMP type");
        uint32_t width = 0, height = 0;
        if (!ReadMultiByte(file, width) || !ReadMultiByte(file, height) || width == 0 ||
            height == 0)
            throw VxCodecFailure("Corrupted WBMP");

        if (DimensionsOnly()) return AnswerDimensions(VX_FORMAT_WBMP, width, height, 1);
        const uint64_t line = (uint64_t(width) + 7) / 8;
        // A truncated file would come out with blank rows; refusing it also keeps a
        // lying header from reserving memory the file cannot fill.
        VxRequirePicture(*this, width, height, 1, file, line * height, "Corrupted WBMP");

        if (!Create(width, height, 1, VX_FORMAT_WBMP)) throw VxCodecFailure("WBMP Create failed");
        SetGrayPalette();
        for (uint32_t y = 0; y < height; ++y) {
            if (file->Read(GetBits(height - 1 - y), 1, size_t(line)) != line)
                throw VxCodecFailure("Corrupted WBMP");
        }
        return true;
    });
}

bool VxWbmpCodec::Encode(VxFile* file) {
    if (EncodeSafeCheck(file)) return false;
    const uint32_t width = GetWidth(), height = GetHeight();
    if (GetBpp() != 1) {
        SetLastError("不能保存图像为WBMP格式");
        return false;
    }
    if (width > kMaxSide || height > kMaxSide) {
        SetLastError("不能保存图像为WBMP格式: 宽和高不能超过 255 像素");
        return false;
    }
    uint8_t head[12] = {0, 0};
    size_t n = 2;
    n += PutMultiByte(head + n, width);
    n += PutMultiByte(head + n, height);
    bool ok = file->Write(head, 1, n) == n;

    // A set bit is white: when index 0 is the brighter colour the bits are
    // turned over, so the picture keeps its look rather than its indices.
    const RGBQUAD* pal = GetPalette();
    const bool invert = Brightness(pal[0]) > Brightness(pal[1]);
    const size_t line = (width + 7) / 8;
    std::vector<uint8_t> buf(line);
    for (uint32_t y = 0; ok && y < height; ++y) {
        std::memcpy(buf.data(), GetBits(height - 1 - y), line);
        if (invert)
            for (auto& b : buf) b = uint8_t(~b);
        // Bits past the width are padding; other readers may show them.
        if (width % 8) buf[line - 1] &= uint8_t(0xFF << (8 - width % 8));
        ok = file->Write(buf.data(), 1, line) == line;
    }
    if (!ok) {
        SetLastError("Error writing WBMP file");
        return false;
    }
    return true;
}
