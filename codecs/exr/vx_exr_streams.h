// The library's stream interfaces over bytes in memory.
#pragma once

#include <ImfIO.h>

#include <cstdint>
#include <span>
#include <vector>

namespace vx::exr {

class MemoryIn : public Imf::IStream {
public:
    explicit MemoryIn(std::span<const uint8_t> bytes) : Imf::IStream("memory"), bytes_(bytes) {}
    bool read(char c[], int n) override;
    uint64_t tellg() override { return pos_; }
    void seekg(uint64_t pos) override;
    void clear() override {}

private:
    std::span<const uint8_t> bytes_;
    uint64_t pos_ = 0;
};

class MemoryOut : public Imf::OStream {
public:
    MemoryOut() : Imf::OStream("memory") {}
    void write(const char c[], int n) override;
    uint64_t tellp() override { return pos_; }
    void seekp(uint64_t pos) override { pos_ = pos; }
    const std::vector<uint8_t>& Bytes() const { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
    uint64_t pos_ = 0;
};

}  // namespace vx::exr
