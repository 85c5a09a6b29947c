// Interleaved top-down rows, the form codec libraries give and take pixels in,
// to and from the picture's bottom-up block and alpha plane.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class VxImage;

namespace vx {

// Copies top-down rows of 1 (grey), 2 (grey, alpha), 3 (RGB) or 4 (RGBA)
// 8-bit samples into `img`, which the caller made with Create: 8-bit grey for
// 1 or 2 channels, 24-bit for 3 or 4. Alpha goes into the alpha plane when
// the picture has one, and is dropped otherwise.
void StoreRows(VxImage& img, const uint8_t* src, size_t stride, int channels);
// The same for the one row `topRow` (0 at the top).
void StoreRow(VxImage& img, uint32_t topRow, const uint8_t* src, int channels);

// The picture as top-down rows of 3 (RGB) or 4 (RGBA) 8-bit samples; the
// fourth joins every form of transparency the picture carries
// (vx::OpacityRow; vx::HasTransparency says whether there is any).
void LoadRows(const VxImage& img, uint8_t* dst, size_t stride, int channels);
// The same as one block of RGBA rows, to compare two pictures by.
std::vector<uint8_t> RgbaPixels(const VxImage& img);

// 16-bit samples holding `bits` (9 to 16) significant bits, scaled to 8 bits
// with rounding: the full range maps onto 0..255, nothing is cut off.
void NarrowSamples(const uint16_t* src, uint8_t* dst, size_t count, int bits);

}  // namespace vx
