// The end of every Decode and Encode: a codec's failure (VxCodecFailure) or
// an allocation the system refused becomes false with a reason in LastError.
#pragma once

#include <new>

#include "core/vx_codec.h"
#include "core/vx_image.h"

namespace vx {

// `noMemory` is the text, or a function that gives it when the format is
// only known once the file has been read.
template <class NoMemory, class Work>
bool RunCodec(VxImage& codec, NoMemory noMemory, Work&& work) {
    try {
        return work();
    } catch (const VxCodecFailure& e) {
        codec.SetLastError(e.text);
    } catch (const std::bad_alloc&) {
        if constexpr (std::is_invocable_v<NoMemory>)
            codec.SetLastError(noMemory());
        else
            codec.SetLastError(noMemory);
    }
    return false;
}

}  // namespace vx
