// TGA reader (colour-mapped, true-colour, grey and grey with alpha; raw and run-length) and
// writer (uncompressed 8-bit colour-mapped, 24/32-bit true-colour).
#pragma once

#include "core/vx_image.h"

class VxTgaCodec : public VxImage {
public:
    VxTgaCodec() : VxImage(VX_FORMAT_TGA) {}
    bool Decode(VxFile* file);
    bool Encode(VxFile* file);


    // A run-length packet may end in the next row; its state lives here between rows.
    struct RunState {
        uint32_t left = 0;  // pixels still owed by the current packet
        bool repeat = false;
        uint8_t value[4] = {};
    };

protected:
    void ReadRunLengthRow(uint8_t* dest, VxFile* file, uint32_t width, uint32_t row,
                          uint32_t depth, RunState& state);
    bool ReadRawPixels(uint8_t* dest, VxFile* file, uint32_t count, uint32_t row, uint32_t x,
                       uint32_t depth);
    void StorePixel(uint8_t* dest, const uint8_t* value, uint32_t row, uint32_t x,
                    uint32_t depth);

private:
    bool greyAlpha_ = false;  // 16-bit grey: a grey byte, then an alpha byte
};
