#include "codecs/pgx/vx_pgx_coder.h"

#include <cstdio>

#include "codecs/jpeg2000/vx_decimal.h"

namespace vxj2k {

namespace {

const char kBadData[] = "error: cannot load image data";

bool IsBlank(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

int SkipBlanks(VxFile* file) {
    int c;
    do c = file->GetC();
    while (IsBlank(c));
    return c;
}

uint32_t ReadNumber(VxFile* file, int first, uint32_t limit, int* last) {
    return ReadDecimal(file, first, limit, last, kBadData);
}

}  // namespace

bool LooksLikePgx(const uint8_t* head, size_t n) {
    return n >= 3 && head[0] == 'P' && head[1] == 'G' && IsBlank(head[2]);
}

void ReadPgx(VxFile* file, VxImage& codec, Planes& out) {
    uint8_t magic[2];
    if (file->Read(magic, 1, 2) != 2 || magic[0] != 'P' || magic[1] != 'G') throw VxCodecFailure(kBadData);
    int c = SkipBlanks(file);
    const int c2 = file->GetC();
    bool bigEndian;
    if (c == 'M' && c2 == 'L') bigEndian = true;
    else if (c == 'L' && c2 == 'M') bigEndian = false;
    else throw VxCodecFailure(kBadData);
    c = SkipBlanks(file);
    bool sgnd = false;
    if (c == '+' || c == '-') {
        sgnd = c == '-';
        c = SkipBlanks(file);
    }
    int last = 0;
    const uint32_t prec = ReadNumber(file, c, 16, &last);
    if (!IsBlank(last)) throw VxCodecFailure(kBadData);
    const uint32_t width = ReadNumber(file, SkipBlanks(file), 0x7FFFFFFF, &last);
    if (!IsBlank(last)) throw VxCodecFailure(kBadData);
    const uint32_t height = ReadNumber(file, SkipBlanks(file), 0x7FFFFFFF, &last);
    // One line end (or blank) ends the header; a CR LF pair counts as one.
    if (!IsBlank(last)) throw VxCodecFailure(kBadData);
    if (last == '\r') {
        const int64_t pos = file->Tell64();
        if (file->GetC() != '\n') file->Seek64(pos, SEEK_SET);
    }
    if (prec == 0 || width == 0 || height == 0) throw VxCodecFailure(kBadData);
    if (SizeOnly(codec, VX_FORMAT_PGX, width, height, 1, prec, (1u << prec) - 1)) return;

    const uint32_t bytes = prec <= 8 ? 1 : 2;
    VxRequirePicture(codec, width, height, 8, file, uint64_t(width) * height * bytes, kBadData);
    VxRequireBuffer(codec, uint64_t(width) * height * sizeof(int32_t), kPlaneBytesPerPixel);

    out.comps.resize(1);
    Plane& p = out.comps[0];
    p.Allocate(width, height, prec);
    p.sgnd = sgnd;
    out.space = ColourSpace::Gray;
    const uint32_t mask = (1u << prec) - 1;
    std::vector<uint8_t> row(size_t(width) * bytes);
    for (uint32_t y = 0; y < height; ++y) {
        if (file->Read(row.data(), 1, row.size()) != row.size()) throw VxCodecFailure(kBadData);
        int32_t* dst = p.Row(y);
        for (uint32_t x = 0; x < width; ++x) {
            uint32_t v = bytes == 1 ? row[x]
                         : bigEndian ? uint32_t(row[2 * x] << 8 | row[2 * x + 1])
                                     : uint32_t(row[2 * x + 1] << 8 | row[2 * x]);
            v &= mask;
            // Signed samples are two's complement in `prec` bits.
            int32_t s = int32_t(v);
            if (sgnd && (v >> (prec - 1)) & 1u) s = int32_t(v) - int32_t(1u << prec);
            dst[x] = s;
        }
    }
}

void WritePgx(VxFile* file, const Planes& in) {
    const Plane& p = in.comps[0];
    char header[64];
    const int n = std::snprintf(header, sizeof(header), "PG ML + %u %u %u\n", p.prec, p.width, p.height);
    if (file->Write(header, 1, size_t(n)) != size_t(n)) throw VxCodecFailure("error: cannot encode image\n");
    const size_t bytes = p.prec > 8 ? 2 : 1;
    std::vector<uint8_t> row(p.width * bytes);
    for (uint32_t y = 0; y < p.height; ++y) {
        for (uint32_t x = 0; x < p.width; ++x) {
            const uint32_t v = uint32_t(p.data[size_t(y) * p.width + x]);
            if (bytes == 2) row[2 * size_t(x)] = uint8_t(v >> 8);
            row[bytes * x + bytes - 1] = uint8_t(v);
        }
        if (file->Write(row.data(), 1, row.size()) != row.size())
            throw VxCodecFailure("error: cannot encode image\n");
    }
}

}  // namespace vxj2k
