// The codec contract: what every codec in codecs/<format>/ does, and the
// pieces it is built from. A codec is a VxImage subclass; the registry
// (codecs/registry.cpp) lists each format once with VxCodecOpsFor<Codec>()
// and what the format can do (core/vx_format_caps.h), and the dispatcher
// (core/vx_dispatch.cpp) makes one codec object per call.
//
// Decoding: `bool Decode(VxFile*)`, or `bool Decode(VxFile*, ImageFormat)`
// when the format code matters (0 while the probe tries the codec).
// - The codec object starts without a picture and with the caller's ImageInfo
//   (Frame, JpegScale, CodecOption, Escape, MaxPixels, ...); the dispatcher
//   has already reset what described the caller's previous picture.
// - DimensionsOnly(): the caller wants the picture's facts, not its pixels.
//   Read the header alone, answer with AnswerDimensions(format, width, height,
//   bpp) as the full decode would give them, with NumFrames where the codec
//   reports frames and the resolution where the header holds it, and return
//   true without allocating in proportion to the picture or reading its data.
//   A header the full decode would refuse (a frame past the end, a bad
//   field) fails here too; the picture limit is the caller's to apply.
// - Before anything is allocated in proportion to the picture (the pixel
//   block, band or strip buffers, a library's planes), call PictureFits()
//   (or VxRequirePicture()): it enforces the picture limit (MaxPixels,
//   default kVxDefaultMaxPixels, 0 for none) and, given the fewest bytes the
//   format can hold the picture in, refuses a stream that has fewer left.
//   A working buffer that is not the picture (a strip, a band, a library's
//   planes) is checked with BufferFits() (VxRequireBuffer()) before it is
//   allocated: it may take what a picture at the limit takes in the
//   format's deepest form.
// - Cancelled(): poll it between rows, and between the pieces a library is
//   fed or the tiles it decodes; a cancelled decode fails. A cancelled decode
//   is not followed by the probe.
// - Every false return leaves a reason in LastError. A codec raises
//   VxCodecFailure and catches it at the end of the same Decode or Encode.
// - After a failure the stream stands anywhere: whoever tries another decoder
//   seeks back first (the probe does). After a success it stands after the
//   bytes the codec consumed, so a container can go on reading.
// - A format nested inside another (an icon's PNG entry) is decoded through
//   VxImage::Decode(file, code) on the container's codec object: the nested
//   codec inherits its ImageInfo, the limit included.
// - A codec that reports frames (kReportsFrames) leaves NumFrames set on
//   failure too, so that a caller asking for a frame past the end learns the
//   count.
//
// Encoding: `bool Encode(VxFile*)`, or `bool Encode(VxFile*, ImageFormat)`;
// pages: `bool Encode(VxFile*, VxImage**, int32_t)`.
// - The codec object is a ghost of the caller's picture: it shares the pixel
//   block, palette, alpha and selection planes and holds a copy of ImageInfo.
//   It may change its own ImageInfo (LastError, settings it derives); it never
//   writes into the shared block or planes (hand libraries a scratch copy of a
//   row when they may change it) and cannot Create or Destroy them.
// - Call EncodeSafeCheck(file) first. On failure the stream holds rubbish;
//   Save writes to a temporary file and throws it away.
//
// Libraries that longjmp (libjpeg, libpng): the frame that calls setjmp and
// every frame the jump crosses hold only plain data. No object with a
// destructor (std::string, std::vector, std::unique_ptr) lives there, and no
// C++ exception crosses a library's C frames: keep such objects in a state
// struct owned by the frame that calls the jumping one.
#pragma once

#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "core/vx_format.h"
#include "core/vx_format_caps.h"
#include "core/vx_types.h"

class VxImage;
class VxFile;

// A codec's failure, raised inside it and caught at the end of the same
// Decode or Encode. Plain data, so it needs no destructor of its own.
struct VxCodecFailure {
    char text[256];

    // `what` then `detail`, cut whole characters short of the end.
    explicit VxCodecFailure(const char* what, const char* detail = nullptr) {
        vx::CopyTextUtf8(text, sizeof(text), what);
        const size_t used = std::strlen(text);
        vx::CopyTextUtf8(text + used, sizeof(text) - used, detail);
    }
};

// How the dispatcher calls one codec class.
struct VxCodecOps {
    VxImage* (*create)();
    bool (*decode)(VxImage* codec, VxFile* file, ImageFormat type);
    bool (*encode)(VxImage* codec, VxFile* file, ImageFormat type);
    // Null for formats that hold one picture.
    bool (*encodePages)(VxImage* codec, VxFile* file, VxImage** pages, int32_t count);
    bool reportsFrames;
    // Whether the encoder writes this picture's samples as grey, so that a
    // grey colour profile goes with them (`static bool WritesGrey(const
    // VxImage&)`); null: it writes colour samples.
    bool (*writesGrey)(const VxImage& picture);
    // Null, or the probe's test before it creates the codec (`static bool
    // Claims(const uint8_t* head, size_t size)` over the first kClaimsReach
    // bytes): false when no file of this format starts so. Never stricter
    // than the codec's own test. A codec loaded on first use has one, so
    // that probing a file of another format does not load it.
    bool (*claims)(const uint8_t* head, size_t size);
    uint32_t claimsReach;
};

// The most bytes a Claims test may look at.
constexpr uint32_t kVxClaimsMaxReach = 4096;

// One registry line: a format code; its name as --info prints it and as the
// target list spells it ("BMP", "HEIC": the target item "*.HEIC" and the
// extension ".HEIC"); the file-name extensions that name it, lower case and
// space separated ("heic heif hif"); its codec; whether the probe tries it on
// its own; and what the format can do.
struct VxCodecEntry {
    ImageFormat code;
    const char* name;
    const char* extensions;
    VxCodecOps ops;
    bool probed;
    VxFormatCaps caps;
};

// The operations table of a codec class, from the member functions the
// contract above names.
template <class Codec>
constexpr VxCodecOps VxCodecOpsFor() {
    VxCodecOps ops{};
    ops.create = []() -> VxImage* { return new Codec; };
    if constexpr (requires { static_cast<bool (Codec::*)(VxFile*, ImageFormat)>(&Codec::Decode); })
        ops.decode = [](VxImage* c, VxFile* f, ImageFormat t) {
            return static_cast<Codec*>(c)->Decode(f, t);
        };
    else
        ops.decode = [](VxImage* c, VxFile* f, ImageFormat) {
            return static_cast<Codec*>(c)->Decode(f);
        };
    if constexpr (requires { static_cast<bool (Codec::*)(VxFile*, ImageFormat)>(&Codec::Encode); })
        ops.encode = [](VxImage* c, VxFile* f, ImageFormat t) {
            return static_cast<Codec*>(c)->Encode(f, t);
        };
    else
        ops.encode = [](VxImage* c, VxFile* f, ImageFormat) {
            return static_cast<Codec*>(c)->Encode(f);
        };
    if constexpr (requires {
                      static_cast<bool (Codec::*)(VxFile*, VxImage**, int32_t)>(&Codec::Encode);
                  })
        ops.encodePages = [](VxImage* c, VxFile* f, VxImage** pages, int32_t n) {
            return static_cast<Codec*>(c)->Encode(f, pages, n);
        };
    if constexpr (requires { Codec::kReportsFrames; }) ops.reportsFrames = Codec::kReportsFrames;
    if constexpr (requires { &Codec::WritesGrey; }) ops.writesGrey = &Codec::WritesGrey;
    if constexpr (requires { &Codec::Claims; }) {
        static_assert(Codec::kClaimsReach > 0 && Codec::kClaimsReach <= kVxClaimsMaxReach);
        ops.claims = &Codec::Claims;
        ops.claimsReach = Codec::kClaimsReach;
    }
    return ops;
}

// A codec built as a module of its own (loaded on first use, see
// codecs/codec_modules.h) exports its operations through this one function.
// Linked into a program directly (the tests), the same function serves the
// registry without loading anything.
#define VX_CODEC_MODULE(name, Codec)                                                     \
    extern "C" __attribute__((visibility("default"))) const VxCodecOps* vx_codec_module_##name() { \
        static constexpr VxCodecOps ops = VxCodecOpsFor<Codec>();                        \
        return &ops;                                                                     \
    }
// The direct ways (transcoders) of a module codec, in a fixed order.
#define VX_CODEC_MODULE_WAYS(name, ...)                                                  \
    extern "C" __attribute__((visibility("default"))) const VxTranscode* vx_codec_module_##name##_ways() { \
        static constexpr VxTranscode ways[] = {__VA_ARGS__};                             \
        return ways;                                                                     \
    }

// The registry, in probe order. Null when `type` has no codec.
const VxCodecEntry* VxFindCodecEntry(ImageFormat type);
const VxCodecOps* VxFindCodec(ImageFormat type);
const VxCodecEntry* VxCodecEntries(size_t* count);
// What the format of `type` can do; null when the registry has no line for it.
const VxFormatCaps* VxFindFormatCaps(ImageFormat type);

// What a direct way is asked to do besides carrying the picture over.
struct VxTranscodeSteps {
    bool upright = true;     // turn a picture its EXIF turns (without decoding it)
    bool strip = false;      // leave out the metadata
    bool trimEdges = false;  // a turn that would move partial edge blocks trims them
    bool sequential = false; // write a progressive JPEG sequentially (for its readers)
};
// A file of one format rewritten as another without decoding its pixels
// (JPEG coefficients into JPEG XL and back, JPEG turned by its coefficients).
// False with the reason in `note` when this file cannot take that way; true
// with what was done beyond the copy in `note` ("" when nothing).
using VxTranscode = bool (*)(std::span<const uint8_t> in, const VxTranscodeSteps& steps,
                             std::vector<uint8_t>& out, std::string& note);
struct VxTranscoder {
    ImageFormat from, to;
    VxTranscode run;
    // Whether `to`'s file gives back `from`'s bytes exactly.
    bool reversible;
    // Whether the way can leave out the metadata (`steps.strip`).
    bool strips;
    const char* method;  // the report's name for the way
    // Whether only a run that asks for lossless ways takes it (otherwise the
    // pixels are coded again, as the target's default is).
    bool askedOnly = false;
};
// Null when no such way exists.
const VxTranscoder* VxFindTranscoder(ImageFormat from, ImageFormat to);

// The picture check as a codec that raises VxCodecFailure uses it.
void VxRequirePicture(VxImage& codec, uint64_t width, uint64_t height, uint32_t bpp,
                      VxFile* file = nullptr, uint64_t leastBytes = 0,
                      const char* shortText = nullptr);
// The same for a working buffer of `bytes` (VxImage::BufferFits).
void VxRequireBuffer(VxImage& codec, uint64_t bytes, uint32_t perPixel = 4);
