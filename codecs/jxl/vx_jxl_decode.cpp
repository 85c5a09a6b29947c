#include <jxl/decode.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>
#include <memory>
#include <vector>

#include "codecs/jxl/vx_jxl_codec.h"
#include "codecs/jxl/vx_jxl_runner.h"
#include "core/vx_codec_guard.h"
#include "core/vx_deep.h"
#include "core/vx_exif_edit.h"
#include "core/vx_quiet_stderr.h"
#include "core/vx_rgba_rows.h"
#include "core/vx_stream_bytes.h"

namespace {

const char kNotJxl[] = "JPEG XL: not a JPEG XL file";
const char kDamaged[] = "JPEG XL: damaged or unsupported file";
const char kTruncated[] = "JPEG XL: the file is cut short";
const char kNoMemory[] = "JPEG XL: out of memory";

struct Decoder {
    JxlDecoder* d = nullptr;
    Decoder() : d(JxlDecoderCreate(nullptr)) {
        if (!d) throw VxCodecFailure(kNoMemory);
    }
    ~Decoder() { JxlDecoderDestroy(d); }
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    void Start(const std::vector<uint8_t>& data, int events) const {
        if (JxlDecoderSubscribeEvents(d, events) != JXL_DEC_SUCCESS ||
            JxlDecoderSetInput(d, data.data(), data.size()) != JXL_DEC_SUCCESS)
            throw VxCodecFailure(kDamaged);
        JxlDecoderCloseInput(d);
    }
    // The next event; failures become the codec's texts.
    JxlDecoderStatus Next() const {
        const JxlDecoderStatus s = JxlDecoderProcessInput(d);
        if (s == JXL_DEC_ERROR) throw VxCodecFailure(kDamaged);
        if (s == JXL_DEC_NEED_MORE_INPUT) throw VxCodecFailure(kTruncated);
        return s;
    }
};

// What the library is given at a time: a large picture decodes piece by
// piece, so that a cancel is seen within a fraction of a second.
constexpr size_t kPiece = size_t(64) << 10;

// The file in memory, handed to a decoder a piece at a time.
class PieceFeeder {
public:
    PieceFeeder(const Decoder& dec, const std::vector<uint8_t>& data, const VxImage& codec)
        : dec_(dec), data_(data), codec_(codec) {
        Give(0);
    }
    // The next event; between pieces the cancel flag is polled.
    JxlDecoderStatus Next() {
        for (;;) {
            const JxlDecoderStatus s = JxlDecoderProcessInput(dec_.d);
            if (s == JXL_DEC_ERROR) throw VxCodecFailure(kDamaged);
            if (s != JXL_DEC_NEED_MORE_INPUT) return s;
            if (fed_ == data_.size()) throw VxCodecFailure(kTruncated);
            if (codec_.CancelledBetweenPieces()) throw VxCodecFailure("JPEG XL: cancelled");
            Give(fed_ - JxlDecoderReleaseInput(dec_.d));
        }
    }

private:
    void Give(size_t from) {
        fed_ = std::min(data_.size(), std::max(fed_, from) + kPiece);
        if (JxlDecoderSetInput(dec_.d, data_.data() + from, fed_ - from) != JXL_DEC_SUCCESS)
            throw VxCodecFailure(kDamaged);
        if (fed_ == data_.size()) JxlDecoderCloseInput(dec_.d);
    }
    const Decoder& dec_;
    const std::vector<uint8_t>& data_;
    const VxImage& codec_;
    size_t fed_ = 0;
};

// The size, depth and frame count from the basic info and the frame headers,
// reading the file a piece at a time: frame data is skipped, not decoded, and
// a still picture needs its first bytes only.
struct HeaderFacts {
    JxlBasicInfo info{};
    int32_t frames = 0;
};

HeaderFacts ReadHeaderFacts(VxFile* file, std::vector<uint8_t> buffer) {
    Decoder dec;
    if (JxlDecoderSubscribeEvents(dec.d, JXL_DEC_BASIC_INFO | JXL_DEC_FRAME) != JXL_DEC_SUCCESS)
        throw VxCodecFailure(kDamaged);
    HeaderFacts facts;
    bool closed = false;
    size_t total = buffer.size();
    if (JxlDecoderSetInput(dec.d, buffer.data(), buffer.size()) != JXL_DEC_SUCCESS)
        throw VxCodecFailure(kDamaged);
    for (;;) {
        const JxlDecoderStatus s = JxlDecoderProcessInput(dec.d);
        if (s == JXL_DEC_ERROR) throw VxCodecFailure(kDamaged);
        if (s == JXL_DEC_NEED_MORE_INPUT) {
            if (closed) throw VxCodecFailure(kTruncated);
            // What the library has not taken yet stays; the rest goes.
            const size_t keep = JxlDecoderReleaseInput(dec.d);
            buffer.erase(buffer.begin(), buffer.end() - std::ptrdiff_t(keep));
            const size_t want = std::min(kPiece, size_t(INT_MAX) - total);
            const size_t got = vx::ReadUpTo(file, buffer, want);
            total += got;
            if (got == 0) closed = true;
            if (JxlDecoderSetInput(dec.d, buffer.data(), buffer.size()) != JXL_DEC_SUCCESS)
                throw VxCodecFailure(kDamaged);
            if (closed) JxlDecoderCloseInput(dec.d);
        } else if (s == JXL_DEC_BASIC_INFO) {
            if (JxlDecoderGetBasicInfo(dec.d, &facts.info) != JXL_DEC_SUCCESS)
                throw VxCodecFailure(kDamaged);
            if (!facts.info.have_animation) {
                facts.frames = 1;
                return facts;
            }
        } else if (s == JXL_DEC_FRAME) {
            if (facts.frames < INT32_MAX) ++facts.frames;
        } else if (s == JXL_DEC_SUCCESS) {
            return facts;
        }
    }
}

// Frames an animation shows, read from the frame headers alone.
int32_t CountFrames(const std::vector<uint8_t>& data) {
    Decoder dec;
    dec.Start(data, JXL_DEC_FRAME);
    int32_t frames = 0;
    for (;;) {
        const JxlDecoderStatus s = dec.Next();
        if (s == JXL_DEC_FRAME) {
            if (++frames == INT32_MAX) break;
        } else if (s == JXL_DEC_SUCCESS) {
            break;
        }
    }
    return frames;
}

// Every layer as stored (the library composes them into the frames it
// shows) passes the picture limit before any of them is decoded: a layer may
// be larger than the picture it is cropped into.
void CheckLayers(const std::vector<uint8_t>& data, VxImage& codec) {
    Decoder dec;
    if (JxlDecoderSetCoalescing(dec.d, JXL_FALSE) != JXL_DEC_SUCCESS) throw VxCodecFailure(kDamaged);
    dec.Start(data, JXL_DEC_FRAME);
    for (;;) {
        const JxlDecoderStatus s = dec.Next();
        if (s == JXL_DEC_SUCCESS) return;
        JxlFrameHeader header;
        if (s == JXL_DEC_FRAME && JxlDecoderGetFrameHeader(dec.d, &header) == JXL_DEC_SUCCESS)
            VxRequirePicture(codec, header.layer_info.xsize, header.layer_info.ysize, 32);
    }
}

// A metadata box larger than this is dropped: JPEG holds at most 64 KiB of
// either, and a compressed box could otherwise unpack to any size.
constexpr size_t kMaxBox = size_t(4) << 20;

// The first box of the type ("Exif", "xml "), unpacked from a "brob" box;
// empty when there is none or it is damaged or too large. Only the box layer
// is read.
std::vector<uint8_t> ReadBox(const std::vector<uint8_t>& data, const char (&wanted)[5]) {
    std::vector<uint8_t> box;
    if (JxlSignatureCheck(data.data(), data.size()) != JXL_SIG_CONTAINER) return box;
    Decoder dec;
    if (JxlDecoderSetDecompressBoxes(dec.d, JXL_TRUE) != JXL_DEC_SUCCESS) return box;
    dec.Start(data, JXL_DEC_BOX);
    bool reading = false;
    size_t filled = 0;
    for (;;) {
        const JxlDecoderStatus s = JxlDecoderProcessInput(dec.d);
        if (s == JXL_DEC_BOX_NEED_MORE_OUTPUT && reading) {
            filled = box.size() - JxlDecoderReleaseBoxBuffer(dec.d);
            if (box.size() >= kMaxBox) return {};
            box.resize(std::min(kMaxBox, box.size() * 2));
            JxlDecoderSetBoxBuffer(dec.d, box.data() + filled, box.size() - filled);
            continue;
        }
        if (reading) {
            // The box ends where the next one starts (or the file does).
            box.resize(box.size() - JxlDecoderReleaseBoxBuffer(dec.d));
            return s == JXL_DEC_BOX || s == JXL_DEC_SUCCESS ? box : std::vector<uint8_t>();
        }
        if (s != JXL_DEC_BOX) return {};
        JxlBoxType type;
        if (JxlDecoderGetBoxType(dec.d, type, JXL_TRUE) != JXL_DEC_SUCCESS) return {};
        if (std::memcmp(type, wanted, 4) != 0) continue;
        reading = true;
        box.resize(4096);
        JxlDecoderSetBoxBuffer(dec.d, box.data(), box.size());
    }
}

// A colour space whose samples an 8-bit picture and an ICC profile hold as
// they are: not an HDR transfer, which would need tone mapping.
bool Reproducible(const JxlColorEncoding& c) {
    return c.transfer_function != JXL_TRANSFER_FUNCTION_PQ && c.transfer_function != JXL_TRANSFER_FUNCTION_HLG &&
           c.color_space != JXL_COLOR_SPACE_XYB && c.color_space != JXL_COLOR_SPACE_UNKNOWN;
}

bool IsSrgb(const JxlColorEncoding& c) {
    return c.white_point == JXL_WHITE_POINT_D65 && c.transfer_function == JXL_TRANSFER_FUNCTION_SRGB &&
           (c.color_space == JXL_COLOR_SPACE_GRAY ||
            (c.color_space == JXL_COLOR_SPACE_RGB && c.primaries == JXL_PRIMARIES_SRGB));
}

// Lossy pictures are stored in the library's own colour space. They are asked
// for in the file's colour space when it names one by parameters (its profile
// then comes with the picture: wide gamut kept), else in sRGB.
void AskForStoredColours(JxlDecoder* d, bool grey) {
    JxlColorEncoding original;
    if (JxlDecoderGetColorAsEncodedProfile(d, nullptr, JXL_COLOR_PROFILE_TARGET_ORIGINAL, &original) == JXL_DEC_SUCCESS &&
        !IsSrgb(original) && Reproducible(original) &&
        JxlDecoderSetPreferredColorProfile(d, &original) == JXL_DEC_SUCCESS)
        return;
    JxlColorEncoding srgb{};
    srgb.color_space = grey ? JXL_COLOR_SPACE_GRAY : JXL_COLOR_SPACE_RGB;
    srgb.white_point = JXL_WHITE_POINT_D65;
    srgb.primaries = JXL_PRIMARIES_SRGB;
    srgb.transfer_function = JXL_TRANSFER_FUNCTION_SRGB;
    srgb.rendering_intent = JXL_RENDERING_INTENT_PERCEPTUAL;
    JxlDecoderSetPreferredColorProfile(d, &srgb);
}

}  // namespace

bool VxJxlCodec::Decode(VxFile* file) {
    // The libraries print what they find wrong with a file; the engine never does.
    const vx::QuietStderr quiet;
    return vx::RunCodec(*this, kNoMemory, [&] {
        if (!file) throw VxCodecFailure("JPEG XL: no input stream");
        std::vector<uint8_t> data;
        vx::ReadUpTo(file, data, 12);
        if (!Claims(data.data(), data.size())) throw VxCodecFailure(kNotJxl);
        if (DimensionsOnly()) {
            const HeaderFacts facts = ReadHeaderFacts(file, std::move(data));
            Info.NumFrames = facts.frames;
            if (Info.Frame < 0 || Info.Frame >= Info.NumFrames)
                throw VxCodecFailure("JPEG XL: no such frame");
            const bool turned = facts.info.orientation > JXL_ORIENT_ROTATE_180;
            const JxlBasicInfo& i = facts.info;
            if (i.bits_per_sample > 8 && i.bits_per_sample <= 16 && !i.exponent_bits_per_sample)
                vx::AnswerDeep(*this, uint8_t(i.num_color_channels + (i.alpha_bits ? 1 : 0)),
                               uint8_t(i.bits_per_sample));
            return AnswerDimensions(VX_FORMAT_JXL, turned ? facts.info.ysize : facts.info.xsize,
                                    turned ? facts.info.xsize : facts.info.ysize,
                                    facts.info.num_color_channels == 1 ? 8 : 24);
        }
        vx::ReadUpTo(file, data, size_t(INT_MAX) - data.size());

        Decoder dec;
        const VxJxlRunner runner(GetThreads());
        if (!runner.Attach(dec.d) ||
            JxlDecoderSubscribeEvents(dec.d, JXL_DEC_BASIC_INFO | JXL_DEC_COLOR_ENCODING |
                                                 JXL_DEC_FRAME | JXL_DEC_FULL_IMAGE) != JXL_DEC_SUCCESS ||
            JxlDecoderSetUnpremultiplyAlpha(dec.d, JXL_TRUE) != JXL_DEC_SUCCESS)
            throw VxCodecFailure(kDamaged);
        PieceFeeder feeder(dec, data, *this);
        JxlBasicInfo info;
        JxlPixelFormat format{3, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
        uint32_t w = 0, h = 0;
        int bits = 8;
        std::vector<uint8_t> pixels;
        std::vector<uint8_t> icc;
        // Asked for the animation, every frame is decoded.
        std::shared_ptr<VxFrames> all;
        // The decoded frame into `into`: 8-bit grey or 24-bit, alpha plane.
        // A still picture's integer samples above 8 bits stay deep; the
        // library hands them over spread to 16 bits whatever their own depth.
        const auto store = [&](VxImage& into) {
            const int channels = int(format.num_channels);
            const bool grey = channels <= 2;
            if (&into == this && !all && bits > 8 && !info.exponent_bits_per_sample &&
                info.bits_per_sample <= 16) {
                auto deep = vx::NewDeepPlane(*this, w, h, uint8_t(channels), uint8_t(info.bits_per_sample));
                if (!deep) throw VxCodecFailure(GetLastError());
                std::memcpy(deep->samples.data(), pixels.data(), pixels.size());
                if (!vx::SetDeepPicture(*this, std::move(deep), VX_FORMAT_JXL))
                    throw VxCodecFailure(*GetLastError() ? GetLastError() : kNoMemory);
                return;
            }
            if (!into.Create(w, h, grey ? 8 : 24, VX_FORMAT_JXL))
                throw VxCodecFailure(*into.GetLastError() ? into.GetLastError() : kNoMemory);
            if (grey) into.SetGrayPalette();
            if ((channels == 2 || channels == 4) && !into.AlphaCreate()) throw VxCodecFailure(kNoMemory);
            const size_t rowSamples = size_t(w) * channels;
            std::vector<uint8_t> narrow(bits > 8 ? rowSamples : 0);
            for (uint32_t y = 0; y < h; ++y) {
                if (Cancelled()) throw VxCodecFailure("JPEG XL: cancelled");
                uint8_t* row;
                if (bits > 8) {
                    const auto* wide = reinterpret_cast<const uint16_t*>(pixels.data()) + y * rowSamples;
                    vx::NarrowSamples(wide, narrow.data(), rowSamples, 16);
                    row = narrow.data();
                } else {
                    row = pixels.data() + y * rowSamples;
                }
                vx::StoreRow(into, y, row, channels);
            }
        };
        // Asked for the animation, every frame is decoded; frame Frame is the picture.
        int32_t index = 0;
        uint32_t delayMs = 0;
        bool shown = false;
        for (;;) {
            const JxlDecoderStatus s = feeder.Next();
            if (s == JXL_DEC_BASIC_INFO) {
                if (JxlDecoderGetBasicInfo(dec.d, &info) != JXL_DEC_SUCCESS) throw VxCodecFailure(kDamaged);
                // The decoder turns the picture upright.
                const bool turned = info.orientation > JXL_ORIENT_ROTATE_180;
                w = turned ? info.ysize : info.xsize;
                h = turned ? info.xsize : info.ysize;
                const bool alpha = info.alpha_bits != 0;
                VxRequirePicture(*this, w, h, alpha ? 32 : 24);
                CheckLayers(data, *this);
                Info.NumFrames = info.have_animation ? CountFrames(data) : 1;
                if (Info.Frame < 0 || Info.Frame >= Info.NumFrames)
                    throw VxCodecFailure("JPEG XL: no such frame");
                const bool grey = info.num_color_channels == 1;
                format.num_channels = (grey ? 1 : 3) + (alpha ? 1 : 0);
                bits = info.bits_per_sample > 8 || info.exponent_bits_per_sample ? 16 : 8;
                format.data_type = bits > 8 ? JXL_TYPE_UINT16 : JXL_TYPE_UINT8;
                if (WantsAnimation() && Info.NumFrames > 1) {
                    if (!vx::AnimationFits(*this, uint64_t(Info.NumFrames), w, h))
                        throw VxCodecFailure(GetLastError());
                    all = std::make_shared<VxFrames>();
                    all->plays = info.animation.num_loops;
                } else if (Info.Frame > 0) {
                    JxlDecoderSkipFrames(dec.d, size_t(Info.Frame));
                    index = Info.Frame;
                }
            } else if (s == JXL_DEC_COLOR_ENCODING) {
                JxlColorEncoding c;
                if (!info.uses_original_profile) AskForStoredColours(dec.d, info.num_color_channels == 1);
                // Samples in a colour space other than sRGB keep its
                // profile: the file's own, or for a colour space the file
                // names by its parameters, the one the library makes for it.
                const bool known = JxlDecoderGetColorAsEncodedProfile(dec.d, nullptr, JXL_COLOR_PROFILE_TARGET_DATA, &c) == JXL_DEC_SUCCESS;
                size_t iccSize = 0;
                if ((!known || !IsSrgb(c)) &&
                    JxlDecoderGetICCProfileSize(dec.d, nullptr, JXL_COLOR_PROFILE_TARGET_DATA, &iccSize) == JXL_DEC_SUCCESS &&
                    iccSize > 0 && iccSize < (size_t(1) << 26)) {
                    icc.resize(iccSize);
                    if (JxlDecoderGetColorAsICCProfile(dec.d, nullptr, JXL_COLOR_PROFILE_TARGET_DATA, icc.data(), icc.size()) != JXL_DEC_SUCCESS)
                        icc.clear();
                }
            } else if (s == JXL_DEC_FRAME) {
                JxlFrameHeader header;
                if (JxlDecoderGetFrameHeader(dec.d, &header) == JXL_DEC_SUCCESS && info.have_animation &&
                    info.animation.tps_numerator > 0) {
                    const uint64_t cs = uint64_t(header.duration) * info.animation.tps_denominator * 100 /
                                        info.animation.tps_numerator;
                    Info.FrameDelay = cs > UINT32_MAX ? UINT32_MAX : uint32_t(cs);
                    delayMs = uint32_t(std::min<uint64_t>(cs * 10, UINT32_MAX));
                }
            } else if (s == JXL_DEC_NEED_IMAGE_OUT_BUFFER) {
                size_t size = 0;
                if (JxlDecoderImageOutBufferSize(dec.d, &format, &size) != JXL_DEC_SUCCESS ||
                    size != size_t(w) * h * format.num_channels * (bits / 8))
                    throw VxCodecFailure(kDamaged);
                pixels.resize(size);
                if (JxlDecoderSetImageOutBuffer(dec.d, &format, pixels.data(), pixels.size()) != JXL_DEC_SUCCESS)
                    throw VxCodecFailure(kDamaged);
            } else if (s == JXL_DEC_FULL_IMAGE) {
                if (pixels.empty()) throw VxCodecFailure(kDamaged);
                if (index == Info.Frame) {
                    store(*this);
                    shown = true;
                }
                ++index;
                if (!all) break;
                auto frame = std::make_shared<VxImage>(VX_FORMAT_JXL);
                store(*frame);
                all->frames.push_back({std::move(frame), delayMs});
                if (index >= Info.NumFrames) break;
            } else if (s == JXL_DEC_SUCCESS) {
                if (all && shown) break;
                throw VxCodecFailure("JPEG XL: no such frame");
            }
        }
        if (!shown) throw VxCodecFailure(kDamaged);
        SetAnimation(std::move(all));
        if (!icc.empty()) SetIccProfile(icc);
        // The library has turned the picture by the code stream's orientation,
        // which viewers follow and cjxl fills from a JPEG's EXIF tag (keeping
        // the tag): the block must not turn it a second time.
        const std::vector<uint8_t> stored = ReadBox(data, "Exif");
        const auto exif = vx::ExifAfterOffset(stored);
        if (!exif.empty()) SetExif(vx::ExifFitted(exif, 1, w, h));
        SetXmp(ReadBox(data, "xml "));
        return true;
    });
}
