// Decodes any input (probe); when that works, encodes the picture in every
// writable format (as it is, and fitted to the target's depth as a batch row
// is) and decodes each result again. The picture limit is lower than the
// decode targets': a 13x64519 picture through fourteen encoders took over
// ten seconds with the sanitizers, honest linear work that only slows the run.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "app/batch/batch_engine.h"
#include "core/vx_image.h"

namespace {

void RoundTrip(VxImage& work, uint32_t format) {
    uint8_t* out = nullptr;
    int32_t outSize = 0;
    if (!work.Encode(out, outSize, format)) {
        if (work.GetLastError()[0] == '\0') std::abort();
        return;
    }
    VxImage back(0);
    back.Decode(out, uint32_t(outSize), format);
    std::free(out);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return 0;
    std::vector<uint8_t> copy(data, data + size);
    VxImage img(0);
    img.SetMaxPixels(uint64_t(1) << 18);
    if (!img.Decode(copy.data(), uint32_t(copy.size()), 0)) return 0;
    for (uint32_t format = 1; format < kVxFormatCount; ++format) {
        if (format == VX_FORMAT_WMF) continue;
        // The picture as it is (any caller of an encoder), then as a batch row
        // hands it over after fitting its depth to the target, when that differs.
        VxImage work(img);
        RoundTrip(work, format);
        VxImage fitted(img);
        ImageHandle handle = &fitted;
        vellumar::batch::FitDepth(&handle, format);
        if (fitted.GetBpp() != img.GetBpp() || fitted.GetNumColors() != img.GetNumColors())
            RoundTrip(fitted, format);
    }
    return 0;
}
