#include "app/batch/metadata_step.h"

#include "codecs/jpeg/vx_image_jpg.h"
#include "codecs/tiff/vx_image_tif.h"
#include "core/vx_image.h"
#include "core/vx_srgb.h"

namespace vellumar::batch {

namespace {

// Whether the target's writer embeds this profile with the samples it writes.
bool ProfileWritten(const VxImage& img, ImageFormat target) {
    const auto icc = img.GetIccProfile();
    switch (target) {
        case VX_FORMAT_JPG: return vx::ProfileFits(icc, VxImageJPG::WritesGrey(img));
        case VX_FORMAT_TIF: return vx::ProfileFits(icc, VxImageTIF::WritesGrey(img));
        case VX_FORMAT_PNG: return vx::ProfileFits(icc, false);
        default: return false;
    }
}

bool HoldsExif(ImageFormat target) {
    return target == VX_FORMAT_JPG || target == VX_FORMAT_PNG || target == VX_FORMAT_TIF;
}

}  // namespace

void SettleMetadata(VxImage& img, ImageFormat target, bool strip) {
    if (!img.GetIccProfile().empty() && (strip || !ProfileWritten(img, target)) &&
        !vx::ConvertToSrgb(img))
        img.SetIccProfile({});
    if (strip || !HoldsExif(target)) img.SetExif({});
}

}  // namespace vellumar::batch
