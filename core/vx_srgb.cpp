#include "core/vx_srgb.h"

#include <lcms2.h>

#include <cstdlib>
#include <memory>

#include "core/vx_deep.h"
#include "core/vx_image.h"

namespace vx {

namespace {

void Quiet(cmsContext, cmsUInt32Number, const char*) {}

// Every Little CMS object of one conversion, released together.
struct Lcms {
    cmsContext ctx = cmsCreateContext(nullptr, nullptr);
    cmsHPROFILE in = nullptr, out = nullptr;
    cmsToneCurve* curve = nullptr;
    cmsHTRANSFORM xform = nullptr;
    Lcms() {
        if (ctx) cmsSetLogErrorHandlerTHR(ctx, Quiet);
    }
    ~Lcms() {
        if (xform) cmsDeleteTransform(xform);
        if (curve) cmsFreeToneCurve(curve);
        if (in) cmsCloseProfile(in);
        if (out) cmsCloseProfile(out);
        if (ctx) cmsDeleteContext(ctx);
    }
    Lcms(const Lcms&) = delete;
    Lcms& operator=(const Lcms&) = delete;
};

// A grey profile with sRGB's tone curve and white point: sRGB for one channel.
cmsHPROFILE SrgbGrey(Lcms& l) {
    static const cmsFloat64Number kSrgbCurve[5] = {2.4, 1.0 / 1.055, 0.055 / 1.055, 1.0 / 12.92,
                                                   0.04045};
    l.curve = cmsBuildParametricToneCurve(l.ctx, 4, kSrgbCurve);
    if (!l.curve) return nullptr;
    cmsCIExyY d65;
    cmsWhitePointFromTemp(&d65, 6504);
    return cmsCreateGrayProfileTHR(l.ctx, &d65, l.curve);
}

void MapIndices(VxImage& img, const uint8_t lut[256]) {
    for (uint32_t y = 0; y < img.GetHeight(); ++y) {
        uint8_t* row = img.GetBits(y);
        for (uint32_t x = 0; x < img.GetWidth(); ++x) row[x] = lut[row[x]];
    }
}

// Every channel byte of the picture (24-bit samples or palette entries) and
// its transparent colour through one table.
void MapChannels(VxImage& img, const uint8_t lut[256]) {
    if (img.IsIndexed()) {
        RGBQUAD* pal = img.GetPalette();
        for (uint32_t i = 0; i < img.GetNumColors(); ++i) {
            pal[i].rgbBlue = lut[pal[i].rgbBlue];
            pal[i].rgbGreen = lut[pal[i].rgbGreen];
            pal[i].rgbRed = lut[pal[i].rgbRed];
        }
        img.SetPalette(pal, img.GetNumColors());
        return;
    }
    for (uint32_t y = 0; y < img.GetHeight(); ++y) {
        uint8_t* row = img.GetBits(y);
        for (size_t i = 0; i < size_t(img.GetWidth()) * 3; ++i) row[i] = lut[row[i]];
    }
    RGBQUAD key = img.GetTransColor();
    key = MakeRGBQUAD(lut[key.rgbRed], lut[key.rgbGreen], lut[key.rgbBlue], key.rgbReserved);
    img.SetTransColor(key);
}

bool ConvertGrey(VxImage& img, Lcms& l) {
    l.out = SrgbGrey(l);
    if (!l.out) return false;
    l.xform = cmsCreateTransformTHR(l.ctx, l.in, TYPE_GRAY_8, l.out, TYPE_GRAY_8,
                                    INTENT_PERCEPTUAL, 0);
    if (!l.xform) return false;
    uint8_t ramp[256], lut[256];
    for (int i = 0; i < 256; ++i) ramp[i] = uint8_t(i);
    cmsDoTransform(l.xform, ramp, lut, 256);
    if (IsGreyPicture(img)) MapIndices(img, lut);
    else MapChannels(img, lut);
    return true;
}

bool ConvertRgb(VxImage& img, Lcms& l) {
    l.out = cmsCreate_sRGBProfileTHR(l.ctx);
    if (!l.out) return false;
    l.xform = cmsCreateTransformTHR(l.ctx, l.in, TYPE_BGR_8, l.out, TYPE_BGR_8, INTENT_PERCEPTUAL, 0);
    if (!l.xform) return false;
    if (img.IsIndexed()) {
        RGBQUAD* pal = img.GetPalette();
        const uint32_t n = img.GetNumColors();
        uint8_t bgr[256 * 3];
        for (uint32_t i = 0; i < n; ++i) {
            bgr[3 * i] = pal[i].rgbBlue;
            bgr[3 * i + 1] = pal[i].rgbGreen;
            bgr[3 * i + 2] = pal[i].rgbRed;
        }
        cmsDoTransform(l.xform, bgr, bgr, n);
        if (IsGreyPicture(img)) {
            uint8_t lut[256];
            for (int i = 0; i < 256; ++i) lut[i] = uint8_t(i);
            // Greys that come out within rounding of grey stay a grey ramp.
            bool neutral = true;
            for (uint32_t i = 0; i < n && neutral; ++i) {
                const int b = bgr[3 * i], g = bgr[3 * i + 1], r = bgr[3 * i + 2];
                neutral = std::abs(b - g) <= 2 && std::abs(r - g) <= 2;
                lut[i] = uint8_t(g);
            }
            if (neutral) {
                MapIndices(img, lut);
                return true;
            }
        }
        for (uint32_t i = 0; i < n; ++i)
            pal[i] = MakeRGBQUAD(bgr[3 * i + 2], bgr[3 * i + 1], bgr[3 * i], pal[i].rgbReserved);
        img.SetPalette(pal, n);
        return true;
    }
    if (img.GetBpp() != 24) return false;
    for (uint32_t y = 0; y < img.GetHeight(); ++y)
        cmsDoTransform(l.xform, img.GetBits(y), img.GetBits(y), img.GetWidth());
    if (img.GetTransIndex() >= 0) {
        RGBQUAD key = img.GetTransColor();
        uint8_t k[3] = {key.rgbBlue, key.rgbGreen, key.rgbRed};
        cmsDoTransform(l.xform, k, k, 1);
        img.SetTransColor(MakeRGBQUAD(k[2], k[1], k[0], key.rgbReserved));
    }
    return true;
}

// Whether the picture's deep samples are of the profile's space, to be
// converted at 16 bits instead of its block at 8.
bool DeepOfSpace(const VxImage& img, IccSpace space) {
    const VxDeepRef& deep = img.GetDeep();
    return deep && !deep->samples.empty() && deep->width == img.GetWidth() &&
           deep->height == img.GetHeight() && deep->Colour() == (space == IccSpace::Rgb);
}

// The block is made anew from the converted samples, so that none is cut to
// 8 bits on the way.
bool ConvertDeep(VxImage& img, Lcms& l, IccSpace space) {
    const VxDeepRef& deep = img.GetDeep();
    static constexpr cmsUInt32Number kFormats[] = {TYPE_GRAY_16, TYPE_GRAYA_16, TYPE_RGB_16,
                                                    TYPE_RGBA_16};
    const cmsUInt32Number format = kFormats[deep->channels - 1];
    l.out = space == IccSpace::Rgb ? cmsCreate_sRGBProfileTHR(l.ctx) : SrgbGrey(l);
    if (!l.out) return false;
    l.xform = cmsCreateTransformTHR(l.ctx, l.in, format, l.out, format, INTENT_PERCEPTUAL,
                                    deep->HasAlpha() ? cmsFLAGS_COPY_ALPHA : 0);
    if (!l.xform) return false;
    auto converted = std::make_shared<VxDeepPlane>(*deep);
    converted->light.clear();  // it described the samples before the change
    converted->hasLight = false;
    for (uint32_t y = 0; y < converted->height; ++y)
        cmsDoTransform(l.xform, converted->Row(y), converted->Row(y), converted->width);
    return SetDeepPicture(img, std::move(converted));
}

}  // namespace

IccSpace IccColourSpace(std::span<const uint8_t> icc) {
    if (icc.size() < 128) return IccSpace::Unknown;
    const uint32_t sig = LoadBE32(icc.data() + 16);
    if (sig == 0x52474220) return IccSpace::Rgb;   // 'RGB '
    if (sig == 0x47524159) return IccSpace::Grey;  // 'GRAY'
    return IccSpace::Unknown;
}

bool ProfileFits(std::span<const uint8_t> icc, bool greySamples) {
    return IccColourSpace(icc) == (greySamples ? IccSpace::Grey : IccSpace::Rgb) &&
           icc.size() < (1u << 24);
}

bool ProfileSound(std::span<const uint8_t> icc) {
    if (icc.size() < 128 || icc.size() > 0xFFFFFFFFu) return false;
    const uint32_t declared = uint32_t(icc[0]) << 24 | uint32_t(icc[1]) << 16 |
                              uint32_t(icc[2]) << 8 | icc[3];
    if (declared != icc.size()) return false;
    Lcms l;
    if (!l.ctx) return false;
    l.in = cmsOpenProfileFromMemTHR(l.ctx, icc.data(), cmsUInt32Number(icc.size()));
    return l.in != nullptr;
}

bool IsGreyPicture(const VxImage& img) { return img.GetBpp() == 8 && img.IsGrayScale(); }

bool ConvertToSrgb(VxImage& img) {
    const std::span<const uint8_t> icc = img.GetIccProfile();
    if (icc.empty()) return true;
    const IccSpace space = IccColourSpace(icc);
    if (!img.IsValid() || space == IccSpace::Unknown || icc.size() > 0xFFFFFFFFu) return false;
    Lcms l;
    if (!l.ctx) return false;
    l.in = cmsOpenProfileFromMemTHR(l.ctx, icc.data(), cmsUInt32Number(icc.size()));
    if (!l.in) return false;
    const cmsColorSpaceSignature sig = cmsGetColorSpace(l.in);
    const bool sameSpace = space == (sig == cmsSigGrayData ? IccSpace::Grey
                                     : sig == cmsSigRgbData ? IccSpace::Rgb
                                                            : IccSpace::Unknown);
    if (sameSpace && DeepOfSpace(img, space)) {
        if (!ConvertDeep(img, l, space)) return false;
        img.SetIccProfile({});
        return true;
    }
    bool ok = false;
    if (space == IccSpace::Grey && sig == cmsSigGrayData) ok = ConvertGrey(img, l);
    else if (space == IccSpace::Rgb && sig == cmsSigRgbData) ok = ConvertRgb(img, l);
    if (ok) {
        img.SetIccProfile({});
        // Converted at 8 bits: the deep samples no longer match.
        img.SetDeep(nullptr);
    }
    return ok;
}

}  // namespace vx
