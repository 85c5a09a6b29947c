#include "codecs/jxl/vx_jxl_jpeg_transcode.h"

#include <jxl/decode.h>
#include <jxl/encode.h>

#include <memory>

#include "core/vx_quiet_stderr.h"

namespace vx::jxl {

namespace {

// A rebuilt JPEG larger than this is refused: the reconstruction data could
// otherwise claim any size.
constexpr size_t kMaxJpeg = size_t(1) << 31;

struct EncoderFree {
    void operator()(JxlEncoder* e) const { JxlEncoderDestroy(e); }
};
struct DecoderFree {
    void operator()(JxlDecoder* d) const { JxlDecoderDestroy(d); }
};

}  // namespace

bool JxlFromJpeg(std::span<const uint8_t> jpeg, const VxTranscodeSteps&, std::vector<uint8_t>& jxl,
                 std::string& why) {
    const vx::QuietStderr quiet;
    std::unique_ptr<JxlEncoder, EncoderFree> enc(JxlEncoderCreate(nullptr));
    why = "JPEG XL: the encoder cannot take this JPEG's coefficients";
    if (!enc) return false;
    // The library takes the orientation, profile, EXIF and XMP from the JPEG
    // itself and keeps every other segment in the reconstruction data.
    if (JxlEncoderStoreJPEGMetadata(enc.get(), JXL_TRUE) != JXL_ENC_SUCCESS) return false;
    JxlEncoderFrameSettings* settings = JxlEncoderFrameSettingsCreate(enc.get(), nullptr);
    if (!settings || JxlEncoderAddJPEGFrame(settings, jpeg.data(), jpeg.size()) != JXL_ENC_SUCCESS)
        return false;
    JxlEncoderCloseInput(enc.get());
    jxl.assign(jpeg.size() / 2 + 4096, 0);
    size_t used = 0;
    for (;;) {
        uint8_t* next = jxl.data() + used;
        size_t avail = jxl.size() - used;
        const JxlEncoderStatus status = JxlEncoderProcessOutput(enc.get(), &next, &avail);
        used = size_t(next - jxl.data());
        if (status == JXL_ENC_SUCCESS) break;
        if (status != JXL_ENC_NEED_MORE_OUTPUT) return false;
        jxl.resize(jxl.size() * 2);
    }
    jxl.resize(used);
    why.clear();
    return true;
}

bool JpegFromJxl(std::span<const uint8_t> jxl, const VxTranscodeSteps&, std::vector<uint8_t>& jpeg,
                 std::string& why) {
    const vx::QuietStderr quiet;
    std::unique_ptr<JxlDecoder, DecoderFree> dec(JxlDecoderCreate(nullptr));
    why = "JPEG XL: the file cannot be read";
    if (!dec ||
        JxlDecoderSubscribeEvents(dec.get(), JXL_DEC_JPEG_RECONSTRUCTION | JXL_DEC_FULL_IMAGE) !=
            JXL_DEC_SUCCESS ||
        JxlDecoderSetInput(dec.get(), jxl.data(), jxl.size()) != JXL_DEC_SUCCESS)
        return false;
    JxlDecoderCloseInput(dec.get());
    bool rebuilding = false;
    for (;;) {
        const JxlDecoderStatus status = JxlDecoderProcessInput(dec.get());
        if (status == JXL_DEC_JPEG_RECONSTRUCTION) {
            rebuilding = true;
            jpeg.assign(jxl.size() * 2 + 4096, 0);
            if (JxlDecoderSetJPEGBuffer(dec.get(), jpeg.data(), jpeg.size()) != JXL_DEC_SUCCESS)
                return false;
        } else if (status == JXL_DEC_JPEG_NEED_MORE_OUTPUT) {
            const size_t filled = jpeg.size() - JxlDecoderReleaseJPEGBuffer(dec.get());
            if (jpeg.size() >= kMaxJpeg) return false;
            jpeg.resize(jpeg.size() * 2);
            if (JxlDecoderSetJPEGBuffer(dec.get(), jpeg.data() + filled, jpeg.size() - filled) !=
                JXL_DEC_SUCCESS)
                return false;
        } else if (status == JXL_DEC_FULL_IMAGE || status == JXL_DEC_SUCCESS) {
            if (!rebuilding) {
                why = "JPEG XL: the file keeps no original JPEG to rebuild";
                return false;
            }
            jpeg.resize(jpeg.size() - JxlDecoderReleaseJPEGBuffer(dec.get()));
            why.clear();
            return true;
        } else if (status == JXL_DEC_NEED_IMAGE_OUT_BUFFER) {
            why = "JPEG XL: the file keeps no original JPEG to rebuild";
            return false;
        } else {
            return false;
        }
    }
}

}  // namespace vx::jxl
