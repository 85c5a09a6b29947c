#include "app/batch/memory_budget.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>

#include "core/vx_codec.h"

namespace vellumar::batch {

std::string BytesText(uint64_t bytes) {
    if (bytes < 1024) return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
    if (bytes < (uint64_t(1) << 20)) return std::to_string((bytes + 1023) >> 10) + " KiB";
    return std::to_string((bytes + (1 << 20) - 1) >> 20) + " MiB";
}

namespace {

// Buffers that do not grow with the picture (streams, library state).
constexpr uint64_t kRowOverhead = uint64_t(4) << 20;

// Each format's bytes per pixel are on its registry line; a file no decoder
// was named for takes the worst decoder's.
uint32_t DecodeBytes(ImageFormat format) {
    if (const VxFormatCaps* caps = VxFindFormatCaps(format)) return caps->decodeBytes;
    size_t count = 0;
    const VxCodecEntry* entries = VxCodecEntries(&count);
    uint32_t worst = 0;
    for (size_t i = 0; i < count; ++i) worst = std::max<uint32_t>(worst, entries[i].caps.decodeBytes);
    return worst;
}

uint32_t EncodeBytes(ImageFormat format) {
    const VxFormatCaps* caps = VxFindFormatCaps(format);
    return caps ? caps->encodeBytes : 0;
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

// A deep plane goes to the writer only where it stores deep samples.
static uint32_t DeepKept(ImageFormat target, uint32_t deepBytes) {
    const VxFormatCaps* caps = VxFindFormatCaps(target);
    return caps && caps->sampleBits > 8 ? deepBytes : 0;
}

uint64_t RowMemoryEstimate(uint64_t width, uint64_t height, ImageFormat source,
                           ImageFormat target, uint32_t deepBytes) {
    const uint64_t perPixel = DecodeBytes(source) + EncodeBytes(target) + deepBytes;
    const uint64_t bytes = SaturatingProduct(SaturatingProduct(width, height), perPixel);
    return bytes > UINT64_MAX - kRowOverhead ? UINT64_MAX : bytes + kRowOverhead;
}

uint64_t RowMemoryEstimate(uint64_t width, uint64_t height, uint64_t outWidth, uint64_t outHeight,
                           ImageFormat source, ImageFormat target, uint32_t deepBytes) {
    if (outWidth == width && outHeight == height)
        return RowMemoryEstimate(width, height, source, target, deepBytes);
    // A resized picture is 24-bit with an alpha plane, and its deep samples.
    constexpr uint64_t kResizedBytes = 4;
    const uint64_t decoded =
        SaturatingProduct(SaturatingProduct(width, height), DecodeBytes(source) + deepBytes);
    const uint64_t resized =
        SaturatingProduct(SaturatingProduct(outWidth, outHeight),
                          kResizedBytes + EncodeBytes(target) + DeepKept(target, deepBytes));
    const uint64_t bytes = decoded > UINT64_MAX - resized ? UINT64_MAX : decoded + resized;
    return bytes > UINT64_MAX - kRowOverhead ? UINT64_MAX : bytes + kRowOverhead;
}

uint64_t AnimationMemoryEstimate(uint64_t width, uint64_t height, uint64_t outWidth,
                                 uint64_t outHeight, ImageFormat source, ImageFormat target,
                                 uint64_t frames, uint32_t deepBytes) {
    const uint64_t picture =
        RowMemoryEstimate(width, height, outWidth, outHeight, source, target, deepBytes);
    if (frames < 2) return picture;
    // A canvas is 24-bit with an alpha plane, as decoded and as fitted.
    constexpr uint64_t kCanvasBytes = 4;
    const uint64_t each = SaturatingProduct(
        SaturatingProduct(width, height) > UINT64_MAX - SaturatingProduct(outWidth, outHeight)
            ? UINT64_MAX
            : SaturatingProduct(width, height) + SaturatingProduct(outWidth, outHeight),
        kCanvasBytes);
    const uint64_t all = SaturatingProduct(each, frames);
    return all > UINT64_MAX - picture ? UINT64_MAX : picture + all;
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
