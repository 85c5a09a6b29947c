#include "app/batch/metadata_step.h"

#include "codecs/jpeg/vx_image_jpg.h"
#include "codecs/jxl/vx_jxl_codec.h"
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
        case VX_FORMAT_JXL: return vx::ProfileFits(icc, VxJxlCodec::WritesGrey(img));
        case VX_FORMAT_PNG:
        case VX_FORMAT_WEBP:
        case VX_FORMAT_HEIF:
        case VX_FORMAT_AVIF: return vx::ProfileFits(icc, false);
        default: return false;
    }
}

bool HoldsExif(ImageFormat target) {
    switch (target) {
        case VX_FORMAT_JPG:
        case VX_FORMAT_PNG:
        case VX_FORMAT_TIF:
        case VX_FORMAT_WEBP:
        case VX_FORMAT_HEIF:
        case VX_FORMAT_AVIF:
        case VX_FORMAT_JXL: return true;
        default: return false;
    }
}

}  // namespace

void SettleMetadata(VxImage& img, ImageFormat target, bool strip) {
    if (!img.GetIccProfile().empty() && (strip || !ProfileWritten(img, target)) &&
        !vx::ConvertToSrgb(img))
        img.SetIccProfile({});
    if (strip || !HoldsExif(target)) img.SetExif({});
}

}  // namespace vellumar::batch
