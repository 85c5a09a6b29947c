#include "codecs/gif/gif_canvas.h"

#include <algorithm>
#include <cstring>

#include "core/vx_row_index.h"
#include "core/vx_transparency.h"

namespace {

uint32_t Argb(const RGBQUAD& c) {
    return 0xFF000000u | uint32_t(c.rgbRed) << 16 | uint32_t(c.rgbGreen) << 8 | c.rgbBlue;
}

// The same steps on either kind of screen (palette indices or colours).
template <class Px>
void FillRect(std::vector<Px>& px, int32_t width, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
              Px value) {
    for (int32_t y = y0; y < y1; ++y)
        std::fill(px.begin() + (size_t(y) * width + x0), px.begin() + (size_t(y) * width + x1), value);
}

template <class Px>
void SaveRect(const std::vector<Px>& px, int32_t width, int32_t x0, int32_t y0, int32_t x1,
              int32_t y1, std::vector<Px>& out) {
    out.clear();
    for (int32_t y = y0; y < y1; ++y)
        out.insert(out.end(), px.begin() + (size_t(y) * width + x0),
                   px.begin() + (size_t(y) * width + x1));
}

template <class Px>
void RestoreRect(std::vector<Px>& px, int32_t width, int32_t x0, int32_t y0, int32_t x1,
                 int32_t y1, const std::vector<Px>& saved) {
    const size_t w = size_t(x1 - x0);
    for (int32_t y = y0; y < y1; ++y)
        std::copy_n(saved.begin() + size_t(y - y0) * w, w, px.begin() + (size_t(y) * width + x0));
}

// The frame's pixels become `lut[index]` on the screen, except those that
// carry the frame's transparent index.
template <class Px>
void Paint(std::vector<Px>& px, int32_t width, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
           const GifCanvas::Frame& f, const Px* lut) {
    const VxImage& pic = *f.picture;
    const uint32_t bpp = pic.GetBpp();
    const int32_t frameH = int32_t(pic.GetHeight());
    for (int32_t y = y0; y < y1; ++y) {
        const uint8_t* src = pic.GetBits(uint32_t(frameH - 1 - (y - f.top)));
        Px* dst = px.data() + size_t(y) * width;
        if (bpp == 8) {
            src -= f.left;
            for (int32_t x = x0; x < x1; ++x)
                if (int32_t(src[x]) != f.transIndex) dst[x] = lut[src[x]];
            continue;
        }
        for (int32_t x = x0; x < x1; ++x) {
            const uint8_t i = vx::RowIndex(src, bpp, x - f.left);
            if (int32_t(i) != f.transIndex) dst[x] = lut[i];
        }
    }
}

}  // namespace

GifCanvas::GifCanvas(int32_t width, int32_t height, Charge charge)
    : width_(width), height_(height), charge_(std::move(charge)) {
    charge_(uint64_t(width_) * uint64_t(height_));
    index_.assign(size_t(width_) * size_t(height_), kClear);
}

GifCanvas::Rect GifCanvas::Clip(const Frame& f) const {
    Rect r;
    r.x0 = std::clamp(f.left, 0, width_);
    r.y0 = std::clamp(f.top, 0, height_);
    r.x1 = std::clamp(f.left + int32_t(f.picture->GetWidth()), r.x0, width_);
    r.y1 = std::clamp(f.top + int32_t(f.picture->GetHeight()), r.y0, height_);
    return r;
}

void GifCanvas::Dispose() {
    const Rect& r = pendingRect_;
    if (pending_ == 2) {
        charge_(r.Area());
        if (colour_) FillRect<uint32_t>(argb_, width_, r.x0, r.y0, r.x1, r.y1, 0);
        else FillRect<uint16_t>(index_, width_, r.x0, r.y0, r.x1, r.y1, kClear);
    } else if (pending_ == 3) {
        charge_(r.Area());
        if (colour_) RestoreRect(argb_, width_, r.x0, r.y0, r.x1, r.y1, savedArgb_);
        else RestoreRect(index_, width_, r.x0, r.y0, r.x1, r.y1, savedIndex_);
    }
    pending_ = 0;
    savedIndex_.clear();
    savedArgb_.clear();
}

bool GifCanvas::SamePalette(const Frame& f) const {
    if (f.tableSize != tableSize_) return false;
    const RGBQUAD* pal = f.picture->GetPalette();
    const uint32_t n = std::min<uint32_t>(uint32_t(tableSize_), f.picture->GetNumColors());
    for (uint32_t i = 0; i < n; ++i) {
        const RGBQUAD a = pal[i], b = palette_[i];
        if (a.rgbRed != b.rgbRed || a.rgbGreen != b.rgbGreen || a.rgbBlue != b.rgbBlue) return false;
    }
    return true;
}

// Whether a pixel in the old palette still shows once `f` is drawn (or, for a
// frame restored afterwards, at all).
bool GifCanvas::OldPixelsStay(const Frame& f, const Rect& r) const {
    charge_(index_.size());
    const VxImage& pic = *f.picture;
    const uint32_t bpp = pic.GetBpp();
    const int32_t frameH = int32_t(pic.GetHeight());
    for (int32_t y = 0; y < height_; ++y) {
        const uint16_t* row = index_.data() + size_t(y) * width_;
        const bool inRows = f.disposal != 3 && y >= r.y0 && y < r.y1;
        const uint8_t* src = inRows ? pic.GetBits(uint32_t(frameH - 1 - (y - f.top))) : nullptr;
        for (int32_t x = 0; x < width_; ++x) {
            if (row[x] == kClear) continue;
            if (!src || x < r.x0 || x >= r.x1) return true;
            if (int32_t(vx::RowIndex(src, bpp, x - f.left)) == f.transIndex) return true;
        }
    }
    return false;
}

void GifCanvas::Adopt(const Frame& f) {
    paletteCount_ = std::min<uint32_t>(f.picture->GetNumColors(), 256);
    std::memcpy(palette_, f.picture->GetPalette(), paletteCount_ * sizeof(RGBQUAD));
    bpp_ = f.picture->GetBpp();
    tableSize_ = f.tableSize;
    lastTrans_ = -1;
}

// Once per decode at most, like the screen itself: no charge of its own.
void GifCanvas::Promote() {
    argb_.resize(index_.size());
    for (size_t i = 0; i < index_.size(); ++i)
        argb_[i] = index_[i] == kClear ? 0 : index_[i] < paletteCount_ ? Argb(palette_[index_[i]])
                                                                      : 0xFF000000u;
    std::vector<uint16_t>().swap(index_);
    colour_ = true;
}

void GifCanvas::Draw(const Frame& f) {
    const Rect r = Clip(f);
    charge_(r.Area());
    Dispose();
    if (!colour_) {
        if (tableSize_ < 0) Adopt(f);
        else if (!SamePalette(f)) {
            if (OldPixelsStay(f, r)) Promote();
            else Adopt(f);
        }
    }
    if (f.disposal == 3) {
        charge_(r.Area());
        if (colour_) SaveRect(argb_, width_, r.x0, r.y0, r.x1, r.y1, savedArgb_);
        else SaveRect(index_, width_, r.x0, r.y0, r.x1, r.y1, savedIndex_);
    }
    if (colour_) {
        uint32_t lut[256];
        const RGBQUAD* pal = f.picture->GetPalette();
        const uint32_t n = f.picture->GetNumColors();
        for (uint32_t i = 0; i < 256; ++i) lut[i] = i < n ? Argb(pal[i]) : 0xFF000000u;
        Paint(argb_, width_, r.x0, r.y0, r.x1, r.y1, f, lut);
    } else {
        uint16_t lut[256];
        for (uint16_t i = 0; i < 256; ++i) lut[i] = i;
        Paint(index_, width_, r.x0, r.y0, r.x1, r.y1, f, lut);
        if (f.transIndex >= 0) lastTrans_ = f.transIndex;
    }
    pending_ = f.disposal;
    pendingRect_ = r;
}

bool GifCanvas::IndexResult(VxImage& out) {
    uint64_t opaque[256] = {};
    const bool clearUse[256] = {};
    bool anyClear = false;
    for (uint16_t v : index_) {
        if (v == kClear) anyClear = true;
        else ++opaque[v];
    }
    uint32_t bpp = bpp_;
    // Pixels that show nothing take the entry the latest transparent frame
    // left clear, else one no pixel that shows uses.
    int32_t trans = vx::FreeEntry(opaque, clearUse, paletteCount_, lastTrans_);
    if (!anyClear && trans != lastTrans_) trans = -1;
    if (anyClear && trans < 0) {
        if (bpp_ == 8) return false;
        bpp = 8;  // a new entry
        trans = int32_t(paletteCount_);
    }
    if (!out.Create(uint32_t(width_), uint32_t(height_), bpp, out.GetType())) return false;
    out.SetPalette(palette_, paletteCount_);
    out.Clear(uint8_t(std::max(trans, 0)));  // row padding included, as it always has been
    for (int32_t y = 0; y < height_; ++y) {
        uint8_t* dst = out.GetBits(uint32_t(height_ - 1 - y));
        const uint16_t* src = index_.data() + size_t(y) * width_;
        for (int32_t x = 0; x < width_; ++x)
            if (src[x] != kClear) vx::SetRowIndex(dst, bpp, x, uint8_t(src[x]));
    }
    out.SetTransIndex(trans);
    return true;
}

bool GifCanvas::ColourResult(VxImage& out) {
    if (!out.Create(uint32_t(width_), uint32_t(height_), 24, out.GetType())) return false;
    const bool anyClear = std::any_of(argb_.begin(), argb_.end(), [](uint32_t v) { return v >> 24 == 0; });
    if (anyClear && !out.AlphaCreate()) return false;
    for (int32_t y = 0; y < height_; ++y) {
        const uint32_t stored = uint32_t(height_ - 1 - y);
        uint8_t* dst = out.GetBits(stored);
        uint8_t* alpha = anyClear ? out.AlphaGetPointer(0, int32_t(stored)) : nullptr;
        const uint32_t* src = argb_.data() + size_t(y) * width_;
        for (int32_t x = 0; x < width_; ++x, dst += 3) {
            dst[0] = uint8_t(src[x]);
            dst[1] = uint8_t(src[x] >> 8);
            dst[2] = uint8_t(src[x] >> 16);
            if (alpha) alpha[x] = uint8_t(src[x] >> 24);
        }
    }
    out.SetTransIndex(-1);
    return true;
}

bool GifCanvas::Result(VxImage& out) {
    if (!colour_) {
        if (IndexResult(out)) return true;
        Promote();
    }
    return ColourResult(out);
}
