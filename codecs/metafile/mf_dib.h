// Device-independent bitmaps inside metafile records, decoded by the BMP codec.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "codecs/metafile/mf_dc.h"

namespace vx::mf {

// Header plus colour table (`info`) and pixel bits; null when the bitmap is
// malformed, too large for the bytes that carry it, or uses palette indices.
std::shared_ptr<Bitmap> DecodeDib(const uint8_t* info, size_t infoSize, const uint8_t* bits,
                                  size_t bitsSize, uint32_t usage);
// Header, colour table and bits in one block (the 16-bit metafile layout).
std::shared_ptr<Bitmap> DecodePackedDib(const uint8_t* dib, size_t size, uint32_t usage);

}  // namespace vx::mf
