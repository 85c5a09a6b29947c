// PNG chunk output: one complete chunk at a time, and the image data cut into
// IDAT chunks as the compressed stream grows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class VxFile;

namespace vx::png {

// Writes length, type, data and CRC. False when the stream refused a byte.
bool WriteChunk(VxFile* file, const char type[4], const uint8_t* data, size_t size);

// Collects compressed bytes and writes them as IDAT chunks of kIdatBytes
// (the last one shorter); with a `sequence`, as an animation frame's fdAT
// chunks, each taking the next sequence number.
class IdatWriter {
public:
    static constexpr size_t kIdatBytes = 64 * 1024;

    explicit IdatWriter(VxFile* file, uint32_t* sequence = nullptr)
        : file_(file), sequence_(sequence) {}
    bool Append(const uint8_t* data, size_t size);
    // Writes what is left; call once after the last Append.
    bool Finish();

private:
    bool Put(const uint8_t* data, size_t size);

    VxFile* file_;
    uint32_t* sequence_;
    std::vector<uint8_t> pending_;
};

}  // namespace vx::png
