// PCX reader and writer: packed pixels, bit planes, 3 or 4 planes of 8 bits.
#pragma once

#include <vector>

#include "core/vx_image.h"

class VxPcxCodec : public VxImage {
public:
    VxPcxCodec() : VxImage(VX_FORMAT_PCX) {}
    bool Decode(VxFile* file);
    bool Encode(VxFile* file);


protected:
    // One row of planes of 1 bit -> one palette index per pixel.
    static void MergeBitPlanes(uint8_t* pixels, const uint8_t* planeData, uint32_t bytesPerLine,
                               uint32_t planes, uint32_t count);
    // One plane of 1, 2, 4 or 8 bits -> one value per pixel.
    static void SplitPackedPixels(uint8_t* pixels, const uint8_t* data, uint32_t bits,
                                  uint32_t count);
    // Bit `plane` of `count` indices, packed most significant bit first.
    static void ExtractBitPlane(const uint8_t* pixels, uint32_t count, uint8_t* out,
                                uint32_t plane);
    // Run-length codes one plane line; runs never leave the line.
    static void WriteRunRow(const uint8_t* data, uint32_t length, std::vector<uint8_t>& out);
};
