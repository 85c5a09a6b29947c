// What a row's output keeps of the source's colour profile and EXIF block.
#pragma once

#include "core/vx_format.h"

class VxImage;

namespace vellumar::batch {

// After the depth fitting: a profile the target writes with the samples stays;
// otherwise the pixels are converted to sRGB and the profile goes (a profile
// Little CMS cannot use is dropped, pixels as stored). `strip` drops profile
// and EXIF block alike; targets without EXIF lose the block.
void SettleMetadata(VxImage& img, ImageFormat target, bool strip);

}  // namespace vellumar::batch
