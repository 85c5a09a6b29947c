// Byte streams: every codec reads and writes through VxFile, so the same code
// serves disk files and memory buffers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Positions and sizes come in two widths. The 32-bit Seek/Tell/Size are the
// published interface; they never truncate: a position or size beyond INT32_MAX
// reads as -1 and a seek there fails. The engine itself uses the 64-bit ones,
// which a stream written against the 32-bit interface alone gets from that.
class VxFile {
public:
    virtual ~VxFile() = default;
    virtual bool Close() = 0;
    virtual size_t Read(void* buffer, size_t size, size_t count) = 0;
    virtual size_t Write(const void* buffer, size_t size, size_t count) = 0;
    virtual bool Seek(int32_t offset, int32_t origin) = 0;
    virtual int32_t Tell() = 0;
    virtual int32_t Size() = 0;
    virtual bool Flush() = 0;
    virtual bool Eof() = 0;
    virtual int32_t Error() = 0;
    virtual bool PutC(uint8_t c) { return Write(&c, 1, 1) == 1; }
    virtual int32_t GetC() = 0;

    virtual bool Seek64(int64_t offset, int32_t origin) {
        if (offset < INT32_MIN || offset > INT32_MAX) return false;
        return Seek(int32_t(offset), origin);
    }
    virtual int64_t Tell64() { return Tell(); }
    virtual int64_t Size64() { return Size(); }

    // Bytes between the position and the end, or -1 when the stream cannot say.
    int64_t Remaining() {
        const int64_t size = Size64();
        const int64_t pos = Tell64();
        if (size < 0 || pos < 0) return -1;
        return size > pos ? size - pos : 0;
    }
};

// A 64-bit position or size as the 32-bit interface reports it.
inline int32_t VxNarrowPosition(int64_t v) { return v >= 0 && v <= INT32_MAX ? int32_t(v) : -1; }

class VxIOFile : public VxFile {
public:
    explicit VxIOFile(FILE* fp = nullptr) : File(fp), OwnsFile(fp == nullptr) {}
    ~VxIOFile() override { Close(); }
    VxIOFile(const VxIOFile&) = delete;
    VxIOFile& operator=(const VxIOFile&) = delete;

    bool Open(const char* filename, const char* mode);
    bool Close() override;
    size_t Read(void* buffer, size_t size, size_t count) override;
    size_t Write(const void* buffer, size_t size, size_t count) override;
    bool Seek(int32_t offset, int32_t origin) override;
    int32_t Tell() override;
    int32_t Size() override;
    bool Flush() override;
    bool Eof() override;
    int32_t Error() override;
    bool PutC(uint8_t c) override;
    int32_t GetC() override;
    bool Seek64(int64_t offset, int32_t origin) override;
    int64_t Tell64() override;
    int64_t Size64() override;

    FILE* GetStream() const { return File; }

protected:
    FILE* File;
    bool OwnsFile;
};

class VxMemFile : public VxFile {
public:
    explicit VxMemFile(uint8_t* buffer = nullptr, uint32_t size = 0);
    ~VxMemFile() override { Close(); }
    VxMemFile(const VxMemFile&) = delete;
    VxMemFile& operator=(const VxMemFile&) = delete;

    bool Open();
    bool Close() override;
    uint8_t* GetBuffer(bool detachBuffer = true);
    size_t Read(void* buffer, size_t size, size_t count) override;
    size_t Write(const void* buffer, size_t size, size_t count) override;
    bool Seek(int32_t offset, int32_t origin) override;
    int32_t Tell() override;
    int32_t Size() override;
    bool Flush() override;
    bool Eof() override;
    int32_t Error() override;
    bool PutC(uint8_t c) override;
    int32_t GetC() override;
    bool Seek64(int64_t offset, int32_t origin) override;
    int64_t Tell64() override;
    int64_t Size64() override;

    int32_t GetCapacity() const { return Capacity; }

protected:
    bool Alloc(uint32_t newLength);
    void Free() { Close(); }

    uint8_t* Buffer;
    uint32_t Length;
    bool OwnsBuffer;
    // Wide enough to walk a caller's buffer of up to 4 GiB.
    int64_t Position;
    int32_t Capacity;
    // A caller's buffer may be read and overwritten in place, never reallocated.
    bool Growable;
};
