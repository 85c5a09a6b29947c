#include "codecs/raw/vx_raw_file_stream.h"

#include <algorithm>
#include <cstdio>

#include "core/vx_file.h"

namespace vx::raw {

FileStream::FileStream(VxFile* file, int64_t start)
    : file_(file), start_(start), size_(std::max<int64_t>(file->Size64() - start, 0)) {
    Go(0);
}

void FileStream::Go(int64_t pos) {
    pos_ = std::clamp<int64_t>(pos, 0, size_);
    file_->Seek64(start_ + pos_, SEEK_SET);
}

int FileStream::read(void* buffer, size_t size, size_t count) {
    if (size == 0 || count == 0 || pos_ >= size_) return 0;
    const size_t want = std::min<uint64_t>(count, uint64_t(size_ - pos_) / size);
    size_t got = want ? file_->Read(buffer, size, want) : 0;
    // A last part-item, as the memory stream hands it over.
    const uint64_t tail = want < count ? uint64_t(size_ - pos_) - want * size : 0;
    if (got == want && tail > 0 && file_->Read(static_cast<uint8_t*>(buffer) + want * size, 1, tail) == tail) ++got;
    Go(file_->Tell64() - start_);
    return int(got);
}

int FileStream::seek(INT64 offset, int whence) {
    const int64_t base = whence == SEEK_CUR ? pos_ : whence == SEEK_END ? size_ : 0;
    if (whence != SEEK_SET && whence != SEEK_CUR && whence != SEEK_END) return 0;
    // Saturating: libraw's offsets come from the file.
    const int64_t to = offset > 0 && base > INT64_MAX - offset ? size_ : base + offset;
    Go(to);
    return 0;
}

int FileStream::get_char() {
    if (pos_ >= size_) return -1;
    const int c = file_->GetC();
    if (c >= 0) ++pos_;
    return c;
}

char* FileStream::gets(char* line, int room) {
    if (room <= 0 || pos_ >= size_) return nullptr;
    int n = 0;
    while (n < room - 1) {
        const int c = get_char();
        if (c < 0) break;
        line[n++] = char(c);
        if (c == '\n') break;
    }
    line[n] = 0;
    return line;
}

int FileStream::scanf_one(const char* format, void* value) {
    // One number from the next few bytes; the position then passes it as the
    // memory stream passes it (to the next blank, at most 24 bytes on).
    char text[33] = {};
    const int64_t at = pos_;
    const size_t got = file_->Read(text, 1, size_t(std::min<int64_t>(32, size_ - pos_)));
    text[got] = 0;
    const int result = std::sscanf(text, format, value);
    int64_t skip = 0;
    if (result > 0)
        while (at + skip < size_) {
            ++skip;
            const char c = skip < int64_t(got) ? text[skip] : 0;
            if (c == 0 || c == ' ' || c == '\t' || c == '\n' || skip > 24) break;
        }
    Go(at + skip);
    return result;
}

}  // namespace vx::raw
