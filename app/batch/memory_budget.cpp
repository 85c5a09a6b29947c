#include "app/batch/memory_budget.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <iterator>

namespace vellumar::batch {

namespace {

// Bytes per pixel at a row's peak, measured (peak resident size of
// one-row runs on 12-megapixel pictures, rounded up) and kept generous: a
// decoded picture takes 3 to 4, and the libraries add their own planes
// (OpenJPEG keeps 4 bytes per sample, libtiff's RGBA reading 4 per pixel).
constexpr uint32_t kDecodeBytes[kVxFormatCount] = {
    // 0 (probe) takes the worst.
    20, /*BMP*/ 5, /*GIF*/ 8, /*JPG*/ 8, /*PNG*/ 6, /*ICO*/ 8, /*TIF*/ 10, /*TGA*/ 6,
    /*PCX*/ 6, /*WBMP*/ 4, /*WMF*/ 8, /*JP2*/ 20, /*JPC*/ 20, /*PGX*/ 20, /*PNM*/ 20,
    /*RAS*/ 20};
constexpr uint32_t kEncodeBytes[kVxFormatCount] = {
    0, /*BMP*/ 1, /*GIF*/ 3, /*JPG*/ 4, /*PNG*/ 6, /*ICO*/ 4, /*TIF*/ 4, /*TGA*/ 4,
    /*PCX*/ 4, /*WBMP*/ 2, /*WMF*/ 1, /*JP2*/ 18, /*JPC*/ 18, /*PGX*/ 18, /*PNM*/ 18,
    /*RAS*/ 18};
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

uint64_t LargestRowEstimate(uint64_t maxPixels) {
    if (maxPixels == 0) return UINT64_MAX;
    const uint64_t worst = *std::max_element(std::begin(kDecodeBytes), std::end(kDecodeBytes)) +
                           *std::max_element(std::begin(kEncodeBytes), std::end(kEncodeBytes));
    return SaturatingProduct(maxPixels, worst) + kRowOverhead;
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
