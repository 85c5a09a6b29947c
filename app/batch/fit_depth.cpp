#include "app/batch/fit_depth.h"

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

}  // namespace

void FitDepth(ImageHandle* handle, ImageFormat target) {
    if (!handle || !*handle || !(*handle)->IsValid()) return;
    VxImage& img = **handle;
    const int16_t bpp = ImageFacade::GetBpp(handle);
    switch (target) {
        case VX_FORMAT_GIF:
            if (bpp > 8) ImageFacade::DecreaseBpp(handle, 8, 0);
            break;
        case VX_FORMAT_JPG:
        case VX_FORMAT_JP2:
        case VX_FORMAT_JPC:
        case VX_FORMAT_PNM:
        case VX_FORMAT_RAS:
            if (img.IsIndexed() && !img.IsGrayScale()) img.IncreaseBpp(24);
            break;
        case VX_FORMAT_TGA:
            if (bpp < 8) img.IncreaseBpp(8);
            break;
        case VX_FORMAT_PGX:
            if (!img.IsGrayScale()) ToGrey8(img);
            break;
        case VX_FORMAT_WBMP:
            if (bpp != 1) ImageFacade::DecreaseBpp(handle, 1, 0);
            break;
        default:
            break;
    }
}

}  // namespace vellumar::batch
