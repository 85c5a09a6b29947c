#include "app/batch/picture_steps.h"

#include "core/vx_image.h"
#include "core/vx_orientation.h"

namespace vellumar::batch {

bool ShapePicture(VxImage& img, const PictureSteps& steps, std::string& error) {
    if (!steps.keepOrientation && !vx::ApplyOrientation(img, img.GetOrientation())) {
        error = "cannot turn the picture upright";
        return false;
    }
    uint32_t w = 0, h = 0;
    vx::ResizedSize(steps.resize, img.GetWidth(), img.GetHeight(), w, h);
    if (w != img.GetWidth() || h != img.GetHeight()) {
        if (!vx::Resample(img, w, h)) {
            error = img.GetLastError();
            if (error.empty()) error = "cannot resize the picture";
            return false;
        }
    }
    return true;
}

}  // namespace vellumar::batch
