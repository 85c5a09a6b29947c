#include "app/batch/fit_depth.h"

#include "core/vx_codec.h"
#include "core/vx_colour_reduce.h"
#include "core/vx_transparency.h"

namespace vellumar::batch {

namespace {

// An 8-bit grey picture (identity ramp) with each pixel's grey value.
void ToGrey8(VxImage& img) {
    const uint32_t w = img.GetWidth(), h = img.GetHeight();
    VxImage grey(img, false, false, false);
    if (!grey.Create(w, h, 8, img.GetType())) return;
    grey.SetGrayPalette();
    grey.SetXDPI(img.GetXDPI());
    grey.SetYDPI(img.GetYDPI());
    for (uint32_t y = 0; y < h; ++y) {
        uint8_t* row = grey.GetBits(y);
        for (uint32_t x = 0; x < w; ++x) row[x] = img.GetPixelGray(int32_t(x), int32_t(y));
    }
    img.Transfer(grey);
}

// The writers' own form: a 24-bit picture whose alpha plane says it all, or
// an 8-bit grey one where the writer takes that too.
bool InPlaneForm(const VxImage& img, VxAlphaForm form) {
    if (!img.AlphaIsValid() || img.GetTransIndex() >= 0) return false;
    if (img.GetBpp() == 24) return true;
    return form == VxAlphaForm::PlaneOrGrey && img.GetBpp() == 8 && img.IsGrayScale() &&
           !img.AlphaPaletteIsEnabled();
}

void ToAlphaPlane(VxImage& img, VxAlphaForm form) {
    if (InPlaneForm(img, form) || !vx::HasTransparency(img)) return;
    if (vx::JoinIntoAlphaPlane(img)) img.IncreaseBpp(24);
}

// To `bits` with the chosen palette and dithering; the default is the
// facade's fixed palette, nearest colour.
void Reduce(ImageHandle* handle, uint32_t bits, const vx::ColourReduction& colours) {
    if (colours.IsDefault()) ImageFacade::DecreaseBpp(handle, int32_t(bits), 0);
    else vx::ReduceColours(**handle, bits, colours);
}

void ReduceTo8(ImageHandle* handle, const vx::ColourReduction& colours) {
    if ((*handle)->GetBpp() > 8) Reduce(handle, 8, colours);
}

void ToGif(ImageHandle* handle, const vx::ColourReduction& colours) {
    VxImage& img = **handle;
    // A palette picture whose only transparency is its index is written as it is.
    const bool indexOnly = img.IsIndexed() && !img.AlphaIsValid() && !img.AlphaPaletteIsEnabled();
    const bool colourKey = !img.IsIndexed() && img.GetTransIndex() >= 0;
    if (indexOnly || (!colourKey && !vx::HasTransparency(img))) {
        ReduceTo8(handle, colours);
        return;
    }
    const int32_t ownIndex = img.IsIndexed() ? img.GetTransIndex() : -1;
    if (!vx::JoinIntoAlphaPlane(img)) return;
    // An adaptive palette already keeps an entry for the clear pixels alone,
    // which the reservation then takes.
    ReduceTo8(handle, colours);
    vx::ReserveTransparentIndex(img, ownIndex);
}

// The deepest palette depth the writer takes, and the next one up from
// `bits` (0: none).
uint32_t DeepestDepth(VxDepthSet depths) {
    for (uint32_t bits = 8; bits >= 1; --bits)
        if (VxHasDepth(depths, bits)) return bits;
    return 0;
}

uint32_t NextDepthUp(VxDepthSet depths, uint32_t bits) {
    for (uint32_t b = bits + 1; b <= 8; ++b)
        if (VxHasDepth(depths, b)) return b;
    return 0;
}

// A picture the writer does not take as it is becomes the nearest one it
// does: true colour where it takes that, else grey where it takes grey, else
// a palette of its deepest depth; a palette of a depth it lacks is widened to
// the next depth it has, or reduced.
void ToFormTaken(ImageHandle* handle, const VxFormatCaps& caps, const vx::ColourReduction& colours) {
    VxImage& img = **handle;
    const uint8_t forms = caps.forms;
    const uint32_t bpp = uint32_t(ImageFacade::GetBpp(handle));
    const auto elsewhere = [&] {
        if (forms & kVxTrueColour) img.IncreaseBpp(24);
        else if (forms & kVxGreyRamp) ToGrey8(img);
        else if (const uint32_t bits = DeepestDepth(caps.depths)) Reduce(handle, bits, colours);
    };
    if (!img.IsIndexed()) {
        if (!(forms & kVxTrueColour)) elsewhere();
        return;
    }
    const bool paletteTaken = (forms & kVxPalette) ||
                              ((forms & kVxGreyRamp) && img.IsGrayScale()) ||
                              ((forms & kVxBilevel) && img.IsBlackAndWhite());
    if (!paletteTaken) {
        elsewhere();
    } else if (!VxHasDepth(caps.depths, bpp)) {
        if (const uint32_t up = NextDepthUp(caps.depths, bpp)) img.IncreaseBpp(up);
        else if (const uint32_t bits = DeepestDepth(caps.depths)) Reduce(handle, bits, colours);
    }
}

}  // namespace

void FitDepth(ImageHandle* handle, ImageFormat target, const vx::ColourReduction& colours) {
    if (!handle || !*handle || !(*handle)->IsValid()) return;
    const VxFormatCaps* caps = VxFindFormatCaps(target);
    if (!caps || !caps->writes) return;
    VxImage& img = **handle;
    // 8-bit writers take the block, rounded from the deep samples already.
    if (caps->sampleBits <= 8) img.SetDeep(nullptr);
    switch (caps->alpha) {
        case VxAlphaForm::AsItIs: break;
        case VxAlphaForm::MaskOrPlane:
            if (img.IsIndexed() && vx::ClarityOf(img) == vx::Clarity::Partial)
                ToAlphaPlane(img, caps->alpha);
            break;
        case VxAlphaForm::Plane:
        case VxAlphaForm::PlaneOrGrey: ToAlphaPlane(img, caps->alpha); break;
        case VxAlphaForm::OneIndex: ToGif(handle, colours); return;
        case VxAlphaForm::None: vx::CompositeOnWhite(img); break;
    }
    ToFormTaken(handle, *caps, colours);
}

void WidenSamples(VxImage& img, ImageFormat target) {
    const VxFormatCaps* caps = VxFindFormatCaps(target);
    if (!caps || caps->sampleBits <= 8 || !img.IsValid() || vx::SampleBits(img) > 8) return;
    if (VxDeepRef deep = vx::DeepFromBlock(img)) img.SetDeep(std::move(deep));
}

}  // namespace vellumar::batch
