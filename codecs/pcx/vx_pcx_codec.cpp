#include "codecs/pcx/vx_pcx_codec.h"
#include "core/vx_codec.h"
#include "core/vx_codec_guard.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "core/vx_byte_reader.h"
#include "core/vx_row_index.h"

namespace {

const char kNoMemory[] = "Can't allocate memory";

constexpr size_t kHeaderBytes = 128;

int Brightness(const RGBQUAD& c) { return (306 * c.rgbRed + 601 * c.rgbGreen + 117 * c.rgbBlue) >> 10; }

// Run-length decoder whose runs may continue into the next row.
class RunReader {
public:
    explicit RunReader(VxFile* file) : bytes_(file) {}
    // Fills `n` bytes; false when the stream ends first.
    bool Fill(uint8_t* out, size_t n) {
        size_t i = 0;
        while (i < n) {
            if (count_ == 0) {
                const int32_t b = bytes_.Next();
                if (b < 0) return false;
                if (b < 0xC0) {
                    out[i++] = uint8_t(b);
                    continue;
                }
                const int32_t v = bytes_.Next();
                if (v < 0) return false;
                count_ = uint32_t(b & 0x3F);
                value_ = uint8_t(v);
            }
            const size_t take = std::min<size_t>(count_, n - i);
            std::memset(out + i, value_, take);
            i += take;
            count_ -= uint32_t(take);
        }
        return true;
    }
    uint32_t pending() const { return count_; }
    // Puts the stream back where the pixel data ended, for the palette after it.
    void GiveBackReadAhead() { bytes_.GiveBack(); }

private:
    vx::ByteReader bytes_;
    uint32_t count_ = 0;
    uint8_t value_ = 0;
};

// Palette index `x` of a 1-, 4- or 8-bit row.

}  // namespace

void VxPcxCodec::MergeBitPlanes(uint8_t* pixels, const uint8_t* planeData, uint32_t bytesPerLine,
                                uint32_t planes, uint32_t count) {
    std::memset(pixels, 0, count);
    for (uint32_t p = 0; p < planes; ++p) {
        const uint8_t* line = planeData + size_t(p) * bytesPerLine;
        for (uint32_t x = 0; x < count; ++x)
            if (line[x >> 3] & (0x80 >> (x & 7))) pixels[x] = uint8_t(pixels[x] | (1u << p));
    }
}

void VxPcxCodec::SplitPackedPixels(uint8_t* pixels, const uint8_t* data, uint32_t bits,
                                   uint32_t count) {
    const uint32_t perByte = 8 / bits;
    const uint32_t mask = (1u << bits) - 1;
    for (uint32_t x = 0; x < count; ++x) {
        const uint32_t shift = 8 - bits * (x % perByte + 1);
        pixels[x] = uint8_t((data[x / perByte] >> shift) & mask);
    }
}

void VxPcxCodec::ExtractBitPlane(const uint8_t* pixels, uint32_t count, uint8_t* out,
                                 uint32_t plane) {
    std::memset(out, 0, (count + 7) / 8);
    for (uint32_t x = 0; x < count; ++x)
        if ((pixels[x] >> plane) & 1) out[x >> 3] = uint8_t(out[x >> 3] | (0x80 >> (x & 7)));
}

void VxPcxCodec::WriteRunRow(const uint8_t* data, uint32_t length, std::vector<uint8_t>& out) {
    // At most two bytes a pixel: room first, then plain stores.
    const size_t start = out.size();
    out.resize(start + 2 * size_t(length));
    uint8_t* o = out.data() + start;
    uint32_t i = 0;
    while (i < length) {
        const uint8_t v = data[i];
        uint32_t n = 1;
        while (i + n < length && data[i + n] == v && n < 63) ++n;
        if (n > 1 || v >= 0xC0) *o++ = uint8_t(0xC0 | n);
        *o++ = v;
        i += n;
    }
    out.resize(size_t(o - out.data()));
}

bool VxPcxCodec::Decode(VxFile* file) {
    if (!file) return false;
    return vx::RunCodec(*this, kNoMemory, [&] {
        uint8_t h[kHeaderBytes];
        if (file->Read(h, 1, kHeaderBytes) != kHeaderBytes) throw VxCodecFailure("Can't read PCX image");
        if (h[0] != 10) throw VxCodecFailure("Error: Not a PCX file");
        if (h[2] != 1) throw VxCodecFailure("PCX file has unknown encoding scheme");
        const uint32_t bits = h[3];
        const int32_t xmin = vx::LoadLE16(h + 4), ymin = vx::LoadLE16(h + 6);
        const int32_t xmax = vx::LoadLE16(h + 8), ymax = vx::LoadLE16(h + 10);
        const uint32_t planes = h[65];
        const uint32_t bpl = vx::LoadLE16(h + 66);
        if (xmax < xmin || ymax < ymin) throw VxCodecFailure("Invalid PCX image size");
        const uint32_t width = uint32_t(xmax - xmin + 1);
        const uint32_t height = uint32_t(ymax - ymin + 1);

        if (planes > 4) throw VxCodecFailure("Can't handle image with more than 4 planes");
        if (bits != 1 && bits != 2 && bits != 4 && bits != 8)
            throw VxCodecFailure("Can't handle more than 1 bit per pixel");
        if (planes == 0) throw VxCodecFailure("Invalid PCX image size");
        const bool trueColour = bits == 8 && planes >= 3;
        if (planes > 1 && bits != 1 && !trueColour)
            throw VxCodecFailure("Can't handle more than 1 bit per pixel");
        if (uint64_t(bpl) * 8 < uint64_t(width) * bits) throw VxCodecFailure("Invalid PCX image size");

        // Each code pair yields at most 63 bytes: a header that promises more
        // than the file can hold is refused before memory is reserved for it.
        const uint64_t lineBytes = uint64_t(planes) * bpl;
        const uint64_t total = lineBytes * height;
        uint32_t depth = bits;
        if (trueColour) depth = 24;
        else if (planes > 1) depth = 4;  // 2, 3 or 4 bit planes keep every index bit
        if (DimensionsOnly()) {
            SetXDPI(vx::LoadLE16(h + 12));
            SetYDPI(vx::LoadLE16(h + 14));
            return AnswerDimensions(VX_FORMAT_PCX, width, height, depth);
        }
        VxRequirePicture(*this, width, height, depth, file, (total + 31) / 32, "corrupted PCX");
        if (!Create(width, height, depth, VX_FORMAT_PCX)) throw VxCodecFailure("Can't allocate memory");
        // Through the setters, so that the picture's header (which BMP and
        // PNG write) carries the resolution too. A word of 0 says nothing.
        SetXDPI(vx::LoadLE16(h + 12));
        SetYDPI(vx::LoadLE16(h + 14));
        if (planes == 4 && bits == 8 && !AlphaCreate()) throw VxCodecFailure("Can't allocate memory");
        if (Cancelled()) throw VxCodecFailure("Cancelled");

        std::vector<uint8_t> line(static_cast<size_t>(lineBytes));
        std::vector<uint8_t> index(size_t(bpl) * 8);
        RunReader runs(file);
        for (uint32_t y = 0; y < height; ++y) {
            if (Cancelled()) throw VxCodecFailure("Cancelled");
            if (!runs.Fill(line.data(), line.size())) throw VxCodecFailure("corrupted PCX");
            const int32_t row = int32_t(height - 1 - y);
            uint8_t* dest = GetBits(uint32_t(row));
            if (trueColour) {
                const uint8_t* r = line.data();
                const uint8_t* g = r + bpl;
                const uint8_t* b = g + bpl;
                for (uint32_t x = 0; x < width; ++x) {
                    dest[3 * x] = b[x];
                    dest[3 * x + 1] = g[x];
                    dest[3 * x + 2] = r[x];
                }
                if (planes == 4) {
                    const uint8_t* a = b + bpl;
                    std::memcpy(AlphaGetPointer(0, row), a, width);
                }
                continue;
            }
            if (planes == 1 && bits == GetBpp()) {
                // Packed rows already have the picture's layout; the bits past
                // the width stay zero, as in every other decoded row.
                const uint64_t rowBits = uint64_t(width) * bits;
                const size_t whole = size_t(rowBits / 8);
                std::memcpy(dest, line.data(), whole);
                if (const uint32_t rest = uint32_t(rowBits % 8))
                    dest[whole] = uint8_t(line[whole] & (0xFF << (8 - rest)));
                continue;
            }
            if (planes == 1) SplitPackedPixels(index.data(), line.data(), bits, width);
            else MergeBitPlanes(index.data(), line.data(), bpl, planes, width);
            for (uint32_t x = 0; x < width; ++x) BlindSetPixelIndex(int32_t(x), row, index[x]);
        }
        // The last code may overrun the image only if the file is broken.
        if (runs.pending()) throw VxCodecFailure("repeat count spans end of image");
        runs.GiveBackReadAhead();

        if (RGBQUAD* pal = GetPalette()) {
            uint8_t colours[768] = {};
            std::memcpy(colours, h + 16, 48);
            if (bits == 8) {
                const int32_t sig = file->GetC();
                if (sig != 12) throw VxCodecFailure("bad color map signature");
                if (file->Read(colours, 1, 768) != 768) throw VxCodecFailure("corrupted PCX");
            } else if (bits == 1 && planes == 1) {
                colours[0] = colours[1] = colours[2] = 0;
                colours[3] = colours[4] = colours[5] = 255;
            }
            for (uint32_t i = 0; i < Header.biClrUsed; ++i)
                pal[i] = vx::MakeRGBQUAD(colours[3 * i], colours[3 * i + 1], colours[3 * i + 2]);
            Info.LastNearestValid = false;
        }
        return true;
    });
}

bool VxPcxCodec::Encode(VxFile* file) {
    if (EncodeSafeCheck(file)) return false;
    const uint32_t width = GetWidth(), height = GetHeight(), bpp = GetBpp();
    const bool palette = GetPalette() != nullptr;
    uint32_t bits, planes, bpl;
    if (bpp == 8 || bpp == 24) {
        bits = 8;
        planes = palette ? 1 : (AlphaIsValid() ? 4 : 3);
        bpl = width;
    } else {
        // One plane of 1 bit is black and white to every reader; two other
        // colours need the planes that carry the header's colour map.
        bits = 1;
        planes = GetNumColors() == 16 || !IsBlackAndWhite() ? 4 : 1;
        bpl = (width + 7) / 8;
    }
    bpl += bpl & 1;
    // The header holds 16-bit coordinates and line lengths.
    if (width > 0x10000 || bpl > 0xFFFF || height > 0x10000) {
        SetLastError("PCX image size exceeds 65535");
        return false;
    }

    uint8_t h[kHeaderBytes] = {};
    h[0] = 10;
    h[1] = 5;
    h[2] = 1;
    h[3] = uint8_t(bits);
    vx::StoreLE16(h + 8, uint16_t(width - 1));
    vx::StoreLE16(h + 10, uint16_t(height - 1));
    auto clampDpi = [](int32_t d) { return uint16_t(d < 0 ? 0 : d > 0xFFFF ? 0xFFFF : d); };
    vx::StoreLE16(h + 12, clampDpi(GetXDPI()));
    vx::StoreLE16(h + 14, clampDpi(GetYDPI()));
    if (bits == 1) {
        if (planes == 1) {
            std::memset(h + 19, 255, 3);
        } else {
            for (int i = 0; i < 16; ++i) {
                const RGBQUAD c = GetPaletteColor(uint8_t(i));
                h[16 + 3 * i] = c.rgbRed;
                h[17 + 3 * i] = c.rgbGreen;
                h[18 + 3 * i] = c.rgbBlue;
            }
        }
    }
    h[65] = uint8_t(planes);
    vx::StoreLE16(h + 66, uint16_t(bpl));
    vx::StoreLE16(h + 68, palette ? 0 : 1);
    if (file->Write(h, 1, kHeaderBytes) != kHeaderBytes) {
        SetLastError("cannot write PCX header");
        return false;
    }

    std::vector<uint8_t> data;
    // Line buffers are zero-filled past the width: the pad byte of an odd line is 0.
    std::vector<uint8_t> line(bpl);
    std::vector<uint8_t> index(width);
    const bool invert =
        planes == 1 && bpp == 1 && Brightness(GetPaletteColor(0)) > Brightness(GetPaletteColor(1));
    for (int32_t y = int32_t(height) - 1; y >= 0; --y) {
        const uint8_t* src = GetBits(uint32_t(y));
        if (bits == 8) {
            for (uint32_t p = 0; p < planes; ++p) {
                if (palette) {
                    std::memcpy(line.data(), src, width);
                } else if (p == 3) {
                    std::memcpy(line.data(), AlphaGetPointer(0, y), width);
                } else {
                    const uint8_t* channel = src + (2 - p);
                    for (uint32_t x = 0; x < width; ++x) line[x] = channel[3 * x];
                }
                WriteRunRow(line.data(), bpl, data);
            }
        } else {
            for (uint32_t x = 0; x < width; ++x) {
                const uint8_t i = vx::RowIndex(src, bpp, int32_t(x));
                index[x] = invert ? uint8_t(1 - i) : i;
            }
            for (uint32_t p = 0; p < planes; ++p) {
                ExtractBitPlane(index.data(), width, line.data(), p);
                WriteRunRow(line.data(), bpl, data);
            }
        }
    }
    bool ok = file->Write(data.data(), 1, data.size()) == data.size();
    if (ok && bits == 8 && palette) {
        uint8_t trailer[769];
        trailer[0] = 12;
        for (int i = 0; i < 256; ++i) {
            const RGBQUAD c = GetPaletteColor(uint8_t(i));
            trailer[1 + 3 * i] = c.rgbRed;
            trailer[2 + 3 * i] = c.rgbGreen;
            trailer[3 + 3 * i] = c.rgbBlue;
        }
        ok = file->Write(trailer, 1, sizeof(trailer)) == sizeof(trailer);
    }
    if (!ok) {
        SetLastError("cannot write PCX data");
        return false;
    }
    return true;
}
