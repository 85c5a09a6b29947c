#include "codecs/tga/vx_tga_codec.h"
#include "core/vx_codec.h"
#include "core/vx_codec_guard.h"

#include <cstring>
#include <vector>

namespace {

const char kNoMemory[] = "Can't allocate memory";

constexpr size_t kHeaderBytes = 18;

constexpr char kRunCut[] = "TGA run-length data ends before the last pixel";

// Five bits to eight, the top bits repeated below: 31 is 255.
uint8_t Widen5(uint32_t v) { return uint8_t(v << 3 | v >> 2); }

void Unpack555(uint16_t v, uint8_t* bgr) {
    bgr[0] = Widen5(v & 0x1F);
    bgr[1] = Widen5((v >> 5) & 0x1F);
    bgr[2] = Widen5((v >> 10) & 0x1F);
}

}  // namespace

void VxTgaCodec::StorePixel(uint8_t* dest, const uint8_t* value, uint32_t row, uint32_t x,
                            uint32_t depth) {
    switch (depth) {
        case 8: dest[x] = value[0]; break;
        case 15:
        case 16:
            if (greyAlpha_) {
                dest[x] = value[0];
                AlphaSet(int32_t(x), int32_t(row), value[1]);
            } else {
                Unpack555(vx::LoadLE16(value), dest + size_t(x) * 3);
            }
            break;
        case 24: std::memcpy(dest + size_t(x) * 3, value, 3); break;
        default:
            std::memcpy(dest + size_t(x) * 3, value, 3);
            AlphaSet(int32_t(x), int32_t(row), value[3]);
            break;
    }
}

// Pixels the stream cannot deliver stay zero; false when some are missing.
bool VxTgaCodec::ReadRawPixels(uint8_t* dest, VxFile* file, uint32_t count, uint32_t row,
                               uint32_t x, uint32_t depth) {
    const uint32_t bytes = (depth + 7) / 8;
    if (depth == 8 || depth == 24) {
        const size_t want = size_t(count) * bytes;
        return file->Read(dest + size_t(x) * bytes, 1, want) == want;
    }
    std::vector<uint8_t> buf(size_t(count) * bytes);
    const size_t got = file->Read(buf.data(), bytes, count);
    for (size_t i = 0; i < got; ++i) StorePixel(dest, &buf[i * bytes], row, uint32_t(x + i), depth);
    return got == count;
}

void VxTgaCodec::ReadRunLengthRow(uint8_t* dest, VxFile* file, uint32_t width, uint32_t row,
                                  uint32_t depth, RunState& state) {
    const uint32_t bytes = (depth + 7) / 8;
    uint32_t x = 0;
    while (x < width) {
        if (state.left == 0) {
            const int32_t h = file->GetC();
            if (h < 0) throw VxCodecFailure(kRunCut);
            state.repeat = h >= 128;
            state.left = uint32_t(h & 0x7F) + 1;
            if (state.repeat && file->Read(state.value, 1, bytes) != bytes)
                throw VxCodecFailure(kRunCut);
        }
        const uint32_t n = std::min(state.left, width - x);
        if (state.repeat) {
            for (uint32_t i = 0; i < n; ++i) StorePixel(dest, state.value, row, x + i, depth);
        } else if (!ReadRawPixels(dest, file, n, row, x, depth)) {
            throw VxCodecFailure(kRunCut);
        }
        state.left -= n;
        x += n;
    }
}

bool VxTgaCodec::Decode(VxFile* file) {
    if (!file) return false;
    return vx::RunCodec(*this, kNoMemory, [&] {
        uint8_t h[kHeaderBytes];
        if (file->Read(h, 1, kHeaderBytes) != kHeaderBytes) throw VxCodecFailure("Not a TGA");
        const uint32_t idLength = h[0];
        const uint32_t mapType = h[1];
        const uint32_t imageType = h[2];
        const uint32_t mapFirst = vx::LoadLE16(h + 3);
        const uint32_t mapLength = vx::LoadLE16(h + 5);
        const uint32_t mapEntryBits = h[7];
        const uint32_t width = vx::LoadLE16(h + 12);
        const uint32_t height = vx::LoadLE16(h + 14);
        const uint32_t depth = h[16];
        const uint32_t descriptor = h[17];

        bool rle;
        switch (imageType) {
            case 1: case 2: case 3: rle = false; break;
            case 9: case 10: case 11: rle = true; break;
            default: throw VxCodecFailure("Unknown TGA image type");
        }
        const uint32_t kind = imageType & 3;  // 1 mapped, 2 true colour, 3 grey
        if (width == 0 || height == 0) throw VxCodecFailure("bad TGA header");
        if (depth != 8 && depth != 15 && depth != 16 && depth != 24 && depth != 32)
            throw VxCodecFailure("bad TGA header");
        // Indices are one byte, grey one byte or grey and alpha two; true
        // colour is never one byte.
        if ((kind == 2) == (depth == 8) && !(kind == 3 && depth == 16))
            throw VxCodecFailure("bad TGA header");
        if (kind == 3 && depth != 8 && depth != 16) throw VxCodecFailure("bad TGA header");
        greyAlpha_ = kind == 3 && depth == 16;
        if (mapType) {
            if (mapEntryBits != 15 && mapEntryBits != 16 && mapEntryBits != 24 &&
                mapEntryBits != 32)
                throw VxCodecFailure("bad TGA header");
            if (kind == 1 && mapFirst + mapLength > 256) throw VxCodecFailure("bad TGA header");
        }
        if (DimensionsOnly()) return AnswerDimensions(VX_FORMAT_TGA, width, height, depth);

        file->Seek(int32_t(idLength), SEEK_CUR);

        std::vector<uint8_t> map;
        if (mapType) {
            const uint32_t entryBytes = (mapEntryBits + 7) / 8;
            map.resize(size_t(mapLength) * entryBytes);
            if (file->Read(map.data(), 1, map.size()) != map.size())
                throw VxCodecFailure("corrupted TGA");
        }

        // Every row but the last must start before the end of the stream: a raw
        // row costs its bytes, a run-length packet one header and one value per
        // 128 pixels. A header that promises more than the file holds is refused
        // before any memory is reserved for it.
        const uint64_t pixelBytes = (depth + 7) / 8;
        const uint64_t before = uint64_t(height - 1) * width;
        const uint64_t need = rle ? before / 128 * (1 + pixelBytes) : before * pixelBytes;
        VxRequirePicture(*this, width, height, depth, file, need + 1, "corrupted TGA");

        if (!Create(width, height, greyAlpha_ ? 8 : depth, VX_FORMAT_TGA))
            throw VxCodecFailure("TGA Create failed");
        if ((depth == 32 || greyAlpha_) && !AlphaCreate()) throw VxCodecFailure("TGA Create failed");
        if (Cancelled()) throw VxCodecFailure("Cancelled");

        if (kind == 1 && mapType) {
            const uint32_t entryBytes = (mapEntryBits + 7) / 8;
            for (uint32_t i = 0; i < mapLength; ++i) {
                const uint8_t* e = &map[size_t(i) * entryBytes];
                uint8_t bgr[3];
                if (entryBytes == 2) Unpack555(vx::LoadLE16(e), bgr);
                else std::memcpy(bgr, e, 3);
                SetPaletteColor(uint8_t(mapFirst + i), bgr[2], bgr[1], bgr[0], 0);
            }
        }
        if (kind == 3) SetGrayPalette();

        const bool topDown = descriptor & 0x20;
        RunState state;
        for (uint32_t y = 0; y < height; ++y) {
            if (Cancelled()) throw VxCodecFailure("Cancelled");
            const int64_t rest = file->Remaining();
            if (state.left == 0 && rest == 0) throw VxCodecFailure("corrupted TGA");
            const uint32_t row = topDown ? height - 1 - y : y;
            uint8_t* dest = GetBits(row);
            if (rle) ReadRunLengthRow(dest, file, width, row, depth, state);
            else ReadRawPixels(dest, file, width, row, 0, depth);
        }
        if (descriptor & 0x10) Mirror();
        return true;
    });
}

bool VxTgaCodec::Encode(VxFile* file) {
    if (EncodeSafeCheck(file)) return false;
    const uint32_t bpp = GetBpp();
    if (bpp < 8) {
        SetLastError("图像位深只能为 8 或 24");
        return false;
    }
    const uint32_t width = GetWidth(), height = GetHeight();
    // The header holds 16-bit sides.
    if (width > 0xFFFF || height > 0xFFFF) {
        SetLastError("TGA image size exceeds 65535");
        return false;
    }
    const bool withAlpha = bpp == 24 && AlphaIsValid();
    const bool mapped = bpp == 8;
    uint8_t h[kHeaderBytes] = {};
    h[1] = mapped ? 1 : 0;
    h[2] = mapped ? 1 : 2;
    vx::StoreLE16(h + 5, mapped ? 256 : 0);
    h[7] = mapped ? 24 : 0;
    vx::StoreLE16(h + 12, uint16_t(width));
    vx::StoreLE16(h + 14, uint16_t(height));
    h[16] = uint8_t(withAlpha ? 32 : bpp);
    // Eight alpha bits declared, so that readers keep the alpha channel.
    h[17] = withAlpha ? 8 : 0;
    bool ok = file->Write(h, 1, kHeaderBytes) == kHeaderBytes;

    if (ok && mapped) {
        uint8_t pal[768];
        const RGBQUAD* p = GetPalette();
        for (int i = 0; i < 256; ++i) {
            pal[3 * i] = p[i].rgbBlue;
            pal[3 * i + 1] = p[i].rgbGreen;
            pal[3 * i + 2] = p[i].rgbRed;
        }
        ok = file->Write(pal, 1, sizeof(pal)) == sizeof(pal);
    }

    const size_t rowBytes = withAlpha ? size_t(width) * 4 : size_t(width) * (bpp / 8);
    std::vector<uint8_t> buf(withAlpha ? rowBytes : 0);
    const uint32_t alphaMax = GetAlphaMax();
    for (uint32_t y = 0; ok && y < height; ++y) {
        const uint8_t* src = GetBits(y);
        if (withAlpha) {
            for (uint32_t x = 0; x < width; ++x) {
                std::memcpy(&buf[size_t(x) * 4], src + size_t(x) * 3, 3);
                buf[size_t(x) * 4 + 3] = uint8_t(AlphaGet(int32_t(x), int32_t(y)) * alphaMax / 255);
            }
            src = buf.data();
        }
        ok = file->Write(src, 1, rowBytes) == rowBytes;
    }
    if (!ok) {
        SetLastError("Error writing TGA file");
        return false;
    }
    return true;
}
