// Decodes the input through the dispatch with one format code (0 = probe),
// under a small picture limit: bombs reach the decoders' own checks, and
// memory reports point at real bugs rather than at honest huge pictures.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/vx_image.h"

#ifndef VX_FUZZ_FORMAT
#error "VX_FUZZ_FORMAT must name the format code"
#endif

namespace {
constexpr uint64_t kMaxPixels = 4u << 20;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 22)) return 0;
    std::vector<uint8_t> copy(data, data + size);
    VxImage img(0);
    img.SetMaxPixels(kMaxPixels);
    const bool ok = img.Decode(copy.data(), uint32_t(copy.size()), VX_FUZZ_FORMAT);
    if (!ok && img.GetLastError()[0] == '\0') std::abort();  // every failure has a reason
    if (ok && !img.IsValid()) std::abort();
    if (ok && uint64_t(img.GetWidth()) * img.GetHeight() > kMaxPixels) std::abort();
    if (ok && img.IsValid()) {
        // Touch every pixel row: a wrong stride or size shows up here.
        uint8_t acc = 0;
        for (uint32_t y = 0; y < img.GetHeight(); ++y) acc ^= img.GetBits(y)[img.GetEffWidth() - 1];
        volatile uint8_t sink = acc;
        (void)sink;
    }
    return 0;
}
