// Codecs over large libraries (HEIF, JPEG XL, SVG, PDF, camera raw, EXR, metafiles)
// are modules the program carries inside itself and loads on their first
// file: a run that meets none never maps, relocates or starts those
// libraries, which was most of every run's start-up. The registry names them
// through VxModuleOpsFor; the probe's Claims test keeps a file of another
// format from loading them. A program that links a module codec directly
// (the tests) is served by it without loading anything.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "core/vx_codec.h"
#include "core/vx_image.h"

enum class VxModule : uint8_t { Heif, Svg, Pdf, Raw, Exr, Metafile, Jxl };
constexpr size_t kVxModuleCount = 7;

// The module's operations, loaded on the first call (any thread); null when
// it cannot be loaded, with the reason in `why`.
const VxCodecOps* VxModuleOps(VxModule module, const char** why = nullptr);
// The module's direct ways (VX_CODEC_MODULE_WAYS), loaded likewise; null
// when it has none or cannot be loaded.
const VxTranscode* VxModuleWays(VxModule module, const char** why = nullptr);

// The registry's transcoder for the module's way `I`.
template <VxModule M, size_t I>
bool VxModuleWay(std::span<const uint8_t> in, const VxTranscodeSteps& steps, std::vector<uint8_t>& out,
                 std::string& note) {
    const char* why = "the module has no such way";
    const VxTranscode* ways = VxModuleWays(M, &why);
    if (!ways) {
        note = why;
        return false;
    }
    return ways[I](in, steps, out, note);
}

template <VxModule M>
struct VxModuleStubs {
    static const VxCodecOps* Ops(VxImage* codec) {
        const char* why = nullptr;
        const VxCodecOps* ops = VxModuleOps(M, &why);
        if (!ops && codec) codec->SetLastError(why);
        return ops;
    }
    // A module that cannot be loaded gives a plain picture, which the next
    // call fails with the reason.
    static VxImage* Create() {
        const VxCodecOps* ops = VxModuleOps(M);
        return ops ? ops->create() : new VxImage;
    }
    static bool Decode(VxImage* c, VxFile* f, ImageFormat t) {
        const VxCodecOps* ops = Ops(c);
        return ops && ops->decode(c, f, t);
    }
    static bool Encode(VxImage* c, VxFile* f, ImageFormat t) {
        const VxCodecOps* ops = Ops(c);
        return ops && ops->encode(c, f, t);
    }
    static bool EncodePages(VxImage* c, VxFile* f, VxImage** pages, int32_t n) {
        const VxCodecOps* ops = Ops(c);
        return ops && ops->encodePages && ops->encodePages(c, f, pages, n);
    }
    static bool WritesGrey(const VxImage& picture) {
        const VxCodecOps* ops = VxModuleOps(M);
        return ops && ops->writesGrey && ops->writesGrey(picture);
    }
};

// VxCodecOpsFor's table for a module codec: the same shape, read from the
// class's declaration alone, so that nothing of the codec is linked in.
template <class Codec, VxModule M>
constexpr VxCodecOps VxModuleOpsFor() {
    static_assert(requires { &Codec::Claims; }, "a module codec needs a Claims test");
    using Stubs = VxModuleStubs<M>;
    VxCodecOps ops{};
    ops.create = &Stubs::Create;
    ops.decode = &Stubs::Decode;
    ops.encode = &Stubs::Encode;
    if constexpr (requires {
                      static_cast<bool (Codec::*)(VxFile*, VxImage**, int32_t)>(&Codec::Encode);
                  })
        ops.encodePages = &Stubs::EncodePages;
    if constexpr (requires { Codec::kReportsFrames; }) ops.reportsFrames = Codec::kReportsFrames;
    if constexpr (requires { &Codec::WritesGrey; }) ops.writesGrey = &Stubs::WritesGrey;
    ops.claims = &Codec::Claims;
    ops.claimsReach = Codec::kClaimsReach;
    return ops;
}
