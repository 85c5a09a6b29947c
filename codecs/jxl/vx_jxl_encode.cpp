#include <jxl/encode.h>

#include <algorithm>
#include <cstring>
#include <cmath>
#include <new>
#include <span>
#include <vector>

#include "codecs/jxl/vx_jxl_codec.h"
#include "codecs/jxl/vx_jxl_runner.h"
#include "core/vx_codec_guard.h"
#include "core/vx_deep.h"
#include "core/vx_quiet_stderr.h"
#include "core/vx_rgba_rows.h"
#include "core/vx_srgb.h"
#include "core/vx_transparency.h"

namespace {

const char kNoMemory[] = "JPEG XL: out of memory";
const char kFailed[] = "JPEG XL: the encoder failed";

// Speed setting, measured on photos (docs/jxl.md): effort 7, the library's
// default, is several times slower than effort 4 for files a few per cent
// smaller.
constexpr int kEffort = 4;

struct Encoder {
    JxlEncoder* e = JxlEncoderCreate(nullptr);
    Encoder() {
        if (!e) throw VxCodecFailure(kNoMemory);
    }
    ~Encoder() { JxlEncoderDestroy(e); }
    Encoder(const Encoder&) = delete;
    Encoder& operator=(const Encoder&) = delete;
};

void Check(JxlEncoderStatus status) {
    if (status != JXL_ENC_SUCCESS) throw VxCodecFailure(kFailed);
}

}  // namespace

bool VxJxlCodec::WritesGrey(const VxImage& img) {
    if (const VxDeepPlane* deep = vx::DeepToWrite(img, 16)) return !deep->Colour();
    return img.IsIndexed() && img.IsGrayScale();
}

float VxJxlCodec::DistanceFor(int quality) {
    if (quality >= 100) return 0.0f;
    // cjxl's mapping: quality 90 is distance 1 (visually lossless), and the
    // distance grows quickly below 30.
    if (quality >= 30) return 0.1f + float(100 - quality) * 0.09f;
    return 6.4f + float(std::pow(2.5, (30 - quality) / 5.0)) / 6.25f;
}

bool VxJxlCodec::Encode(VxFile* file, VxImage** pages, int32_t count) {
    return TakePagesAsFrames(pages, count, "JPEG XL") && Encode(file);
}

bool VxJxlCodec::Encode(VxFile* file) {
    if (EncodeSafeCheck(file)) return false;
    const vx::QuietStderr quiet;
    return vx::RunCodec(*this, kNoMemory, [&] {
        const uint32_t w = GetWidth(), h = GetHeight();
        const int quality = Info.JpegQuality;
        const bool lossless = quality == 100;
        // An animation's frames are written in true colour, in one form; a
        // still deep picture as its samples are.
        const VxFrames* anim = GetAnimation();
        if (anim && anim->frames.size() < 2) anim = nullptr;
        const VxDeepPlane* deep = anim ? nullptr : vx::DeepToWrite(*this, 16);
        const bool alpha = anim   ? vx::AnyFrameTransparent(*anim)
                           : deep ? deep->HasAlpha()
                                  : vx::HasTransparency(*this);
        const bool grey = !anim && WritesGrey(*this);
        const uint32_t bits = deep ? deep->bits : 8;

        // A picture's samples, grey ones as one channel; deep ones as they are.
        const int rgbChannels = alpha ? 4 : 3;
        const int channels = deep ? deep->channels : grey ? (alpha ? 2 : 1) : rgbChannels;
        std::vector<uint8_t> pixels;
        const auto samples = [&](const VxImage& picture) {
            if (picture.GetWidth() != w || picture.GetHeight() != h)
                throw VxCodecFailure("JPEG XL: the animation's frames differ in size");
            if (deep) {
                pixels.resize(deep->samples.size() * 2);
                std::memcpy(pixels.data(), deep->samples.data(), pixels.size());
                return;
            }
            pixels.resize(size_t(w) * h * rgbChannels);
            vx::LoadRows(picture, pixels.data(), size_t(w) * rgbChannels, rgbChannels);
            if (!grey) return;
            const size_t n = size_t(w) * h;
            for (size_t i = 0; i < n; ++i) {
                pixels[i * channels] = pixels[i * rgbChannels];
                if (alpha) pixels[i * channels + 1] = pixels[i * rgbChannels + 3];
            }
            pixels.resize(n * channels);
        };

        Encoder enc;
        const VxJxlRunner runner(GetThreads());
        if (!runner.Attach(enc.e)) throw VxCodecFailure(kFailed);
        JxlBasicInfo info;
        JxlEncoderInitBasicInfo(&info);
        info.xsize = w;
        info.ysize = h;
        info.bits_per_sample = bits;
        info.num_color_channels = grey ? 1 : 3;
        info.alpha_bits = alpha ? bits : 0;
        info.num_extra_channels = alpha ? 1 : 0;
        // Lossless pictures keep their own samples; lossy ones go through the
        // format's perceptual colour space.
        info.uses_original_profile = lossless ? JXL_TRUE : JXL_FALSE;
        if (anim) {
            info.have_animation = JXL_TRUE;
            info.animation.tps_numerator = 1000;  // ticks of a millisecond
            info.animation.tps_denominator = 1;
            info.animation.num_loops = anim->plays;
        }
        Check(JxlEncoderSetBasicInfo(enc.e, &info));
        const std::span<const uint8_t> icc = GetIccProfile();
        if (vx::ProfileFits(icc, grey)) {
            Check(JxlEncoderSetICCProfile(enc.e, icc.data(), icc.size()));
        } else {
            JxlColorEncoding colour;
            JxlColorEncodingSetToSRGB(&colour, grey ? JXL_TRUE : JXL_FALSE);
            Check(JxlEncoderSetColorEncoding(enc.e, &colour));
        }
        const auto addBox = [&](const char* type, std::span<const uint8_t> box) {
            Check(JxlEncoderUseContainer(enc.e, JXL_TRUE));
            Check(JxlEncoderUseBoxes(enc.e));
            Check(JxlEncoderAddBox(enc.e, type, box.data(), box.size(), JXL_FALSE));
        };
        // The Exif box: a 4-byte offset to the TIFF header (none here), then
        // the block, stored as it is so that any reader finds it.
        const std::span<const uint8_t> exif = GetExif();
        if (!exif.empty()) {
            std::vector<uint8_t> box(4 + exif.size(), 0);
            std::copy(exif.begin(), exif.end(), box.begin() + 4);
            addBox("Exif", box);
        }
        if (!GetXmp().empty()) addBox("xml ", GetXmp());

        JxlEncoderFrameSettings* settings = JxlEncoderFrameSettingsCreate(enc.e, nullptr);
        if (!settings) throw VxCodecFailure(kNoMemory);
        Check(JxlEncoderFrameSettingsSetOption(settings, JXL_ENC_FRAME_SETTING_EFFORT, kEffort));
        if (lossless)
            Check(JxlEncoderSetFrameLossless(settings, JXL_TRUE));
        else
            Check(JxlEncoderSetFrameDistance(settings, DistanceFor(quality)));
        const JxlPixelFormat format{uint32_t(channels), deep ? JXL_TYPE_UINT16 : JXL_TYPE_UINT8,
                                    JXL_NATIVE_ENDIAN, 0};
        if (!anim) {
            samples(*this);
            Check(JxlEncoderAddImageFrame(settings, &format, pixels.data(), pixels.size()));
        }
        for (size_t i = 0; anim && i < anim->frames.size(); ++i) {
            if (Cancelled()) throw VxCodecFailure("JPEG XL: cancelled");
            JxlFrameHeader header;
            JxlEncoderInitFrameHeader(&header);
            header.duration = anim->frames[i].delayMs;
            Check(JxlEncoderSetFrameHeader(settings, &header));
            samples(*anim->frames[i].picture);
            Check(JxlEncoderAddImageFrame(settings, &format, pixels.data(), pixels.size()));
        }
        JxlEncoderCloseInput(enc.e);
        std::vector<uint8_t>().swap(pixels);

        std::vector<uint8_t> out(size_t(1) << 16);
        for (;;) {
            uint8_t* next = out.data();
            size_t avail = out.size();
            const JxlEncoderStatus s = JxlEncoderProcessOutput(enc.e, &next, &avail);
            const size_t produced = out.size() - avail;
            if (produced && file->Write(out.data(), 1, produced) != produced)
                throw VxCodecFailure("JPEG XL: cannot write the file");
            if (s == JXL_ENC_SUCCESS) break;
            if (s != JXL_ENC_NEED_MORE_OUTPUT) throw VxCodecFailure(kFailed);
        }
        return true;
    });
}
