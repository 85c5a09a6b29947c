#include "codecs/qoi/vx_qoi_codec.h"
#include "core/vx_byte_reader.h"
#include "core/vx_codec.h"
#include "core/vx_codec_guard.h"

#include <cstring>
#include <vector>

namespace {

const char kNoMemory[] = "Can't allocate memory";
constexpr char kCut[] = "QOI data ends before the last pixel";

constexpr size_t kHeaderBytes = 14;
constexpr uint8_t kEndMarker[8] = {0, 0, 0, 0, 0, 0, 0, 1};

constexpr uint8_t kOpRgb = 0xFE, kOpRgba = 0xFF;
constexpr uint8_t kOpIndex = 0x00, kOpDiff = 0x40, kOpLuma = 0x80, kOpRun = 0xC0;
constexpr uint8_t kTagMask = 0xC0;
constexpr uint32_t kMaxRun = 62;

struct Px {
    uint8_t r = 0, g = 0, b = 0, a = 255;
    bool operator==(const Px&) const = default;
};

uint32_t Slot(const Px& p) { return (p.r * 3u + p.g * 5u + p.b * 7u + p.a * 11u) % 64u; }

uint32_t LoadBE32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

void StoreBE32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

// Reads the op stream in blocks; a byte past the end is a failure, not a zero.
class ByteSource {
public:
    explicit ByteSource(VxFile* file) : reader_(file) {}
    uint8_t Next() {
        const int32_t b = reader_.Next();
        if (b < 0) throw VxCodecFailure(kCut);
        return uint8_t(b);
    }
    // Hands back what was read ahead, so that the stream stands after the end marker.
    void GiveBack() { reader_.GiveBack(); }

private:
    vx::ByteReader reader_;
};

class ByteSink {
public:
    explicit ByteSink(VxFile* file) : file_(file) { buf_.reserve(kBlock + 8); }
    void Put(uint8_t v) { buf_.push_back(v); }
    bool Flush(bool force = false) {
        if (!ok_ || (!force && buf_.size() < kBlock)) return ok_;
        ok_ = buf_.empty() || file_->Write(buf_.data(), 1, buf_.size()) == buf_.size();
        buf_.clear();
        return ok_;
    }

private:
    static constexpr size_t kBlock = 1 << 16;
    VxFile* file_;
    std::vector<uint8_t> buf_;
    bool ok_ = true;
};

}  // namespace

bool VxQoiCodec::Decode(VxFile* file) {
    if (!file) return false;
    return vx::RunCodec(*this, kNoMemory, [&] {
        uint8_t h[kHeaderBytes];
        if (file->Read(h, 1, kHeaderBytes) != kHeaderBytes || std::memcmp(h, "qoif", 4) != 0)
            throw VxCodecFailure("Not a QOI");
        const uint32_t width = LoadBE32(h + 4), height = LoadBE32(h + 8);
        const uint32_t channels = h[12], colourspace = h[13];
        if (width == 0 || height == 0) throw VxCodecFailure("bad QOI header: empty picture");
        if (channels != 3 && channels != 4) throw VxCodecFailure("bad QOI header: channels");
        // 0 sRGB, 1 linear: the samples are the same either way.
        if (colourspace > 1) throw VxCodecFailure("bad QOI header: colour space");
        if (DimensionsOnly()) return AnswerDimensions(VX_FORMAT_QOI, width, height, 24);

        // One byte carries at most a run of 62 pixels, and the end marker follows.
        const uint64_t pixels = uint64_t(width) * height;
        VxRequirePicture(*this, width, height, 24, file, (pixels + kMaxRun - 1) / kMaxRun + 8,
                         kCut);
        if (!Create(width, height, 24, VX_FORMAT_QOI)) throw VxCodecFailure("QOI Create failed");
        const bool withAlpha = channels == 4;
        if (withAlpha && !AlphaCreate()) throw VxCodecFailure("QOI Create failed");

        ByteSource in(file);
        Px seen[64];
        for (Px& s : seen) s.a = 0;
        Px px;
        uint32_t run = 0;
        for (uint32_t y = 0; y < height; ++y) {
            if (Cancelled()) throw VxCodecFailure("Cancelled");
            const int32_t row = int32_t(height - 1 - y);
            uint8_t* dest = GetBits(uint32_t(row));
            uint8_t* alpha = withAlpha ? AlphaGetPointer(0, row) : nullptr;
            for (uint32_t x = 0; x < width; ++x) {
                if (run > 0) {
                    --run;
                } else {
                    const uint8_t op = in.Next();
                    if (op == kOpRgb) {
                        px.r = in.Next();
                        px.g = in.Next();
                        px.b = in.Next();
                    } else if (op == kOpRgba) {
                        px.r = in.Next();
                        px.g = in.Next();
                        px.b = in.Next();
                        px.a = in.Next();
                    } else if ((op & kTagMask) == kOpIndex) {
                        px = seen[op];
                    } else if ((op & kTagMask) == kOpDiff) {
                        px.r = uint8_t(px.r + ((op >> 4) & 3) - 2);
                        px.g = uint8_t(px.g + ((op >> 2) & 3) - 2);
                        px.b = uint8_t(px.b + (op & 3) - 2);
                    } else if ((op & kTagMask) == kOpLuma) {
                        const uint8_t next = in.Next();
                        const int dg = int(op & 0x3F) - 32;
                        px.r = uint8_t(px.r + dg + ((next >> 4) & 0x0F) - 8);
                        px.g = uint8_t(px.g + dg);
                        px.b = uint8_t(px.b + dg + (next & 0x0F) - 8);
                    } else {
                        run = op & 0x3F;  // this pixel and `run` more
                    }
                    seen[Slot(px)] = px;
                }
                dest[size_t(x) * 3] = px.b;
                dest[size_t(x) * 3 + 1] = px.g;
                dest[size_t(x) * 3 + 2] = px.r;
                if (alpha) alpha[x] = px.a;
            }
        }
        // A run may not reach past the last pixel; the end marker closes the stream.
        if (run > 0) throw VxCodecFailure("Corrupted QOI: a run goes past the last pixel");
        for (const uint8_t m : kEndMarker)
            if (in.Next() != m) throw VxCodecFailure("Corrupted QOI: no end marker");
        in.GiveBack();
        return true;
    });
}

bool VxQoiCodec::Encode(VxFile* file) {
    if (EncodeSafeCheck(file)) return false;
    const uint32_t width = GetWidth(), height = GetHeight();
    const uint32_t bpp = GetBpp();
    // Other kinds of transparency reach the writer as an alpha plane.
    const bool withAlpha = AlphaIsValid();
    uint8_t h[kHeaderBytes] = {'q', 'o', 'i', 'f'};
    StoreBE32(h + 4, width);
    StoreBE32(h + 8, height);
    h[12] = withAlpha ? 4 : 3;
    h[13] = 0;
    ByteSink out(file);
    for (const uint8_t b : h) out.Put(b);

    Px seen[64];
    for (Px& s : seen) s.a = 0;
    Px prev;
    uint32_t run = 0;
    const uint32_t alphaMax = GetAlphaMax();
    bool ok = true;
    for (uint32_t y = 0; ok && y < height; ++y) {
        const int32_t row = int32_t(height - 1 - y);
        const uint8_t* src = GetBits(uint32_t(row));
        for (uint32_t x = 0; x < width; ++x) {
            Px px;
            if (bpp == 24) {
                px = {src[size_t(x) * 3 + 2], src[size_t(x) * 3 + 1], src[size_t(x) * 3]};
            } else {
                const RGBQUAD c = GetPixelColor(int32_t(x), row, false);
                px = {c.rgbRed, c.rgbGreen, c.rgbBlue};
            }
            if (withAlpha) px.a = uint8_t(AlphaGet(int32_t(x), row) * alphaMax / 255);
            if (px == prev) {
                if (++run == kMaxRun) {
                    out.Put(uint8_t(kOpRun | (run - 1)));
                    run = 0;
                }
                continue;
            }
            if (run > 0) {
                out.Put(uint8_t(kOpRun | (run - 1)));
                run = 0;
            }
            const uint32_t slot = Slot(px);
            if (seen[slot] == px) {
                out.Put(uint8_t(kOpIndex | slot));
            } else {
                seen[slot] = px;
                const int dr = int8_t(px.r - prev.r), dg = int8_t(px.g - prev.g),
                          db = int8_t(px.b - prev.b);
                const int dgr = dr - dg, dgb = db - dg;
                if (px.a != prev.a) {
                    for (const uint8_t b : {kOpRgba, px.r, px.g, px.b, px.a}) out.Put(b);
                } else if (dr >= -2 && dr <= 1 && dg >= -2 && dg <= 1 && db >= -2 && db <= 1) {
                    out.Put(uint8_t(kOpDiff | (dr + 2) << 4 | (dg + 2) << 2 | (db + 2)));
                } else if (dg >= -32 && dg <= 31 && dgr >= -8 && dgr <= 7 && dgb >= -8 && dgb <= 7) {
                    out.Put(uint8_t(kOpLuma | (dg + 32)));
                    out.Put(uint8_t((dgr + 8) << 4 | (dgb + 8)));
                } else {
                    for (const uint8_t b : {kOpRgb, px.r, px.g, px.b}) out.Put(b);
                }
            }
            prev = px;
        }
        ok = out.Flush();
    }
    if (run > 0) out.Put(uint8_t(kOpRun | (run - 1)));
    for (const uint8_t m : kEndMarker) out.Put(m);
    if (!ok || !out.Flush(true)) {
        SetLastError("Error writing QOI file");
        return false;
    }
    return true;
}
