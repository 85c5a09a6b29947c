// Pixels described by an embedded ICC profile, brought to sRGB, for decoders
// whose library hands them over in the file's own colour space.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vx {

class SrgbConverter {
public:
    // Interleaved samples, native byte order for 16 bits.
    enum class Layout { Rgb8, Rgba8, Rgb16, Rgba16 };

    SrgbConverter() = default;
    ~SrgbConverter();
    SrgbConverter(const SrgbConverter&) = delete;
    SrgbConverter& operator=(const SrgbConverter&) = delete;

    // True when rows need converting. False for a profile that describes sRGB
    // already (same primaries and tone curve) and for one that cannot be used
    // (damaged, not RGB): the pixels are then shown as they are, as viewers do.
    bool Open(const uint8_t* icc, size_t size, Layout layout);
    // Converts `width` pixels in place; alpha is left alone.
    void Convert(void* row, uint32_t width) const;

private:
    void Close();
    void* ctx_ = nullptr;
    void* xform_ = nullptr;
};

}  // namespace vx
