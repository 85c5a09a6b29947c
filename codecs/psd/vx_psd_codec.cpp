#include "codecs/psd/vx_psd_codec.h"

#include <cstring>
#include <span>
#include <vector>

#include "core/vx_codec.h"
#include "core/vx_codec_guard.h"
#include "core/vx_deep.h"
#include "core/vx_file.h"
#include "core/vx_stream_bytes.h"

namespace {

const char kNoMemory[] = "Can't allocate memory";
constexpr char kCut[] = "PSD data ends early";

enum Mode : uint16_t { kGrey = 1, kIndexed = 2, kRgb = 3, kCmyk = 4 };
constexpr uint16_t kResIcc = 1039, kResExif = 1058, kResXmp = 1060;

// Every read is checked against the end of what the file holds.
class Cursor {
public:
    explicit Cursor(std::span<const uint8_t> b) : b_(b) {}
    size_t Pos() const { return pos_; }
    uint64_t Left() const { return b_.size() - pos_; }
    std::span<const uint8_t> Take(uint64_t n) {
        if (n > Left()) throw VxCodecFailure(kCut);
        const auto s = b_.subspan(pos_, size_t(n));
        pos_ += size_t(n);
        return s;
    }
    uint64_t BE(unsigned bytes) {
        uint64_t v = 0;
        for (const uint8_t c : Take(bytes)) v = v << 8 | c;
        return v;
    }

private:
    std::span<const uint8_t> b_;
    size_t pos_ = 0;
};

struct PsdHeader {
    bool big = false;  // the 8-byte length form
    uint32_t channels = 0, width = 0, height = 0, depth = 0, mode = 0;
    uint32_t colours = 0;  // channels that make the colour
    bool alpha = false;
};

PsdHeader ReadHeader(Cursor& in) {
    if (in.Left() < 26 || std::memcmp(in.Take(4).data(), "8BPS", 4) != 0)
        throw VxCodecFailure("Not a PSD");
    PsdHeader h;
    const uint64_t version = in.BE(2);
    if (version != 1 && version != 2) throw VxCodecFailure("bad PSD header: version");
    h.big = version == 2;
    in.Take(6);
    h.channels = uint32_t(in.BE(2));
    h.height = uint32_t(in.BE(4));
    h.width = uint32_t(in.BE(4));
    h.depth = uint32_t(in.BE(2));
    h.mode = uint32_t(in.BE(2));
    const uint32_t maxSide = h.big ? 300000 : 30000;
    if (h.channels < 1 || h.channels > 56) throw VxCodecFailure("bad PSD header: channels");
    if (h.width == 0 || h.height == 0 || h.width > maxSide || h.height > maxSide)
        throw VxCodecFailure("bad PSD header: size");
    if (h.depth != 8 && h.depth != 16)
        throw VxCodecFailure("PSD: only 8 and 16-bit samples are read");
    switch (h.mode) {
        case kGrey: h.colours = 1; break;
        case kIndexed: h.colours = 1; break;
        case kRgb: h.colours = 3; break;
        case kCmyk: h.colours = 4; break;
        default: throw VxCodecFailure("PSD: only grey, indexed, RGB and CMYK documents are read");
    }
    if (h.mode == kIndexed && h.depth != 8) throw VxCodecFailure("bad PSD header: indexed depth");
    if (h.channels < h.colours) throw VxCodecFailure("bad PSD header: too few channels");
    return h;
}

// The first extra channel is alpha when the layer count is negative (the file
// says so) or when it is the only extra channel; more extra channels without
// that mark are spot or mask channels and are left out.
bool ReadLayerMark(Cursor& in, const PsdHeader& h) {
    const uint64_t length = in.BE(h.big ? 8 : 4);
    if (length > in.Left()) throw VxCodecFailure("Corrupted PSD: layer section length");
    Cursor section(in.Take(length));
    bool negative = false;
    const unsigned lenBytes = h.big ? 8 : 4;
    if (section.Left() >= lenBytes + 2) {
        const uint64_t info = section.BE(lenBytes);
        if (info >= 2 && info <= section.Left()) negative = int16_t(section.BE(2)) < 0;
    }
    return negative;
}

struct Resources {
    std::span<const uint8_t> icc, exif, xmp;
};

Resources ReadResources(std::span<const uint8_t> block) {
    Resources r;
    Cursor in(block);
    while (in.Left() >= 12) {
        if (std::memcmp(in.Take(4).data(), "8BIM", 4) != 0)
            throw VxCodecFailure("Corrupted PSD: image resource signature");
        const uint16_t id = uint16_t(in.BE(2));
        const uint64_t nameLength = in.BE(1);
        in.Take(nameLength + (nameLength % 2 == 0 ? 1 : 0));  // padded to even with its length byte
        const uint64_t size = in.BE(4);
        if (size > in.Left()) throw VxCodecFailure("Corrupted PSD: image resource length");
        const auto data = in.Take(size);
        if (size % 2 && in.Left()) in.Take(1);
        if (id == kResIcc) r.icc = data;
        if (id == kResExif) r.exif = data;
        if (id == kResXmp) r.xmp = data;
    }
    return r;
}

// PackBits: a count byte n; 0..127 copies n + 1 bytes, 129..255 repeats the
// next byte 257 - n times, 128 does nothing.
void Unpack(std::span<const uint8_t> src, uint8_t* out, size_t size) {
    size_t o = 0, i = 0;
    while (o < size) {
        if (i >= src.size()) throw VxCodecFailure("Corrupted PSD: a run-length row is short");
        const uint8_t n = src[i++];
        if (n < 128) {
            const size_t count = size_t(n) + 1;
            if (count > src.size() - i || count > size - o)
                throw VxCodecFailure("Corrupted PSD: a run-length row overflows");
            std::memcpy(out + o, src.data() + i, count);
            i += count;
            o += count;
        } else if (n > 128) {
            const size_t count = 257 - size_t(n);
            if (i >= src.size() || count > size - o)
                throw VxCodecFailure("Corrupted PSD: a run-length row overflows");
            std::memset(out + o, src[i++], count);
            o += count;
        }
    }
}

}  // namespace

bool VxPsdCodec::Decode(VxFile* file) {
    if (!file) return false;
    const int64_t start = file->Tell64();
    return vx::RunCodec(*this, kNoMemory, [&] {
        uint8_t sig[4] = {};
        if (file->Read(sig, 1, 4) != 4 || std::memcmp(sig, "8BPS", 4) != 0) throw VxCodecFailure("Not a PSD");
        file->Seek64(start, SEEK_SET);
        std::vector<uint8_t> bytes;
        vx::ReadUpTo(file, bytes, SIZE_MAX);
        Cursor in(bytes);
        PsdHeader h = ReadHeader(in);

        const uint64_t modeLength = in.BE(4);
        const auto modeData = in.Take(modeLength);
        if (h.mode == kIndexed && modeData.size() < 768) throw VxCodecFailure("Corrupted PSD: no palette");
        const uint64_t resLength = in.BE(4);
        const Resources res = ReadResources(in.Take(resLength));
        const bool marked = ReadLayerMark(in, h);
        h.alpha = h.channels > h.colours && (marked || h.channels == h.colours + 1);
        const uint64_t compression = in.BE(2);
        if (compression > 1)
            throw VxCodecFailure("PSD: the composite is zip-coded, which is not read");
        const bool deep = h.depth == 16;
        const bool colour = h.mode == kRgb || h.mode == kCmyk;
        const uint32_t bpp = colour ? 24 : 8;
        if (DimensionsOnly()) {
            if (deep) vx::AnswerDeep(*this, uint8_t((colour ? 3 : 1) + (h.alpha ? 1 : 0)), 16);
            return AnswerDimensions(VX_FORMAT_PSD, h.width, h.height, bpp);
        }

        const uint32_t used = h.colours + (h.alpha ? 1 : 0);
        const size_t sample = deep ? 2 : 1;
        const size_t rowBytes = size_t(h.width) * sample;
        const uint64_t rows = uint64_t(h.channels) * h.height;
        // Raw data holds every sample; run-length data at least a count and two bytes a row.
        const uint64_t least = compression == 0 ? rows * rowBytes : rows * ((h.big ? 4 : 2) + 2);
        VxRequirePicture(*this, h.width, h.height, bpp);
        if (least > in.Left()) throw VxCodecFailure(kCut);
        VxRequireBuffer(*this, uint64_t(used) * h.height * rowBytes, 10);

        std::vector<uint8_t> planes(size_t(used) * h.height * rowBytes);
        if (compression == 0) {
            const auto data = in.Take(rows * rowBytes);
            std::memcpy(planes.data(), data.data(), planes.size());
        } else {
            const auto counts = in.Take(rows * (h.big ? 4 : 2));
            Cursor countIn(counts);
            for (uint32_t c = 0; c < h.channels; ++c) {
                if (Cancelled()) throw VxCodecFailure("Cancelled");
                for (uint32_t y = 0; y < h.height; ++y) {
                    const auto row = in.Take(countIn.BE(h.big ? 4 : 2));
                    if (c < used) Unpack(row, planes.data() + (size_t(c) * h.height + y) * rowBytes, rowBytes);
                }
            }
        }

        // Channel c, row y, column x, as 16 bits.
        const auto at = [&](uint32_t c, uint32_t y, uint32_t x) -> uint32_t {
            const uint8_t* p = planes.data() + (size_t(c) * h.height + y) * rowBytes + size_t(x) * sample;
            return deep ? uint32_t(p[0]) << 8 | p[1] : uint32_t(p[0]) * 257;
        };
        // Stored CMYK is inverted (white is 255 of every channel): the colour is c * k.
        const auto rgbAt = [&](uint32_t y, uint32_t x, uint32_t out[3]) {
            for (uint32_t i = 0; i < 3; ++i) {
                out[i] = at(i, y, x);
                if (h.mode == kCmyk) out[i] = uint32_t((uint64_t(out[i]) * at(3, y, x) + 32767) / 65535);
            }
        };

        if (deep) {
            const uint8_t channels = uint8_t((colour ? 3 : 1) + (h.alpha ? 1 : 0));
            auto plane = vx::NewDeepPlane(*this, h.width, h.height, channels, 16);
            if (!plane) throw VxCodecFailure(GetLastError());
            for (uint32_t y = 0; y < h.height; ++y) {
                uint16_t* d = plane->Row(y);
                for (uint32_t x = 0; x < h.width; ++x) {
                    uint32_t rgb[3] = {at(0, y, x), 0, 0};
                    if (colour) rgbAt(y, x, rgb);
                    for (uint32_t i = 0; i < (colour ? 3u : 1u); ++i) *d++ = uint16_t(rgb[i]);
                    if (h.alpha) *d++ = uint16_t(at(h.colours, y, x));
                }
            }
            if (!vx::SetDeepPicture(*this, std::move(plane), VX_FORMAT_PSD)) throw VxCodecFailure(GetLastError());
        } else {
            if (!Create(h.width, h.height, bpp, VX_FORMAT_PSD)) throw VxCodecFailure("PSD Create failed");
            if (h.alpha && !AlphaCreate()) throw VxCodecFailure("PSD Create failed");
            if (h.mode == kIndexed) {
                for (uint32_t i = 0; i < 256; ++i)
                    SetPaletteColor(uint8_t(i), modeData[i], modeData[256 + i], modeData[512 + i]);
            } else if (h.mode == kGrey) {
                SetGrayPalette();
            }
            for (uint32_t y = 0; y < h.height; ++y) {
                uint8_t* d = GetBits(h.height - 1 - y);
                for (uint32_t x = 0; x < h.width; ++x) {
                    if (colour) {
                        uint32_t rgb[3];
                        rgbAt(y, x, rgb);
                        for (int i = 2; i >= 0; --i) *d++ = uint8_t(rgb[i] >> 8);
                    } else {
                        *d++ = uint8_t(at(0, y, x) >> 8);
                    }
                    if (h.alpha) AlphaSet(int32_t(x), int32_t(h.height - 1 - y), uint8_t(at(h.colours, y, x) >> 8));
                }
            }
        }
        // A CMYK profile does not describe the RGB samples made here.
        if (!res.icc.empty() && h.mode != kCmyk) SetIccProfile(res.icc);
        if (!res.exif.empty()) SetExif(res.exif);
        if (!res.xmp.empty()) SetXmp(res.xmp);
        file->Seek64(start + int64_t(in.Pos()), SEEK_SET);
        return true;
    });
}

bool VxPsdCodec::Encode(VxFile*) {
    SetLastError("PSD files can only be read");
    return false;
}
