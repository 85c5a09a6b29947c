#include "codecs/ras/vx_ras_coder.h"

#include "core/vx_byte_reader.h"
#include "core/vx_types.h"

namespace vxj2k {

namespace {

const char kBadData[] = "error: cannot load image data";
constexpr uint32_t kMagic = 0x59A66A95;
enum : uint32_t { kTypeOld = 0, kTypeStandard = 1, kTypeEncoded = 2, kTypeRgb = 3 };
enum : uint32_t { kMapNone = 0, kMapRgb = 1, kMapRaw = 2 };
// The run-length form can at best turn 3 bytes into 256.
constexpr uint64_t kMaxRleExpansion = 86;

// Byte-encoded rows: 0x80 0x00 is one 0x80, 0x80 n v is n + 1 copies of v.
class RleReader {
public:
    explicit RleReader(VxFile* f) : bytes_(f) {}
    void Fill(uint8_t* dst, size_t n) {
        size_t i = 0;
        while (i < n) {
            if (runLeft_) {
                const size_t k = runLeft_ < n - i ? runLeft_ : n - i;
                for (size_t j = 0; j < k; ++j) dst[i + j] = runValue_;
                i += k;
                runLeft_ -= k;
                continue;
            }
            const int c = Next();
            if (c != 0x80) {
                dst[i++] = uint8_t(c);
                continue;
            }
            const int count = Next();
            if (count == 0) {
                dst[i++] = 0x80;
                continue;
            }
            runValue_ = uint8_t(Next());
            runLeft_ = size_t(count) + 1;
        }
    }

private:
    int Next() {
        const int32_t c = bytes_.Next();
        if (c < 0) throw VxCodecFailure(kBadData);
        return c;
    }
    vx::ByteReader bytes_;
    size_t runLeft_ = 0;
    uint8_t runValue_ = 0;
};

}  // namespace

bool LooksLikeRas(const uint8_t* head, size_t n) { return n >= 4 && vx::LoadBE32(head) == kMagic; }

void ReadRas(VxFile* file, VxImage& codec, Planes& out) {
    uint8_t raw[32];
    if (file->Read(raw, 1, sizeof(raw)) != sizeof(raw) || vx::LoadBE32(raw) != kMagic)
        throw VxCodecFailure(kBadData);
    const uint32_t width = vx::LoadBE32(raw + 4);
    const uint32_t height = vx::LoadBE32(raw + 8);
    const uint32_t depth = vx::LoadBE32(raw + 12);
    const uint32_t type = vx::LoadBE32(raw + 20);
    const uint32_t mapType = vx::LoadBE32(raw + 24);
    const uint32_t mapLength = vx::LoadBE32(raw + 28);
    if (width == 0 || height == 0 || width > 0x7FFFFFFF || height > 0x7FFFFFFF)
        throw VxCodecFailure(kBadData);
    if (depth != 1 && depth != 8 && depth != 24 && depth != 32) throw VxCodecFailure(kBadData);
    if (type > kTypeRgb || mapType > kMapRaw) throw VxCodecFailure(kBadData);
    if (SizeOnly(codec, VX_FORMAT_RAS, width, height,
                 depth > 8 || (mapType == kMapRgb && mapLength > 0) ? 3 : 1, depth == 1 ? 1 : 8,
                 depth == 1 ? 1 : 255))
        return;
    if (uint64_t(mapLength) > Remaining(file)) throw VxCodecFailure(kBadData);

    // Colour map: all reds, then all greens, then all blues.
    std::vector<uint8_t> map;
    uint32_t mapColours = 0;
    if (mapType == kMapRgb && mapLength > 0 && depth <= 8) {
        if (mapLength % 3 != 0 || mapLength / 3 > 256) throw VxCodecFailure(kBadData);
        mapColours = mapLength / 3;
        map.resize(mapLength);
        if (file->Read(map.data(), 1, mapLength) != mapLength) throw VxCodecFailure(kBadData);
    } else if (mapLength > 0) {
        map.resize(mapLength);  // a map the pixels do not use is skipped
        if (file->Read(map.data(), 1, mapLength) != mapLength) throw VxCodecFailure(kBadData);
        map.clear();
    }

    const uint64_t rowBytes = (uint64_t(width) * depth + 15) / 16 * 2;
    const uint32_t ncomps = (depth > 8 || mapColours) ? 3 : 1;
    const uint64_t samples = uint64_t(width) * height * ncomps;
    const uint64_t needed = rowBytes * height;
    // Run-length rows need at least their bytes over the best expansion.
    const uint64_t least = type == kTypeEncoded ? (needed + kMaxRleExpansion - 1) / kMaxRleExpansion
                                                : needed;
    VxRequirePicture(codec, width, height, ncomps == 3 ? 24 : 8, file, least, kBadData);
    VxRequireBuffer(codec, samples * sizeof(int32_t), kPlaneBytesPerPixel);

    const uint32_t prec = (depth == 1 && !mapColours) ? 1 : 8;
    out.comps.resize(ncomps);
    for (auto& p : out.comps) p.Allocate(width, height, prec);
    out.space = ncomps == 3 ? ColourSpace::SRGB : ColourSpace::Gray;

    RleReader rle(file);
    std::vector<uint8_t> row(static_cast<size_t>(rowBytes));
    const bool rgbOrder = type == kTypeRgb;
    for (uint32_t y = 0; y < height; ++y) {
        if (type == kTypeEncoded) {
            rle.Fill(row.data(), row.size());
        } else if (file->Read(row.data(), 1, row.size()) != row.size()) {
            throw VxCodecFailure(kBadData);
        }
        int32_t* r = out.comps[0].Row(y);
        int32_t* g = ncomps == 3 ? out.comps[1].Row(y) : nullptr;
        int32_t* b = ncomps == 3 ? out.comps[2].Row(y) : nullptr;
        for (uint32_t x = 0; x < width; ++x) {
            if (depth <= 8) {
                uint32_t v = depth == 1 ? (row[x >> 3] >> (7 - (x & 7))) & 1u : row[x];
                if (mapColours) {
                    if (v >= mapColours) v = 0;
                    r[x] = map[v];
                    g[x] = map[mapColours + v];
                    b[x] = map[2 * mapColours + v];
                } else {
                    r[x] = int32_t(depth == 1 ? 1 - v : v);  // without a map a set bit is black
                }
            } else {
                // 32-bit pixels carry a pad (or alpha) byte first.
                const uint8_t* p = row.data() + size_t(x) * (depth / 8) + (depth == 32 ? 1 : 0);
                r[x] = rgbOrder ? p[0] : p[2];
                g[x] = p[1];
                b[x] = rgbOrder ? p[2] : p[0];
            }
        }
    }
}

void WriteRas(VxFile* file, const Planes& in) {
    const Plane& p0 = in.comps[0];
    const uint32_t ncomps = uint32_t(in.comps.size());
    const uint32_t depth = ncomps == 3 ? 24 : 8;
    const uint64_t rowBytes = (uint64_t(p0.width) * depth + 15) / 16 * 2;
    uint8_t raw[32];
    vx::StoreBE32(raw, kMagic);
    vx::StoreBE32(raw + 4, p0.width);
    vx::StoreBE32(raw + 8, p0.height);
    vx::StoreBE32(raw + 12, depth);
    vx::StoreBE32(raw + 16, uint32_t(rowBytes * p0.height));
    vx::StoreBE32(raw + 20, kTypeStandard);
    vx::StoreBE32(raw + 24, kMapNone);
    vx::StoreBE32(raw + 28, 0);
    if (file->Write(raw, 1, sizeof(raw)) != sizeof(raw)) throw VxCodecFailure("error: cannot encode image\n");
    std::vector<uint8_t> row(size_t(rowBytes), 0);
    for (uint32_t y = 0; y < p0.height; ++y) {
        const size_t base = size_t(y) * p0.width;
        for (uint32_t x = 0; x < p0.width; ++x) {
            if (ncomps == 3) {
                row[3 * size_t(x)] = uint8_t(in.comps[2].data[base + x]);
                row[3 * size_t(x) + 1] = uint8_t(in.comps[1].data[base + x]);
                row[3 * size_t(x) + 2] = uint8_t(in.comps[0].data[base + x]);
            } else {
                row[x] = uint8_t(p0.data[base + x]);
            }
        }
        if (file->Write(row.data(), 1, row.size()) != row.size())
            throw VxCodecFailure("error: cannot encode image\n");
    }
}

}  // namespace vxj2k
