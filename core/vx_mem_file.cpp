#include <climits>
#include <cstdlib>
#include <cstring>

#include "core/vx_file.h"

VxMemFile::VxMemFile(uint8_t* buffer, uint32_t size)
    : Buffer(buffer),
      Length(size),
      OwnsBuffer(buffer == nullptr),
      Position(0),
      Capacity(int32_t(size)),
      Growable(buffer == nullptr) {}

bool VxMemFile::Open() {
    if (Buffer) return false;
    Position = 0;
    Length = 0;
    Capacity = 0;
    Buffer = static_cast<uint8_t*>(std::malloc(1));
    OwnsBuffer = true;
    Growable = true;
    return Buffer != nullptr;
}

bool VxMemFile::Close() {
    if (Buffer && OwnsBuffer) {
        std::free(Buffer);
        Buffer = nullptr;
        Length = 0;
    }
    return true;
}

uint8_t* VxMemFile::GetBuffer(bool detachBuffer) {
    OwnsBuffer = !detachBuffer;
    return Buffer;
}

size_t VxMemFile::Read(void* buffer, size_t size, size_t count) {
    if (!buffer || !Buffer) return 0;
    if (Position < 0 || Position >= int64_t(Length)) return 0;
    if (size == 0 || count == 0) return 0;
    if (count > SIZE_MAX / size) count = SIZE_MAX / size;
    const size_t want = size * count;
    const size_t avail = size_t(Length - Position);
    const size_t n = want < avail ? want : avail;
    std::memcpy(buffer, Buffer + Position, n);
    Position += int64_t(n);
    return n / size;
}

size_t VxMemFile::Write(const void* buffer, size_t size, size_t count) {
    if (!Buffer || !buffer || size == 0 || count == 0) return 0;
    if (count > SIZE_MAX / size) return 0;
    const size_t n = size * count;
    // A grown buffer's capacity is 32-bit; a write that cannot be described is refused.
    if (n > uint64_t(INT32_MAX) || uint64_t(Position) + n > uint64_t(INT32_MAX) - 4096) return 0;
    const int64_t end = Position + int64_t(n);
    if (end > Capacity && !Alloc(uint32_t(end))) return 0;
    std::memcpy(Buffer + Position, buffer, n);
    Position = end;
    if (Position > int64_t(Length)) Length = uint32_t(Position);
    return count;
}

bool VxMemFile::Seek(int32_t offset, int32_t origin) { return Seek64(offset, origin); }

bool VxMemFile::Seek64(int64_t offset, int32_t origin) {
    if (!Buffer) return false;
    int64_t base;
    switch (origin) {
        case 0: base = 0; break;
        case 1: base = Position; break;
        case 2: base = Length; break;
        default: return false;
    }
    int64_t pos;
    // Far past the end is still past the end: keep the sum from wrapping.
    if (__builtin_add_overflow(base, offset, &pos)) pos = offset < 0 ? 0 : INT64_MAX;
    Position = pos < 0 ? 0 : pos;
    return true;
}

int32_t VxMemFile::Tell() { return Buffer ? VxNarrowPosition(Position) : -1; }

int32_t VxMemFile::Size() { return Buffer ? VxNarrowPosition(Length) : -1; }

int64_t VxMemFile::Tell64() { return Buffer ? Position : -1; }

int64_t VxMemFile::Size64() { return Buffer ? int64_t(Length) : -1; }

bool VxMemFile::Flush() { return Buffer != nullptr; }

bool VxMemFile::Eof() { return !Buffer || Position >= int64_t(Length); }

int32_t VxMemFile::Error() {
    if (!Buffer) return -1;
    return Position > int64_t(Length) ? 1 : 0;
}

bool VxMemFile::PutC(uint8_t c) {
    if (!Buffer) return false;
    if (Position >= Capacity) {
        if (Position >= int64_t(INT32_MAX) - 4096) return false;
        if (!Alloc(uint32_t(Position) + 1)) return false;
    }
    Buffer[Position++] = c;
    if (Position > int64_t(Length)) Length = uint32_t(Position);
    return true;
}

int32_t VxMemFile::GetC() {
    if (Eof()) return -1;
    return Buffer[Position++];
}

bool VxMemFile::Alloc(uint32_t newLength) {
    if (int64_t(newLength) <= Capacity) return true;
    // A caller's buffer is never reallocated behind its back.
    if (!Growable) return false;
    const uint32_t newCapacity = (newLength / 4096) * 4096 + 4096;
    uint8_t* grown = static_cast<uint8_t*>(std::realloc(Buffer, newCapacity));
    if (!grown) return false;
    // Bytes between the old length and a later write position read as zero.
    if (newCapacity > uint32_t(Capacity))
        std::memset(grown + Capacity, 0, newCapacity - uint32_t(Capacity));
    Buffer = grown;
    Capacity = int32_t(newCapacity);
    OwnsBuffer = true;
    return true;
}
