// Row cursor over a picture's bottom-up pixel block: the GIF decoder writes
// decoded lines through it, top row first.
#pragma once

#include <cstdint>
#include <cstring>

#include "core/vx_image.h"

class VxImageIterator {
public:
    explicit VxImageIterator(VxImage* image = nullptr) { Attach(image); }

    void Attach(VxImage* image) {
        Image = image;
        X = 0;
        Row = 0;
        StepX = StepY = 0;
        Pointer = image ? image->GetBits(0) : nullptr;
    }
    VxImage* GetImage() const { return Image; }

    // The top line of the picture (the last row of the block).
    void Upset() { SetRow(Image ? int32_t(Image->GetHeight()) - 1 : -1); }
    bool SetRow(int32_t row) {
        Row = row;
        X = 0;
        Pointer = InPicture() ? Image->GetBits(uint32_t(row)) : nullptr;
        return Pointer != nullptr;
    }
    int32_t GetRow() const { return Row; }
    bool InPicture() const {
        return Image && Image->IsValid() && Row >= 0 && Row < int32_t(Image->GetHeight());
    }

    // Copies at most one row's worth of bytes into the current row.
    void WriteRow(const uint8_t* bytes, uint32_t length) {
        if (!Pointer) return;
        const uint32_t eff = Image->GetEffWidth();
        std::memcpy(Pointer, bytes, length < eff ? length : eff);
    }
    // One line down the picture (one row back in the block).
    bool NextLineDown() { return SetRow(Row - 1); }

private:
    int32_t X = 0;
    int32_t Row = 0;
    int32_t StepX = 0;
    int32_t StepY = 0;
    uint8_t* Pointer = nullptr;
    VxImage* Image = nullptr;
};
