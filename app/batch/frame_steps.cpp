#include "app/batch/frame_steps.h"

#include <memory>
#include <new>

#include "app/batch/fit_depth.h"
#include "core/vx_codec.h"
#include "core/vx_frames.h"
#include "core/vx_image.h"

namespace vellumar::batch {

bool TargetAnimates(ImageFormat target) {
    const VxFormatCaps* caps = VxFindFormatCaps(target);
    return caps && (caps->pictures & (kVxWritesFrames | kVxWritesPages));
}

bool TargetKeepsPages(ImageFormat target) {
    const VxFormatCaps* caps = VxFindFormatCaps(target);
    return caps && (caps->pictures & kVxWritesPages);
}

namespace {

// Pages may differ in size, which an animation's frames never do.
bool FramesArePages(const VxImage& img) {
    const VxFormatCaps* caps = VxFindFormatCaps(ImageFormat(img.GetType()));
    return caps && (caps->pictures & kVxReadsPages) && !(caps->pictures & kVxReadsFrames);
}

}  // namespace

bool CarryFrames(VxImage& img, ImageFormat target, const PictureSteps& steps,
                 int32_t orientation, std::string& error) {
    const VxFramesRef from = img.GetAnimationRef();
    if (!from) return true;
    img.SetAnimation(nullptr);
    if (!TargetAnimates(target) || (FramesArePages(img) && !TargetKeepsPages(target))) return true;
    auto fitted = std::make_shared<VxFrames>();
    fitted->plays = from->plays;
    fitted->frames.reserve(from->frames.size());
    for (const VxFrame& f : from->frames) {
        if (img.Cancelled()) {
            error = "cancelled";
            return false;
        }
        ImageHandle frame = new (std::nothrow) VxImage(*f.picture);
        std::shared_ptr<VxImage> owned(frame);
        if (!frame || !frame->IsValid()) {
            error = "cannot copy a frame of the animation";
            return false;
        }
        frame->SetOrientation(orientation);
        if (!ShapePicture(*frame, steps, error)) return false;
        FitDepth(&frame, target, steps.colours);  // in place: `owned` still holds it
        fitted->frames.push_back({std::move(owned), f.delayMs});
    }
    img.SetAnimation(std::move(fitted));
    return true;
}

}  // namespace vellumar::batch
