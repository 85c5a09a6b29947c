#include <webp/decode.h>
#include <webp/demux.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "codecs/webp/vx_webp_codec.h"
#include "core/vx_codec_guard.h"
#include "core/vx_exif_edit.h"
#include "core/vx_rgba_rows.h"
#include "core/vx_stream_bytes.h"

namespace {

const char kNoStream[] = "WebP: no input stream";
const char kNotWebp[] = "WebP: not a WebP file";
const char kTruncated[] = "WebP: the file is cut short";
const char kNoMemory[] = "WebP: out of memory";
const char kCancelled[] = "WebP: cancelled";

// The VP8X header's flags for an ICC profile, an EXIF and an XMP chunk.
constexpr uint8_t kIccFlag = 0x20;
constexpr uint8_t kExifFlag = 0x08;
constexpr uint8_t kXmpFlag = 0x04;

const char* StatusText(VP8StatusCode status) {
    switch (status) {
        case VP8_STATUS_OUT_OF_MEMORY: return kNoMemory;
        case VP8_STATUS_UNSUPPORTED_FEATURE: return "WebP: unsupported feature";
        case VP8_STATUS_NOT_ENOUGH_DATA: return kTruncated;
        default: return "WebP: damaged data";
    }
}

struct Demux {
    WebPDemuxer* d = nullptr;
    ~Demux() { WebPDemuxDelete(d); }
};

struct IncrementalDecoder {
    WebPIDecoder* d = nullptr;
    ~IncrementalDecoder() { WebPIDelete(d); }
};

// What the library is given at a time.
constexpr size_t kPiece = size_t(64) << 10;

struct AnimDecoder {
    WebPAnimDecoder* d = nullptr;
    ~AnimDecoder() { WebPAnimDecoderDelete(d); }
};

bool AnyClear(const std::vector<uint8_t>& rgba) {
    for (size_t i = 3; i < rgba.size(); i += 4)
        if (rgba[i] != 255) return true;
    return false;
}

}  // namespace

bool VxWebpCodec::IsWebpSignature(const uint8_t* bytes, size_t size) {
    return bytes && size >= 12 && std::memcmp(bytes, "RIFF", 4) == 0 &&
           std::memcmp(bytes + 8, "WEBP", 4) == 0;
}

bool VxWebpCodec::Decode(VxFile* file) {
    return vx::RunCodec(*this, kNoMemory, [&] {
        if (!file) throw VxCodecFailure(kNoStream);
        std::vector<uint8_t> data;
        if (vx::ReadUpTo(file, data, 12) != 12 || !IsWebpSignature(data.data(), data.size()))
            throw VxCodecFailure(kNotWebp);
        // The RIFF size bounds what is read, so that a container can go on
        // reading after the picture.
        const uint64_t total = uint64_t(vx::LoadLE32(data.data() + 4)) + 8;
        if (total < 20) throw VxCodecFailure(kNotWebp);
        if (DimensionsOnly()) return AnswerFromChunkHeaders(file, total);
        vx::ReadUpTo(file, data, size_t(total - 12));
        if (data.size() < total) throw VxCodecFailure(kTruncated);

        WebPBitstreamFeatures features;
        const VP8StatusCode status = WebPGetFeatures(data.data(), data.size(), &features);
        if (status != VP8_STATUS_OK) throw VxCodecFailure(StatusText(status));
        if (features.has_animation)
            DecodeAnimation(data.data(), data.size(), features.has_alpha != 0);
        else
            DecodeStill(data.data(), data.size(), features.has_alpha != 0);
        KeepMetadata(data.data(), data.size());
        return true;
    });
}

bool VxWebpCodec::AnswerFromChunkHeaders(VxFile* file, uint64_t total) {
    // Chunks are walked over, not read: a huge canvas or a long animation
    // costs a few bytes per chunk.
    const int64_t start = file->Tell64() - 12;
    const int64_t left = file->Remaining();
    if (start < 0 || (left >= 0 && uint64_t(left) < total - 12)) throw VxCodecFailure(kTruncated);
    uint32_t w = 0, h = 0, frames = 0;
    bool animation = false;
    for (uint64_t pos = 12; pos + 8 <= total;) {
        uint8_t head[18];
        if (!file->Seek64(start + int64_t(pos), SEEK_SET) || file->Read(head, 1, 8) != 8)
            throw VxCodecFailure(kTruncated);
        const uint32_t size = vx::LoadLE32(head + 4);
        const size_t want = std::min<size_t>(size, 10);
        if (file->Read(head + 8, 1, want) != want) throw VxCodecFailure(kTruncated);
        const uint8_t* body = head + 8;
        if (pos == 12 && std::memcmp(head, "VP8X", 4) == 0 && size >= 10) {
            animation = (body[0] & 0x02) != 0;
            w = 1 + (body[4] | body[5] << 8 | uint32_t(body[6]) << 16);
            h = 1 + (body[7] | body[8] << 8 | uint32_t(body[9]) << 16);
            if (!animation) break;
        } else if (pos == 12 && std::memcmp(head, "VP8 ", 4) == 0 && size >= 10 &&
                   body[3] == 0x9D && body[4] == 0x01 && body[5] == 0x2A) {
            w = vx::LoadLE16(body + 6) & 0x3FFF;
            h = vx::LoadLE16(body + 8) & 0x3FFF;
            break;
        } else if (pos == 12 && std::memcmp(head, "VP8L", 4) == 0 && size >= 5 && body[0] == 0x2F) {
            const uint32_t bits = vx::LoadLE32(body + 1);
            w = 1 + (bits & 0x3FFF);
            h = 1 + ((bits >> 14) & 0x3FFF);
            break;
        } else if (pos == 12) {
            throw VxCodecFailure("WebP: damaged data");
        } else if (std::memcmp(head, "ANMF", 4) == 0) {
            ++frames;
        }
        pos += 8 + uint64_t(size) + (size & 1);
    }
    if (w == 0 || h == 0) throw VxCodecFailure("WebP: damaged data");
    if (animation && frames == 0) throw VxCodecFailure("WebP: animation without frames");
    Info.NumFrames = animation ? int32_t(std::min<uint32_t>(frames, INT32_MAX)) : 1;
    if (!animation && Info.Frame > 0) throw VxCodecFailure("WebP: the file has one frame only");
    if (Info.Frame < 0 || Info.Frame >= Info.NumFrames) throw VxCodecFailure("WebP: no such frame");
    // After the picture, as a full read leaves it.
    file->Seek64(start + int64_t(total), SEEK_SET);
    return AnswerDimensions(VX_FORMAT_WEBP, w, h, 24);
}

void VxWebpCodec::KeepMetadata(const uint8_t* data, size_t size) {
    if (size < 21 || std::memcmp(data + 12, "VP8X", 4) != 0 || !(data[20] & (kIccFlag | kExifFlag | kXmpFlag)))
        return;
    const WebPData whole{data, size};
    Demux demux;
    demux.d = WebPDemux(&whole);
    if (!demux.d) return;
    // The chunks lie inside the file already read, so their sizes are bounded.
    WebPChunkIterator chunk;
    if (WebPDemuxGetChunk(demux.d, "ICCP", 1, &chunk)) {
        SetIccProfile({chunk.chunk.bytes, chunk.chunk.size});
        WebPDemuxReleaseChunkIterator(&chunk);
    }
    if (WebPDemuxGetChunk(demux.d, "EXIF", 1, &chunk)) {
        const auto exif = vx::ExifInChunk({chunk.chunk.bytes, chunk.chunk.size});
        if (!exif.empty()) {
            SetExif(exif);
            SetOrientation(vx::ExifOrientation(exif));
        }
        WebPDemuxReleaseChunkIterator(&chunk);
    }
    if (WebPDemuxGetChunk(demux.d, "XMP ", 1, &chunk)) {
        SetXmp({chunk.chunk.bytes, chunk.chunk.size});
        WebPDemuxReleaseChunkIterator(&chunk);
    }
}

void VxWebpCodec::DecodeStill(const uint8_t* data, size_t size, bool alpha) {
    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config) ||
        WebPGetFeatures(data, size, &config.input) != VP8_STATUS_OK)
        throw VxCodecFailure(kNotWebp);
    const uint32_t w = uint32_t(config.input.width), h = uint32_t(config.input.height);
    Info.NumFrames = 1;
    if (Info.Frame > 0) throw VxCodecFailure("WebP: the file has one frame only");
    VxRequirePicture(*this, w, h, 24);
    if (!Create(w, h, 24, VX_FORMAT_WEBP)) throw VxCodecFailure(GetLastError());
    if (alpha && !AlphaCreate()) throw VxCodecFailure(kNoMemory);
    config.options.use_threads = 0;
    config.output.is_external_memory = 1;
    std::vector<uint8_t> rgba;
    if (!alpha) {
        // Straight into the bottom-up block: flipped rows at the block's stride.
        config.output.colorspace = MODE_BGR;
        config.output.u.RGBA.rgba = GetBits(0);
        config.output.u.RGBA.stride = int(GetEffWidth());
        config.output.u.RGBA.size = size_t(GetEffWidth()) * h;
        config.options.flip = 1;
    } else {
        rgba.resize(size_t(w) * h * 4);
        config.output.colorspace = MODE_RGBA;
        config.output.u.RGBA.rgba = rgba.data();
        config.output.u.RGBA.stride = int(w * 4);
        config.output.u.RGBA.size = rgba.size();
    }
    // Fed a piece at a time, so that a cancel is seen while a large picture decodes.
    IncrementalDecoder idec;
    idec.d = WebPIDecode(nullptr, 0, &config);
    if (!idec.d) throw VxCodecFailure(kNoMemory);
    VP8StatusCode status = VP8_STATUS_SUSPENDED;
    for (size_t fed = 0; status == VP8_STATUS_SUSPENDED && fed < size;) {
        if (fed > 0 && CancelledBetweenPieces()) throw VxCodecFailure(kCancelled);
        fed = std::min(size, fed + kPiece);
        status = WebPIUpdate(idec.d, data, fed);
    }
    WebPFreeDecBuffer(&config.output);
    if (status == VP8_STATUS_SUSPENDED) status = VP8_STATUS_NOT_ENOUGH_DATA;
    if (status != VP8_STATUS_OK) throw VxCodecFailure(StatusText(status));
    if (!rgba.empty()) vx::StoreRows(*this, rgba.data(), size_t(w) * 4, 4);
}

void VxWebpCodec::DecodeAnimation(const uint8_t* data, size_t size, bool alpha) {
    const WebPData whole{data, size};
    Demux demux;
    demux.d = WebPDemux(&whole);
    if (!demux.d) throw VxCodecFailure("WebP: damaged animation");
    const uint32_t w = WebPDemuxGetI(demux.d, WEBP_FF_CANVAS_WIDTH);
    const uint32_t h = WebPDemuxGetI(demux.d, WEBP_FF_CANVAS_HEIGHT);
    const uint32_t frames = WebPDemuxGetI(demux.d, WEBP_FF_FRAME_COUNT);
    Info.NumFrames = int32_t(frames);
    if (frames == 0) throw VxCodecFailure("WebP: animation without frames");
    if (Info.Frame < 0 || uint32_t(Info.Frame) >= frames)
        throw VxCodecFailure("WebP: no such frame");
    // The animation decoder keeps two canvases of this size.
    VxRequirePicture(*this, w, h, 32);
    WebPIterator frame;
    if (WebPDemuxGetFrame(demux.d, Info.Frame + 1, &frame)) {
        Info.FrameDelay = uint32_t(frame.duration > 0 ? frame.duration / 10 : 0);
        WebPDemuxReleaseIterator(&frame);
    }

    WebPAnimDecoderOptions options;
    if (!WebPAnimDecoderOptionsInit(&options)) throw VxCodecFailure(kNoMemory);
    options.color_mode = MODE_RGBA;
    options.use_threads = 0;
    std::shared_ptr<VxFrames> all;
    if (WantsAnimation() && frames > 1) {
        if (!vx::AnimationFits(*this, frames, w, h)) throw VxCodecFailure(GetLastError());
        all = std::make_shared<VxFrames>();
    }
    std::vector<uint8_t> rgba;
    {
        AnimDecoder anim;
        anim.d = WebPAnimDecoderNew(&whole, &options);
        if (!anim.d) throw VxCodecFailure("WebP: damaged animation");
        WebPAnimInfo about;
        if (all && WebPAnimDecoderGetInfo(anim.d, &about)) all->plays = about.loop_count;
        uint8_t* canvas = nullptr;
        const int32_t last = all ? int32_t(frames) - 1 : Info.Frame;
        int before = 0;
        for (int32_t i = 0; i <= last; ++i) {
            if (CancelledBetweenPieces()) throw VxCodecFailure(kCancelled);
            int timestamp = 0;
            if (!WebPAnimDecoderGetNext(anim.d, &canvas, &timestamp) || !canvas)
                throw VxCodecFailure("WebP: damaged animation frame");
            if (i == Info.Frame) rgba.assign(canvas, canvas + size_t(w) * h * 4);
            if (!all) continue;
            auto shown = vx::CanvasFromRgba(canvas, w, h, VX_FORMAT_WEBP);
            if (!shown) throw VxCodecFailure(kNoMemory);
            all->frames.push_back({std::move(shown), uint32_t(std::max(timestamp - before, 0))});
            before = timestamp;
        }
    }
    if (!Create(w, h, 24, VX_FORMAT_WEBP)) throw VxCodecFailure(GetLastError());
    if ((alpha || AnyClear(rgba)) && !AlphaCreate()) throw VxCodecFailure(kNoMemory);
    vx::StoreRows(*this, rgba.data(), size_t(w) * 4, 4);
    SetAnimation(std::move(all));
}
