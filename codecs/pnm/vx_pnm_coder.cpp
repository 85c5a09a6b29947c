#include "codecs/pnm/vx_pnm_coder.h"

#include <cstdio>

#include "codecs/jpeg2000/vx_decimal.h"
#include <string>

namespace vxj2k {

namespace {

const char kBadData[] = "error: cannot load image data";

bool IsSpace(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

// Skips white space and comments; returns the first other character (or -1).
int SkipToToken(VxFile* file) {
    for (;;) {
        int c = file->GetC();
        if (c == '#') {
            while (c >= 0 && c != '\n' && c != '\r') c = file->GetC();
            if (c < 0) return -1;
            continue;
        }
        if (!IsSpace(c)) return c;
    }
}

// A decimal header number; `last` receives the character that ended it.
uint32_t ReadNumber(VxFile* file, uint32_t limit, int* last) {
    int ignored = 0;
    return ReadDecimal(file, SkipToToken(file), limit, last ? last : &ignored, kBadData);
}

uint32_t BitsFor(uint32_t maxval) {
    uint32_t bits = 1;
    while (bits < 16 && (1u << bits) - 1 < maxval) ++bits;
    return bits;
}

}  // namespace

bool LooksLikePnm(const uint8_t* head, size_t n) {
    return n >= 3 && head[0] == 'P' && head[1] >= '1' && head[1] <= '6' &&
           (IsSpace(head[2]) || head[2] == '#');
}

void ReadPnm(VxFile* file, VxImage& codec, Planes& out) {
    uint8_t magic[2];
    if (file->Read(magic, 1, 2) != 2 || magic[0] != 'P' || magic[1] < '1' || magic[1] > '6')
        throw VxCodecFailure(kBadData);
    const int kind = magic[1] - '0';
    const bool ascii = kind <= 3;
    const bool bitmap = kind == 1 || kind == 4;
    const uint32_t ncomps = (kind == 3 || kind == 6) ? 3 : 1;

    int last = 0;
    const uint32_t width = ReadNumber(file, 0x7FFFFFFF, &last);
    const uint32_t height = ReadNumber(file, 0x7FFFFFFF, &last);
    const uint32_t maxval = bitmap ? 1 : ReadNumber(file, 65535, &last);
    if (width == 0 || height == 0 || maxval == 0) throw VxCodecFailure(kBadData);
    // Exactly one white-space character separates the header from raw samples.
    if (!IsSpace(last)) throw VxCodecFailure(kBadData);
    if (SizeOnly(codec, VX_FORMAT_PNM, width, height, ncomps, BitsFor(maxval), maxval)) return;

    const uint64_t samples = uint64_t(width) * height * ncomps;
    const uint32_t bytesPerSample = maxval > 255 ? 2 : 1;
    const uint64_t rawRow = kind == 4 ? (uint64_t(width) + 7) / 8
                                      : uint64_t(width) * ncomps * bytesPerSample;
    // A file cannot describe more samples than it has bytes for: P1 needs one
    // character per sample, the other text forms two (digit and separator).
    const uint64_t needed = !ascii ? rawRow * height : kind == 1 ? samples : samples * 2 - 1;
    VxRequirePicture(codec, width, height, ncomps == 3 ? 24 : 8, file, needed, kBadData);
    VxRequireBuffer(codec, samples * sizeof(int32_t), kPlaneBytesPerPixel);

    const uint32_t prec = BitsFor(maxval);
    out.comps.resize(ncomps);
    for (auto& p : out.comps) {
        p.Allocate(width, height, prec);
        p.maxval = maxval;
    }
    out.space = ncomps == 3 ? ColourSpace::SRGB : ColourSpace::Gray;

    std::vector<uint8_t> row(ascii ? 0 : size_t(rawRow));
    for (uint32_t y = 0; y < height; ++y) {
        int32_t* dst[3] = {out.comps[0].Row(y), ncomps == 3 ? out.comps[1].Row(y) : nullptr,
                           ncomps == 3 ? out.comps[2].Row(y) : nullptr};
        if (!ascii) {
            if (file->Read(row.data(), 1, row.size()) != row.size()) throw VxCodecFailure(kBadData);
        }
        for (uint32_t x = 0; x < width; ++x) {
            for (uint32_t c = 0; c < ncomps; ++c) {
                uint32_t v;
                if (kind == 1) {
                    int ch = SkipToToken(file);
                    if (ch != '0' && ch != '1') throw VxCodecFailure(kBadData);
                    v = uint32_t(ch - '0');
                } else if (ascii) {
                    v = ReadNumber(file, 0xFFFFFFFF, nullptr);
                } else if (kind == 4) {
                    v = (row[x >> 3] >> (7 - (x & 7))) & 1u;
                } else if (bytesPerSample == 2) {
                    const size_t i = (size_t(x) * ncomps + c) * 2;
                    v = uint32_t(row[i] << 8 | row[i + 1]);
                } else {
                    v = row[size_t(x) * ncomps + c];
                }
                if (bitmap) v = 1 - v;  // a set bit is black
                if (v > maxval) v = maxval;
                dst[c][x] = int32_t(v);
            }
        }
    }
}

void WritePnm(VxFile* file, const Planes& in) {
    const Plane& p0 = in.comps[0];
    const uint32_t ncomps = uint32_t(in.comps.size());
    char header[64];
    const uint32_t maxval = p0.prec > 8 ? (1u << p0.prec) - 1 : 255;
    const int n = std::snprintf(header, sizeof(header), "P%c\n%u %u\n%u\n", ncomps == 3 ? '6' : '5',
                                p0.width, p0.height, maxval);
    if (file->Write(header, 1, size_t(n)) != size_t(n)) throw VxCodecFailure("error: cannot encode image\n");
    // Samples above 255 take two bytes, the high one first.
    const size_t bytes = maxval > 255 ? 2 : 1;
    std::vector<uint8_t> row(size_t(p0.width) * ncomps * bytes);
    for (uint32_t y = 0; y < p0.height; ++y) {
        for (uint32_t x = 0; x < p0.width; ++x)
            for (uint32_t c = 0; c < ncomps; ++c) {
                const uint32_t v = uint32_t(in.comps[c].data[size_t(y) * p0.width + x]);
                uint8_t* at = &row[(size_t(x) * ncomps + c) * bytes];
                if (bytes == 2) *at++ = uint8_t(v >> 8);
                *at = uint8_t(v);
            }
        if (file->Write(row.data(), 1, row.size()) != row.size())
            throw VxCodecFailure("error: cannot encode image\n");
    }
}

}  // namespace vxj2k
