#include "app/batch/row_output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>
#include <span>
#include <vector>

#include "app/batch/memory_budget.h"
#include "core/vx_codec.h"
#include "core/vx_deep.h"
#include "core/vx_rgba_rows.h"
#include "core/vx_save_path.h"

namespace vellumar::batch {

namespace {

struct Encoded {
    uint8_t* bytes = nullptr;
    int32_t size = 0;
    ~Encoded() { std::free(bytes); }
};

bool EncodeInMemory(VxImage& picture, ImageFormat format, int quality, Encoded& out) {
    std::free(out.bytes);
    out.bytes = nullptr;
    out.size = 0;
    picture.SetJpegQuality(uint8_t(quality));
    return picture.Encode(out.bytes, out.size, format);
}

bool WriteTemporary(const std::string& output, std::span<const uint8_t> data,
                    const RunOptions& options, bool durable, std::string& temporary,
                    std::string& why) {
    if (!VxReplaceable(output, why)) return false;
    const int fd = VxCreateTemporaryBeside(output, temporary, options.temporaryTag);
    if (fd < 0) {
        why = VxSaveErrorText("cannot create the output file", errno);
        return false;
    }
    for (size_t at = 0; at < data.size();) {
        const ssize_t n = write(fd, data.data() + at, data.size() - at);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            why = VxSaveErrorText("cannot write the output file", errno);
            close(fd);
            unlink(temporary.c_str());
            temporary.clear();
            return false;
        }
        at += size_t(n);
    }
    if ((durable && fsync(fd) != 0) || close(fd) != 0) {
        why = VxSaveErrorText("cannot write the output file", errno);
        unlink(temporary.c_str());
        temporary.clear();
        return false;
    }
    return true;
}

// The highest quality whose file takes at most `limit` bytes: 100 first, then
// halving the range, so at most 8 encodes.
bool EncodeToSize(VxImage& picture, const RunOptions& options, Encoded& best, int& quality,
                  RowResult& result, std::string& why) {
    Encoded trial;
    int lo = 1, hi = 100;
    uint64_t smallest = UINT64_MAX;
    quality = 0;
    for (int q = 100; lo <= hi; q = lo + (hi - lo) / 2) {
        ++result.encodes;
        if (!EncodeInMemory(picture, options.target, q, trial)) {
            why = picture.GetLastError();
            return false;
        }
        smallest = std::min<uint64_t>(smallest, uint64_t(trial.size));
        if (uint64_t(trial.size) <= options.targetSize) {
            quality = q;
            std::swap(best.bytes, trial.bytes);
            std::swap(best.size, trial.size);
            lo = q + 1;
        } else {
            hi = q - 1;
        }
    }
    if (quality == 0) {
        why = "no quality makes the file fit " + BytesText(options.targetSize) +
              ": the smallest is " + BytesText(smallest) + " at quality 1, after " +
              std::to_string(result.encodes) + " encodes";
        return false;
    }
    return true;
}

// A lossless writer of deep samples must give each back at the bits it
// stores; the 8-bit comparison alone cannot see the bits below.
bool SameDeepSamples(const VxDeepPlane& deep, const VxImage& back, unsigned bits,
                     std::string& why) {
    const VxDeepRef& read = back.GetDeep();
    if (!read || read->samples.empty() || vx::SampleBits(back) < bits) {
        why = "verification failed: the written file reads back at " +
              std::to_string(vx::SampleBits(back)) + " bits a sample instead of " +
              std::to_string(bits);
        return false;
    }
    // A writer may store grey as colour or add an opaque alpha; the 8-bit
    // comparison has judged the form, this judges the samples.
    if (read->channels != deep.channels || read->width != deep.width ||
        read->height != deep.height)
        return true;
    for (size_t i = 0; i < deep.samples.size(); ++i)
        if (vx::NarrowSample(deep.samples[i], bits) != vx::NarrowSample(read->samples[i], bits)) {
            why = "verification failed: the written file differs from the picture in its " +
                  std::to_string(bits) + "-bit samples";
            return false;
        }
    return true;
}

}  // namespace

bool VerifyWritten(const VxImage& picture, const std::string& file, ImageFormat format,
                   double& psnr, std::string& why) {
    VxImage back(0);
    back.SetMaxPixels(0);
    if (!back.Load(file.c_str(), format)) {
        why = std::string("verification failed: the written file does not read back: ") +
              back.GetLastError();
        return false;
    }
    const uint32_t w = picture.GetWidth(), h = picture.GetHeight();
    if (back.GetWidth() != w || back.GetHeight() != h) {
        why = "verification failed: the written file reads back as " +
              std::to_string(back.GetWidth()) + "x" + std::to_string(back.GetHeight()) +
              " instead of " + std::to_string(w) + "x" + std::to_string(h);
        return false;
    }
    const std::vector<uint8_t> a = vx::RgbaPixels(picture), b = vx::RgbaPixels(back);
    // Colours count as much as they show: weighted by their alpha, so what a
    // lossy coder does under (nearly) full transparency is nobody's business.
    double squared = 0;
    const uint64_t samples = a.size();
    for (size_t i = 0; i < a.size(); i += 4) {
        const double alphaA = a[i + 3], alphaB = b[i + 3];
        for (size_t c = 0; c < 3; ++c) {
            const double d = (double(a[i + c]) * alphaA - double(b[i + c]) * alphaB) / 255.0;
            squared += d * d;
        }
        squared += (alphaA - alphaB) * (alphaA - alphaB);
    }
    psnr = squared == 0 ? std::numeric_limits<double>::infinity()
                        : 10 * std::log10(255.0 * 255.0 * double(samples) / squared);
    const VxFormatCaps* caps = VxFindFormatCaps(format);
    const bool mayChange = caps && (caps->lossy == VxLossiness::Always ||
                                    (caps->lossy == VxLossiness::Below100 &&
                                     picture.GetJpegQuality() < 100));
    if (squared == 0 && !mayChange) {
        if (const VxDeepPlane* deep = vx::DeepToWrite(picture, caps ? caps->sampleBits : 8))
            return SameDeepSamples(*deep, back, std::min<unsigned>(deep->bits, caps->sampleBits),
                                   why);
    }
    if (squared == 0 || (mayChange && psnr >= kVerifyFloorDb)) return true;
    char figure[32];
    std::snprintf(figure, sizeof figure, "%.1f", psnr);
    why = std::string("verification failed: the written file differs from the picture (") +
          figure + " dB" + (mayChange ? ", below " + std::to_string(int(kVerifyFloorDb)) + " dB" : "") +
          ")";
    return false;
}

bool EncodeRow(VxImage& picture, const RunOptions& options, const std::string& output,
               bool durable, std::string& temporary, RowResult& result) {
    const auto fail = [&](const std::string& why) {
        if (!temporary.empty()) unlink(temporary.c_str());
        temporary.clear();
        result.outcome = RowOutcome::EncodeFailed;
        result.error = why;
        return false;
    };
    const VxFormatCaps* caps = VxFindFormatCaps(options.target);
    const bool lossy = caps && caps->lossy != VxLossiness::Never;
    std::string why;
    if (options.steps.lossless && caps && caps->lossy == VxLossiness::Always)
        return fail(LosslessRefusal(options.target, "is lossy at every quality"));
    if (options.steps.lossless && lossy) picture.SetJpegQuality(100);
    const int quality = options.steps.lossless && lossy ? 100 : options.quality;
    if (options.targetSize && caps && caps->sizedByQuality && !options.steps.lossless) {
        Encoded best;
        int quality = 0;
        if (!EncodeToSize(picture, options, best, quality, result, why)) return fail(why);
        picture.SetJpegQuality(uint8_t(quality));
        result.quality = quality;
        if (!WriteTemporary(output, {best.bytes, size_t(best.size)}, options, durable, temporary,
                            why))
            return fail(why);
    } else {
        ++result.encodes;
        if (lossy) result.quality = quality;
        if (!picture.SaveToTemporary(output.c_str(), options.target, temporary,
                                     options.temporaryTag, durable))
            return fail(picture.GetLastError());
    }
    if (options.afterEncode) options.afterEncode(temporary);
    if (options.verify && !VerifyWritten(picture, temporary, options.target, result.psnr, why))
        return fail(why);
    struct stat st {};
    if (stat(temporary.c_str(), &st) == 0) result.outputBytes = uint64_t(st.st_size);
    return true;
}

std::string LosslessRefusal(ImageFormat target, const std::string& what) {
    const VxCodecEntry* entry = VxFindCodecEntry(target);
    return std::string("cannot be written losslessly: ") + (entry ? entry->name : "the target") +
           " " + what;
}

const VxTranscoder* TranscoderFor(ImageFormat source, ImageFormat target,
                                  const vx::ResizeRequest& resize, const RunOptions& options) {
    // The way keeps every byte of the source's metadata and its stored
    // orientation: any step or a chosen quality asks for the pixels.
    if (resize.kind != vx::ResizeRequest::Kind::None || options.qualityGiven || options.targetSize)
        return nullptr;
    const VxTranscoder* way = VxFindTranscoder(source, target);
    if (way && way->askedOnly && !options.steps.lossless) return nullptr;
    return way && (way->strips || !options.steps.strip) ? way : nullptr;
}

namespace {

bool ReadWhole(const std::string& path, std::vector<uint8_t>& bytes, std::string& why) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || fstat(fd, &st) != 0) {
        why = VxSaveErrorText("cannot read the source again", errno);
        if (fd >= 0) close(fd);
        return false;
    }
    bytes.resize(size_t(st.st_size));
    size_t at = 0;
    while (at < bytes.size()) {
        const ssize_t n = pread(fd, bytes.data() + at, bytes.size() - at, off_t(at));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        at += size_t(n);
    }
    close(fd);
    if (at == bytes.size()) return true;
    why = "cannot read the source again: it changed while it was converted";
    return false;
}

// The written file must give the source back: exactly for a reversible way;
// otherwise the way back and forth again must give the written bytes (for a
// way within one format, itself once more).
bool VerifyTranscoded(const VxTranscoder& way, const VxTranscodeSteps& steps,
                      std::span<const uint8_t> in, std::span<const uint8_t> out,
                      std::string& why) {
    const VxTranscoder* back = VxFindTranscoder(way.to, way.from);
    std::vector<uint8_t> again, twice;
    bool same = false;
    if (back == &way)
        same = way.run(out, steps, again, why) &&
               std::equal(again.begin(), again.end(), out.begin(), out.end());
    else if (back && way.reversible)
        same = back->run(out, steps, again, why) &&
               std::equal(again.begin(), again.end(), in.begin(), in.end());
    else if (back)
        same = back->run(out, steps, again, why) && way.run(again, steps, twice, why) &&
               std::equal(twice.begin(), twice.end(), out.begin(), out.end());
    if (!same) why = "verification failed: the written file does not give the source back";
    return same;
}

}  // namespace

Transcoded TranscodeRow(const VxTranscoder& way, const std::string& readPath,
                        const RunOptions& options, const std::string& output, bool durable,
                        std::string& temporary, RowResult& result) {
    std::vector<uint8_t> in, out;
    std::string why;
    if (!ReadWhole(readPath, in, why)) {
        result.outcome = RowOutcome::DecodeFailed;
        result.error = why;
        return Transcoded::Failed;
    }
    const VxTranscodeSteps steps {.upright = !options.steps.keepOrientation,
                                  .strip = options.steps.strip,
                                  .trimEdges = options.losslessTrim};
    std::string note;
    if (!way.run(in, steps, out, note)) {
        result.method = "pixels (" + note + ")";
        // Under --lossless the pixels may go only to a target that keeps them.
        const VxFormatCaps* caps = VxFindFormatCaps(way.to);
        if (!options.steps.lossless || !caps || caps->lossy != VxLossiness::Always)
            return Transcoded::NotThisWay;
        result.outcome = RowOutcome::EncodeFailed;
        result.error = LosslessRefusal(way.to, "without decoding: " + note);
        return Transcoded::Failed;
    }
    ++result.encodes;
    const auto fail = [&](const std::string& text) {
        if (!temporary.empty()) unlink(temporary.c_str());
        temporary.clear();
        result.outcome = RowOutcome::EncodeFailed;
        result.error = text;
        return Transcoded::Failed;
    };
    if (!WriteTemporary(output, out, options, durable, temporary, why)) return fail(why);
    if (options.afterEncode) {
        options.afterEncode(temporary);
        if (!ReadWhole(temporary, out, why)) return fail(why);
    }
    if (options.verify) {
        if (!VerifyTranscoded(way, steps, in, out, why)) return fail(why);
        result.psnr = std::numeric_limits<double>::infinity();
    }
    result.method = note.empty() ? way.method : std::string(way.method) + ", " + note;
    result.outputBytes = out.size();
    return Transcoded::Done;
}

}  // namespace vellumar::batch
