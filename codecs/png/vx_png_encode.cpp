// PNG writing: chunks written directly, rows filtered here and compressed in
// pieces with libdeflate (several times faster than zlib at the same or a
// better ratio).
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "codecs/png/png_chunks.h"
#include "codecs/png/png_filter.h"
#include "codecs/png/png_xmp_text.h"
#include "codecs/png/vx_png_codec.h"
#include "codecs/png/zlib_pieces.h"
#include "core/vx_deep.h"
#include "core/vx_frames.h"
#include "core/vx_rgba_rows.h"
#include "core/vx_srgb.h"
#include "core/vx_swap_rb.h"

namespace {

const char kSaveFailed[] = "Error saving PNG file";

// libdeflate's level 6 writes smaller files than zlib's default level and
// still takes a fraction of its time.
constexpr int kLevel = 6;
// Filtered rows gathered before compressing: large enough that the pieces'
// fresh starts cost little, small beside a photo.
constexpr size_t kPieceBytes = size_t(1) << 20;

constexpr uint8_t kSignature[8] = {137, 80, 78, 71, 13, 10, 26, 10};

enum ColourType : uint8_t { kGrey = 0, kRgb = 2, kPalette = 3, kGreyAlpha = 4, kRgba = 6 };
// PNG's colour type of a deep plane of 1 to 4 channels.
constexpr uint8_t kDeepType[5] = {0, kGrey, kGreyAlpha, kRgb, kRgba};

// A deep row as the file stores it: big-endian samples.
void DeepRow(const VxDeepPlane& deep, uint32_t y, uint8_t* out) {
    const uint16_t* s = deep.Row(y);
    for (size_t i = 0, n = deep.RowSamples(); i < n; ++i) {
        out[2 * i] = uint8_t(s[i] >> 8);
        out[2 * i + 1] = uint8_t(s[i]);
    }
}

struct Pass {
    uint32_t x0, dx, y0, dy;
};
constexpr Pass kWhole = {0, 1, 0, 1};
constexpr Pass kAdam7[7] = {{0, 8, 0, 8}, {4, 8, 0, 8}, {0, 4, 4, 8}, {2, 4, 0, 4},
                            {0, 2, 2, 4}, {1, 2, 0, 2}, {0, 1, 1, 2}};

uint32_t PassCount(uint32_t size, uint32_t start, uint32_t step) {
    return size > start ? (size - start + step - 1) / step : 0;
}

void PutBE32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

// Pixels x0, x0 + dx, ... of a full row, packed as a row of their own.
void PickPixels(const uint8_t* full, uint8_t* out, uint32_t count, const Pass& p, unsigned bits) {
    if (bits >= 8) {
        const size_t n = bits / 8;
        for (uint32_t k = 0; k < count; ++k)
            std::memcpy(out + k * n, full + (size_t(p.x0) + size_t(k) * p.dx) * n, n);
        return;
    }
    const unsigned mask = (1u << bits) - 1;
    std::memset(out, 0, (size_t(count) * bits + 7) / 8);
    for (uint32_t k = 0; k < count; ++k) {
        const size_t from = (size_t(p.x0) + size_t(k) * p.dx) * bits, to = size_t(k) * bits;
        const unsigned v = (full[from / 8] >> (8 - bits - from % 8)) & mask;
        out[to / 8] = uint8_t(out[to / 8] | v << (8 - bits - to % 8));
    }
}

// Filters rows into pieces, compresses pieces once they are full and writes
// the stream as IDAT chunks. With several threads, as many pieces as threads
// are gathered and compressed at once; the pieces, and so the bytes, are the
// same as with one.
class ImageData {
public:
    ImageData(VxFile* file, size_t maxRowBytes, uint32_t threads, uint32_t* sequence = nullptr)
        : idat_(file, sequence), capacity_(std::max(kPieceBytes, maxRowBytes + 1)),
          threads_(std::max<uint32_t>(threads, 1)) {
        buffers_.emplace_back(new uint8_t[capacity_]);
    }

    bool Row(const uint8_t* row, const uint8_t* prior, size_t rowBytes, unsigned bpp, bool adaptive) {
        if (used_ + rowBytes + 1 > capacity_ && !NextPiece()) return false;
        const vx::png::Filter f =
            adaptive ? vx::png::ChooseFilter(row, prior, rowBytes, bpp) : vx::png::kFilterNone;
        vx::png::ApplyFilter(f, row, prior, rowBytes, bpp, buffers_[full_.size()].get() + used_);
        used_ += rowBytes + 1;
        return true;
    }

    bool Finish() {
        full_.push_back({buffers_[full_.size()].get(), used_});
        return Flush(true) && idat_.Finish();
    }

private:
    bool NextPiece() {
        full_.push_back({buffers_[full_.size()].get(), used_});
        used_ = 0;
        if (full_.size() == threads_) return Flush(false);
        if (buffers_.size() == full_.size()) buffers_.emplace_back(new uint8_t[capacity_]);
        return true;
    }

    bool Flush(bool last) {
        if (!zlib_.AddMany(full_, last, threads_)) return false;
        full_.clear();
        return idat_.Append(zlib_.Output().data(), zlib_.Output().size());
    }

    vx::png::ZlibPieces zlib_{kLevel};
    vx::png::IdatWriter idat_;
    size_t capacity_;
    uint32_t threads_;
    std::vector<std::unique_ptr<uint8_t[]>> buffers_;
    std::vector<vx::png::ZlibPieces::Piece> full_;  // gathered, not yet compressed
    size_t used_ = 0;
};

}  // namespace

bool VxPngCodec::Encode(VxFile* file, VxImage** pages, int32_t count) {
    return TakePagesAsFrames(pages, count, "PNG") && Encode(file);
}

bool VxPngCodec::Encode(VxFile* file) {
    if (EncodeSafeCheck(file)) return false;
    bool ok = false;
    try {
        // A one-byte tRNS table marks entry 0 only: another transparent index
        // trades places with it, in palette and pixels, on a copy of the
        // picture, never on the block shared with the caller.
        const bool indexed = GetPalette() && GetBpp() <= 8;
        const int32_t trans = Info.TransIndex;
        if (indexed && trans > 0 && uint32_t(trans) < Header.biClrUsed) {
            VxPngCodec copy;
            copy.Copy(*this);
            if (copy.IsValid()) {
                copy.SwapWithFirstEntry(uint32_t(trans));
                ok = copy.WriteImage(file);
            }
        } else {
            ok = WriteImage(file);
        }
    } catch (const std::bad_alloc&) {
        ok = false;
    }
    if (!ok) SetLastError(kSaveFailed);
    return ok;
}

// Makes `index` entry 0 so that a one-byte tRNS table can mark it; only on a
// picture of the codec's own.
void VxPngCodec::SwapWithFirstEntry(uint32_t index) {
    RGBQUAD* pal = GetPalette();
    std::swap(pal[0], pal[index]);
    const int32_t w = int32_t(GetWidth()), h = int32_t(GetHeight());
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
            const uint32_t i = BlindGetPixelIndex(x, y);
            if (i == 0) BlindSetPixelIndex(x, y, uint8_t(index));
            else if (i == index) BlindSetPixelIndex(x, y, 0);
        }
    }
    Info.TransIndex = 0;
    Info.LastNearestValid = false;
}

uint32_t VxPngCodec::LargestIndexUsed() const {
    uint32_t top = 0;
    const int32_t w = int32_t(GetWidth()), h = int32_t(GetHeight());
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) top = std::max<uint32_t>(top, BlindGetPixelIndex(x, y));
    return top;
}

// One stored row as R, G, B, A. Alpha joins every transparency the picture
// carries: the alpha plane, the transparent index or colour, palette alpha.
void VxPngCodec::BuildRgbaRow(uint32_t storedRow, uint8_t* out, bool transColour) const {
    const uint32_t w = GetWidth();
    const uint8_t* src = GetBits(storedRow);
    const uint8_t* a = Alpha ? Alpha + size_t(storedRow) * w : nullptr;
    const RGBQUAD* pal = GetPalette();
    const bool alphaPalette = pal && Info.AlphaPaletteEnabled && AlphaPaletteIsValid();
    const RGBQUAD key = Info.TransColor;
    for (uint32_t x = 0; x < w; ++x) {
        uint8_t* p = out + 4 * size_t(x);
        uint32_t level = a ? a[x] : 255;
        if (pal) {
            const uint32_t i = BlindGetPixelIndex(int32_t(x), int32_t(storedRow));
            p[0] = pal[i].rgbRed;
            p[1] = pal[i].rgbGreen;
            p[2] = pal[i].rgbBlue;
            if (Info.TransIndex >= 0 && i == uint32_t(Info.TransIndex)) level = 0;
            if (alphaPalette) level = level * pal[i].rgbReserved / 255;
        } else {
            const uint8_t* s = src + 3 * size_t(x);
            p[0] = s[2];
            p[1] = s[1];
            p[2] = s[0];
            if (transColour && s[2] == key.rgbRed && s[1] == key.rgbGreen && s[0] == key.rgbBlue)
                level = 0;
        }
        p[3] = uint8_t(level * Info.AlphaMax / 255);
    }
}

bool VxPngCodec::WritesGrey(const VxImage& img) {
    const VxDeepPlane* deep = vx::DeepToWrite(img, 16);
    return deep && !deep->Colour();
}

bool VxPngCodec::WriteProfile(VxFile* file) const {
    const std::span<const uint8_t> icc = GetIccProfile();
    if (!vx::ProfileFits(icc, WritesGrey(*this))) return true;
    static const char kName[] = "ICC Profile";  // with its terminator, then method 0
    std::vector<uint8_t> chunk(kName, kName + sizeof(kName));
    chunk.push_back(0);
    vx::png::ZlibPieces zlib(kLevel);
    if (!zlib.Add(icc.data(), icc.size(), true)) return false;
    chunk.insert(chunk.end(), zlib.Output().begin(), zlib.Output().end());
    return vx::png::WriteChunk(file, "iCCP", chunk.data(), chunk.size());
}

bool VxPngCodec::WriteFrames(VxFile* file, const VxFrames& anim, bool rgba) {
    const uint32_t width = GetWidth(), height = GetHeight();
    const unsigned channels = rgba ? 4 : 3;
    uint8_t actl[8];
    PutBE32(actl, uint32_t(anim.frames.size()));
    PutBE32(actl + 4, anim.plays);
    if (!vx::png::WriteChunk(file, "acTL", actl, sizeof(actl))) return false;
    uint32_t sequence = 0;
    const size_t rowBytes = size_t(width) * channels;
    std::vector<uint8_t> rows(rowBytes * height);
    const std::vector<uint8_t> zeros(rowBytes, 0);
    for (size_t i = 0; i < anim.frames.size(); ++i) {
        const VxImage& frame = *anim.frames[i].picture;
        if (frame.GetWidth() != width || frame.GetHeight() != height) return false;
        // Milliseconds while they fit the field, else hundredths.
        const uint32_t ms = anim.frames[i].delayMs;
        const bool fine = ms <= 0xFFFF;
        uint8_t fctl[26] = {};
        PutBE32(fctl, sequence++);
        PutBE32(fctl + 4, width);
        PutBE32(fctl + 8, height);
        const uint32_t num = fine ? ms : std::min<uint32_t>((ms + 5) / 10, 0xFFFF);
        const uint32_t den = fine ? 1000 : 100;
        fctl[20] = uint8_t(num >> 8);
        fctl[21] = uint8_t(num);
        fctl[22] = uint8_t(den >> 8);
        fctl[23] = uint8_t(den);
        // Every frame covers the canvas: no disposal, no blending (24, 25 = 0).
        if (!vx::png::WriteChunk(file, "fcTL", fctl, sizeof(fctl))) return false;
        vx::LoadRows(frame, rows.data(), rowBytes, int(channels));
        ImageData data(file, rowBytes, GetThreads(), i == 0 ? nullptr : &sequence);
        for (uint32_t y = 0; y < height; ++y) {
            const uint8_t* prior = y ? rows.data() + (y - 1) * rowBytes : zeros.data();
            if (!data.Row(rows.data() + y * rowBytes, prior, rowBytes, channels, true)) return false;
        }
        if (!data.Finish()) return false;
    }
    return vx::png::WriteChunk(file, "IEND", nullptr, 0) && file->Flush();
}

bool VxPngCodec::WriteImage(VxFile* file) {
    const uint32_t width = GetWidth(), height = GetHeight(), bpp = GetBpp();
    // An animation is written in true colour, every frame in the form of the
    // first; a still deep picture as its 16-bit samples.
    const VxFrames* anim = GetAnimation();
    if (anim && anim->frames.size() < 2) anim = nullptr;
    const bool interlaced = !anim && Info.CodecOption[VX_FORMAT_PNG] == 1;
    const VxDeepPlane* deep = anim ? nullptr : vx::DeepToWrite(*this, 16);
    RGBQUAD* pal = deep ? nullptr : GetPalette();
    const bool indexed = !anim && pal != nullptr && bpp <= 8;
    const bool transColour = !anim && !deep && !indexed && Info.TransIndex >= 0;
    const bool rgba = anim ? vx::AnyFrameTransparent(*anim) : !deep && (Alpha != nullptr || transColour);
    const uint8_t colourType =
        deep ? kDeepType[deep->channels] : uint8_t(rgba ? kRgba : indexed ? kPalette : kRgb);
    const unsigned bits = deep ? 16u * deep->channels : rgba ? 32 : indexed ? bpp : 24;

    if (file->Write(kSignature, 1, 8) != 8) return false;
    uint8_t ihdr[13];
    PutBE32(ihdr, width);
    PutBE32(ihdr + 4, height);
    ihdr[8] = uint8_t(deep ? 16 : colourType == kPalette ? bpp : 8);
    ihdr[9] = colourType;
    ihdr[10] = 0;  // deflate
    ihdr[11] = 0;  // adaptive filtering
    ihdr[12] = interlaced ? 1 : 0;
    if (!vx::png::WriteChunk(file, "IHDR", ihdr, sizeof(ihdr))) return false;
    if (!WriteProfile(file)) return false;

    if (colourType == kPalette) {
        // Encode has moved any other transparent index to entry 0.
        const bool hasTrans = Info.TransIndex == 0 && Header.biClrUsed > 0;
        uint32_t n = Header.biClrUsed;
        if (n > 2 && uint64_t(width) * height < 65536) n = LargestIndexUsed() + 1;
        uint8_t plte[3 * 256];
        uint8_t alphas[256];
        size_t transCount = 0;
        for (uint32_t i = 0; i < n; ++i) {
            plte[3 * i] = pal[i].rgbRed;
            plte[3 * i + 1] = pal[i].rgbGreen;
            plte[3 * i + 2] = pal[i].rgbBlue;
        }
        if (Info.AlphaPaletteEnabled && AlphaPaletteIsValid()) {
            for (uint32_t i = 0; i < n; ++i) alphas[i] = pal[i].rgbReserved;
            transCount = n;
        }
        if (hasTrans) {
            alphas[0] = 0;
            transCount = std::max<size_t>(transCount, 1);
        }
        if (!vx::png::WriteChunk(file, "PLTE", plte, 3 * size_t(n))) return false;
        if (transCount && !vx::png::WriteChunk(file, "tRNS", alphas, transCount)) return false;
        const uint8_t background = 0;  // the first palette entry
        if (!vx::png::WriteChunk(file, "bKGD", &background, 1)) return false;
    } else if (deep) {
        const uint8_t white[6] = {255, 255, 255, 255, 255, 255};
        if (!vx::png::WriteChunk(file, "bKGD", white, deep->Colour() ? 6 : 2)) return false;
    } else {
        RGBQUAD b = vx::MakeRGBQUAD(255, 255, 255, 0);
        if (Info.TransIndex != -1) b = GetTransColor();
        const uint8_t background[6] = {0, b.rgbRed, 0, b.rgbGreen, 0, b.rgbBlue};
        if (!vx::png::WriteChunk(file, "bKGD", background, 6)) return false;
    }
    if (Header.biXPelsPerMeter > 0 && Header.biYPelsPerMeter > 0) {
        uint8_t phys[9];
        PutBE32(phys, uint32_t(Header.biXPelsPerMeter));
        PutBE32(phys + 4, uint32_t(Header.biYPelsPerMeter));
        phys[8] = 1;  // metre
        if (!vx::png::WriteChunk(file, "pHYs", phys, sizeof(phys))) return false;
    }

    const std::span<const uint8_t> exif = GetExif();
    if (!exif.empty() && !vx::png::WriteChunk(file, "eXIf", exif.data(), exif.size())) return false;
    const std::vector<uint8_t> xmp = vx::png::XmpText(GetXmp());
    if (!xmp.empty() && !vx::png::WriteChunk(file, "iTXt", xmp.data(), xmp.size())) return false;

    if (anim) return WriteFrames(file, *anim, rgba);
    // Palette rows go unfiltered, as is usual for them; true colour rows get
    // the adaptive choice.
    const bool adaptive = colourType != kPalette;
    const unsigned filterBpp = bits >= 8 ? bits / 8 : 1;
    const size_t rowBytes = (size_t(width) * bits + 7) / 8;
    std::vector<uint8_t> full(rowBytes), cur(rowBytes), prior(rowBytes);
    ImageData data(file, rowBytes, GetThreads());
    const Pass* passes = interlaced ? kAdam7 : &kWhole;
    for (int n = 0; n < (interlaced ? 7 : 1); ++n) {
        const Pass& p = passes[n];
        const uint32_t passWidth = PassCount(width, p.x0, p.dx);
        if (passWidth == 0 || PassCount(height, p.y0, p.dy) == 0) continue;
        const size_t passBytes = (size_t(passWidth) * bits + 7) / 8;
        std::fill(prior.begin(), prior.end(), uint8_t(0));
        for (uint32_t y = p.y0; y < height; y += p.dy) {
            const uint32_t stored = height - 1 - y;
            uint8_t* row = interlaced ? full.data() : cur.data();
            if (deep) DeepRow(*deep, y, row);
            else if (rgba) BuildRgbaRow(stored, row, transColour);
            else if (indexed) std::memcpy(row, GetBits(stored), rowBytes);
            else vx::SwapRedBlue(GetBits(stored), row, width);
            if (interlaced) PickPixels(full.data(), cur.data(), passWidth, p, bits);
            if (!data.Row(cur.data(), prior.data(), passBytes, filterBpp, adaptive)) return false;
            std::swap(cur, prior);
        }
    }
    if (!data.Finish()) return false;
    return vx::png::WriteChunk(file, "IEND", nullptr, 0) && file->Flush();
}
