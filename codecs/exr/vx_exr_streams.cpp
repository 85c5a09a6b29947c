#include "codecs/exr/vx_exr_streams.h"

#include <Iex.h>

#include <cstring>

namespace vx::exr {

bool MemoryIn::read(char c[], int n) {
    if (n < 0 || pos_ > bytes_.size() || uint64_t(n) > bytes_.size() - pos_)
        throw Iex::InputExc("EXR data ends early");
    std::memcpy(c, bytes_.data() + pos_, size_t(n));
    pos_ += uint64_t(n);
    return pos_ < bytes_.size();
}

void MemoryIn::seekg(uint64_t pos) {
    if (pos > bytes_.size()) throw Iex::InputExc("EXR offset past the end");
    pos_ = pos;
}

void MemoryOut::write(const char c[], int n) {
    if (n <= 0) return;
    // Seeks back (the offset table) write over what is there.
    if (pos_ + uint64_t(n) > bytes_.size()) bytes_.resize(size_t(pos_) + size_t(n));
    std::memcpy(bytes_.data() + pos_, c, size_t(n));
    pos_ += uint64_t(n);
}

}  // namespace vx::exr
