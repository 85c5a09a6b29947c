#include "app/batch/metadata_step.h"

#include "core/vx_codec.h"
#include "core/vx_exif_edit.h"
#include "core/vx_image.h"
#include "core/vx_srgb.h"

namespace vellumar::batch {

namespace {

// Whether the target's writer embeds this profile with the samples it writes.
bool ProfileWritten(const VxImage& img, const VxCodecEntry& target) {
    if (!(target.caps.metadata & kVxIcc)) return false;
    const bool grey = target.ops.writesGrey && target.ops.writesGrey(img);
    // One that lies about its size is not passed on, though its colours may
    // still be read.
    return vx::ProfileFits(img.GetIccProfile(), grey) && vx::ProfileSound(img.GetIccProfile());
}

}  // namespace

void SettleMetadata(VxImage& img, ImageFormat target, bool strip) {
    const VxCodecEntry* entry = VxFindCodecEntry(target);
    if (!img.GetIccProfile().empty() && (strip || !entry || !ProfileWritten(img, *entry)) &&
        !vx::ConvertToSrgb(img))
        img.SetIccProfile({});
    const uint8_t kept = strip || !entry ? 0 : entry->caps.metadata;
    if (!(kept & kVxExif)) img.SetExif({});
    else if (!img.GetExif().empty()) img.SetExif(vx::ExifWithoutBadOrientation(img.GetExif()));
    if (!(kept & kVxXmp)) img.SetXmp({});
    if (!(kept & kVxIptc)) img.SetIptc({});
}

}  // namespace vellumar::batch
