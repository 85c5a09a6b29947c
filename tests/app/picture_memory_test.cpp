#include "app/batch/picture_memory.h"

#include <gtest/gtest.h>
#include <malloc.h>

#include <cstring>
#include <memory>

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kOwnAllocator = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kOwnAllocator = true;
#else
constexpr bool kOwnAllocator = false;
#endif
#else
constexpr bool kOwnAllocator = false;
#endif

// A photo-sized block freed by one row must still be in the process for the
// next, and be given back when the run ends.
TEST(PictureMemory, FreedBlocksStayUntilTheRunEnds) {
    if (kOwnAllocator) GTEST_SKIP() << "the sanitizer replaces the C library's allocator";
    constexpr size_t kPhoto = size_t(36) << 20;  // 12 megapixels at 24 bits
    vellumar::batch::KeepFreedPictureMemory();
    {
        std::unique_ptr<uint8_t[]> block(new uint8_t[kPhoto]);
        std::memset(block.get(), 1, kPhoto);
    }
    const struct mallinfo2 kept = mallinfo2();
    EXPECT_GE(kept.fordblks, kPhoto);
    vellumar::batch::ReturnFreedPictureMemory();
    const struct mallinfo2 returned = mallinfo2();
    EXPECT_LT(returned.arena + kPhoto / 2, kept.arena);
}

}  // namespace
