#include "app/batch/batch_engine.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "app/batch/fit_depth.h"
#include "app/batch/frame_steps.h"
#include "app/batch/metadata_step.h"
#include "app/batch/row_notes.h"
#include "app/batch/row_output.h"
#include "core/vx_rgba_rows.h"
#include "app/format_table/format_table.h"
#include "core/vx_codec.h"
#include "core/vx_messages.h"

namespace vellumar::batch {

Target TargetFromItem(std::string_view itemText) {
    return Target{FormatFromExtension(itemText), TargetExtension(itemText)};
}

std::string OutputPath(std::string_view dir, std::string_view prefix, int row,
                       std::string_view extension) {
    std::string path(dir);
    path += '/';
    path += prefix;
    path += std::to_string(row);
    path += extension;
    return path;
}

std::string ReasonLine(std::string_view text) {
    const auto blank = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    for (std::string_view lead : {"error:", "error :"}) {
        if (text.substr(0, lead.size()) == lead) {
            text.remove_prefix(lead.size());
            while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
        }
    }
    std::string line(text);
    for (char& c : line)
        if (c == '\n' || c == '\r') c = ' ';
    return line;
}

std::string RowReason(const RowResult& result) {
    if (!result.error.empty()) return ReasonLine(VxEnglish(result.error));
    return result.outcome == RowOutcome::DecodeFailed ? "cannot open the file"
                                                      : "cannot write the output file";
}

namespace {

bool ReadsScaled(ImageFormat format) {
    const VxFormatCaps* caps = VxFindFormatCaps(format);
    return caps && caps->readsScaled;
}

bool RendersToSize(ImageFormat format) {
    const VxFormatCaps* caps = VxFindFormatCaps(format);
    return caps && caps->rendersToSize;
}

// A JPEG that the steps shrink to half its size or less is decoded at 1/2,
// 1/4 or 1/8 by libjpeg's DCT scaling, which is several times faster and
// stays at least twice the final size (vx::DecodeReduction). The handle's
// scale is set (1 for every other row); the stored size is returned for the
// resize to be reckoned from. A picture over the picture limit is read at full
// size, so that it is refused as it would be without the resize.
StoredSize ReadSmallerWhenResized(ImageHandle* handle, ImageFormat sourceFormat,
                                  const std::string& path,
                                  const std::vector<vx::ResizeRequest>& sizes) {
    ImageFacade::SetJpegScale(handle, 1);
    (*handle)->SetRenderSize(0, 0);
    // Every size is made from one decode: the largest one decides.
    for (const vx::ResizeRequest& r : sizes)
        if (r.kind == vx::ResizeRequest::Kind::None) return {};
    const bool draws = RendersToSize(sourceFormat);
    if (sizes.empty() || (!ReadsScaled(sourceFormat) && !draws)) return {};
    VxImage probe(0);
    probe.SetEscape(-1);
    // A drawing's size follows its resolution and page.
    probe.SetFrame((*handle)->GetFrame());
    for (uint32_t f = 1; f < kVxFormatCount; ++f) probe.SetCodecOption((*handle)->GetCodecOption(f), f);
    FILE* fp = std::fopen(path.c_str(), "rb");
    if (!fp) return {};
    const bool read = probe.Decode(fp, sourceFormat);
    std::fclose(fp);
    const uint64_t limit = (*handle)->GetMaxPixels();
    const StoredSize size{probe.GetWidth(), probe.GetHeight()};
    if (!read || size.width == 0 || size.height == 0 ||
        (limit && uint64_t(size.width) * size.height > limit))
        return {};
    if (draws) {
        // Drawn at the largest size asked for: one size needs no resampling.
        uint32_t w = 0, h = 0;
        for (const vx::ResizeRequest& r : sizes) {
            uint32_t rw = 0, rh = 0;
            vx::ResizedSize(r, size.width, size.height, rw, rh);
            if (uint64_t(rw) * rh > uint64_t(w) * h) w = rw, h = rh;
        }
        (*handle)->SetRenderSize(w, h);
        return size;
    }
    uint32_t reduction = 8;
    for (const vx::ResizeRequest& r : sizes)
        reduction = std::min(reduction, vx::DecodeReduction(r, size.width, size.height));
    ImageFacade::SetJpegScale(handle, int32_t(reduction));
    return size;
}

}  // namespace

namespace {

// Every decoder said no: when the file is empty or plain text, that is the
// reason, not the last decoder's complaint about its header.
std::string DecodeFailureText(const std::string& path, ImageFormat named, const char* said) {
    FILE* fp = std::fopen(path.c_str(), "rb");
    if (!fp) return said;
    unsigned char head[512];
    const size_t n = std::fread(head, 1, sizeof head, fp);
    std::fclose(fp);
    if (n == 0) return "the file is empty";
    // PNM headers are text, so a damaged one keeps its decoder's reason.
    if (named == VX_FORMAT_PNM) return said;
    for (size_t i = 0; i < n; ++i) {
        const unsigned char c = head[i];
        if (c < 0x20 && c != '\n' && c != '\r' && c != '\t') return said;
    }
    return "not an image file: it holds text";
}

}  // namespace

bool DecodeSource(ImageHandle* handle, const std::string& source, RowResult& result,
                  const std::string& openPath, const std::vector<vx::ResizeRequest>& sizes,
                  StoredSize& stored, const DecodeSteering& steering) {
    const ImageFormat sourceFormat = FormatFromExtension(source);
    // A file that cannot be opened leaves the text alone: clear it, so that a
    // reused handle never reports an earlier row's reason. Codec options start
    // afresh too: a row's output must not depend on which file came before it
    // (an earlier TIFF's compression would otherwise be used for a later photo).
    if (*handle) {
        (*handle)->SetLastError("");
        for (uint32_t f = 1; f < kVxFormatCount; ++f) (*handle)->SetCodecOption(0, f);
        SteerDecoder(**handle, steering);
    }
    const std::string& from = openPath.empty() ? source : openPath;
    stored = ReadSmallerWhenResized(handle, sourceFormat, from, sizes);
    if (!ImageFacade::DecodeFromFile(handle, from.c_str(), int32_t(sourceFormat))) {
        result.outcome = RowOutcome::DecodeFailed;
        result.error = DecodeFailureText(from, sourceFormat, ImageFacade::GetLastError(handle));
        return false;
    }
    // The stored size counts only when the decoder really read it smaller.
    const VxImage& got = **handle;
    const bool drawn = RendersToSize(got.GetType()) && got.GetRenderWidth() == got.GetWidth() &&
                       got.GetRenderHeight() == got.GetHeight();
    if (!drawn && !(ReadsScaled(got.GetType()) && got.GetJpegScale() > 1)) stored = {};
    return true;
}

bool FitPicture(ImageHandle* handle, ImageFormat target, const PictureSteps& steps,
                const StoredSize& stored, RowResult& result) {
    std::string why;
    // Asked for, 8 bits is no loss.
    if (steps.depth == 8) (*handle)->SetDeep(nullptr);
    HeldFacts held = FactsOf(**handle);
    const int32_t orientation = (*handle)->GetOrientation();
    if (!ShapePicture(**handle, steps, why, stored.width, stored.height) ||
        !CarryFrames(**handle, target, steps, orientation, why)) {
        result.outcome = RowOutcome::DecodeFailed;
        result.error = why;
        return false;
    }
    held.clarity = vx::ClarityOf(**handle);
    const std::vector<uint8_t> before = steps.lossless ? vx::RgbaPixels(**handle) : std::vector<uint8_t>();
    const bool deep = (*handle)->GetDeep() != nullptr;
    FitDepth(handle, target, steps.colours);
    if (steps.lossless && (vx::RgbaPixels(**handle) != before || (deep && !(*handle)->GetDeep()))) {
        result.outcome = RowOutcome::EncodeFailed;
        result.error = LosslessRefusal(target, "cannot hold this picture's colours, depth or transparency as they are");
        return false;
    }
    if (steps.depth == 16) WidenSamples(**handle, target);
    SettleMetadata(**handle, target, steps.strip);
    result.noteParts = LossNotes(held, **handle, target, steps.strip);
    result.notes.clear();
    for (const VxNoteParts& note : result.noteParts) result.notes.push_back(VxNote(note));
    (*handle)->SetLastError("");
    return true;
}

bool DecodeAndFit(ImageHandle* handle, const std::string& source, ImageFormat target,
                  RowResult& result, const std::string& openPath, const PictureSteps& steps) {
    StoredSize stored;
    return DecodeSource(handle, source, result, openPath, {steps.resize}, stored) &&
           FitPicture(handle, target, steps, stored, result);
}

void ReleasePicture(ImageHandle* handle) {
    if (!handle || !*handle) return;
    (*handle)->Destroy();
    (*handle)->SetAnimation(nullptr);
}

RowResult ConvertRow(ImageHandle* handle, const std::string& source, ImageFormat target,
                     const std::function<std::string()>& outputPath) {
    RowResult result;
    if (!*handle) *handle = new VxImage(0);
    (*handle)->SetWantAnimation(TargetAnimates(target));
    (*handle)->SetWantPages(TargetKeepsPages(target));
    if (!DecodeAndFit(handle, source, target, result)) return result;
    const std::string out = outputPath ? outputPath() : std::string();
    if (!ImageFacade::EncodeToFile(handle, out.c_str(), int32_t(target))) {
        result.outcome = RowOutcome::EncodeFailed;
        result.error = ImageFacade::GetLastError(handle);
    }
    // Nothing reads the picture after its row: without it, the next row's
    // decode runs beside one picture, not two.
    ReleasePicture(handle);
    return result;
}

}  // namespace vellumar::batch
