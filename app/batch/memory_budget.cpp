#include "app/batch/memory_budget.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>

namespace vellumar::batch {

namespace {

// Bytes per pixel at a row's peak, from the peak resident size of one-row
// runs on a 12-megapixel picture (docs/performance.md), rounded up with room
// for what those runs did not reach: alpha planes, the RGBA path of unusual
// TIFFs, composed GIF frames, four-component JPEG-2000. Decoding: a picture
// takes 3 to 4, progressive JPEG keeps its coefficients (+3), OpenJPEG and
// the PNM/PGX/raster readers 4 bytes per sample. Encoding, beyond the
// decoded picture: JPEG-2000 about 34 (4 bytes per sample, twice), PCX 9,
// PNM and raster 12, PGX 5, a depth-fitted copy 1 to 3. The newer formats,
// from the peak resident size of their libraries' own tools (dwebp,
// heif-convert, djxl, cwebp, heif-enc, cjxl) on a 2-megapixel photo: decoding
// WebP 4 (an animation keeps two canvases), HEIF and AVIF 9, JPEG XL 20, plus
// the 16-bit rows the codecs take; encoding lossless WebP 40, HEIC and AVIF
// 25, JPEG XL 50 (lossless 68).
constexpr uint32_t kDecodeBytes[kVxFormatCount] = {
    // 0 (a file no decoder was named for) takes the worst.
    32, /*BMP*/ 4, /*GIF*/ 8, /*JPG*/ 7, /*PNG*/ 5, /*ICO*/ 5, /*TIF*/ 8, /*TGA*/ 5,
    /*PCX*/ 5, /*WBMP*/ 2, /*WMF*/ 8, /*JP2*/ 20, /*JPC*/ 20, /*PGX*/ 20, /*PNM*/ 20,
    /*RAS*/ 20, /*WEBP*/ 12, /*HEIF*/ 16, /*AVIF*/ 16, /*JXL*/ 32};
constexpr uint32_t kEncodeBytes[kVxFormatCount] = {
    0, /*BMP*/ 1, /*GIF*/ 2, /*JPG*/ 3, /*PNG*/ 6, /*ICO*/ 4, /*TIF*/ 4, /*TGA*/ 4,
    /*PCX*/ 10, /*WBMP*/ 2, /*WMF*/ 0, /*JP2*/ 40, /*JPC*/ 40, /*PGX*/ 6, /*PNM*/ 13,
    /*RAS*/ 13, /*WEBP*/ 44, /*HEIF*/ 32, /*AVIF*/ 32, /*JXL*/ 72};
// Buffers that do not grow with the picture (streams, library state).
constexpr uint64_t kRowOverhead = uint64_t(4) << 20;

uint32_t PerPixel(const uint32_t (&table)[kVxFormatCount], ImageFormat format) {
    return format < kVxFormatCount ? table[format] : table[0];
}

uint64_t SaturatingProduct(uint64_t a, uint64_t b) {
    if (a != 0 && b > UINT64_MAX / a) return UINT64_MAX;
    return a * b;
}

}  // namespace

uint64_t DefaultMemoryBudget() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0) return uint64_t(1) << 31;
    return uint64_t(pages) * uint64_t(pageSize) / 2;
}

uint64_t RowMemoryEstimate(uint64_t width, uint64_t height, ImageFormat source,
                           ImageFormat target) {
    const uint64_t perPixel = PerPixel(kDecodeBytes, source) + PerPixel(kEncodeBytes, target);
    const uint64_t bytes = SaturatingProduct(SaturatingProduct(width, height), perPixel);
    return bytes > UINT64_MAX - kRowOverhead ? UINT64_MAX : bytes + kRowOverhead;
}

uint64_t RowMemoryEstimate(uint64_t width, uint64_t height, uint64_t outWidth, uint64_t outHeight,
                           ImageFormat source, ImageFormat target) {
    if (outWidth == width && outHeight == height)
        return RowMemoryEstimate(width, height, source, target);
    // A resized picture is 24-bit with an alpha plane.
    constexpr uint64_t kResizedBytes = 4;
    const uint64_t decoded = SaturatingProduct(SaturatingProduct(width, height), PerPixel(kDecodeBytes, source));
    const uint64_t resized = SaturatingProduct(SaturatingProduct(outWidth, outHeight),
                                               kResizedBytes + PerPixel(kEncodeBytes, target));
    const uint64_t bytes = decoded > UINT64_MAX - resized ? UINT64_MAX : decoded + resized;
    return bytes > UINT64_MAX - kRowOverhead ? UINT64_MAX : bytes + kRowOverhead;
}

MemoryBudget::Grant MemoryBudget::Reserve(uint64_t bytes, const std::function<bool()>& stop) {
    if (bytes > limit_) return Grant::TooLarge;
    std::unique_lock lock(mutex_);
    bool waited = false;
    while (held_ + bytes > limit_) {
        if (stop && stop()) return Grant::Stopped;
        if (!waited) ++waits_;
        waited = true;
        // Woken by every release; the timeout only lets `stop` be seen.
        released_.wait_for(lock, std::chrono::milliseconds(50));
    }
    held_ += bytes;
    peak_ = std::max(peak_, held_);
    return Grant::Granted;
}

void MemoryBudget::Release(uint64_t bytes) {
    {
        std::lock_guard lock(mutex_);
        held_ -= std::min(held_, bytes);
    }
    released_.notify_all();
}

uint64_t MemoryBudget::PeakHeld() const {
    std::lock_guard lock(mutex_);
    return peak_;
}

int MemoryBudget::Waits() const {
    std::lock_guard lock(mutex_);
    return waits_;
}

}  // namespace vellumar::batch
