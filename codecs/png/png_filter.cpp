#include "codecs/png/png_filter.h"

#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vx::png {

namespace {

inline unsigned Magnitude(uint8_t v) { return v < 128 ? v : 256u - v; }

inline uint8_t PaethPredictor(int a, int b, int c) {
    const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
    return uint8_t(pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
}

inline uint8_t Predict(Filter f, uint8_t a, uint8_t b, uint8_t c) {
    switch (f) {
        case kFilterSub: return a;
        case kFilterUp: return b;
        case kFilterAverage: return uint8_t((a + b) >> 1);
        case kFilterPaeth: return PaethPredictor(a, b, c);
        default: return 0;
    }
}

// Bytes [from, to) one at a time; the left neighbours of the first bpp bytes are 0.
void SumRange(const uint8_t* row, const uint8_t* prior, size_t from, size_t to, unsigned bpp,
              uint64_t sums[5]) {
    for (size_t i = from; i < to; ++i) {
        const uint8_t x = row[i], b = prior[i];
        const uint8_t a = i >= bpp ? row[i - bpp] : 0, c = i >= bpp ? prior[i - bpp] : 0;
        sums[0] += Magnitude(x);
        sums[1] += Magnitude(uint8_t(x - a));
        sums[2] += Magnitude(uint8_t(x - b));
        sums[3] += Magnitude(uint8_t(x - ((a + b) >> 1)));
        sums[4] += Magnitude(uint8_t(x - PaethPredictor(a, b, c)));
    }
}

void ApplyRange(Filter f, const uint8_t* row, const uint8_t* prior, size_t from, size_t to,
                unsigned bpp, uint8_t* out) {
    for (size_t i = from; i < to; ++i) {
        const uint8_t a = i >= bpp ? row[i - bpp] : 0, c = i >= bpp ? prior[i - bpp] : 0;
        out[i] = uint8_t(row[i] - Predict(f, a, prior[i], c));
    }
}

#if defined(__SSE2__)

// Sixteen bytes at a time from byte bpp on, where every left neighbour is in
// the row. Returns where the vector loop stopped.

inline __m128i Load(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

// min(v, -v) as unsigned bytes is the magnitude of v read as signed.
inline __m128i MagnitudeSum(__m128i v) {
    const __m128i zero = _mm_setzero_si128();
    return _mm_sad_epu8(_mm_min_epu8(v, _mm_sub_epi8(zero, v)), zero);
}

inline __m128i Average(__m128i a, __m128i b) {
    // pavgb rounds up; the floor differs by the lost low bit.
    return _mm_sub_epi8(_mm_avg_epu8(a, b), _mm_and_si128(_mm_xor_si128(a, b), _mm_set1_epi8(1)));
}

inline __m128i Abs16(__m128i v) { return _mm_max_epi16(v, _mm_sub_epi16(_mm_setzero_si128(), v)); }

inline __m128i Paeth16(__m128i a, __m128i b, __m128i c) {
    const __m128i bc = _mm_sub_epi16(b, c), ac = _mm_sub_epi16(a, c);
    const __m128i pa = Abs16(bc), pb = Abs16(ac), pc = Abs16(_mm_add_epi16(bc, ac));
    const __m128i notA = _mm_cmpgt_epi16(pa, _mm_min_epi16(pb, pc));
    const __m128i useC = _mm_cmpgt_epi16(pb, pc);
    const __m128i bOrC = _mm_or_si128(_mm_and_si128(useC, c), _mm_andnot_si128(useC, b));
    return _mm_or_si128(_mm_and_si128(notA, bOrC), _mm_andnot_si128(notA, a));
}

inline __m128i Paeth(__m128i a, __m128i b, __m128i c) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i lo = Paeth16(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero),
                               _mm_unpacklo_epi8(c, zero));
    const __m128i hi = Paeth16(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero),
                               _mm_unpackhi_epi8(c, zero));
    return _mm_packus_epi16(lo, hi);
}

size_t SumVectors(const uint8_t* row, const uint8_t* prior, size_t rowBytes, unsigned bpp,
                  uint64_t sums[5]) {
    __m128i s0 = _mm_setzero_si128(), s1 = s0, s2 = s0, s3 = s0, s4 = s0;
    size_t i = bpp;
    for (; i + 16 <= rowBytes; i += 16) {
        const __m128i x = Load(row + i), a = Load(row + i - bpp);
        const __m128i b = Load(prior + i), c = Load(prior + i - bpp);
        s0 = _mm_add_epi64(s0, MagnitudeSum(x));
        s1 = _mm_add_epi64(s1, MagnitudeSum(_mm_sub_epi8(x, a)));
        s2 = _mm_add_epi64(s2, MagnitudeSum(_mm_sub_epi8(x, b)));
        s3 = _mm_add_epi64(s3, MagnitudeSum(_mm_sub_epi8(x, Average(a, b))));
        s4 = _mm_add_epi64(s4, MagnitudeSum(_mm_sub_epi8(x, Paeth(a, b, c))));
    }
    const __m128i all[5] = {s0, s1, s2, s3, s4};
    for (int f = 0; f < 5; ++f) {
        uint64_t lanes[2];
        _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes), all[f]);
        sums[f] += lanes[0] + lanes[1];
    }
    return i;
}

size_t ApplyVectors(Filter f, const uint8_t* row, const uint8_t* prior, size_t rowBytes,
                    unsigned bpp, uint8_t* out) {
    size_t i = bpp;
    for (; i + 16 <= rowBytes; i += 16) {
        const __m128i x = Load(row + i), a = Load(row + i - bpp);
        const __m128i b = Load(prior + i), c = Load(prior + i - bpp);
        __m128i p;
        switch (f) {
            case kFilterSub: p = a; break;
            case kFilterUp: p = b; break;
            case kFilterAverage: p = Average(a, b); break;
            default: p = Paeth(a, b, c); break;
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_sub_epi8(x, p));
    }
    return i;
}

#else

size_t SumVectors(const uint8_t*, const uint8_t*, size_t, unsigned bpp, uint64_t*) { return bpp; }
size_t ApplyVectors(Filter, const uint8_t*, const uint8_t*, size_t, unsigned bpp, uint8_t*) {
    return bpp;
}

#endif

}  // namespace

Filter ChooseFilter(const uint8_t* row, const uint8_t* prior, size_t rowBytes, unsigned bpp) {
    uint64_t sums[5] = {};
    const size_t head = bpp < rowBytes ? bpp : rowBytes;
    SumRange(row, prior, 0, head, bpp, sums);
    const size_t done = head < rowBytes ? SumVectors(row, prior, rowBytes, bpp, sums) : head;
    SumRange(row, prior, done, rowBytes, bpp, sums);
    Filter best = kFilterNone;
    for (int f = 1; f < 5; ++f)
        if (sums[f] < sums[best]) best = Filter(f);
    return best;
}

void ApplyFilter(Filter filter, const uint8_t* row, const uint8_t* prior, size_t rowBytes,
                 unsigned bpp, uint8_t* out) {
    out[0] = filter;
    ++out;
    if (filter == kFilterNone) {
        std::memcpy(out, row, rowBytes);
        return;
    }
    const size_t head = bpp < rowBytes ? bpp : rowBytes;
    ApplyRange(filter, row, prior, 0, head, bpp, out);
    const size_t done = head < rowBytes ? ApplyVectors(filter, row, prior, rowBytes, bpp, out) : head;
    ApplyRange(filter, row, prior, done, rowBytes, bpp, out);
}

}  // namespace vx::png
