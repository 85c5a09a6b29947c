#include "app/batch/picture_steps.h"

#include <utility>

#include "core/vx_exif_edit.h"
#include "core/vx_image.h"
#include "core/vx_orientation.h"

namespace vellumar::batch {

namespace {

// The EXIF block describes the pixels as they now stand: upright, this size.
void FitExif(VxImage& img, int32_t orientation) {
    const auto exif = img.GetExif();
    if (!exif.empty())
        img.SetExif(vx::ExifFitted(exif, orientation, img.GetWidth(), img.GetHeight()));
}

}  // namespace

bool ShapePicture(VxImage& img, const PictureSteps& steps, std::string& error,
                  uint32_t storedWidth, uint32_t storedHeight) {
    if (storedWidth == 0 || storedHeight == 0) {
        storedWidth = img.GetWidth();
        storedHeight = img.GetHeight();
    }
    const int32_t stored = img.GetOrientation();
    if (!steps.keepOrientation && stored >= 2 && stored <= 8) {
        if (!vx::ApplyOrientation(img, stored)) {
            error = "cannot turn the picture upright";
            return false;
        }
        FitExif(img, 1);
        // Orientations 5 to 8 turn the picture a quarter.
        if (stored >= 5) std::swap(storedWidth, storedHeight);
    }
    uint32_t w = 0, h = 0;
    vx::ResizedSize(steps.resize, storedWidth, storedHeight, w, h);
    if (w != img.GetWidth() || h != img.GetHeight()) {
        if (!vx::Resample(img, w, h)) {
            error = img.GetLastError();
            if (error.empty()) error = "cannot resize the picture";
            return false;
        }
        FitExif(img, 0);
    }
    return true;
}

}  // namespace vellumar::batch
