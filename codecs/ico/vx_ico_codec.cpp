#include "codecs/ico/vx_ico_codec.h"
#include "core/vx_codec.h"
#include "core/vx_codec_guard.h"

#include <cstring>
#include <vector>

namespace {

const char kNoMemory[] = "Can't allocate memory";

constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr char kTruncated[] = "Icon file is truncated";

uint32_t MaskStride(uint32_t width) { return (width + 31) / 32 * 4; }

}  // namespace

// Entries stored as PNG go through the PNG codec, over a copy of their bytes.
// The nested decode inherits this object's settings (quality and codec options
// that travel to the next save, the picture limit, a dimensions-only request).
void VxIcoCodec::DecodePngEntry(VxFile* file, int64_t offset, uint32_t bytes, int32_t entries) {
    std::vector<uint8_t> data(bytes);
    if (!file->Seek64(offset, SEEK_SET) || file->Read(data.data(), 1, bytes) != bytes)
        throw VxCodecFailure(kTruncated);
    VxMemFile mem(data.data(), bytes);
    const int32_t frame = Info.Frame;
    Info.Frame = 0;
    const bool ok = VxImage::Decode(&mem, VX_FORMAT_PNG);
    Info.Frame = frame;
    Info.NumFrames = entries;
    if (!ok) {
        throw VxCodecFailure("PNG icon entry: ",
                             *GetLastError() ? GetLastError() : "cannot be decoded");
    }
    Info.Type = VX_FORMAT_ICO;
}

void VxIcoCodec::ApplyMask(const uint8_t* mask, uint32_t stride, uint32_t bpp) {
    const int32_t w = int32_t(GetWidth()), h = int32_t(GetHeight());
    const size_t maskBytes = size_t(stride) * uint32_t(h);
    bool allOnes = true;
    for (size_t i = 0; i < maskBytes && allOnes; ++i) allOnes = mask[i] == 0xFF;
    // An icon that only inverts the screen: shown as its negative.
    if (allOnes) {
        SetTransIndex(0);
        Negative();
        return;
    }

    const bool hadAlpha = AlphaIsValid();
    if (!hadAlpha && !AlphaCreate()) throw VxCodecFailure("Can't allocate memory");
    auto masked = [&](int32_t x, int32_t y) {
        return (mask[size_t(y) * stride + (uint32_t(x) >> 3)] & (0x80 >> (x & 7))) != 0;
    };
    bool any = false;
    for (int32_t y = 0; y < h; ++y) {
        uint8_t* a = Alpha + size_t(y) * uint32_t(w);
        for (int32_t x = 0; x < w; ++x)
            if (masked(x, y)) {
                a[x] = 0;
                any = true;
            }
    }
    if (!any) {
        if (!hadAlpha) AlphaDelete();
        return;
    }

    if (bpp == 24) {
        bool first = true, same = true;
        RGBQUAD colour;
        for (int32_t y = 0; y < h && same; ++y)
            for (int32_t x = 0; x < w && same; ++x) {
                if (!masked(x, y)) continue;
                const RGBQUAD c = GetPixelColor(x, y, false);
                if (first) colour = c;
                else same = c == colour;
                first = false;
            }
        if (same) {
            SetTransColor(colour);
            SetTransIndex(0);
            AlphaDelete();
        }
    } else if (bpp <= 8) {
        bool used[256] = {};
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x) used[GetPixelIndex(x, y)] = true;
        for (uint32_t i = 0; i < Header.biClrUsed; ++i) {
            if (used[i]) continue;
            for (int32_t y = 0; y < h; ++y)
                for (int32_t x = 0; x < w; ++x)
                    if (masked(x, y)) SetPixelIndex(x, y, uint8_t(i));
            SetTransIndex(int32_t(i));
            AlphaDelete();
            break;
        }
    }
}

bool VxIcoCodec::Decode(VxFile* file) {
    if (!file) return false;
    return vx::RunCodec(*this, kNoMemory, [&] {
        const int64_t start = file->Tell64();
        const int64_t size = file->Size64();
        if (start < 0 || size < 0) throw VxCodecFailure("Icon stream has no size");
        uint8_t head[6];
        if (file->Read(head, 1, 6) != 6) throw VxCodecFailure("Not an icon file");
        const uint32_t type = vx::LoadLE16(head + 2);
        if (vx::LoadLE16(head) != 0 || (type != 1 && type != 2))
            throw VxCodecFailure("Not an icon file");
        const uint32_t count = vx::LoadLE16(head + 4);
        Info.NumFrames = int32_t(count);
        if (Info.Frame < 0 || uint32_t(Info.Frame) >= count)
            throw VxCodecFailure("Icon entry out of range");

        // Only the chosen entry is needed; the directory must still be whole.
        if (start + 6 + int64_t(count) * 16 > size) throw VxCodecFailure(kTruncated);
        uint8_t entry[16];
        file->Seek64(start + 6 + 16 * int64_t(Info.Frame), SEEK_SET);
        if (file->Read(entry, 1, 16) != 16) throw VxCodecFailure(kTruncated);
        const uint32_t width = entry[0] ? entry[0] : 256;
        const uint32_t height = entry[1] ? entry[1] : 256;
        const uint32_t bytes = vx::LoadLE32(entry + 8);
        const int64_t offset = start + vx::LoadLE32(entry + 12);
        if (bytes < 40 || offset + int64_t(bytes) > size)
            throw VxCodecFailure("Icon entry lies outside the file");

        uint8_t raw[40];
        if (!file->Seek64(offset, SEEK_SET) || file->Read(raw, 1, 40) != 40)
            throw VxCodecFailure(kTruncated);
        if (std::memcmp(raw, kPngSignature, 8) == 0) {
            DecodePngEntry(file, offset, bytes, int32_t(count));
            return true;
        }
        const BITMAPINFOHEADER bih = vx::LoadInfoHeader(raw);
        const uint32_t bpp = bih.biBitCount;
        if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24 && bpp != 32)
            throw VxCodecFailure("Unsupported icon bit depth");
        if (bih.biCompression != 0) throw VxCodecFailure("Compressed icons are not supported");
        if (DimensionsOnly()) return AnswerDimensions(VX_FORMAT_ICO, width, height, bpp);

        VxRequirePicture(*this, width, height, bpp);
        if (!Create(width, height, bpp, VX_FORMAT_ICO)) {
            throw VxCodecFailure("Can't create icon image: ", GetLastError());
        }
        // A header that names fewer colours than the depth allows stores only those.
        uint32_t fileColours = Header.biClrUsed;
        if (bih.biClrUsed != 0 && bih.biClrUsed < fileColours) fileColours = bih.biClrUsed;
        // The entry's stored length must hold its colours and pixels, and
        // then either no mask or a whole one: more would belong to another entry.
        const uint64_t pixels = bpp == 32 ? uint64_t(width) * 4 * height : Header.biSizeImage;
        const uint64_t image = 40 + uint64_t(fileColours) * 4 + pixels;
        const uint64_t withMask = image + uint64_t(MaskStride(width)) * height;
        if (bytes != image && bytes < withMask)
            throw VxCodecFailure("Icon entry's stored length disagrees with its image");
        if (fileColours) {
            std::vector<uint8_t> pal(size_t(fileColours) * 4);
            if (file->Read(pal.data(), 1, pal.size()) != pal.size()) throw VxCodecFailure(kTruncated);
            for (uint32_t i = 0; i < fileColours; ++i)
                SetPaletteColor(uint8_t(i), pal[4 * i + 2], pal[4 * i + 1], pal[4 * i], 0);
        }

        bool ownAlpha = false;
        if (bpp == 32) {
            if (!AlphaCreate()) throw VxCodecFailure("Can't allocate memory");
            std::vector<uint8_t> row(size_t(width) * 4);
            for (uint32_t y = 0; y < height; ++y) {
                if (file->Read(row.data(), 1, row.size()) != row.size())
                    throw VxCodecFailure(kTruncated);
                uint8_t* dest = GetBits(y);
                uint8_t* a = Alpha + size_t(y) * width;
                const uint8_t* src = row.data();
                for (uint32_t x = 0; x < width; ++x, dest += 3, src += 4) {
                    dest[0] = src[0];
                    dest[1] = src[1];
                    dest[2] = src[2];
                    a[x] = src[3];
                    ownAlpha |= src[3] != 0;
                }
            }
            // Alpha zero everywhere is an entry without alpha: the mask decides.
            if (!ownAlpha) AlphaDelete();
        } else if (file->Read(GetBits(0), 1, Header.biSizeImage) != Header.biSizeImage) {
            throw VxCodecFailure(kTruncated);
        }

        // No mask at all is allowed; half a mask is a cut file.
        const uint32_t stride = MaskStride(width);
        std::vector<uint8_t> mask(size_t(stride) * height);
        const size_t got = file->Read(mask.data(), 1, mask.size());
        if (got == 0) return true;
        if (got != mask.size()) throw VxCodecFailure(kTruncated);
        // An entry with its own alpha is drawn by that alpha alone; its mask is
        // only for programs that cannot, and is often all ones.
        if (!ownAlpha) ApplyMask(mask.data(), stride, bpp);
        return true;
    });
}

bool VxIcoCodec::Encode(VxFile* file) {
    if (EncodeSafeCheck(file)) return false;
    const uint32_t width = GetWidth(), height = GetHeight();
    if (width > kMaxSide || height > kMaxSide) {
        SetLastError("不能保存图像做为ICON格式: 宽和高不能超过 256 像素");
        return false;
    }
    RGBQUAD* palette = GetPalette();
    if (GetBpp() <= 8 && !palette) return false;

    const bool as32 = !palette && AlphaIsValid();
    const uint32_t bits = as32 ? 32 : GetBpp();
    const uint32_t pixelBytes = as32 ? width * height * 4 : Header.biSizeImage;
    const uint32_t colours = Header.biClrUsed;
    const uint32_t stride = MaskStride(width);
    const uint32_t maskBytes = stride * height;

    uint8_t head[6 + 16 + 40] = {};
    vx::StoreLE16(head + 2, 1);
    vx::StoreLE16(head + 4, 1);
    uint8_t* e = head + 6;
    e[0] = uint8_t(width);
    e[1] = uint8_t(height);
    e[2] = uint8_t(colours);
    vx::StoreLE16(e + 6, uint16_t(bits));
    vx::StoreLE32(e + 8, 40 + 4 * colours + pixelBytes + maskBytes);
    vx::StoreLE32(e + 12, 22);
    BITMAPINFOHEADER bih;
    bih.biSize = 40;
    bih.biWidth = int32_t(width);
    bih.biHeight = int32_t(height * 2);
    bih.biPlanes = 1;
    bih.biBitCount = uint16_t(bits);
    bih.biSizeImage = pixelBytes;
    vx::StoreInfoHeader(head + 22, bih);
    bool ok = file->Write(head, 1, sizeof(head)) == sizeof(head);

    if (ok && colours) {
        std::vector<uint8_t> pal(size_t(colours) * 4);
        for (uint32_t i = 0; i < colours; ++i) {
            pal[4 * i] = palette[i].rgbBlue;
            pal[4 * i + 1] = palette[i].rgbGreen;
            pal[4 * i + 2] = palette[i].rgbRed;
        }
        ok = file->Write(pal.data(), 1, pal.size()) == pal.size();
    }

    const uint8_t* const alphaPlane = Alpha;
    if (ok && as32) {
        std::vector<uint8_t> row(size_t(width) * 4);
        for (uint32_t y = 0; ok && y < height; ++y) {
            const uint8_t* src = GetBits(y);
            const uint8_t* a = alphaPlane + size_t(y) * width;
            uint8_t* out = row.data();
            // Four bytes in, the fourth replaced by alpha; the last pixel
            // alone, so that no read passes the row's end.
            uint32_t x = 0;
            for (; x + 1 < width; ++x, src += 3, out += 4) {
                const uint32_t v = vx::LoadLE32(src) & 0x00FFFFFFu;
                vx::StoreLE32(out, v | uint32_t(a[x]) << 24);
            }
            if (x < width) {
                out[0] = src[0];
                out[1] = src[1];
                out[2] = src[2];
                out[3] = a[x];
            }
            ok = file->Write(row.data(), 1, row.size()) == row.size();
        }
    } else if (ok) {
        ok = file->Write(GetBits(0), 1, pixelBytes) == pixelBytes;
    }

    // A pixel is clear when its alpha is 0 (the plane, else its palette
    // entry's), or it is the transparent index or colour. Each condition runs
    // over a whole row: this loop is most of the work for small icons.
    std::vector<uint8_t> mask(maskBytes);
    const bool paletteAlpha = AlphaPaletteIsValid();
    const int32_t transIndex = GetTransIndex();
    const RGBQUAD transColour = GetTransColor();
    const uint32_t depth = GetBpp();
    std::vector<uint8_t> index(palette ? width : 0);
    std::vector<uint8_t> clear(size_t(width) + 8);
    const bool anyTest = alphaPlane || paletteAlpha || transIndex != -1;
    for (uint32_t y = 0; anyTest && y < height; ++y) {
        const uint8_t* px = GetBits(y);
        const uint8_t* a = alphaPlane ? alphaPlane + size_t(y) * width : nullptr;
        uint8_t* c = clear.data();
        std::memset(c, 0, clear.size());
        if (palette) {
            for (uint32_t x = 0; x < width; ++x)
                index[x] = depth == 8   ? px[x]
                           : depth == 4 ? uint8_t((x & 1) ? px[x >> 1] & 0x0F : px[x >> 1] >> 4)
                           : depth == 1 ? uint8_t((px[x >> 3] >> (7 - (x & 7))) & 1)
                                        : 0;
        }
        if (a)
            for (uint32_t x = 0; x < width; ++x) c[x] = a[x] == 0;
        else if (paletteAlpha)
            for (uint32_t x = 0; x < width; ++x) c[x] = palette[index[x]].rgbReserved == 0;
        if (transIndex != -1) {
            // In a palette picture the transparent index is meant, not every
            // entry that happens to share its colour.
            if (palette) {
                for (uint32_t x = 0; x < width; ++x) c[x] |= index[x] == transIndex;
            } else {
                const uint8_t b = transColour.rgbBlue, g = transColour.rgbGreen,
                              r = transColour.rgbRed;
                for (uint32_t x = 0; x < width; ++x) {
                    const uint8_t* p = px + size_t(x) * 3;
                    c[x] |= p[0] == b && p[1] == g && p[2] == r;
                }
            }
        }
        // Eight 0/1 bytes to one mask byte, the first pixel in the top bit.
        uint8_t* m = mask.data() + size_t(y) * stride;
        for (uint32_t x = 0; x < width; x += 8, c += 8) {
            uint64_t v;
            std::memcpy(&v, c, 8);
            m[x >> 3] = uint8_t((v * 0x8040201008040201ull) >> 56);
        }
    }
    if (ok) ok = file->Write(mask.data(), 1, maskBytes) == maskBytes;
    if (!ok) {
        SetLastError("Error writing ICO file");
        return false;
    }
    return true;
}
