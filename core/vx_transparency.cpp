#include "core/vx_transparency.h"

#include <cstring>
#include <vector>

#include "core/vx_row_index.h"

namespace vx {

namespace {

// PNG marks palette alpha as enabled; a reserved byte nobody asked for is not alpha.
bool PaletteAlpha(const VxImage& img) {
    return img.IsIndexed() && img.AlphaPaletteIsEnabled() && img.AlphaPaletteIsValid();
}

bool HasForms(const VxImage& img) {
    return img.AlphaIsValid() || img.GetTransIndex() >= 0 || PaletteAlpha(img);
}

// Transparency now lives in the alpha plane, or nowhere.
void DropIndexAndPaletteForms(VxImage& img) {
    img.SetTransIndex(-1);
    img.SetTransColor(RGBQUAD{});
    img.AlphaPaletteEnable(false);
    for (uint32_t i = 0; i < img.GetNumColors(); ++i) {
        RGBQUAD c = img.GetPaletteColor(uint8_t(i));
        c.rgbReserved = 0;
        img.SetPaletteColor(uint8_t(i), c);
    }
}

uint8_t OverWhite(uint8_t v, uint32_t alpha) {
    return uint8_t((v * alpha + 255 * (255 - alpha) + 127) / 255);
}

int Distance(const RGBQUAD& a, const RGBQUAD& b) {
    const int dr = a.rgbRed - b.rgbRed, dg = a.rgbGreen - b.rgbGreen, db = a.rgbBlue - b.rgbBlue;
    return dr * dr + dg * dg + db * db;
}

// The entry that costs least to give up when every entry shows: its pixels
// times how far they move to the nearest other entry (`to`).
uint32_t CheapestEntry(const RGBQUAD* pal, uint32_t n, const uint64_t* pixels, uint32_t& to) {
    uint32_t best = 0;
    uint64_t bestCost = UINT64_MAX;
    for (uint32_t e = 0; e < n; ++e) {
        uint32_t nearest = e == 0 ? 1 : 0;
        int d = INT32_MAX;
        for (uint32_t f = 0; f < n; ++f) {
            if (f == e) continue;
            const int df = Distance(pal[e], pal[f]);
            if (df < d) {
                d = df;
                nearest = f;
            }
        }
        const uint64_t cost = pixels[e] * uint64_t(d);
        if (cost < bestCost) {
            bestCost = cost;
            best = e;
            to = nearest;
        }
    }
    return best;
}

}  // namespace

void OpacityRow(const VxImage& img, uint32_t storedRow, uint8_t* out) {
    const uint32_t w = img.GetWidth();
    const uint8_t* plane = img.AlphaGetPointer(0, int32_t(storedRow));
    if (plane) std::memcpy(out, plane, w);
    else std::memset(out, 255, w);
    const int32_t trans = img.GetTransIndex();
    const uint8_t* px = img.GetBits(storedRow);
    const uint32_t bpp = img.GetBpp();
    if (const RGBQUAD* pal = img.GetPalette()) {
        const bool alpha = PaletteAlpha(img);
        if (trans < 0 && !alpha) return;
        const uint32_t n = img.GetNumColors();
        for (uint32_t x = 0; x < w; ++x) {
            const uint32_t i = RowIndex(px, bpp, int32_t(x));
            if (int32_t(i) == trans) out[x] = 0;
            else if (alpha && i < n) out[x] = uint8_t(out[x] * pal[i].rgbReserved / 255);
        }
    } else if (trans >= 0 && bpp == 24) {
        const RGBQUAD key = img.GetTransColor();
        for (uint32_t x = 0; x < w; ++x, px += 3)
            if (px[0] == key.rgbBlue && px[1] == key.rgbGreen && px[2] == key.rgbRed) out[x] = 0;
    }
}

Clarity ClarityOf(const VxImage& img) {
    if (!img.IsValid() || !HasForms(img)) return Clarity::Opaque;
    Clarity found = Clarity::Opaque;
    std::vector<uint8_t> row(img.GetWidth());
    for (uint32_t y = 0; y < img.GetHeight(); ++y) {
        OpacityRow(img, y, row.data());
        for (uint8_t a : row) {
            if (a == 255) continue;
            if (a != 0) return Clarity::Partial;
            found = Clarity::OnOff;
        }
    }
    return found;
}

bool JoinIntoAlphaPlane(VxImage& img) {
    if (!img.IsValid()) return false;
    const bool otherForms = img.GetTransIndex() >= 0 || PaletteAlpha(img);
    if (!img.AlphaCreate()) return false;
    if (otherForms) {
        const uint32_t w = img.GetWidth();
        std::vector<uint8_t> row(w);
        for (uint32_t y = 0; y < img.GetHeight(); ++y) {
            OpacityRow(img, y, row.data());
            std::memcpy(img.AlphaGetPointer(0, int32_t(y)), row.data(), w);
        }
    }
    DropIndexAndPaletteForms(img);
    return true;
}

bool CompositeOnWhite(VxImage& img) {
    if (!HasTransparency(img)) return true;
    if (const VxDeepPlane* deep = DeepToWrite(img, 16); deep && deep->HasAlpha())
        return SetDeepPicture(img, DeepOverWhite(*deep));
    if (img.IsIndexed() && !img.AlphaIsValid()) {
        const int32_t trans = img.GetTransIndex();
        const bool alpha = PaletteAlpha(img);
        for (uint32_t i = 0; i < img.GetNumColors(); ++i) {
            const RGBQUAD c = img.GetPaletteColor(uint8_t(i));
            const uint32_t a = int32_t(i) == trans ? 0 : alpha ? c.rgbReserved : 255;
            img.SetPaletteColor(uint8_t(i), OverWhite(c.rgbRed, a), OverWhite(c.rgbGreen, a),
                                OverWhite(c.rgbBlue, a));
        }
        DropIndexAndPaletteForms(img);
        return true;
    }
    if (!JoinIntoAlphaPlane(img)) return false;
    if (img.IsIndexed() && !img.IncreaseBpp(24)) return false;
    const uint32_t w = img.GetWidth();
    for (uint32_t y = 0; y < img.GetHeight(); ++y) {
        uint8_t* px = img.GetBits(y);
        const uint8_t* a = img.AlphaGetPointer(0, int32_t(y));
        // Most pixels are opaque or clear; the others need the sum.
        for (uint32_t x = 0; x < w; ++x, px += 3) {
            if (a[x] == 255) continue;
            if (a[x] == 0) {
                px[0] = px[1] = px[2] = 255;
                continue;
            }
            for (int c = 0; c < 3; ++c) px[c] = OverWhite(px[c], a[x]);
        }
    }
    img.AlphaDelete();
    return true;
}

int32_t FreeEntry(const uint64_t* opaqueUse, const bool* clearUse, uint32_t entries,
                  int32_t preferred) {
    if (preferred >= 0 && uint32_t(preferred) < entries && !opaqueUse[preferred]) return preferred;
    for (uint32_t i = 0; i < entries; ++i)
        if (clearUse[i] && !opaqueUse[i]) return int32_t(i);
    for (uint32_t i = 0; i < entries; ++i)
        if (!opaqueUse[i]) return int32_t(i);
    return -1;
}

bool ReserveTransparentIndex(VxImage& img, int32_t preferred) {
    if (!img.IsIndexed() || !img.AlphaIsValid()) return true;
    const uint32_t w = img.GetWidth(), h = img.GetHeight();
    uint64_t opaque[256] = {};
    bool clearUse[256] = {};
    bool anyClear = false;
    for (uint32_t y = 0; y < h; ++y) {
        const uint8_t* px = img.GetBits(y);
        const uint8_t* a = img.AlphaGetPointer(0, int32_t(y));
        for (uint32_t x = 0; x < w; ++x) {
            const uint8_t i = RowIndex(px, img.GetBpp(), int32_t(x));
            if (a[x] < kHalfOpaque) clearUse[i] = anyClear = true;
            else ++opaque[i];
        }
    }
    uint32_t n = img.GetNumColors();
    if (!anyClear) {
        img.AlphaDelete();
        const bool free = preferred >= 0 && uint32_t(preferred) < n && !opaque[preferred];
        img.SetTransIndex(free ? preferred : -1);
        return true;
    }
    int32_t pick = FreeEntry(opaque, clearUse, n, preferred);
    if (pick < 0 && img.GetBpp() < 8) {
        if (!img.IncreaseBpp(8)) return false;
        pick = int32_t(n);
        n = img.GetNumColors();
    }
    int32_t moveTo = -1;
    if (pick < 0) {
        uint32_t to = 0;
        pick = int32_t(CheapestEntry(img.GetPalette(), n, opaque, to));
        moveTo = int32_t(to);
    }

    const uint32_t bpp = img.GetBpp();
    for (uint32_t y = 0; y < h; ++y) {
        uint8_t* px = img.GetBits(y);
        const uint8_t* a = img.AlphaGetPointer(0, int32_t(y));
        for (uint32_t x = 0; x < w; ++x) {
            if (a[x] < kHalfOpaque) SetRowIndex(px, bpp, int32_t(x), uint8_t(pick));
            else if (moveTo >= 0 && RowIndex(px, bpp, int32_t(x)) == pick)
                SetRowIndex(px, bpp, int32_t(x), uint8_t(moveTo));
        }
    }
    img.SetTransIndex(pick);
    img.AlphaDelete();
    return true;
}

}  // namespace vx
