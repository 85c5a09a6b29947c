// What a row's output keeps of the source's colour profile, EXIF block, XMP
// packet and IPTC records.
#pragma once

#include "core/vx_format.h"

class VxImage;

namespace vellumar::batch {

// After the depth fitting: a profile the target writes with the samples stays;
// otherwise the pixels are converted to sRGB and the profile goes (a profile
// Little CMS cannot use is dropped, pixels as stored). `strip` drops all of
// them; a target loses what its format cannot hold.
void SettleMetadata(VxImage& img, ImageFormat target, bool strip);

}  // namespace vellumar::batch
