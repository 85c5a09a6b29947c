// Decodes any input (probe); when that works, encodes the picture in every
// writable format and decodes each result again. The pixel bound is lower than
// the decode targets': a 13x64519 picture through fourteen encoders took over
// ten seconds with the sanitizers, honest linear work that only slows the run.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "core/vx_image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return 0;
    std::vector<uint8_t> copy(data, data + size);
    {
        VxImage probe(0);
        probe.SetEscape(-1);
        if (probe.Decode(copy.data(), uint32_t(copy.size()), 0) &&
            uint64_t(probe.GetWidth()) * probe.GetHeight() > (1u << 18))
            return 0;
    }
    VxImage img(0);
    if (!img.Decode(copy.data(), uint32_t(copy.size()), 0)) return 0;
    for (uint32_t format = 1; format < kVxFormatCount; ++format) {
        if (format == VX_FORMAT_WMF) continue;
        VxImage work(img);
        uint8_t* out = nullptr;
        int32_t outSize = 0;
        if (!work.Encode(out, outSize, format)) {
            if (work.GetLastError()[0] == '\0') std::abort();
            continue;
        }
        VxImage back(0);
        back.Decode(out, uint32_t(outSize), format);
        std::free(out);
    }
    return 0;
}
