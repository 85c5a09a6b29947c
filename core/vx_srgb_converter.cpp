#include "core/vx_srgb_converter.h"

#include <lcms2.h>

#include <cmath>

namespace vx {

namespace {

void QuietLcms(cmsContext, cmsUInt32Number, const char*) {}

cmsUInt32Number LcmsType(SrgbConverter::Layout layout) {
    switch (layout) {
        case SrgbConverter::Layout::Rgb8: return TYPE_RGB_8;
        case SrgbConverter::Layout::Rgba8: return TYPE_RGBA_8;
        case SrgbConverter::Layout::Rgb16: return TYPE_RGB_16;
        case SrgbConverter::Layout::Rgba16: return TYPE_RGBA_16;
    }
    return TYPE_RGB_8;
}

bool Near(const cmsCIEXYZ* a, const cmsCIEXYZ* b) {
    constexpr double kTolerance = 0.002;
    return a && b && std::fabs(a->X - b->X) < kTolerance && std::fabs(a->Y - b->Y) < kTolerance &&
           std::fabs(a->Z - b->Z) < kTolerance;
}

bool SameCurve(const cmsToneCurve* a, const cmsToneCurve* b) {
    if (!a || !b) return false;
    for (int i = 0; i <= 16; ++i) {
        const float v = float(i) / 16;
        if (std::fabs(cmsEvalToneCurveFloat(a, v) - cmsEvalToneCurveFloat(b, v)) > 0.002f)
            return false;
    }
    return true;
}

// Many files carry an sRGB profile of their own; converting through it would
// only add rounding.
bool DescribesSrgb(cmsHPROFILE p, cmsHPROFILE srgb) {
    if (!cmsIsMatrixShaper(p)) return false;
    const cmsTagSignature colorants[] = {cmsSigRedColorantTag, cmsSigGreenColorantTag,
                                         cmsSigBlueColorantTag};
    for (cmsTagSignature t : colorants)
        if (!Near(static_cast<const cmsCIEXYZ*>(cmsReadTag(p, t)),
                  static_cast<const cmsCIEXYZ*>(cmsReadTag(srgb, t))))
            return false;
    const cmsTagSignature curves[] = {cmsSigRedTRCTag, cmsSigGreenTRCTag, cmsSigBlueTRCTag};
    for (cmsTagSignature t : curves)
        if (!SameCurve(static_cast<const cmsToneCurve*>(cmsReadTag(p, t)),
                       static_cast<const cmsToneCurve*>(cmsReadTag(srgb, t))))
            return false;
    return true;
}

}  // namespace

SrgbConverter::~SrgbConverter() { Close(); }

void SrgbConverter::Close() {
    if (xform_) cmsDeleteTransform(static_cast<cmsHTRANSFORM>(xform_));
    if (ctx_) cmsDeleteContext(static_cast<cmsContext>(ctx_));
    xform_ = ctx_ = nullptr;
}

bool SrgbConverter::Open(const uint8_t* icc, size_t size, Layout layout) {
    Close();
    if (!icc || size < 128 || size > 0xFFFFFFFFu) return false;
    cmsContext ctx = cmsCreateContext(nullptr, nullptr);
    if (!ctx) return false;
    ctx_ = ctx;
    cmsSetLogErrorHandlerTHR(ctx, QuietLcms);
    cmsHPROFILE in = cmsOpenProfileFromMemTHR(ctx, icc, cmsUInt32Number(size));
    cmsHPROFILE srgb = cmsCreate_sRGBProfileTHR(ctx);
    if (in && srgb && cmsGetColorSpace(in) == cmsSigRgbData && !DescribesSrgb(in, srgb)) {
        const cmsUInt32Number type = LcmsType(layout);
        xform_ = cmsCreateTransformTHR(ctx, in, type, srgb, type, INTENT_PERCEPTUAL,
                                       cmsFLAGS_COPY_ALPHA);
    }
    if (in) cmsCloseProfile(in);
    if (srgb) cmsCloseProfile(srgb);
    if (!xform_) Close();
    return xform_ != nullptr;
}

void SrgbConverter::Convert(void* row, uint32_t width) const {
    if (xform_) cmsDoTransform(static_cast<cmsHTRANSFORM>(xform_), row, row, width);
}

}  // namespace vx
