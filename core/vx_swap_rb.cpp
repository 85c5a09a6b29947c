#include "core/vx_swap_rb.h"

#include <cstddef>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace vx {

namespace {

#if defined(__x86_64__) || defined(__i386__)
// Five pixels per 16-byte shuffle; the sixteenth byte is the next pixel's
// first, which the next step (or the tail) writes again. Loads and stores
// stay inside the row. Returns the pixels done.
__attribute__((target("ssse3"))) uint32_t SwapRedBlueSsse3(const uint8_t* src, uint8_t* out,
                                                           uint32_t width) {
    const __m128i order = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15);
    uint32_t x = 0;
    for (; size_t(x) * 3 + 16 <= size_t(width) * 3; x += 5) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + size_t(x) * 3));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + size_t(x) * 3), _mm_shuffle_epi8(v, order));
    }
    return x;
}
#endif

}  // namespace

void SwapRedBlue(const uint8_t* src, uint8_t* out, uint32_t width) {
    uint32_t x = 0;
#if defined(__x86_64__) || defined(__i386__)
    static const bool ssse3 = __builtin_cpu_supports("ssse3");
    if (ssse3) x = SwapRedBlueSsse3(src, out, width);
#endif
    for (src += size_t(x) * 3, out += size_t(x) * 3; x < width; ++x, src += 3, out += 3) {
        out[0] = src[2];
        out[1] = src[1];
        out[2] = src[0];
    }
}

}  // namespace vx
