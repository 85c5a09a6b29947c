#include "core/vx_colour_reduce.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/vx_adaptive_palette.h"
#include "core/vx_image.h"
#include "core/vx_nearest.h"
#include "core/vx_row_index.h"

namespace vx {

namespace {

inline int Clamp255(int v) { return v < 0 ? 0 : v > 255 ? 255 : v; }

bool HasTransparentPixels(const VxImage& img) {
    if (!img.AlphaIsValid()) return false;
    const size_t n = size_t(img.GetWidth()) * img.GetHeight();
    const uint8_t* a = img.AlphaGetPointer(0, 0);
    return std::any_of(a, a + n, [](uint8_t v) { return v < 128; });
}

// Floyd-Steinberg over one row in serpentine order: `cur` holds the error
// carried into this row, `next` collects the error for the row after it
// (both in sixteenths, three channels, one guard pixel at each end).
void DiffuseRow(const uint8_t* src, const uint8_t* alpha, uint32_t w, bool leftToRight,
                NearestPalette& nearest, const RGBQUAD* pal, int32_t transIndex,
                std::vector<int32_t>& cur, std::vector<int32_t>& next, uint8_t* out) {
    std::fill(next.begin(), next.end(), 0);
    const int step = leftToRight ? 1 : -1;
    for (uint32_t i = 0; i < w; ++i) {
        const uint32_t x = leftToRight ? i : w - 1 - i;
        if (alpha && alpha[x] < 128) {
            out[x] = uint8_t(transIndex);
            continue;
        }
        const uint8_t* p = src + size_t(x) * 3;
        int32_t* e = &cur[(size_t(x) + 1) * 3];
        int v[3];
        for (int k = 0; k < 3; ++k) v[k] = Clamp255(p[k] + (e[k] >= 0 ? e[k] + 8 : e[k] - 7) / 16);
        const uint8_t idx = nearest.Find(uint8_t(v[2]), uint8_t(v[1]), uint8_t(v[0]));
        out[x] = idx;
        const int q[3] = {pal[idx].rgbBlue, pal[idx].rgbGreen, pal[idx].rgbRed};
        for (int k = 0; k < 3; ++k) {
            const int err = v[k] - q[k];
            const size_t ahead = (size_t(int64_t(x) + step) + 1) * 3 + size_t(k);
            const size_t behind = (size_t(int64_t(x) - step) + 1) * 3 + size_t(k);
            const size_t below = (size_t(x) + 1) * 3 + size_t(k);
            cur[ahead] += err * 7;
            next[behind] += err * 3;
            next[below] += err * 5;
            next[ahead] += err;
        }
    }
    std::swap(cur, next);
}

}  // namespace

bool ParsePaletteChoice(std::string_view text, PaletteChoice& out) {
    if (text != "standard" && text != "adaptive") return false;
    out = text == "adaptive" ? PaletteChoice::Adaptive : PaletteChoice::Standard;
    return true;
}

bool ParseDitherChoice(std::string_view text, DitherChoice& out) {
    if (text != "none" && text != "floyd-steinberg") return false;
    out = text == "none" ? DitherChoice::None : DitherChoice::FloydSteinberg;
    return true;
}

bool MapToPalette(VxImage& img, uint32_t bits, const RGBQUAD* palette, uint32_t count,
                  DitherChoice dither, int32_t transIndex) {
    if (!img.IsValid() || img.GetBpp() != 24 || !palette || count == 0) return false;
    if (bits != 1 && bits != 4 && bits != 8) return false;
    const uint32_t w = img.GetWidth(), h = img.GetHeight();
    VxImage out(img, false, false, false);
    if (!out.Create(w, h, bits, img.GetType())) return false;
    out.SetPalette(palette, std::min(count, 1u << bits));
    out.SetTransIndex(transIndex);

    NearestPalette nearest(out.GetPalette(), std::min(count, 1u << bits));
    const RGBQUAD* pal = out.GetPalette();
    std::vector<uint8_t> row(w);
    std::vector<int32_t> cur, next;
    if (dither == DitherChoice::FloydSteinberg) {
        cur.assign((size_t(w) + 2) * 3, 0);
        next.assign((size_t(w) + 2) * 3, 0);
    }
    for (uint32_t y = 0; y < h; ++y) {
        if (img.GetEscape()) return false;
        const uint8_t* src = img.GetBits(y);
        const uint8_t* alpha =
            transIndex >= 0 && img.AlphaIsValid() ? img.AlphaGetPointer(0, int32_t(y)) : nullptr;
        if (dither == DitherChoice::FloydSteinberg) {
            DiffuseRow(src, alpha, w, (y & 1) == 0, nearest, pal, transIndex, cur, next, row.data());
        } else {
            for (uint32_t x = 0; x < w; ++x) {
                const uint8_t* p = src + size_t(x) * 3;
                row[x] = alpha && alpha[x] < 128 ? uint8_t(transIndex) : nearest.Find(p[2], p[1], p[0]);
            }
        }
        uint8_t* dst = out.GetBits(y);
        if (bits == 8) {
            std::memcpy(dst, row.data(), w);
        } else {
            for (uint32_t x = 0; x < w; ++x) SetRowIndex(dst, bits, int32_t(x), row[x]);
        }
    }
    if (img.AlphaIsValid()) {
        out.AlphaCreate();
        std::memcpy(out.AlphaGetPointer(0, 0), img.AlphaGetPointer(0, 0), size_t(w) * h);
    }
    return img.Transfer(out);
}

bool ReduceColours(VxImage& img, uint32_t bits, const ColourReduction& how) {
    if (how.IsDefault()) return img.DecreaseBpp(bits, false);
    if (!img.IsValid() || img.GetBpp() <= bits) return img.IsValid();
    if (img.GetBpp() != 24 && !img.IncreaseBpp(24)) return false;

    std::vector<RGBQUAD> colours;
    int32_t transIndex = -1;
    if (how.palette == PaletteChoice::Adaptive && bits > 1) {
        const bool reserve = HasTransparentPixels(img);
        const uint32_t room = (1u << bits) - (reserve ? 1 : 0);
        colours = BuildAdaptivePalette(img, room).colours;
        if (reserve) {
            // The transparent entry follows the picture's own colours.
            transIndex = int32_t(colours.size());
            colours.push_back(img.GetTransColor());
        }
    } else {
        VxImage standard(1, 1, bits, 0);
        if (bits == 1) {
            standard.SetPaletteColor(0, 0, 0, 0);
            standard.SetPaletteColor(1, 255, 255, 255);
        } else {
            standard.SetStdPalette();
        }
        colours.assign(standard.GetPalette(), standard.GetPalette() + (1u << bits));
    }
    if (colours.empty()) colours.push_back(RGBQUAD{});  // every pixel transparent
    // Only the picture's own colours may be nearest; the transparent entry is
    // handed out by alpha alone.
    const uint32_t searchable = uint32_t(colours.size()) - (transIndex >= 0 ? 1 : 0);
    if (!MapToPalette(img, bits, colours.data(), std::max(searchable, 1u), how.dither, transIndex))
        return false;
    if (transIndex >= 0) img.SetPaletteColor(uint8_t(transIndex), colours.back());
    return true;
}

}  // namespace vx
