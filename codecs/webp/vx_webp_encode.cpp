#include <webp/encode.h>
#include <webp/mux.h>

#include <algorithm>
#include <new>
#include <span>
#include <vector>

#include "codecs/webp/vx_webp_codec.h"
#include "core/vx_codec_guard.h"
#include "core/vx_rgba_rows.h"
#include "core/vx_srgb.h"
#include "core/vx_transparency.h"

namespace {

const char kNoMemory[] = "WebP: out of memory";

// Speed settings, measured on photos (docs/webp.md): the lossy method and the
// lossless effort level the library's tool uses by default cost a batch
// little over faster settings and keep files small.
constexpr int kLossyMethod = 4;
constexpr int kLosslessLevel = 6;
// The format's own bound on a side.
static_assert(VxWebpCodec::kMaxSide == WEBP_MAX_DIMENSION);

int WriteToFile(const uint8_t* data, size_t size, const WebPPicture* picture) {
    auto* file = static_cast<VxFile*>(picture->custom_ptr);
    return size == 0 || file->Write(data, 1, size) == size;
}

const char* EncodeErrorText(WebPEncodingError error) {
    switch (error) {
        case VP8_ENC_ERROR_OUT_OF_MEMORY:
        case VP8_ENC_ERROR_BITSTREAM_OUT_OF_MEMORY: return kNoMemory;
        case VP8_ENC_ERROR_BAD_WRITE: return "WebP: cannot write the file";
        case VP8_ENC_ERROR_FILE_TOO_BIG: return "WebP: the file would pass 4 GiB";
        default: return "WebP: the encoder failed";
    }
}

struct MemoryWriter {
    WebPMemoryWriter w;
    MemoryWriter() { WebPMemoryWriterInit(&w); }
    ~MemoryWriter() { WebPMemoryWriterClear(&w); }
};

struct Mux {
    WebPMux* m = WebPMuxNew();
    ~Mux() { WebPMuxDelete(m); }
};

struct MuxOutput {
    WebPData d;
    MuxOutput() { WebPDataInit(&d); }
    ~MuxOutput() { WebPDataClear(&d); }
};

// The encoded picture with its profile, EXIF and XMP chunks, as one extended file.
void WriteWithChunks(VxFile* file, const WebPMemoryWriter& picture, std::span<const uint8_t> icc,
                     std::span<const uint8_t> exif, std::span<const uint8_t> xmp) {
    Mux mux;
    if (!mux.m) throw VxCodecFailure(kNoMemory);
    const WebPData image{picture.mem, picture.size};
    const WebPData iccData{icc.data(), icc.size()};
    const WebPData exifData{exif.data(), exif.size()};
    const WebPData xmpData{xmp.data(), xmp.size()};
    MuxOutput out;
    if (WebPMuxSetImage(mux.m, &image, 0) != WEBP_MUX_OK ||
        (!icc.empty() && WebPMuxSetChunk(mux.m, "ICCP", &iccData, 0) != WEBP_MUX_OK) ||
        (!exif.empty() && WebPMuxSetChunk(mux.m, "EXIF", &exifData, 0) != WEBP_MUX_OK) ||
        (!xmp.empty() && WebPMuxSetChunk(mux.m, "XMP ", &xmpData, 0) != WEBP_MUX_OK) ||
        WebPMuxAssemble(mux.m, &out.d) != WEBP_MUX_OK)
        throw VxCodecFailure("WebP: cannot add the colour profile or metadata");
    if (file->Write(out.d.bytes, 1, out.d.size) != out.d.size)
        throw VxCodecFailure("WebP: cannot write the file");
}

struct Picture {
    WebPPicture p;
    Picture() { WebPPictureInit(&p); }
    ~Picture() { WebPPictureFree(&p); }
};

struct AnimEncoder {
    WebPAnimEncoder* e = nullptr;
    ~AnimEncoder() { WebPAnimEncoderDelete(e); }
};

// The settings every picture and frame is written with: --quality, and a
// second thread where the picture may have one (the bytes are the same).
WebPConfig ConfigFor(int quality, uint32_t threads) {
    WebPConfig config;
    if (!WebPConfigInit(&config)) throw VxCodecFailure(kNoMemory);
    if (quality == 100) {
        WebPConfigLosslessPreset(&config, kLosslessLevel);
        // Colours under clear pixels are kept too: lossless means every byte.
        config.exact = 1;
    } else {
        config.quality = float(quality);
        config.method = kLossyMethod;
    }
    config.thread_level = threads > 1 ? 1 : 0;
    if (!WebPValidateConfig(&config)) throw VxCodecFailure("WebP: invalid settings");
    return config;
}

}  // namespace

bool VxWebpCodec::Encode(VxFile* file, VxImage** pages, int32_t count) {
    return TakePagesAsFrames(pages, count, "WebP") && Encode(file);
}

void VxWebpCodec::EncodeAnimation(VxFile* file, const VxFrames& anim, int quality) {
    const uint32_t w = GetWidth(), h = GetHeight();
    WebPAnimEncoderOptions options;
    if (!WebPAnimEncoderOptionsInit(&options)) throw VxCodecFailure(kNoMemory);
    options.anim_params.loop_count = int(std::min<uint32_t>(anim.plays, 65535));
    options.anim_params.bgcolor = 0;
    // Every frame is coded as given (no search over mixed lossy and lossless):
    // the file depends on the pictures and the quality only.
    options.minimize_size = 0;
    options.allow_mixed = 0;
    options.verbose = 0;
    const WebPConfig config = ConfigFor(quality, GetThreads());
    AnimEncoder enc;
    enc.e = WebPAnimEncoderNew(int(w), int(h), &options);
    if (!enc.e) throw VxCodecFailure(kNoMemory);
    int timestamp = 0;
    std::vector<uint8_t> rows(size_t(w) * h * 4);
    for (const VxFrame& f : anim.frames) {
        const VxImage& frame = *f.picture;
        if (frame.GetWidth() != w || frame.GetHeight() != h)
            throw VxCodecFailure("WebP: the animation's frames differ in size");
        if (Cancelled()) throw VxCodecFailure("WebP: cancelled");
        vx::LoadRows(frame, rows.data(), size_t(w) * 4, 4);
        Picture pic;
        pic.p.use_argb = 1;
        pic.p.width = int(w);
        pic.p.height = int(h);
        if (!WebPPictureImportRGBA(&pic.p, rows.data(), int(w) * 4)) throw VxCodecFailure(kNoMemory);
        if (!WebPAnimEncoderAdd(enc.e, &pic.p, timestamp, &config))
            throw VxCodecFailure(EncodeErrorText(pic.p.error_code));
        timestamp += int(std::min<uint32_t>(f.delayMs, 1u << 24));
    }
    if (!WebPAnimEncoderAdd(enc.e, nullptr, timestamp, nullptr)) throw VxCodecFailure(kNoMemory);
    MuxOutput assembled;
    if (!WebPAnimEncoderAssemble(enc.e, &assembled.d))
        throw VxCodecFailure("WebP: cannot assemble the animation");
    WriteAnimation(file, assembled.d);
}

void VxWebpCodec::WriteAnimation(VxFile* file, const WebPData& assembled) {
    const std::span<const uint8_t> icc =
        vx::ProfileFits(GetIccProfile(), false) ? GetIccProfile() : std::span<const uint8_t>();
    const std::span<const uint8_t> exif =
        GetExif().size() > (size_t(1) << 30) ? std::span<const uint8_t>() : GetExif();
    const std::span<const uint8_t> xmp =
        GetXmp().size() > (size_t(1) << 30) ? std::span<const uint8_t>() : GetXmp();
    const WebPData* out = &assembled;
    MuxOutput withChunks;
    Mux mux;
    if (!icc.empty() || !exif.empty() || !xmp.empty()) {
        WebPMuxDelete(mux.m);
        mux.m = WebPMuxCreate(&assembled, 1);
        const WebPData iccData{icc.data(), icc.size()};
        const WebPData exifData{exif.data(), exif.size()};
        const WebPData xmpData{xmp.data(), xmp.size()};
        if (!mux.m || (!icc.empty() && WebPMuxSetChunk(mux.m, "ICCP", &iccData, 1) != WEBP_MUX_OK) ||
            (!exif.empty() && WebPMuxSetChunk(mux.m, "EXIF", &exifData, 1) != WEBP_MUX_OK) ||
            (!xmp.empty() && WebPMuxSetChunk(mux.m, "XMP ", &xmpData, 1) != WEBP_MUX_OK) ||
            WebPMuxAssemble(mux.m, &withChunks.d) != WEBP_MUX_OK)
            throw VxCodecFailure("WebP: cannot add the colour profile or metadata");
        out = &withChunks.d;
    }
    if (file->Write(out->bytes, 1, out->size) != out->size)
        throw VxCodecFailure("WebP: cannot write the file");
}

bool VxWebpCodec::Encode(VxFile* file) {
    if (EncodeSafeCheck(file)) return false;
    return vx::RunCodec(*this, kNoMemory, [&] {
        const uint32_t w = GetWidth(), h = GetHeight();
        if (w > VxWebpCodec::kMaxSide || h > VxWebpCodec::kMaxSide)
            throw VxCodecFailure("WebP: a picture can be at most 16383 pixels on a side");
        const int quality = Info.JpegQuality;
        if (const VxFrames* anim = GetAnimation(); anim && anim->frames.size() > 1) {
            EncodeAnimation(file, *anim, quality);
            return true;
        }
        const WebPConfig config = ConfigFor(quality, GetThreads());

        const bool alpha = vx::HasTransparency(*this);
        const int channels = alpha ? 4 : 3;
        std::vector<uint8_t> rows(size_t(w) * h * channels);
        vx::LoadRows(*this, rows.data(), size_t(w) * channels, channels);
        Picture pic;
        pic.p.use_argb = config.lossless;
        pic.p.width = int(w);
        pic.p.height = int(h);
        const int stride = int(w) * channels;
        const int imported = alpha ? WebPPictureImportRGBA(&pic.p, rows.data(), stride)
                                   : WebPPictureImportRGB(&pic.p, rows.data(), stride);
        if (!imported) throw VxCodecFailure(kNoMemory);
        std::vector<uint8_t>().swap(rows);
        // A chunk is at most 4 GiB; the file must stay below that too.
        const std::span<const uint8_t> icc =
            vx::ProfileFits(GetIccProfile(), false) ? GetIccProfile() : std::span<const uint8_t>();
        std::span<const uint8_t> exif = GetExif();
        if (exif.size() > (size_t(1) << 30)) exif = {};
        std::span<const uint8_t> xmp = GetXmp();
        if (xmp.size() > (size_t(1) << 30)) xmp = {};
        if (icc.empty() && exif.empty() && xmp.empty()) {
            pic.p.writer = WriteToFile;
            pic.p.custom_ptr = file;
            if (!WebPEncode(&config, &pic.p)) throw VxCodecFailure(EncodeErrorText(pic.p.error_code));
            return true;
        }
        MemoryWriter memory;
        pic.p.writer = WebPMemoryWrite;
        pic.p.custom_ptr = &memory.w;
        if (!WebPEncode(&config, &pic.p)) throw VxCodecFailure(EncodeErrorText(pic.p.error_code));
        WriteWithChunks(file, memory.w, icc, exif, xmp);
        return true;
    });
}
