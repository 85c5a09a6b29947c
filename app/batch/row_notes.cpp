#include "app/batch/row_notes.h"

#include <algorithm>
#include <string>

#include "core/vx_codec.h"
#include "core/vx_deep.h"
#include "core/vx_frames.h"
#include "core/vx_image.h"
#include "core/vx_messages.h"

namespace vellumar::batch {

HeldFacts FactsOf(const VxImage& img) {
    HeldFacts facts;
    facts.frame = img.GetFrame();
    facts.frames = img.GetNumFrames() > 1 ? img.GetNumFrames() : 1;
    facts.picked = !img.WantsAnimation();
    facts.source = img.GetType();
    facts.profile = !img.GetIccProfile().empty();
    facts.bits = vx::SampleBits(img);
    facts.clarity = vx::ClarityOf(img);
    const VxDeepPlane* deep = img.GetDeep().get();
    facts.beyondWhite = deep && vx::LightBeyondWhite(*deep);
    return facts;
}

std::vector<VxNoteParts> LossNotes(const HeldFacts& before, const VxImage& after,
                                   ImageFormat target, bool stripped) {
    std::vector<VxNoteParts> notes;
    const VxFormatCaps* caps = VxFindFormatCaps(target);
    const std::string name = VxFormatName(target);
    // A frame picked for a target that animates is what was asked for.
    const bool animates = caps && (caps->pictures & (kVxWritesFrames | kVxWritesPages));
    const VxFrames* kept = after.GetAnimation();
    const bool carried = kept && kept->frames.size() == size_t(before.frames);
    if (before.frames > 1 && !(animates && (carried || before.picked))) {
        const VxFormatCaps* from = VxFindFormatCaps(before.source);
        const bool pages =
            from && (from->pictures & kVxReadsPages) && !(from->pictures & kVxReadsFrames);
        const uint8_t several = kVxWritesFrames | kVxWritesPages | kVxHoldsFrames;
        const bool many = caps && (caps->pictures & several);
        if (pages && many && before.frames > kVxMaxPagesKept)
            notes.push_back(VxNoteParts{"pages-too-many", {std::to_string(before.frame + 1),
                                                      std::to_string(before.frames),
                                                      std::to_string(kVxMaxPagesKept)}});
        else
            notes.push_back(VxNoteParts{many ? "frames-not-carried" : "frames-one",
                                        {pages ? "page" : "frame", std::to_string(before.frame + 1),
                                         std::to_string(before.frames), name}});
    }
    if (before.clarity != vx::Clarity::Opaque) {
        const vx::Clarity now = vx::ClarityOf(after);
        if (now == vx::Clarity::Opaque) notes.push_back(VxNoteParts{"alpha-none", {name}});
        else if (before.clarity == vx::Clarity::Partial && now != vx::Clarity::Partial)
            notes.push_back(VxNoteParts{"alpha-on-off", {name}});
    }
    if (before.bits > 8) {
        const unsigned stores = caps ? caps->sampleBits : 8;
        const unsigned now = std::min(vx::SampleBits(after), stores);
        if (now < before.bits)
            notes.push_back(now < stores
                                ? VxNoteParts{"depth-converted", {std::to_string(now), std::to_string(before.bits)}}
                                : VxNoteParts{"depth-reduced", {std::to_string(now), std::to_string(before.bits), name}});
    }
    if (before.beyondWhite && !(caps && caps->keepsLight && vx::LightToWrite(after)))
        notes.push_back(caps && caps->keepsLight ? VxNoteParts{"light-clipped-steps", {}}
                                                 : VxNoteParts{"light-clipped", {name}});
    if (before.profile && !stripped && after.GetIccProfile().empty())
        notes.push_back(VxNoteParts{"icc-dropped", {name}});
    return notes;
}

}  // namespace vellumar::batch
