// The memory a run's pictures may take together. A row reserves what its
// picture will need before it decodes, and waits while other rows hold the
// rest; what it needs is estimated from the picture's size, which a
// dimensions-only decode reads from the file's header.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "core/vx_format.h"

namespace vellumar::batch {

// "1 byte", "12 KiB", "64 MiB" (rounded up), for texts about the budget.
std::string BytesText(uint64_t bytes);

// Half the machine's physical memory: the default budget.
uint64_t DefaultMemoryBudget();

// Bytes a row may take at its peak for a width x height picture going from
// `source` to `target`: the picture, its depth-fitted copy and what the
// codec libraries hold beside it.
// Saturates instead of overflowing.
// `deepBytes`: bytes a pixel of the source's deep samples take (0: none),
// held beside the picture (core/vx_deep.h).
uint64_t RowMemoryEstimate(uint64_t width, uint64_t height, ImageFormat source, ImageFormat target,
                           uint32_t deepBytes = 0);
// The same for a row whose picture steps give it a new size, outWidth x
// outHeight: the decode at the stored size, the new picture beside the one
// it is made from, and the encode at the new size.
uint64_t RowMemoryEstimate(uint64_t width, uint64_t height, uint64_t outWidth, uint64_t outHeight,
                           ImageFormat source, ImageFormat target, uint32_t deepBytes = 0);
// The same for a row that keeps `frames` frames of an animation: beside the
// picture, each frame's canvas as decoded and its fitted copy (the encoders
// take one frame at a time beyond that).
uint64_t AnimationMemoryEstimate(uint64_t width, uint64_t height, uint64_t outWidth,
                                 uint64_t outHeight, ImageFormat source, ImageFormat target,
                                 uint64_t frames, uint32_t deepBytes = 0);

class MemoryBudget {
public:
    explicit MemoryBudget(uint64_t limit) : limit_(limit) {}

    enum class Grant { Granted, TooLarge, Stopped };
    // Waits until `bytes` fit beside what other rows hold. TooLarge when they
    // never can; Stopped when `stop` turned true while waiting.
    Grant Reserve(uint64_t bytes, const std::function<bool()>& stop);
    void Release(uint64_t bytes);

    uint64_t Limit() const { return limit_; }
    // For tests: the most ever held at once, and how often a row had to wait.
    uint64_t PeakHeld() const;
    int Waits() const;

private:
    const uint64_t limit_;
    mutable std::mutex mutex_;
    std::condition_variable released_;
    uint64_t held_ = 0;
    uint64_t peak_ = 0;
    int waits_ = 0;
};

}  // namespace vellumar::batch
