#include "core/vx_deep.h"

#include <algorithm>
#include <new>

#include "core/vx_image.h"

namespace vx {

namespace {

inline uint8_t To8(uint16_t v) { return uint8_t((uint32_t(v) * 255 + 32767) / 65535); }

std::shared_ptr<VxDeepPlane> SameShape(const VxDeepPlane& p, uint32_t width, uint32_t height) {
    auto out = std::make_shared<VxDeepPlane>();
    out->width = width;
    out->height = height;
    out->channels = p.channels;
    out->bits = p.bits;
    out->samples.resize(p.samples.size());
    return out;
}

}  // namespace

std::shared_ptr<VxDeepPlane> NewDeepPlane(VxImage& img, uint32_t width, uint32_t height,
                                          uint8_t channels, uint8_t bits) {
    const uint64_t count = uint64_t(width) * height * channels;
    if (channels < 1 || channels > 4 || width == 0 || height == 0 ||
        !img.BufferFits(count * 2, kDeepBytesPerPixel)) {
        if (channels < 1 || channels > 4 || width == 0 || height == 0)
            img.SetLastError("deep samples: bad layout");
        return nullptr;
    }
    try {
        auto p = std::make_shared<VxDeepPlane>();
        p->width = width;
        p->height = height;
        p->channels = channels;
        p->bits = uint8_t(std::clamp<unsigned>(bits, 9, 16));
        p->samples.assign(size_t(count), 0);
        return p;
    } catch (const std::bad_alloc&) {
        img.SetLastError("deep samples: out of memory");
        return nullptr;
    }
}

void AnswerDeep(VxImage& img, uint8_t channels, uint8_t bits, bool light) {
    auto p = std::make_shared<VxDeepPlane>();
    p->channels = channels;
    p->bits = bits;
    p->hasLight = light;
    img.SetDeep(std::move(p));
}

uint32_t DeepBytesPerPixel(const VxImage& img) {
    const VxDeepPlane* p = img.GetDeep().get();
    return p ? 2u * p->channels * (p->hasLight ? 2 : 1) : 0;
}

const std::vector<uint16_t>* LightToWrite(const VxImage& img) {
    const VxDeepPlane* p = DeepToWrite(img, 16);
    return p && p->hasLight && p->light.size() == p->samples.size() ? &p->light : nullptr;
}

bool LightBeyondWhite(const VxDeepPlane& p) {
    if (p.light.size() != p.samples.size() || p.channels == 0) return false;
    const uint8_t colours = p.Colours();
    for (size_t i = 0; i < p.light.size(); i += p.channels) {
        const uint16_t* px = &p.light[i];
        // Premultiplied colour is beyond white where it passes its alpha.
        const uint16_t alpha = p.HasAlpha() ? px[p.channels - 1] : 0x3C00;  // 1.0
        for (uint8_t c = 0; c < colours; ++c) {
            const uint16_t v = px[c];
            if ((v & 0x8000) && (v & 0x7FFF)) return true;  // below black
            // Positive halves order as their bits do.
            if (!(alpha & 0x8000) && (v & 0x7FFF) > (alpha & 0x7FFF)) return true;
        }
    }
    return false;
}

const VxDeepPlane* DeepToWrite(const VxImage& img, unsigned maxBits) {
    const VxDeepPlane* p = img.GetDeep().get();
    if (!p || maxBits <= 8 || p->width != img.GetWidth() || p->height != img.GetHeight() ||
        p->samples.size() != size_t(p->width) * p->height * p->channels)
        return nullptr;
    return p;
}

unsigned SampleBits(const VxImage& img) {
    const VxDeepPlane* p = DeepToWrite(img, 16);
    return p ? p->bits : 8;
}

bool SetDeepPicture(VxImage& img, VxDeepRef deep, uint32_t type) {
    if (!deep) return false;
    const uint32_t w = deep->width, h = deep->height;
    const bool alpha = deep->HasAlpha(), colour = deep->Colour() || alpha;
    const unsigned colours = deep->Colours();
    const int32_t xdpi = img.GetXDPI(), ydpi = img.GetYDPI();
    if (!img.Create(w, h, colour ? 24 : 8, type ? type : img.GetType())) return false;
    if (!colour) img.SetGrayPalette();
    if (alpha && !img.AlphaCreate()) {
        img.SetLastError("deep samples: out of memory");
        return false;
    }
    img.SetXDPI(xdpi);
    img.SetYDPI(ydpi);
    img.SetTransIndex(-1);
    const unsigned ch = deep->channels;
    for (uint32_t y = 0; y < h; ++y) {
        const uint16_t* s = deep->Row(y);
        const uint32_t stored = h - 1 - y;
        uint8_t* dst = img.GetBits(stored);
        uint8_t* a = alpha ? img.AlphaGetPointer(0, int32_t(stored)) : nullptr;
        for (uint32_t x = 0; x < w; ++x, s += ch) {
            if (colour) {
                dst[3 * size_t(x)] = To8(s[colours - 1]);
                dst[3 * size_t(x) + 1] = To8(s[colours / 2]);
                dst[3 * size_t(x) + 2] = To8(s[0]);
            } else {
                dst[x] = To8(s[0]);
            }
            if (a) a[x] = To8(s[ch - 1]);
        }
    }
    img.SetDeep(std::move(deep));
    return true;
}

VxDeepRef DeepFromBlock(VxImage& img) {
    if (!img.IsValid()) return nullptr;
    const bool grey = img.IsIndexed() && img.IsGrayScale() && img.GetBpp() == 8;
    const bool alpha = img.AlphaIsValid() || img.GetTransIndex() >= 0 ||
                       (img.IsIndexed() && img.AlphaPaletteIsEnabled());
    const uint8_t ch = uint8_t((grey ? 1 : 3) + (alpha ? 1 : 0));
    const uint32_t w = img.GetWidth(), h = img.GetHeight();
    auto p = NewDeepPlane(img, w, h, ch, 16);
    if (!p) return nullptr;
    for (uint32_t y = 0; y < h; ++y) {
        uint16_t* d = p->Row(y);
        const int32_t stored = int32_t(h - 1 - y);
        for (uint32_t x = 0; x < w; ++x, d += ch) {
            const RGBQUAD c = img.GetPixelColor(int32_t(x), stored, true);
            if (grey) {
                d[0] = uint16_t(c.rgbBlue * 257);
            } else {
                d[0] = uint16_t(c.rgbRed * 257);
                d[1] = uint16_t(c.rgbGreen * 257);
                d[2] = uint16_t(c.rgbBlue * 257);
            }
            if (alpha) d[ch - 1] = uint16_t(c.rgbReserved * 257);
        }
    }
    return p;
}

VxDeepRef DeepFlipped(const VxDeepPlane& p) {
    auto out = SameShape(p, p.width, p.height);
    for (uint32_t y = 0; y < p.height; ++y)
        std::copy_n(p.Row(y), p.RowSamples(), out->Row(p.height - 1 - y));
    return out;
}

VxDeepRef DeepMirrored(const VxDeepPlane& p) {
    auto out = SameShape(p, p.width, p.height);
    const unsigned ch = p.channels;
    for (uint32_t y = 0; y < p.height; ++y) {
        const uint16_t* s = p.Row(y);
        uint16_t* d = out->Row(y);
        for (uint32_t x = 0; x < p.width; ++x)
            std::copy_n(s + size_t(x) * ch, ch, d + size_t(p.width - 1 - x) * ch);
    }
    return out;
}

VxDeepRef DeepTurned(const VxDeepPlane& p, bool clockwise) {
    auto out = SameShape(p, p.height, p.width);
    const unsigned ch = p.channels;
    for (uint32_t y = 0; y < p.height; ++y) {
        const uint16_t* s = p.Row(y);
        for (uint32_t x = 0; x < p.width; ++x) {
            // Top-down: clockwise (x, y) -> (h-1-y, x); counter-clockwise -> (y, w-1-x).
            const uint32_t nx = clockwise ? p.height - 1 - y : y;
            const uint32_t ny = clockwise ? x : p.width - 1 - x;
            std::copy_n(s + size_t(x) * ch, ch, out->Row(ny) + size_t(nx) * ch);
        }
    }
    return out;
}

VxDeepRef DeepOverWhite(const VxDeepPlane& p) {
    if (!p.HasAlpha()) return std::make_shared<VxDeepPlane>(p);
    auto out = std::make_shared<VxDeepPlane>();
    out->width = p.width;
    out->height = p.height;
    out->channels = uint8_t(p.channels - 1);
    out->bits = p.bits;
    out->samples.resize(size_t(p.width) * p.height * out->channels);
    const unsigned ch = p.channels, colours = out->channels;
    const uint16_t* s = p.samples.data();
    uint16_t* d = out->samples.data();
    for (size_t i = 0, n = size_t(p.width) * p.height; i < n; ++i, s += ch, d += colours) {
        const uint64_t a = s[colours];
        for (unsigned k = 0; k < colours; ++k)
            d[k] = uint16_t((s[k] * a + 65535 * (65535 - a) + 32767) / 65535);
    }
    return out;
}

}  // namespace vx
