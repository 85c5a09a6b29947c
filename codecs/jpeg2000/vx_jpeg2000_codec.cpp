#include "codecs/jpeg2000/vx_jpeg2000_codec.h"

#include <new>

#include "codecs/jpeg2000/vx_jp2_colour.h"
#include "codecs/jpeg2000/vx_jp2_planes.h"
#include "codecs/jpeg2000/vx_openjpeg_coder.h"
#include "codecs/pgx/vx_pgx_coder.h"
#include "codecs/pnm/vx_pnm_coder.h"
#include "codecs/ras/vx_ras_coder.h"

using vxj2k::Plane;
using vxj2k::Planes;

namespace {

const char kBadData[] = "error: cannot load image data";

bool SameGrid(const Plane& a, const Plane& b) {
    return a.width == b.width && a.height == b.height && a.prec == b.prec && a.sgnd == b.sgnd &&
           a.dx == b.dx && a.dy == b.dy && a.maxval == b.maxval;
}

// Precisions the grey path keeps as palette indices; others become 8-bit grey.
bool NativeDepth(const Plane& p) {
    return (p.prec == 1 || p.prec == 4 || p.prec == 8) && p.maxval == (1u << p.prec) - 1;
}

// sYCC chroma may be sub-sampled; it is spread over the luma grid.
bool SyccTriple(const Planes& in) {
    if (in.space != vxj2k::ColourSpace::SYCC || in.comps.size() < 3) return false;
    const Plane& y = in.comps[0];
    if (y.dx != 1 || y.dy != 1) return false;
    for (int i = 1; i < 3; ++i) {
        const Plane& c = in.comps[i];
        if (c.dx > 2 || c.dy > 2 || uint64_t(c.width) * c.dx < y.width ||
            uint64_t(c.height) * c.dy < y.height)
            return false;
    }
    return true;
}

}  // namespace

bool VxJpeg2000Codec::Decode(VxFile* file, uint32_t /*type: the content decides*/) {
    if (!file) return false;
    try {
        const int32_t start = file->Tell();
        uint8_t head[12] = {};
        const size_t n = file->Read(head, 1, sizeof(head));
        if (!file->Seek(start, SEEK_SET)) throw VxCodecFailure(kBadData);

        Planes planes;
        uint32_t format;
        if (vxj2k::LooksLikeJp2(head, n)) {
            format = VX_FORMAT_JP2;
            vxj2k::ReadJpeg2000(file, true, planes);
        } else if (vxj2k::LooksLikeJpc(head, n)) {
            format = VX_FORMAT_JPC;
            vxj2k::ReadJpeg2000(file, false, planes);
        } else if (vxj2k::LooksLikePgx(head, n)) {
            format = VX_FORMAT_PGX;
            vxj2k::ReadPgx(file, planes);
        } else if (vxj2k::LooksLikePnm(head, n)) {
            format = VX_FORMAT_PNM;
            vxj2k::ReadPnm(file, planes);
        } else if (vxj2k::LooksLikeRas(head, n)) {
            format = VX_FORMAT_RAS;
            vxj2k::ReadRas(file, planes);
        } else if (n >= 2 && head[0] == 'B' && head[1] == 'M') {
            // The dispatch's own BMP codec reads it into this object.
            return VxImage::Decode(file, VX_FORMAT_BMP);
        } else {
            throw VxCodecFailure(kBadData);
        }
        FromPlanes(planes, format);
        return true;
    } catch (const VxCodecFailure& f) {
        SetLastError(f.text);
    } catch (const std::bad_alloc&) {
        SetLastError("error: cannot allocate memory");
    }
    return false;
}

void VxJpeg2000Codec::FromPlanes(const Planes& in, uint32_t format) {
    const size_t count = in.comps.size();
    if (count == 0) throw VxCodecFailure(kBadData);
    if (count > 64) throw VxCodecFailure("error: too much components");
    const Plane& p0 = in.comps[0];

    const bool triple = count >= 3 && SameGrid(p0, in.comps[1]) && SameGrid(p0, in.comps[2]);
    const bool sycc = SyccTriple(in);
    // Three components are a colour picture; more are read one at a time unless
    // their precision asks for the conversion, which keeps the colour ones.
    const bool colour = (triple || sycc) && (count == 3 || !NativeDepth(p0));
    if (colour) {
        VxRequirePicture(*this, p0.width, p0.height, 24);
        if (!Create(p0.width, p0.height, 24, format)) throw VxCodecFailure("Can't allocate memory");
        const uint32_t h = p0.height;
        vxj2k::ColourToBgr8(in, p0.width, h, [&](uint32_t y) { return GetBits(h - 1 - y); });
        return;
    }

    Info.NumFrames = int32_t(count);
    if (Info.Frame < 0 || size_t(Info.Frame) >= count) throw VxCodecFailure("wrong frame!");
    const Plane& p = in.comps[size_t(Info.Frame)];
    const bool native = NativeDepth(p);
    const uint32_t bpp = native ? p.prec : 8;
    VxRequirePicture(*this, p.width, p.height, bpp);
    if (!Create(p.width, p.height, bpp, format)) throw VxCodecFailure("Can't allocate memory");
    SetGrayPalette();
    for (uint32_t y = 0; y < p.height; ++y) {
        const int32_t* src = p.data + size_t(y) * p.width;
        uint8_t* dst = GetBits(p.height - 1 - y);
        for (uint32_t x = 0; x < p.width; ++x) {
            int64_t v = src[x];
            if (p.sgnd) v += int64_t(1) << (p.prec - 1);
            v = v < 0 ? 0 : v > int64_t(p.maxval) ? int64_t(p.maxval) : v;
            if (bpp == 8) {
                dst[x] = native ? uint8_t(v) : vxj2k::To8(p, src[x]);
            } else if (bpp == 4) {
                const uint8_t shift = (x & 1) ? 0 : 4;
                dst[x >> 1] = uint8_t((dst[x >> 1] & ~(0x0F << shift)) | (v << shift));
            } else {
                const uint8_t bit = uint8_t(0x80 >> (x & 7));
                dst[x >> 3] = uint8_t(v ? (dst[x >> 3] | bit) : (dst[x >> 3] & ~bit));
            }
        }
    }
}

bool VxJpeg2000Codec::Encode(VxFile* file, uint32_t type) {
    if (EncodeSafeCheck(file)) return false;
    if (GetPalette() && !IsGrayScale()) {
        SetLastError("Jpeg2000 只能保存为RGB或灰度图像");
        return false;
    }
    try {
        const bool grey = GetPalette() != nullptr;
        const uint32_t w = GetWidth(), h = GetHeight();
        Planes planes;
        planes.comps.resize(grey ? 1 : 3);
        try {
            for (auto& p : planes.comps) p.Allocate(w, h, 8);
        } catch (const std::bad_alloc&) {
            throw VxCodecFailure("error : can't allocate memory");
        }
        planes.space = grey ? vxj2k::ColourSpace::Gray : vxj2k::ColourSpace::SRGB;
        for (uint32_t y = 0; y < h; ++y) {
            const uint32_t top = h - 1 - y;
            if (grey) {
                int32_t* d = planes.comps[0].Row(top);
                for (uint32_t x = 0; x < w; ++x) d[x] = BlindGetPixelIndex(int32_t(x), int32_t(y));
            } else {
                const uint8_t* s = GetBits(y);
                int32_t* r = planes.comps[0].Row(top);
                int32_t* g = planes.comps[1].Row(top);
                int32_t* b = planes.comps[2].Row(top);
                for (uint32_t x = 0; x < w; ++x) {
                    b[x] = s[3 * x];
                    g[x] = s[3 * x + 1];
                    r[x] = s[3 * x + 2];
                }
            }
        }
        switch (type) {
            case VX_FORMAT_JP2:
            case VX_FORMAT_JPC:
                vxj2k::WriteJpeg2000(file, type == VX_FORMAT_JP2, planes, Info.JpegQuality);
                break;
            case VX_FORMAT_PGX:
                if (!grey) throw VxCodecFailure("PGX can save only GrayScale images");
                vxj2k::WritePgx(file, planes);
                break;
            case VX_FORMAT_PNM: vxj2k::WritePnm(file, planes); break;
            case VX_FORMAT_RAS: vxj2k::WriteRas(file, planes); break;
            default: throw VxCodecFailure("error: cannot encode image\n");
        }
        return true;
    } catch (const VxCodecFailure& f) {
        SetLastError(f.text);
    } catch (const std::bad_alloc&) {
        SetLastError("error : can't allocate memory");
    }
    return false;
}
