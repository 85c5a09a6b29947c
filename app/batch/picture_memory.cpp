#include "app/batch/picture_memory.h"

#include <malloc.h>

namespace vellumar::batch {

namespace {
// Blocks below this come from the heap and stay there when freed; larger
// pictures (beyond about 350 megapixels at 24 bits) still get their own
// mapping, so a rare huge one is returned at once.
constexpr int kKeepBelow = 1 << 30;
}  // namespace

void KeepFreedPictureMemory() {
    mallopt(M_MMAP_THRESHOLD, kKeepBelow);
    mallopt(M_TRIM_THRESHOLD, kKeepBelow);
}

void ReturnFreedPictureMemory() { malloc_trim(0); }

void StopKeepingFreedPictureMemory() {
    // Blocks above this get a mapping of their own, unmapped when freed.
    constexpr int kMapAbove = 1 << 20;
    mallopt(M_MMAP_THRESHOLD, kMapAbove);
    mallopt(M_TRIM_THRESHOLD, kMapAbove);
    malloc_trim(0);
}

}  // namespace vellumar::batch
