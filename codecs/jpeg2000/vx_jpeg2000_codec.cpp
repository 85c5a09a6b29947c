#include "codecs/jpeg2000/vx_jpeg2000_codec.h"

#include <algorithm>
#include <cstdint>

#include "codecs/jpeg2000/vx_jp2_cdef.h"
#include "codecs/jpeg2000/vx_jp2_colour.h"
#include "codecs/jpeg2000/vx_jp2_planes.h"
#include "codecs/jpeg2000/vx_openjpeg_coder.h"
#include "codecs/pgx/vx_pgx_coder.h"
#include "codecs/pnm/vx_pnm_coder.h"
#include "codecs/ras/vx_ras_coder.h"
#include "core/vx_codec_guard.h"
#include "core/vx_deep.h"

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

// Components deeper than 8 bits that need no colour conversion on the way:
// kept as deep samples beside the 8-bit picture.
bool KeepsDeep(const Planes& in, size_t used) {
    if (in.icc || (in.space != vxj2k::ColourSpace::SRGB && in.space != vxj2k::ColourSpace::Gray &&
                   in.space != vxj2k::ColourSpace::Unspecified))
        return false;
    for (size_t i = 0; i < used; ++i) {
        const Plane& p = in.comps[i];
        if (p.prec <= 8 || p.prec > 16 || p.sgnd || p.dx != 1 || p.dy != 1 ||
            p.width != in.comps[0].width || p.height != in.comps[0].height)
            return false;
    }
    return true;
}

uint16_t Widen(const Plane& p, int32_t v) {
    if (v <= 0) return 0;
    if (uint32_t(v) >= p.maxval) return 65535;
    return uint16_t((uint64_t(v) * 65535 + p.maxval / 2) / p.maxval);
}

}  // namespace

void VxJpeg2000Codec::KeepDeep(const Plane* const* comps, size_t count, uint32_t format) {
    const Plane& p0 = *comps[0];
    uint32_t bits = 0;
    for (size_t i = 0; i < count; ++i) bits = std::max(bits, comps[i]->prec);
    auto deep = vx::NewDeepPlane(*this, p0.width, p0.height, uint8_t(count), uint8_t(bits));
    if (!deep) throw VxCodecFailure(GetLastError());
    for (uint32_t y = 0; y < p0.height; ++y) {
        uint16_t* d = deep->Row(y);
        for (uint32_t x = 0; x < p0.width; ++x)
            for (size_t c = 0; c < count; ++c)
                *d++ = Widen(*comps[c], comps[c]->data[size_t(y) * p0.width + x]);
    }
    if (!vx::SetDeepPicture(*this, std::move(deep), format)) throw VxCodecFailure(GetLastError());
}

bool VxJpeg2000Codec::Decode(VxFile* file, uint32_t /*type: the content decides*/) {
    if (!file) return false;
    return vx::RunCodec(*this, "error: cannot allocate memory", [&] {
        const int64_t start = file->Tell64();
        uint8_t head[12] = {};
        const size_t n = file->Read(head, 1, sizeof(head));
        if (!file->Seek64(start, SEEK_SET)) throw VxCodecFailure(kBadData);

        Planes planes;
        uint32_t format;
        if (vxj2k::LooksLikeJp2(head, n)) {
            format = VX_FORMAT_JP2;
            declaredOpacity_ = vxj2k::DeclaresOpacity(file);
            vxj2k::ReadJpeg2000(file, true, *this, planes);
        } else if (vxj2k::LooksLikeJpc(head, n)) {
            format = VX_FORMAT_JPC;
            vxj2k::ReadJpeg2000(file, false, *this, planes);
        } else if (vxj2k::LooksLikePgx(head, n)) {
            format = VX_FORMAT_PGX;
            vxj2k::ReadPgx(file, *this, planes);
        } else if (vxj2k::LooksLikePnm(head, n)) {
            format = VX_FORMAT_PNM;
            vxj2k::ReadPnm(file, *this, planes);
        } else if (vxj2k::LooksLikeRas(head, n)) {
            format = VX_FORMAT_RAS;
            vxj2k::ReadRas(file, *this, planes);
        } else if (n >= 2 && head[0] == 'B' && head[1] == 'M') {
            // The dispatch's own BMP codec reads it into this object.
            return VxImage::Decode(file, VX_FORMAT_BMP);
        } else {
            throw VxCodecFailure(kBadData);
        }
        if (DimensionsOnly()) return true;  // the reader has answered
        FromPlanes(planes, format);
        return true;
    });
}

void VxJpeg2000Codec::FromPlanes(const Planes& in, uint32_t format) {
    const size_t count = in.comps.size();
    if (count == 0) throw VxCodecFailure(kBadData);
    if (count > 64) throw VxCodecFailure("error: too much components");
    const Plane& p0 = in.comps[0];

    // A bare code stream cannot mark a component as opacity: one past the
    // colours on the picture's grid is taken as alpha, as other readers do.
    // The library may lose the mark of an opacity channel the file defines
    // (one listed first comes out last, unmarked): such a file is read the
    // same way.
    bool marked = false;
    for (const Plane& c : in.comps) marked |= c.alpha;
    const bool bare = format == VX_FORMAT_JPC || (format == VX_FORMAT_JP2 && declaredOpacity_ && !marked);
    auto opacity = [&](size_t i) -> const Plane* {
        if (i + 1 != count) return nullptr;
        const Plane& a = in.comps[i];
        const bool onGrid = a.width == p0.width && a.height == p0.height && a.dx == p0.dx &&
                            a.dy == p0.dy && p0.dx == 1 && p0.dy == 1;
        return onGrid && (a.alpha || bare) ? &a : nullptr;
    };

    if (in.space == vxj2k::ColourSpace::CMYK && count >= 4 && count <= 5 &&
        SameGrid(p0, in.comps[1]) && SameGrid(p0, in.comps[2]) && SameGrid(p0, in.comps[3]) &&
        (count == 4 || opacity(4))) {
        CreateColour(p0, count == 5 ? &in.comps[4] : nullptr, format);
        const uint32_t h = p0.height;
        vxj2k::CmykToBgr8(in, p0.width, h, [&](uint32_t y) { return GetBits(h - 1 - y); });
        return;
    }

    const bool triple = count >= 3 && SameGrid(p0, in.comps[1]) && SameGrid(p0, in.comps[2]);
    const bool sycc = SyccTriple(in);
    const Plane* alpha = count == 4 ? opacity(3) : nullptr;
    // Three components are a colour picture, four when the last is opacity;
    // more are read one at a time unless their precision asks for the
    // conversion, which keeps the colour ones.
    const bool colour = (triple || sycc) && (count == 3 || alpha || !NativeDepth(p0));
    if (colour) {
        const size_t used = alpha ? 4 : 3;
        if (triple && count == used && KeepsDeep(in, used)) {
            const Plane* comps[4] = {&in.comps[0], &in.comps[1], &in.comps[2], alpha};
            KeepDeep(comps, used, format);
            return;
        }
        CreateColour(p0, alpha, format);
        const uint32_t h = p0.height;
        vxj2k::ColourToBgr8(in, p0.width, h, [&](uint32_t y) { return GetBits(h - 1 - y); });
        return;
    }
    if (count == 2 && (alpha = opacity(1)) != nullptr) {
        if (KeepsDeep(in, 2)) {
            const Plane* comps[2] = {&in.comps[0], alpha};
            KeepDeep(comps, 2, format);
            return;
        }
        // Grey with opacity: 8-bit grey, whatever the precision.
        VxRequirePicture(*this, p0.width, p0.height, 8);
        if (!Create(p0.width, p0.height, 8, format)) throw VxCodecFailure("Can't allocate memory");
        SetGrayPalette();
        FillAlpha(*alpha);
        for (uint32_t y = 0; y < p0.height; ++y) {
            const int32_t* src = p0.data + size_t(y) * p0.width;
            uint8_t* dst = GetBits(p0.height - 1 - y);
            for (uint32_t x = 0; x < p0.width; ++x) dst[x] = vxj2k::To8(p0, src[x]);
        }
        return;
    }

    Info.NumFrames = int32_t(count);
    if (Info.Frame < 0 || size_t(Info.Frame) >= count) throw VxCodecFailure("wrong frame!");
    const Plane& p = in.comps[size_t(Info.Frame)];
    if (count == 1 && KeepsDeep(in, 1)) {
        const Plane* comps[1] = {&p};
        KeepDeep(comps, 1, format);
        return;
    }
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

void VxJpeg2000Codec::CreateColour(const Plane& p0, const Plane* alpha, uint32_t format) {
    VxRequirePicture(*this, p0.width, p0.height, 24);
    if (!Create(p0.width, p0.height, 24, format)) throw VxCodecFailure("Can't allocate memory");
    if (alpha) FillAlpha(*alpha);
}

void VxJpeg2000Codec::FillAlpha(const Plane& a) {
    if (!AlphaCreate()) throw VxCodecFailure("Can't allocate memory");
    for (uint32_t y = 0; y < a.height; ++y) {
        const int32_t* src = a.data + size_t(y) * a.width;
        uint8_t* dst = AlphaGetPointer(0, int32_t(a.height - 1 - y));
        for (uint32_t x = 0; x < a.width; ++x) dst[x] = vxj2k::To8(a, src[x]);
    }
}

bool VxJpeg2000Codec::Encode(VxFile* file, uint32_t type) {
    if (EncodeSafeCheck(file)) return false;
    // Palette pictures are written as grey: the identity ramp, and black and
    // white (1 bit, either order).
    RGBQUAD* const palette = GetPalette();
    if (palette && !IsGrayScale() && !IsBlackAndWhite()) {
        SetLastError("Jpeg2000 只能保存为RGB或灰度图像");
        return false;
    }
    return vx::RunCodec(*this, "error : can't allocate memory", [&] {
        const bool files = type == VX_FORMAT_JP2 || type == VX_FORMAT_JPC;
        const VxDeepPlane* deep = vx::DeepToWrite(*this, type == VX_FORMAT_RAS ? 8 : 16);
        if (deep && (!deep->HasAlpha() || files)) {
            WriteDeep(file, type, *deep);
            return true;
        }
        const bool grey = palette != nullptr;
        // Only the JPEG-2000 files keep opacity, as one more component.
        const bool alpha = AlphaIsValid() && files;
        const uint32_t w = GetWidth(), h = GetHeight();
        Planes planes;
        planes.comps.resize((grey ? 1 : 3) + (alpha ? 1 : 0));
        for (auto& p : planes.comps) p.Allocate(w, h, 8);
        if (alpha) planes.comps.back().alpha = true;
        uint8_t level[256];
        for (uint32_t i = 0; i < 256; ++i)
            level[i] = grey && i < Header.biClrUsed ? palette[i].rgbRed : uint8_t(i);
        planes.space = grey ? vxj2k::ColourSpace::Gray : vxj2k::ColourSpace::SRGB;
        for (uint32_t y = 0; y < h; ++y) {
            const uint32_t top = h - 1 - y;
            if (grey) {
                int32_t* d = planes.comps[0].Row(top);
                for (uint32_t x = 0; x < w; ++x)
                    d[x] = level[BlindGetPixelIndex(int32_t(x), int32_t(y))];
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
            if (alpha) {
                const uint8_t* a = AlphaGetPointer(0, int32_t(y));
                int32_t* d = planes.comps.back().Row(top);
                for (uint32_t x = 0; x < w; ++x) d[x] = a[x];
            }
        }
        switch (type) {
            case VX_FORMAT_JP2:
            case VX_FORMAT_JPC:
                vxj2k::WriteJpeg2000(file, type == VX_FORMAT_JP2, planes, Info.JpegQuality, GetThreads());
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
    });
}

void VxJpeg2000Codec::WriteDeep(VxFile* file, uint32_t type, const VxDeepPlane& deep) {
    const uint32_t w = deep.width, h = deep.height, ch = deep.channels;
    if (type == VX_FORMAT_PGX && deep.Colour())
        throw VxCodecFailure("PGX can save only GrayScale images");
    Planes planes;
    planes.comps.resize(ch);
    for (auto& p : planes.comps) p.Allocate(w, h, deep.bits);
    if (deep.HasAlpha()) planes.comps.back().alpha = true;
    planes.space = deep.Colour() ? vxj2k::ColourSpace::SRGB : vxj2k::ColourSpace::Gray;
    for (uint32_t y = 0; y < h; ++y) {
        const uint16_t* s = deep.Row(y);
        for (uint32_t x = 0; x < w; ++x)
            for (uint32_t c = 0; c < ch; ++c)
                planes.comps[c].Row(y)[x] = int32_t(vx::NarrowSample(*s++, deep.bits));
    }
    switch (type) {
        case VX_FORMAT_JP2:
        case VX_FORMAT_JPC:
            vxj2k::WriteJpeg2000(file, type == VX_FORMAT_JP2, planes, Info.JpegQuality, GetThreads());
            break;
        case VX_FORMAT_PGX: vxj2k::WritePgx(file, planes); break;
        case VX_FORMAT_PNM: vxj2k::WritePnm(file, planes); break;
        default: throw VxCodecFailure("error: cannot encode image\n");
    }
}
