// A stream taken one byte at a time but read in blocks, for run-length
// decoders: a call into the stream per byte was most of their time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "core/vx_file.h"

namespace vx {

class ByteReader {
public:
    explicit ByteReader(VxFile* file) : file_(file) {}
    ByteReader(const ByteReader&) = delete;
    ByteReader& operator=(const ByteReader&) = delete;

    // The next byte, or -1 once the stream has ended.
    int32_t Next() {
        if (pos_ == end_) {
            pos_ = 0;
            end_ = file_->Read(buffer_, 1, sizeof(buffer_));
            if (end_ == 0) return -1;
        }
        return buffer_[pos_++];
    }

    // Puts the stream back right after the last byte Next gave, where what
    // follows the run-length data starts.
    void GiveBack() {
        if (end_ > pos_) file_->Seek64(-int64_t(end_ - pos_), SEEK_CUR);
        pos_ = end_ = 0;
    }

private:
    VxFile* file_;
    size_t pos_ = 0, end_ = 0;
    uint8_t buffer_[16384];
};

}  // namespace vx
