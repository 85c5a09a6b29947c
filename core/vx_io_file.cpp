#include <sys/types.h>

#include "core/vx_file.h"

bool VxIOFile::Open(const char* filename, const char* mode) {
    if (File) return false;
    File = std::fopen(filename, mode);
    if (!File) return false;
    OwnsFile = true;
    return true;
}

bool VxIOFile::Close() {
    if (!File || !OwnsFile) return true;
    const int rc = std::fclose(File);
    File = nullptr;
    return rc == 0;
}

size_t VxIOFile::Read(void* buffer, size_t size, size_t count) {
    if (!File || !buffer || size == 0) return 0;
    return std::fread(buffer, size, count, File);
}

size_t VxIOFile::Write(const void* buffer, size_t size, size_t count) {
    if (!File || !buffer || size == 0) return 0;
    return std::fwrite(buffer, size, count, File);
}

bool VxIOFile::Seek(int32_t offset, int32_t origin) { return Seek64(offset, origin); }

int32_t VxIOFile::Tell() { return File ? VxNarrowPosition(Tell64()) : 0; }

int32_t VxIOFile::Size() { return VxNarrowPosition(Size64()); }

bool VxIOFile::Seek64(int64_t offset, int32_t origin) {
    if (!File) return false;
    return fseeko(File, off_t(offset), origin) == 0;
}

int64_t VxIOFile::Tell64() {
    if (!File) return 0;
    return ftello(File);
}

int64_t VxIOFile::Size64() {
    if (!File) return -1;
    const off_t pos = ftello(File);
    if (pos < 0 || fseeko(File, 0, SEEK_END) != 0) return -1;
    const off_t size = ftello(File);
    fseeko(File, pos, SEEK_SET);
    return size;
}

bool VxIOFile::Flush() {
    if (!File) return false;
    return std::fflush(File) == 0;
}

bool VxIOFile::Eof() {
    if (!File) return true;
    return std::feof(File) != 0;
}

int32_t VxIOFile::Error() {
    if (!File) return -1;
    return std::ferror(File);
}

bool VxIOFile::PutC(uint8_t c) {
    if (!File) return false;
    return std::fputc(c, File) == c;
}

int32_t VxIOFile::GetC() {
    if (!File) return -1;
    return std::getc(File);
}
