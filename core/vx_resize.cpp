#include "core/vx_resize.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <vector>

#include "core/vx_image.h"

namespace vx {

namespace {

bool ParseSide(std::string_view text, uint32_t& value) {
    if (text.empty()) {
        value = 0;
        return true;
    }
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end && value >= 1 && value <= 1000000;
}

}  // namespace

bool ParseResizeRequest(std::string_view text, ResizeRequest& out) {
    ResizeRequest r;
    if (!text.empty() && text.back() == '%') {
        r.kind = ResizeRequest::Kind::Percent;
        if (!ParseSide(text.substr(0, text.size() - 1), r.percent) || r.percent == 0 ||
            r.percent > 1000)
            return false;
        out = r;
        return true;
    }
    if (!text.empty() && text.back() == '+') {
        r.allowEnlarge = true;
        text.remove_suffix(1);
    }
    const size_t x = text.find('x');
    if (x == std::string_view::npos) return false;
    r.kind = ResizeRequest::Kind::Fit;
    if (!ParseSide(text.substr(0, x), r.width) || !ParseSide(text.substr(x + 1), r.height))
        return false;
    if (r.width == 0 && r.height == 0) return false;
    out = r;
    return true;
}

void ResizedSize(const ResizeRequest& req, uint32_t width, uint32_t height, uint32_t& outWidth,
                 uint32_t& outHeight) {
    outWidth = width;
    outHeight = height;
    if (width == 0 || height == 0) return;
    double scale = 1.0;
    if (req.kind == ResizeRequest::Kind::Percent) {
        scale = req.percent / 100.0;
    } else if (req.kind == ResizeRequest::Kind::Fit) {
        const double sx = req.width ? double(req.width) / width : 1e300;
        const double sy = req.height ? double(req.height) / height : 1e300;
        scale = std::min(sx, sy);
        if (scale >= 1.0 && !req.allowEnlarge) return;
    } else {
        return;
    }
    if (scale == 1.0) return;
    // The bounded side lands exactly on the box; the other is rounded.
    auto side = [scale](uint32_t n, uint32_t bound) {
        const double v = std::round(n * scale);
        uint32_t s = v < 1 ? 1 : v > 4e9 ? 4000000000u : uint32_t(v);
        if (bound && s > bound) s = bound;
        return s;
    };
    const bool fit = req.kind == ResizeRequest::Kind::Fit;
    outWidth = side(width, fit ? req.width : 0);
    outHeight = side(height, fit ? req.height : 0);
}

uint32_t DecodeReduction(const ResizeRequest& req, uint32_t width, uint32_t height) {
    uint32_t reduction = 8;
    for (const bool turned : {false, true}) {
        const uint32_t w = turned ? height : width, h = turned ? width : height;
        uint32_t tw = 0, th = 0;
        ResizedSize(req, w, h, tw, th);
        while (reduction > 1 && (w / reduction < 2 * uint64_t(tw) || h / reduction < 2 * uint64_t(th)))
            reduction /= 2;
    }
    return reduction;
}

namespace {

// Taps of one output sample along one axis.
struct Taps {
    std::vector<uint32_t> start, count;
    std::vector<float> weight;  // maxCount per output sample
    uint32_t maxCount = 0;
};

double Lanczos3(double x) {
    x = std::fabs(x);
    if (x < 1e-9) return 1.0;
    if (x >= 3.0) return 0.0;
    const double px = M_PI * x;
    return 3.0 * std::sin(px) * std::sin(px / 3.0) / (px * px);
}

Taps MakeTaps(uint32_t in, uint32_t out) {
    Taps t;
    const double scale = double(in) / out;
    const double stretch = std::max(1.0, scale);  // widen the kernel when shrinking
    const double support = 3.0 * stretch;
    t.maxCount = uint32_t(std::ceil(support * 2)) + 1;
    t.start.resize(out);
    t.count.resize(out);
    t.weight.assign(size_t(out) * t.maxCount, 0.0f);
    std::vector<double> w(t.maxCount);
    for (uint32_t i = 0; i < out; ++i) {
        const double centre = (i + 0.5) * scale - 0.5;
        const int64_t lo = std::max<int64_t>(0, int64_t(std::ceil(centre - support)));
        const int64_t hi = std::min<int64_t>(int64_t(in) - 1, int64_t(std::floor(centre + support)));
        double sum = 0;
        uint32_t n = 0;
        for (int64_t j = lo; j <= hi && n < t.maxCount; ++j, ++n) {
            w[n] = Lanczos3((double(j) - centre) / stretch);
            sum += w[n];
        }
        t.start[i] = uint32_t(lo);
        t.count[i] = n;
        for (uint32_t k = 0; k < n; ++k)
            t.weight[size_t(i) * t.maxCount + k] = float(sum != 0 ? w[k] / sum : 0);
    }
    return t;
}

struct Gamma {
    float toLinear[256];
    uint8_t toSrgb[65536];
    Gamma() {
        for (int i = 0; i < 256; ++i) {
            const double v = i / 255.0;
            toLinear[i] = float(v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4));
        }
        for (int i = 0; i < 65536; ++i) {
            const double v = i / 65535.0;
            const double s = v <= 0.0031308 ? v * 12.92 : 1.055 * std::pow(v, 1 / 2.4) - 0.055;
            toSrgb[i] = uint8_t(std::clamp(s * 255.0 + 0.5, 0.0, 255.0));
        }
    }
    uint8_t Encode(float v) const {
        const float s = v * 65535.0f + 0.5f;
        return toSrgb[s <= 0 ? 0 : s >= 65535.0f ? 65535 : int(s)];
    }
};

const Gamma& GammaTables() {
    static const Gamma g;
    return g;
}

// The two passes of the filter, one output row at a time: `load(y, row)`
// fills source row y as `ch` premultiplied linear channels a pixel, and
// `store(y, row)` takes output row y in the same form. False when cancelled.
template <class Load, class Store>
bool FilterRows(VxImage& img, uint32_t inW, uint32_t inH, uint32_t width, uint32_t height, int ch,
                Load load, Store store) {
    const Taps tx = MakeTaps(inW, width);
    const Taps ty = MakeTaps(inH, height);
    std::vector<float> src(size_t(inW) * ch);
    const uint32_t ring = ty.maxCount;
    std::vector<float> rows(size_t(ring) * width * ch);
    std::vector<float> acc(size_t(width) * ch);
    int64_t filled = -1;  // last source row filtered into the ring
    auto filterRow = [&](uint32_t y) {
        load(y, src.data());
        float* dst = &rows[size_t(y % ring) * width * ch];
        for (uint32_t x = 0; x < width; ++x) {
            const float* w = &tx.weight[size_t(x) * tx.maxCount];
            const float* s = &src[size_t(tx.start[x]) * ch];
            float v[4] = {0, 0, 0, 0};
            for (uint32_t k = 0; k < tx.count[x]; ++k, s += ch)
                for (int c = 0; c < ch; ++c) v[c] += w[k] * s[c];
            std::memcpy(dst + size_t(x) * ch, v, sizeof(float) * size_t(ch));
        }
    };
    for (uint32_t y = 0; y < height; ++y) {
        if (img.GetEscape()) {
            img.SetLastError("resize: cancelled");
            return false;
        }
        const uint32_t last = ty.start[y] + ty.count[y] - 1;
        while (filled < int64_t(last)) filterRow(uint32_t(++filled));
        std::fill(acc.begin(), acc.end(), 0.0f);
        const float* w = &ty.weight[size_t(y) * ty.maxCount];
        for (uint32_t k = 0; k < ty.count[y]; ++k) {
            const float* r = &rows[size_t((ty.start[y] + k) % ring) * width * ch];
            const float wk = w[k];
            for (size_t i = 0; i < acc.size(); ++i) acc[i] += wk * r[i];
        }
        store(y, acc.data());
    }
    return true;
}

// The 16-bit form of the same filter: linear light from a table of every
// sample value, back to sRGB by the formula (a table would band the darks).
struct DeepGamma {
    std::vector<float> toLinear = std::vector<float>(65536);
    DeepGamma() {
        for (int i = 0; i < 65536; ++i) {
            const double v = i / 65535.0;
            toLinear[size_t(i)] = float(v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4));
        }
    }
    static uint16_t Encode(float v) {
        if (!(v > 0)) return 0;
        if (v >= 1) return 65535;
        const double s = v <= 0.0031308 ? v * 12.92 : 1.055 * std::pow(double(v), 1 / 2.4) - 0.055;
        return uint16_t(std::clamp(s * 65535.0 + 0.5, 0.0, 65535.0));
    }
};

bool ResampleDeep(VxImage& img, const VxDeepPlane& in, uint32_t width, uint32_t height) {
    static const DeepGamma g;
    const uint32_t inW = in.width, inH = in.height;
    const int ch = in.channels, colours = in.Colours();
    const bool alpha = in.HasAlpha();
    auto out = NewDeepPlane(img, width, height, in.channels, in.bits);
    if (!out) return false;
    const auto load = [&](uint32_t y, float* src) {
        const uint16_t* s16 = in.Row(y);
        for (uint32_t x = 0; x < inW; ++x, s16 += ch) {
            float* s = &src[size_t(x) * ch];
            const float af = alpha ? s16[colours] / 65535.0f : 1.0f;
            for (int k = 0; k < colours; ++k) s[k] = g.toLinear[s16[k]] * af;
            if (alpha) s[colours] = af;
        }
    };
    const auto store = [&](uint32_t y, const float* acc) {
        uint16_t* d = out->Row(y);
        for (uint32_t x = 0; x < width; ++x, d += ch) {
            const float* v = &acc[size_t(x) * ch];
            float scale = 1.0f;
            if (alpha) {
                const float af = std::clamp(v[colours], 0.0f, 1.0f);
                d[colours] = uint16_t(af * 65535.0f + 0.5f);
                scale = af > 0 ? 1.0f / af : 0.0f;
            }
            for (int k = 0; k < colours; ++k) d[k] = DeepGamma::Encode(v[k] * scale);
        }
    };
    if (!FilterRows(img, inW, inH, width, height, ch, load, store)) return false;
    return SetDeepPicture(img, std::move(out));
}

}  // namespace

bool Resample(VxImage& img, uint32_t width, uint32_t height) {
    if (!img.IsValid() || width == 0 || height == 0) return false;
    const uint32_t inW = img.GetWidth(), inH = img.GetHeight();
    if (width == inW && height == inH) return true;
    if (const VxDeepPlane* deep = DeepToWrite(img, 16)) {
        const VxDeepRef keep = img.GetDeep();  // SetDeepPicture replaces it
        return ResampleDeep(img, *deep, width, height);
    }
    const Gamma& g = GammaTables();

    // The source as linear channels: grey or blue-green-red, then alpha.
    const bool palette = img.IsIndexed();
    const RGBQUAD* pal = img.GetPalette();
    bool grey = true;
    if (palette) {
        for (uint32_t i = 0; i < img.GetNumColors() && grey; ++i)
            grey = pal[i].rgbRed == pal[i].rgbGreen && pal[i].rgbGreen == pal[i].rgbBlue;
    } else {
        grey = false;
    }
    const int32_t transIndex = palette ? img.GetTransIndex() : -1;
    const bool alpha = img.AlphaIsValid() || transIndex >= 0;
    const int colours = grey ? 1 : 3;
    const int ch = colours + (alpha ? 1 : 0);

    VxImage out(img, false, false, false);
    if (!out.Create(width, height, grey ? 8 : 24, img.GetType())) {
        img.SetLastError(out.GetLastError());
        return false;
    }
    if (grey) out.SetGrayPalette();
    if (alpha && !out.AlphaCreate()) {
        img.SetLastError("resize: out of memory");
        return false;
    }
    out.SetTransIndex(-1);

    const auto load = [&](uint32_t y, float* src) {
        const uint8_t* bits = img.GetBits(y);
        const uint8_t* a = img.AlphaIsValid() ? img.AlphaGetPointer(0, int32_t(y)) : nullptr;
        const uint32_t bpp = img.GetBpp();
        for (uint32_t x = 0; x < inW; ++x) {
            float* s = &src[size_t(x) * ch];
            uint8_t av = a ? a[x] : 255;
            if (palette) {
                uint8_t idx;
                if (bpp == 8) idx = bits[x];
                else if (bpp == 4) idx = (x & 1) ? bits[x >> 1] & 0x0F : bits[x >> 1] >> 4;
                else idx = (bits[x >> 3] >> (7 - (x & 7))) & 1;
                if (int32_t(idx) == transIndex) av = 0;
                const RGBQUAD c = idx < img.GetNumColors() ? pal[idx] : RGBQUAD{};
                s[0] = g.toLinear[c.rgbBlue];
                if (!grey) {
                    s[1] = g.toLinear[c.rgbGreen];
                    s[2] = g.toLinear[c.rgbRed];
                }
            } else {
                for (int k = 0; k < 3; ++k) s[k] = g.toLinear[bits[size_t(x) * 3 + k]];
            }
            if (alpha) {
                const float af = av / 255.0f;
                for (int k = 0; k < colours; ++k) s[k] *= af;
                s[colours] = af;
            }
        }
    };
    const auto store = [&](uint32_t y, const float* acc) {
        uint8_t* dst = out.GetBits(y);
        uint8_t* da = alpha ? out.AlphaGetPointer(0, int32_t(y)) : nullptr;
        for (uint32_t x = 0; x < width; ++x) {
            const float* v = &acc[size_t(x) * ch];
            float scale = 1.0f;
            if (alpha) {
                const float af = std::clamp(v[colours], 0.0f, 1.0f);
                da[x] = uint8_t(af * 255.0f + 0.5f);
                scale = af > 0 ? 1.0f / af : 0.0f;
            }
            for (int k = 0; k < colours; ++k) dst[size_t(x) * colours + k] = g.Encode(v[k] * scale);
        }
    };
    if (!FilterRows(img, inW, inH, width, height, ch, load, store)) return false;
    return img.Transfer(out);
}

}  // namespace vx
