// libraw reads a file through this where it needs only the headers and the
// preview: a few kilobytes of a camera file, where reading the whole of it
// into memory (for every look at its size, too) was most of the work.
// Positions are clamped to the file as libraw's own memory stream clamps them.
#pragma once

#include <libraw/libraw_datastream.h>

#include <cstdint>

class VxFile;

namespace vx::raw {

class FileStream final : public LibRaw_abstract_datastream {
public:
    // The stream from `start` to the end of `file`.
    FileStream(VxFile* file, int64_t start);

    int valid() override { return 1; }
    int read(void* buffer, size_t size, size_t count) override;
    int seek(INT64 offset, int whence) override;
    INT64 tell() override { return pos_; }
    INT64 size() override { return size_; }
    int get_char() override;
    char* gets(char* line, int room) override;
    int scanf_one(const char* format, void* value) override;
    int eof() override { return pos_ >= size_; }
    void* make_jas_stream() override { return nullptr; }

private:
    void Go(int64_t pos);

    VxFile* file_;
    int64_t start_, size_, pos_ = 0;
};

}  // namespace vx::raw
