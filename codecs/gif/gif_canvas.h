// The logical screen of a GIF as a viewer shows it after each frame: every
// frame drawn in its own colours over what the earlier ones left, and each
// frame's disposal carried out before the next one is drawn.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "core/vx_image.h"

class GifCanvas {
public:
    // Told the work (in pixels) before each step; it may throw to stop.
    using Charge = std::function<void(uint64_t)>;

    GifCanvas(int32_t width, int32_t height, Charge charge);

    struct Frame {
        const VxImage* picture;  // the decoded frame: 1, 4 or 8 bits with its palette
        int32_t left = 0, top = 0;
        int32_t tableSize = 0;    // entries of its colour table
        int32_t transIndex = -1;  // left unpainted; -1 when none
        int disposal = 0;         // 2 (clear) and 3 (restore) act before the next frame
    };
    void Draw(const Frame& frame);

    // The screen now. A palette picture when one palette serves every pixel
    // that shows and an entry is free for what shows nothing; otherwise 24-bit
    // with an alpha plane where nothing shows. False when memory runs out.
    bool Result(VxImage& out);

private:
    struct Rect {
        int32_t x0 = 0, y0 = 0, x1 = 0, y1 = 0;  // top-down, x1/y1 exclusive
        uint64_t Area() const { return uint64_t(x1 - x0) * uint64_t(y1 - y0); }
    };
    Rect Clip(const Frame& f) const;
    void Dispose();
    bool SamePalette(const Frame& f) const;
    bool OldPixelsStay(const Frame& f, const Rect& r) const;
    void Adopt(const Frame& f);
    void Promote();
    bool IndexResult(VxImage& out);
    bool ColourResult(VxImage& out);

    static constexpr uint16_t kClear = 0x100;

    int32_t width_, height_;
    Charge charge_;
    bool colour_ = false;             // true colour from here on
    std::vector<uint16_t> index_;     // palette mode: an index, or kClear
    std::vector<uint32_t> argb_;      // colour mode: 0xAARRGGBB, alpha 0 when clear
    RGBQUAD palette_[256] = {};
    uint32_t paletteCount_ = 0, bpp_ = 0;
    int32_t tableSize_ = -1;          // -1 before the first frame
    int32_t lastTrans_ = -1;          // latest transparent index drawn on this palette
    int pending_ = 0;                 // disposal of the frame drawn last
    Rect pendingRect_;
    std::vector<uint16_t> savedIndex_;
    std::vector<uint32_t> savedArgb_;
};
