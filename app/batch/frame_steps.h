// The frames of an animated source on their way to a target that animates:
// each one through the row's steps and depth fitting, as the first frame is.
#pragma once

#include <cstdint>
#include <string>

#include "app/batch/picture_steps.h"
#include "core/vx_format.h"

class VxImage;

namespace vellumar::batch {

// Whether a row into `target` keeps every frame (unless one was picked):
// an animation's frames, or the pages of a paged source.
bool TargetAnimates(ImageFormat target);
// Whether a row into `target` keeps every page of a paged source.
bool TargetKeepsPages(ImageFormat target);

// Replaces `img`'s frames by their fitted copies, or drops them when the
// target cannot animate. `orientation` is the source's EXIF orientation (the
// frames are turned as the picture was). False with the reason in `error`.
bool CarryFrames(VxImage& img, ImageFormat target, const PictureSteps& steps,
                 int32_t orientation, std::string& error);

}  // namespace vellumar::batch
