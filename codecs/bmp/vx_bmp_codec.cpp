#include "codecs/bmp/vx_bmp_codec.h"

#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "codecs/bmp/vx_bmp_bitfields.h"
#include "core/vx_codec.h"
#include "core/vx_codec_guard.h"

namespace {

const char kNoMemory[] = "Can't allocate memory";

constexpr char kTruncated[] = "BMP pixel data ends before the last row";

void SkipForward(VxFile* file, uint64_t n) { file->Seek64(int64_t(n), SEEK_CUR); }

// Header arithmetic on hostile values: wide enough that nothing can overflow.
using Wide = __int128;

Wide StrideBytes(Wide width, Wide bpp) { return ((bpp * width + 31) / 32) * 4; }

uint64_t ClampWide(Wide v) {
    if (v <= 0) return 0;
    return v > Wide(UINT64_MAX) ? UINT64_MAX : uint64_t(v);
}

}  // namespace

bool VxBmpCodec::ReadInfoHeader(VxFile* file, InfoHeader& info) {
    uint8_t raw[56] = {};
    if (file->Read(raw, kBitmapInfoHeaderBytes, 1) == 0) return false;
    BITMAPINFOHEADER& bih = info.bih;
    bih = vx::LoadInfoHeader(raw);
    if (bih.biSize == 12) {
        bih.biWidth = vx::LoadLE16(raw + 4);
        bih.biHeight = vx::LoadLE16(raw + 6);
        bih.biPlanes = vx::LoadLE16(raw + 8);
        bih.biBitCount = vx::LoadLE16(raw + 10);
        bih.biCompression = 0;
        bih.biSizeImage = 0;
        bih.biXPelsPerMeter = 0;
        bih.biYPelsPerMeter = 0;
        bih.biClrUsed = 0;
        bih.biClrImportant = 0;
        file->Seek(-28, SEEK_CUR);
    } else if (bih.biSize == 40) {
    } else if (bih.biSize == 64) {
        file->Seek(24, SEEK_CUR);
    } else if (bih.biSize < 40) {
        return false;
    } else if (const uint32_t masks = MasksInInfoHeader(bih.biSize)) {
        if (file->Read(raw + 40, 4, masks) != masks) return false;
        info.masksInHeader = masks;
        for (uint32_t i = 0; i < masks; ++i) info.masks[i] = vx::LoadLE32(raw + 40 + 4 * i);
        SkipForward(file, bih.biSize - 40 - 4 * masks);
    } else {
        const Wide expect = StrideBytes(bih.biWidth, bih.biBitCount) * Wide(bih.biHeight);
        if (Wide(bih.biSizeImage) != expect || bih.biPlanes != 1 || bih.biCompression != 0 ||
            bih.biClrUsed != 0)
            return false;
        SkipForward(file, uint64_t(bih.biSize) - 40);
    }
    if (bih.biSizeImage == 0) {
        const Wide stride = ((Wide(bih.biBitCount) * bih.biWidth + 31) / 8) & ~Wide(3);
        bih.biSizeImage = uint32_t(uint64_t(stride * bih.biHeight));
    }
    if (bih.biClrUsed == 0 && bih.biBitCount <= 8) bih.biClrUsed = 1u << bih.biBitCount;
    return true;
}

bool VxBmpCodec::Decode(VxFile* file) {
    if (!file) return false;
    return vx::RunCodec(*this, kNoMemory, [&] {
        const int64_t start = file->Tell64();
        uint8_t rawFile[kBitmapFileHeaderBytes];
        if (file->Read(rawFile, sizeof(rawFile), 1) == 0) throw VxCodecFailure("Not a BMP");
        BITMAPFILEHEADER bf = vx::LoadFileHeader(rawFile);
        if (bf.bfType != 0x4D42) {
            bf.bfOffBits = 0;
            file->Seek64(start, SEEK_SET);
        }

        InfoHeader info;
        if (!ReadInfoHeader(file, info)) throw VxCodecFailure("Error reading BMP info");
        const BITMAPINFOHEADER& bih = info.bih;
        const bool core = bih.biSize == 12;
        const bool topDown = bih.biHeight < 0;
        // INT_MIN has no positive counterpart; Create refuses the huge value.
        const uint32_t height =
            topDown ? uint32_t(0) - uint32_t(bih.biHeight) : uint32_t(bih.biHeight);

        const uint32_t bpp = bih.biBitCount;
        const uint32_t compression = bih.biCompression;
        if (bpp <= 8 && bih.biClrUsed > (1u << bpp))
            throw VxCodecFailure("BMP colour count is larger than its palette can hold");
        bool rle = false;
        switch (bpp) {
            case 1:
            case 4:
            case 8:
                if (compression > 2) throw VxCodecFailure("compression type not supported");
                rle = compression != 0;
                break;
            case 16: break;
            case 24:
                if (compression != 0) throw VxCodecFailure("unknown compression");
                break;
            case 32:
                if (compression != 0 && compression != 3 && compression != 6)
                    throw VxCodecFailure("unknown compression");
                break;
            default: throw VxCodecFailure("BMP bit depth not supported");
        }

        // Bit fields: 16 bits default to 5-5-5, 32 bits to blue, green, red
        // and an unused byte. Masks the header has no room for follow it.
        uint32_t masks[4] = {0x7C00, 0x03E0, 0x001F, 0};
        if (bpp == 32) masks[0] = 0xFF0000, masks[1] = 0xFF00, masks[2] = 0xFF;
        const bool bitFields = (bpp == 16 || bpp == 32) && (compression == 3 || compression == 6);
        if (bitFields) {
            const uint32_t wanted = compression == 6 ? 4 : info.masksInHeader >= 4 ? 4 : 3;
            std::memcpy(masks, info.masks, sizeof(masks));
            if (wanted > info.masksInHeader) {
                uint8_t raw[16];
                const uint32_t n = (wanted - info.masksInHeader) * 4;
                if (file->Read(raw, 1, n) != n) throw VxCodecFailure("Error reading BMP info");
                for (uint32_t i = info.masksInHeader; i < wanted; ++i)
                    masks[i] = vx::LoadLE32(raw + 4 * (i - info.masksInHeader));
            }
            if (wanted < 4) masks[3] = 0;
        }

        // Where the pixels start and the fewest bytes they take: every row but
        // the last whole, the last without its padding.
        const int64_t pos = file->Tell64();
        const Wide tableBytes = Wide(bih.biClrUsed) * (core ? 3 : 4);
        const Wide pixelStart = bf.bfOffBits ? Wide(start) + bf.bfOffBits : pos + tableBytes;
        const Wide rowBytes = (Wide(bpp) * uint32_t(bih.biWidth) + 7) / 8;
        const Wide stride = StrideBytes(uint32_t(bih.biWidth), bpp);
        const Wide pixelBytes = rle || height == 0 ? 0 : stride * (height - 1) + rowBytes;
        const int32_t xdpi = int32_t(std::floor(bih.biXPelsPerMeter * 0.0254 + 0.5));
        const int32_t ydpi = int32_t(std::floor(bih.biYPelsPerMeter * 0.0254 + 0.5));
        if (DimensionsOnly()) {
            Info.XDPI = xdpi;
            Info.YDPI = ydpi;
            return AnswerDimensions(VX_FORMAT_BMP, uint32_t(bih.biWidth), height, bpp);
        }
        VxRequirePicture(*this, uint32_t(bih.biWidth), height, bpp, file,
                         ClampWide(pixelStart + pixelBytes - pos));
        if (!Create(uint32_t(bih.biWidth), height, bpp, VX_FORMAT_BMP))
            throw VxCodecFailure("Can't allocate memory");

        Header.biXPelsPerMeter = bih.biXPelsPerMeter;
        Header.biYPelsPerMeter = bih.biYPelsPerMeter;
        Info.XDPI = xdpi;
        Info.YDPI = ydpi;
        SyncHeaderToDib();

        if (Cancelled()) throw VxCodecFailure("Cancelled");

        if (RGBQUAD* pal = GetPalette()) {
            const uint64_t fileColors = bih.biClrUsed;
            const uint32_t stored = uint32_t(fileColors < Header.biClrUsed ? fileColors : Header.biClrUsed);
            uint8_t* dst = reinterpret_cast<uint8_t*>(pal);
            if (core) {
                file->Read(dst, 1, size_t(stored) * 3);
                for (int32_t i = int32_t(stored) - 1; i >= 0; --i) {
                    const uint8_t b = dst[i * 3], g = dst[i * 3 + 1], r = dst[i * 3 + 2];
                    pal[i] = vx::MakeRGBQUAD(r, g, b, 0);
                }
                SkipForward(file, (fileColors - stored) * 3);
            } else {
                file->Read(dst, 1, size_t(stored) * 4);
                SkipForward(file, (fileColors - stored) * 4);
            }
            for (uint32_t i = 0; i < Header.biClrUsed; ++i) pal[i].rgbReserved = 0;
            Info.LastNearestValid = false;
        } else if (!bf.bfOffBits) {
            SkipForward(file, uint64_t(tableBytes));
        }

        if (Cancelled()) throw VxCodecFailure("Cancelled");

        if (bf.bfOffBits)
            file->Seek64(start + int64_t(bf.bfOffBits), SEEK_SET);
        if (bpp == 16 || bpp == 32) {
            DecodeBitFields(file, bpp, masks);
        } else if (compression == 1) {
            DecodeRle8(file);
        } else if (compression == 2) {
            DecodeRle4(file);
        } else {
            const uint32_t need = uint32_t(pixelBytes);
            if (file->Read(GetBits(0), 1, Header.biSizeImage) < need) throw VxCodecFailure(kTruncated);
        }

        if (topDown) Flip();
        return true;
    });
}

void VxBmpCodec::DecodeBitFields(VxFile* file, uint32_t bpp, const uint32_t masks[4]) {
    const VxBmpBitFields fields(bpp, masks);
    const uint32_t width = GetWidth(), height = GetHeight();
    const size_t rowBytes = size_t(width) * (bpp / 8);
    const size_t stride = (rowBytes + 3) & ~size_t(3);
    std::vector<uint8_t> row;
    try {
        row.resize(stride);
    } catch (const std::bad_alloc&) {
        throw VxCodecFailure("can't allocate memory");
    }
    if (fields.HasAlpha() && !AlphaCreate()) throw VxCodecFailure("can't allocate memory");
    bool anyAlpha = false;
    for (uint32_t y = 0; y < height; ++y) {
        const size_t need = y + 1 < height ? stride : rowBytes;
        if (file->Read(row.data(), 1, stride) < need) throw VxCodecFailure(kTruncated);
        uint8_t* alpha = Alpha ? Alpha + size_t(y) * width : nullptr;
        fields.ConvertRow(row.data(), width, GetBits(y), alpha);
        for (uint32_t x = 0; alpha && !anyAlpha && x < width; ++x) anyAlpha = alpha[x] != 0;
    }
    if (!anyAlpha) AlphaDelete();
}

bool VxBmpCodec::Encode(VxFile* file) {
    if (EncodeSafeCheck(file)) return false;
    BITMAPFILEHEADER bf;
    bf.bfType = 0x4D42;
    bf.bfSize = GetSize() + 14;
    bf.bfOffBits = 14 + Header.biSize + GetPaletteSize();
    SyncHeaderToDib();
    uint8_t raw[kBitmapFileHeaderBytes];
    vx::StoreFileHeader(raw, bf);
    // The write results are checked: a full disk must not pass for a saved file.
    if (file->Write(raw, sizeof(raw), 1) != 1 || file->Write(Dib, GetSize(), 1) != 1) {
        SetLastError("Error writing BMP file");
        return false;
    }
    return true;
}
