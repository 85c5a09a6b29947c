#include "codecs/bmp/vx_bmp_codec.h"
#include "core/vx_codec.h"

#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// Skips n bytes forward; the count can exceed what Seek's 32-bit offset carries.
void SkipForward(VxFile* file, uint64_t n) {
    while (n > 0) {
        const int32_t step = n > 0x40000000u ? 0x40000000 : int32_t(n);
        if (!file->Seek(step, SEEK_CUR)) return;
        n -= uint64_t(step);
    }
}

// Header arithmetic on hostile values: wide enough that nothing can overflow.
using Wide = __int128;

Wide StrideBytes(Wide width, Wide bpp) { return ((bpp * width + 31) / 32) * 4; }

}  // namespace

bool VxBmpCodec::ReadInfoHeader(VxFile* file, BITMAPINFOHEADER& bih) {
    uint8_t raw[kBitmapInfoHeaderBytes];
    if (file->Read(raw, sizeof(raw), 1) == 0) return false;
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
    try {
        const int32_t start = file->Tell();
        uint8_t rawFile[kBitmapFileHeaderBytes];
        if (file->Read(rawFile, sizeof(rawFile), 1) == 0) throw VxCodecFailure("Not a BMP");
        BITMAPFILEHEADER bf = vx::LoadFileHeader(rawFile);
        if (bf.bfType != 0x4D42) {
            bf.bfOffBits = 0;
            file->Seek(start, SEEK_SET);
        }

        BITMAPINFOHEADER bih;
        if (!ReadInfoHeader(file, bih)) throw VxCodecFailure("Error reading BMP info");
        const bool core = bih.biSize == 12;
        const bool topDown = bih.biHeight < 0;
        // INT_MIN has no positive counterpart; Create refuses the huge value.
        const uint32_t height =
            topDown ? uint32_t(0) - uint32_t(bih.biHeight) : uint32_t(bih.biHeight);

        if (DimensionsOnly()) {
            Header.biWidth = bih.biWidth;
            Header.biHeight = int32_t(height);
            SetLastError("output dimensions returned");
            return true;
        }

        VxRequirePicture(*this, uint32_t(bih.biWidth), height, bih.biBitCount);
        if (!Create(uint32_t(bih.biWidth), height, bih.biBitCount, VX_FORMAT_BMP))
            throw VxCodecFailure("Can't allocate memory");

        Header.biXPelsPerMeter = bih.biXPelsPerMeter;
        Header.biYPelsPerMeter = bih.biYPelsPerMeter;
        Info.XDPI = int32_t(std::floor(bih.biXPelsPerMeter * 0.0254 + 0.5));
        Info.YDPI = int32_t(std::floor(bih.biYPelsPerMeter * 0.0254 + 0.5));
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
        }

        if (Cancelled()) throw VxCodecFailure("Cancelled");

        auto seekToPixels = [&] {
            if (bf.bfOffBits) file->Seek(int32_t(int64_t(start) + bf.bfOffBits > INT32_MAX
                                                     ? INT32_MAX
                                                     : start + int64_t(bf.bfOffBits)),
                                         SEEK_SET);
        };
        uint8_t* pixels = GetBits(0);
        switch (bih.biBitCount) {
            case 1:
            case 4:
            case 8:
                seekToPixels();
                switch (bih.biCompression) {
                    case 0: file->Read(pixels, 1, Header.biSizeImage); break;
                    case 1: DecodeRle8(file); break;
                    case 2: DecodeRle4(file); break;
                    default: throw VxCodecFailure("compression type not supported");
                }
                break;
            case 16: {
                uint32_t masks[3] = {0x7C00, 0x03E0, 0x001F};
                if (bih.biCompression == 3) {
                    uint8_t raw[12] = {};
                    file->Read(raw, 1, sizeof(raw));
                    for (int i = 0; i < 3; ++i) masks[i] = vx::LoadLE32(raw + 4 * i);
                }
                seekToPixels();
                const size_t bytes = size_t((GetWidth() + 1) / 2) * 4 * GetHeight();
                file->Read(pixels, 1, bytes);
                Bitfield2RGB(pixels, uint16_t(masks[0]), uint16_t(masks[1]), uint16_t(masks[2]), 16);
                break;
            }
            case 24:
                if (bih.biCompression != 0) throw VxCodecFailure("unknown compression");
                seekToPixels();
                file->Read(pixels, 1, Header.biSizeImage);
                break;
            case 32: {
                if (bih.biCompression != 0 && bih.biCompression != 3)
                    throw VxCodecFailure("unknown compression");
                seekToPixels();
                // One row at a time: a short or lying file costs no more than its rows.
                const size_t w = GetWidth();
                std::vector<uint8_t> row;
                try {
                    row.assign(w * 4, 0);
                } catch (const std::bad_alloc&) {
                    throw VxCodecFailure("can't allocate memory");
                }
                for (uint32_t y = 0; y < GetHeight(); ++y) {
                    if (file->Read(row.data(), 1, row.size()) < row.size()) break;
                    uint8_t* d = GetBits(y);
                    for (size_t x = 0; x < w; ++x) {
                        d[3 * x] = row[4 * x];
                        d[3 * x + 1] = row[4 * x + 1];
                        d[3 * x + 2] = row[4 * x + 2];
                    }
                }
                break;
            }
            default:
                break;
        }

        if (topDown) Flip();
        return true;
    } catch (const VxCodecFailure& failure) {
        // A dimensions-only pass that fails (not a BMP, say) fails: the probe
        // must move on to the next codec.
        SetLastError(failure.text);
        return false;
    }
}

// RLE8: writes that would land outside the picture are dropped; the stream is
// consumed as the format describes either way.
void VxBmpCodec::DecodeRle8(VxFile* file) {
    const int64_t height = GetHeight();
    const int64_t stride = Info.EffWidth;
    uint8_t* base = GetBits(0);
    int64_t line = 0;
    int64_t column = 0;
    uint8_t buf[256];
    for (;;) {
        const int32_t count = file->GetC();
        if (count < 0) return;
        if (count != 0) {
            const int32_t colour = file->GetC();
            if (colour < 0) return;
            for (int32_t i = 0; i < count; ++i) {
                if (column >= stride) return;
                if (line < height) base[line * stride + column] = uint8_t(colour);
                ++column;
            }
            continue;
        }
        const int32_t escape = file->GetC();
        if (escape < 0 || escape == 1) return;
        if (escape == 0) {
            ++line;
            column = 0;
        } else if (escape == 2) {
            const int32_t dx = file->GetC();
            const int32_t dy = file->GetC();
            if (dx < 0 || dy < 0) return;
            column += dx;
            line += dy;
        } else {
            const size_t got = file->Read(buf, 1, size_t(escape));
            if (got < size_t(escape)) return;
            if (escape & 1) file->GetC();
            if (line < height && column < stride) {
                const int64_t n = std::min<int64_t>(escape, stride - column);
                std::memcpy(base + line * stride + column, buf, size_t(n));
            }
            column += escape;
        }
        if (line > height + 1) line = height + 1;  // keep the counter from running away
        if (column > stride + 256) column = stride + 256;
    }
}

// RLE4 counts in pixels: run pixels alternate the two nibbles of their byte
// starting with the high one, absolute pixels take the data nibbles in order,
// whatever the pixel's position in its byte.
void VxBmpCodec::DecodeRle4(VxFile* file) {
    const int64_t height = GetHeight();
    const int64_t width = GetWidth();
    const int64_t stride = Info.EffWidth;
    uint8_t* base = GetBits(0);
    int64_t line = 0;
    int64_t x = 0;
    // The bound on the byte column matters when a file pairs RLE4 with 1 bit.
    auto store = [&](uint8_t nibble) {
        if (line < height && x < width && (x >> 1) < stride) {
            uint8_t& b = base[line * stride + (x >> 1)];
            if (x & 1) b = uint8_t((b & 0xF0) | nibble);
            else b = uint8_t((b & 0x0F) | (nibble << 4));
        }
        ++x;
    };
    uint8_t buf[128];
    for (;;) {
        const int32_t count = file->GetC();
        if (count < 0) return;
        if (count != 0) {
            const int32_t c = file->GetC();
            if (c < 0) return;
            for (int32_t i = 0; i < count; ++i) store(uint8_t((i & 1) ? (c & 0x0F) : (c >> 4)));
        } else {
            const int32_t escape = file->GetC();
            if (escape < 0 || escape == 1) return;
            if (escape == 0) {
                ++line;
                x = 0;
            } else if (escape == 2) {
                const int32_t dx = file->GetC();
                const int32_t dy = file->GetC();
                if (dx < 0 || dy < 0) return;
                x += dx;
                line += dy;
            } else {
                const size_t bytes = size_t(escape + 1) / 2;
                if (file->Read(buf, 1, bytes) < bytes) return;
                for (int32_t i = 0; i < escape; ++i)
                    store(uint8_t((i & 1) ? (buf[i >> 1] & 0x0F) : (buf[i >> 1] >> 4)));
                if (bytes & 1) file->GetC();
            }
        }
        if (line > height + 1) line = height + 1;
        if (x > width + 256) x = width + 256;
    }
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
