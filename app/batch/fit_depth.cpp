#include "app/batch/fit_depth.h"

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

// How a target keeps what is transparent.
enum class AlphaRule {
    Kept,         // the writer stores every form as it is (PNG and the newer formats;
                  // WMF is never written)
    MaskOrPlane,  // ICO: a palette picture's on/off transparency as its mask, else 32-bit
    AlphaPlane,   // as 24-bit with an alpha plane; the writer knows no other form
    OneIndex,     // GIF: one transparent palette entry
    OverWhite,    // the format holds no transparency: composited on white
};

AlphaRule RuleFor(ImageFormat target) {
    switch (target) {
        case VX_FORMAT_PNG:
        case VX_FORMAT_WEBP:
        case VX_FORMAT_HEIF:
        case VX_FORMAT_AVIF:
        case VX_FORMAT_JXL:
        case VX_FORMAT_WMF: return AlphaRule::Kept;
        case VX_FORMAT_ICO: return AlphaRule::MaskOrPlane;
        case VX_FORMAT_TGA:
        case VX_FORMAT_TIF:
        case VX_FORMAT_JP2:
        case VX_FORMAT_JPC: return AlphaRule::AlphaPlane;
        case VX_FORMAT_GIF: return AlphaRule::OneIndex;
        default: return AlphaRule::OverWhite;
    }
}

// The writers' own form: a 24-bit picture whose alpha plane says it all, or
// (TIFF, JPEG-2000) an 8-bit grey one.
bool InPlaneForm(const VxImage& img, ImageFormat target) {
    if (!img.AlphaIsValid() || img.GetTransIndex() >= 0) return false;
    if (img.GetBpp() == 24) return true;
    const bool greyToo =
        target == VX_FORMAT_TIF || target == VX_FORMAT_JP2 || target == VX_FORMAT_JPC;
    return greyToo && img.GetBpp() == 8 && img.IsGrayScale() &&
           !img.AlphaPaletteIsEnabled();
}

void ToAlphaPlane(VxImage& img, ImageFormat target) {
    if (InPlaneForm(img, target) || !vx::HasTransparency(img)) return;
    if (vx::JoinIntoAlphaPlane(img)) img.IncreaseBpp(24);
}

// To 8 bits with the chosen palette and dithering; the default is the facade's
// fixed palette, nearest colour.
void ReduceTo8(ImageHandle* handle, const vx::ColourReduction& colours) {
    if ((*handle)->GetBpp() <= 8) return;
    if (colours.IsDefault()) ImageFacade::DecreaseBpp(handle, 8, 0);
    else vx::ReduceColours(**handle, 8, colours);
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

}  // namespace

void FitDepth(ImageHandle* handle, ImageFormat target, const vx::ColourReduction& colours) {
    if (!handle || !*handle || !(*handle)->IsValid()) return;
    VxImage& img = **handle;
    switch (RuleFor(target)) {
        case AlphaRule::Kept: break;
        case AlphaRule::MaskOrPlane:
            if (img.IsIndexed() && vx::ClarityOf(img) == vx::Clarity::Partial)
                ToAlphaPlane(img, target);
            break;
        case AlphaRule::AlphaPlane: ToAlphaPlane(img, target); break;
        case AlphaRule::OneIndex: ToGif(handle, colours); return;
        case AlphaRule::OverWhite: vx::CompositeOnWhite(img); break;
    }
    const int16_t bpp = ImageFacade::GetBpp(handle);
    switch (target) {
        case VX_FORMAT_JPG:
            if (img.IsIndexed() && !img.IsGrayScale()) img.IncreaseBpp(24);
            break;
        // These write black and white as grey.
        case VX_FORMAT_JP2:
        case VX_FORMAT_JPC:
        case VX_FORMAT_PNM:
        case VX_FORMAT_RAS:
            if (img.IsIndexed() && !img.IsGrayScale() && !img.IsBlackAndWhite())
                img.IncreaseBpp(24);
            break;
        case VX_FORMAT_TGA:
            if (bpp < 8) img.IncreaseBpp(8);
            break;
        case VX_FORMAT_PGX:
            if (!img.IsGrayScale()) ToGrey8(img);
            break;
        case VX_FORMAT_WBMP:
            if (bpp != 1 && !colours.IsDefault()) vx::ReduceColours(img, 1, colours);
            else if (bpp != 1) ImageFacade::DecreaseBpp(handle, 1, 0);
            break;
        default:
            break;
    }
}

}  // namespace vellumar::batch
