#include "codecs/jpeg2000/vx_jp2_colour.h"

#include <lcms2.h>

#include <cmath>

namespace vxj2k {

namespace {

void QuietLcms(cmsContext, cmsUInt32Number, const char*) {}

struct Lcms {
    cmsContext ctx = nullptr;
    cmsHPROFILE in = nullptr;
    cmsHPROFILE out = nullptr;
    cmsHTRANSFORM xform = nullptr;
    ~Lcms() {
        if (xform) cmsDeleteTransform(xform);
        if (in) cmsCloseProfile(in);
        if (out) cmsCloseProfile(out);
        if (ctx) cmsDeleteContext(ctx);
    }
};

// Sample of plane p at picture position (x, y), honouring sub-sampling.
inline int64_t At(const Plane& p, uint32_t x, uint32_t y) {
    uint32_t px = x / p.dx, py = y / p.dy;
    if (px >= p.width) px = p.width - 1;
    if (py >= p.height) py = p.height - 1;
    int64_t v = p.data[size_t(py) * p.width + px];
    if (p.sgnd) v += int64_t(1) << (p.prec - 1);
    return v;
}

inline int64_t Clamp(int64_t v, int64_t hi) { return v < 0 ? 0 : v > hi ? hi : v; }

}  // namespace

void ColourToBgr8(const Planes& in, uint32_t width, uint32_t height,
                  const std::function<uint8_t*(uint32_t)>& row) {
    const Plane& p0 = in.comps[0];
    const Plane& p1 = in.comps[1];
    const Plane& p2 = in.comps[2];
    const bool sycc = in.space == ColourSpace::SYCC;

    Lcms lcms;
    if (in.icc) {
        lcms.ctx = cmsCreateContext(nullptr, nullptr);
        if (!lcms.ctx) throw VxCodecFailure("cannot create sRGB profile");
        cmsSetLogErrorHandlerTHR(lcms.ctx, QuietLcms);
        lcms.out = cmsCreate_sRGBProfileTHR(lcms.ctx);
        if (!lcms.out) throw VxCodecFailure("cannot create sRGB profile");
        lcms.in = cmsOpenProfileFromMemTHR(lcms.ctx, in.icc, cmsUInt32Number(in.iccLength));
        if (!lcms.in || cmsGetColorSpace(lcms.in) != cmsSigRgbData)
            throw VxCodecFailure("cannot convert to sRGB");
        lcms.xform = cmsCreateTransformTHR(lcms.ctx, lcms.in, TYPE_RGB_16, lcms.out, TYPE_BGR_8,
                                           INTENT_PERCEPTUAL, 0);
        if (!lcms.xform) throw VxCodecFailure("cannot convert to sRGB");
    }

    // After the sYCC conversion every channel has the luma range.
    const int64_t m0 = p0.maxval;
    const int64_t m1 = sycc ? m0 : p1.maxval;
    const int64_t m2 = sycc ? m0 : p2.maxval;
    const double cbZero = double((int64_t(p1.maxval) + 1) / 2);
    const double crZero = double((int64_t(p2.maxval) + 1) / 2);
    std::vector<uint16_t> wide(lcms.xform ? size_t(width) * 3 : 0);
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t* dst = row(y);
        for (uint32_t x = 0; x < width; ++x) {
            int64_t r = At(p0, x, y), g = At(p1, x, y), b = At(p2, x, y);
            if (sycc) {
                // ITU-R BT.601 full range, chroma centred on half the range.
                const double yy = double(r);
                const double cb = double(g) - cbZero;
                const double cr = double(b) - crZero;
                r = std::lround(yy + 1.402 * cr);
                g = std::lround(yy - 0.344136 * cb - 0.714136 * cr);
                b = std::lround(yy + 1.772 * cb);
            }
            r = Clamp(r, m0);
            g = Clamp(g, m1);
            b = Clamp(b, m2);
            if (lcms.xform) {
                uint16_t* w = &wide[size_t(x) * 3];
                w[0] = uint16_t((r * 65535 + m0 / 2) / m0);
                w[1] = uint16_t((g * 65535 + m1 / 2) / m1);
                w[2] = uint16_t((b * 65535 + m2 / 2) / m2);
            } else {
                dst[3 * size_t(x)] = uint8_t(m2 == 255 ? b : (b * 255 + m2 / 2) / m2);
                dst[3 * size_t(x) + 1] = uint8_t(m1 == 255 ? g : (g * 255 + m1 / 2) / m1);
                dst[3 * size_t(x) + 2] = uint8_t(m0 == 255 ? r : (r * 255 + m0 / 2) / m0);
            }
        }
        if (lcms.xform) cmsDoTransform(lcms.xform, wide.data(), dst, width);
    }
}

void CmykToBgr8(const Planes& in, uint32_t width, uint32_t height,
                const std::function<uint8_t*(uint32_t)>& row) {
    const Plane* inks[4] = {&in.comps[0], &in.comps[1], &in.comps[2], &in.comps[3]};
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t* dst = row(y);
        const size_t at = size_t(y) * width;
        for (uint32_t x = 0; x < width; ++x) {
            uint32_t light[4];
            for (int i = 0; i < 4; ++i) light[i] = 255u - To8(*inks[i], inks[i]->data[at + x]);
            for (int i = 0; i < 3; ++i)
                dst[3 * size_t(x) + 2 - i] = uint8_t((light[i] * light[3] + 127) / 255);
        }
    }
}

}  // namespace vxj2k
